// The distribution-disc extras: the OEM module and the manuals, looked up on
// the CD-ROM drives and copied silently into the application directory.
#include <windows.h>

#include "components/components.h"
#include "deploy/deploy.h"

std::string FindOnCdrom(const std::string &relativePath) {
  // A drive without a disc is "not ready"; with the default error mode the
  // system may answer a look-up on it with its own "no disk" box and wait
  // for the user.  The look-ups run with critical errors going to us (the
  // look-up then simply fails), and the previous mode is restored after.
  UINT previousMode = SetErrorMode(SEM_FAILCRITICALERRORS);
  std::string found;
  for (char letter = 'D'; letter <= 'Z' && found.empty(); ++letter) {
    std::string root = std::string(1, letter) + ":\\";
    if (GetDriveTypeA(root.c_str()) != DRIVE_CDROM) continue;
    std::string candidate = root + relativePath;
    if (FileIsPresent(candidate)) found = candidate;
  }
  SetErrorMode(previousMode);
  return found;
}

namespace {

// Copies a disc file if it was found; the result is not looked at.
void CopyFromDisc(const std::string &relativePath, const std::string &target) {
  std::string source = FindOnCdrom(relativePath);
  if (FileIsPresent(source)) CopyFileA(source.c_str(), target.c_str(), FALSE);
}

}  // namespace

void CopyDiscExtras(std::string applicationDir, std::string manualBaseName) {
  if (applicationDir.empty()) return;
  applicationDir = WithBackslash(applicationDir, 1);
  CopyFromDisc("OEM\\KORVIXOEM.DLL", applicationDir + "KORVIXOEM.DLL");
  if (manualBaseName.empty()) return;
  CopyFromDisc("DATA\\DOC\\" + manualBaseName + "-de.pdf", applicationDir + manualBaseName + "-de.pdf");
  CopyFromDisc("DATA\\DOC\\" + manualBaseName + "-en.pdf", applicationDir + manualBaseName + "-en.pdf");
}
