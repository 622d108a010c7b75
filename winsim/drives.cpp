// Drives: their types, and the system's box for a drive without its medium.
#include "drives.h"

#include <cctype>
#include <string>

#include "faults.h"
#include "journal.h"
#include "libraries.h"
#include "machine.h"
#include "snapshot.h"

namespace winsim {

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

}  // namespace

// A drive without its medium is a "drive-not-ready" error, one of the
// serious errors of the process error mode: unless SEM_FAILCRITICALERRORS
// is set, "the system displays the critical-error-handler message box"
// (Microsoft's SetErrorMode and "Process Error Mode" pages) and waits for
// the user; the call fails with ERROR_NOT_READY once the user cancels, as it
// does at once with the flag set.  Every call that reaches the drive's file
// system does so: a search, an attribute query, a copy, an open (Microsoft's
// DRIVES sample of the NT SDK sets the mode around its test open of a
// removable drive to keep "an unwanted pop-up, prompting the user to insert
// a disk" away); GetDriveTypeA asks only the drive's kind and shows
// nothing (the same sample calls it on every drive unguarded).  The text is
// NT's message for STATUS_NO_MEDIA_IN_DEVICE as Knowledge Base Q281345
// quotes it ("There is no disk in the drive. Please insert a disk into
// drive A:."); the 9x family shows its own box for the same error (Windows
// 3.x: "Cannot read from drive A:", Knowledge Base Q69027), whose wording
// is not confirmed and is recorded with the same text.
void NotReadyDriveBox(char letter) {
  if (ProcessErrorMode() & SEM_FAILCRITICALERRORS) return;
  JournalAppend("system-error-box " +
                QuoteText("There is no disk in the drive. Please insert a disk into drive " +
                          std::string(1, letter) + ":."));
}

}  // namespace winsim

using namespace winsim;

extern "C" {

UINT WINAPI GetDriveTypeA(LPCSTR root) {
  if (DWORD e = Fault("GetDriveTypeA", root)) {
    SetLastError(e);
    return DRIVE_UNKNOWN;
  }
  // NULL asks for the current directory's drive.  Otherwise a root: "C:\",
  // or "C:" without its backslash, which the documentation calls required
  // but Windows accepts (Wine's conformance test expects the drive's type
  // for it on every Windows version); anything else has no root directory
  // (Wine is more lenient and also accepts "C:\windows\").
  std::string r = root ? std::string(root) : Config().currentDir.substr(0, 3);
  if (r.size() < 2 || r.size() > 3 || !isalpha((unsigned char)r[0]) || r[1] != ':' ||
      (r.size() == 3 && !IsSeparator(r[2])))
    return DRIVE_NO_ROOT_DIR;
  auto it = Config().drives.find(char(toupper((unsigned char)r[0])));
  if (it == Config().drives.end()) return DRIVE_NO_ROOT_DIR;
  switch (it->second) {
    case DriveKind::Removable: return DRIVE_REMOVABLE;
    case DriveKind::Fixed: return DRIVE_FIXED;
    case DriveKind::Remote: return DRIVE_REMOTE;
    case DriveKind::Cdrom: return DRIVE_CDROM;
    case DriveKind::Ramdisk: return DRIVE_RAMDISK;
    default: return DRIVE_NO_ROOT_DIR;
  }
}

}  // extern "C"
