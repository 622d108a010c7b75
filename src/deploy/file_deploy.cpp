// File deployment primitives: path building, the existence test, making a
// target writable, the copy with its failure message, and the two ways of
// queueing a replacement for the next start of the system.
#include "deploy/deploy.h"

const char InstallerTitle[] = "Varentel Installation";

std::string WithBackslash(std::string path, BYTE mode) {
  // The last character is looked at, not the last byte: in a double-byte
  // code page a name may end in a character whose second byte is 0x5C
  // (Shift-JIS "\x83\x5C"), which is no backslash.
  if (path.empty()) return path;
  const char *end = path.c_str() + path.size();
  const char *last = CharPrevA(path.c_str(), end);
  bool trailing = last + 1 == end && *last == '\\';
  if (mode == 1) {
    if (!trailing) path += '\\';
  } else if (trailing) {
    path.pop_back();
  }
  return path;
}

bool FileIsPresent(const std::string &path) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(path.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  // A plain directory path is found too, with the directory bit set.
  return (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

void ClearReadOnly(const std::string &path) {
  if (!FileIsPresent(path)) return;
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  if ((attributes & FILE_ATTRIBUTE_READONLY) == 0) return;
  SetFileAttributesA(path.c_str(), (attributes & ~DWORD(FILE_ATTRIBUTE_READONLY)) | FILE_ATTRIBUTE_ARCHIVE);
}

bool CopyWritable(const std::string &source, const std::string &target) {
  ClearReadOnly(target);
  if (!CopyFileA(source.c_str(), target.c_str(), FALSE)) return false;
  ClearReadOnly(target);
  return true;
}

void DeployFile(const std::string &source, const std::string &target, const std::string &message) {
  if (!FileIsPresent(source)) return;
  if (!CopyWritable(source, target)) MessageBoxA(nullptr, message.c_str(), InstallerTitle, MB_OK);
}

namespace {

const char kWininit[] = "Wininit.ini";
const char kRenameSection[] = "RENAME";

// The most lines for one name that a queue at the end removes.
const int kMaxRenameLinesForKey = 16;

// True when [RENAME] holds a line for `key`.  A failed read counts as
// absent: the line then keeps its place, as before.
bool RenameKeyPresent(const std::string &key) {
  static const char absent[] = "\001absent\001";
  char value[sizeof absent + 1];
  GetPrivateProfileStringA(kRenameSection, key.c_str(), absent, value, sizeof value, kWininit);
  return std::string(value) != absent;
}

}  // namespace

bool QueueRename9x(const std::string &target, const std::string &source) {
  // The 9x start-up works through [RENAME] of WININIT.INI line by line.
  ClearReadOnly(target);
  return WriteProfileEntry(kWininit, kRenameSection, target, source);
}

bool QueueRename9xLast(const std::string &target, const std::string &source) {
  // A key written again keeps its earlier place: remove every line for it
  // first (a hand-edited file may hold it several times), so that the new
  // line is added at the end.  The removals are bounded, whatever the file
  // holds; a line still there after them is a refusal, since a later line for
  // the name would move another file over ours at the restart.
  for (int removed = 0; RenameKeyPresent(target); ++removed) {
    if (removed < kMaxRenameLinesForKey &&
        WritePrivateProfileStringA(kRenameSection, target.c_str(), nullptr, kWininit))
      continue;
    RefusedProfileWrite.message = std::string("Unable to write to ") + kWininit;
    RefusedProfileWrite.address = __builtin_return_address(0);
    return false;
  }
  return QueueRename9x(target, source);
}

bool QueueReplaceNT(const std::string &source, const std::string &target) {
  // The source need not exist yet (a backup move of a live file that may be
  // absent).
  std::string from, to;
  if (!DelayedMoveName(source, &from) || !DelayedMoveName(target, &to)) return false;
  ClearReadOnly(target);
  return MoveFileExA(from.c_str(), to.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
}
