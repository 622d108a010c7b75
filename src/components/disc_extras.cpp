// The distribution-disc extras: the OEM module and the manuals, looked up on
// the CD-ROM drives and copied silently into the application directory.
#include <windows.h>

#include <cstring>

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

// Copies a disc file if it was found; the result is not looked at.  Files
// on a disc are read-only and so would be their copies: the copy is made
// writable (before and after), so that a newer disc can replace it.
void CopyFromDisc(const std::string &relativePath, const std::string &target) {
  std::string source = FindOnCdrom(relativePath);
  if (FileIsPresent(source)) CopyWritable(source, target);
}

// The manuals' base name becomes part of two file names in the application
// directory: only a plain name is taken, never one that reaches another
// folder (a separator, a drive, "..") or that the system would read as a
// pattern or refuse.  Trail bytes of double-byte characters are skipped.
bool IsPlainNamePart(const std::string &name) {
  if (name == "." || name == "..") return false;
  for (size_t i = 0; i < name.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    if (IsDBCSLeadByte(c) && i + 1 < name.size()) {
      ++i;
      continue;
    }
    if (c < 32 || std::strchr("\\/:*?\"<>|", c)) return false;
  }
  return true;
}

}  // namespace

void CopyDiscExtras(std::string applicationDir, std::string manualBaseName) {
  if (applicationDir.empty()) return;
  applicationDir = WithBackslash(applicationDir, 1);
  CopyFromDisc("OEM\\KORVIXOEM.DLL", applicationDir + "KORVIXOEM.DLL");
  if (manualBaseName.empty() || !IsPlainNamePart(manualBaseName)) return;
  CopyFromDisc("DATA\\DOC\\" + manualBaseName + "-de.pdf", applicationDir + manualBaseName + "-de.pdf");
  CopyFromDisc("DATA\\DOC\\" + manualBaseName + "-en.pdf", applicationDir + manualBaseName + "-en.pdf");
}
