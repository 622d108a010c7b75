// The names the file calls are given: the absolute form the delayed-move
// list records, the length limit of the ANSI calls, a trailing separator.
#include "file_names.h"

#include <cstring>

#include "machine.h"
#include "machine_text.h"

namespace winsim {

// An absolute Windows path made from `path` without looking at the disk:
// relative names are joined to the current directory, '/' becomes '\',
// "." and ".." are applied; letter case stays as given.  This is the form
// the delayed-move list records.
DWORD FileAbsolutePath(const char *path, std::string *out) {
  std::string p;
  for (const std::string &ch : SplitChars(path)) {
    char c = ch.size() == 1 ? ch[0] : 'x';
    if ((unsigned char)c < 32 || strchr("<>\"|?*", c) || (c == ':' && p.size() != 1))
      return ERROR_INVALID_NAME;
    p += c == '/' ? std::string("\\") : ch;
  }
  const std::string &cwd = Config().currentDir;
  std::string full;
  if (p.size() >= 2 && p[1] == ':') {
    if (p.size() >= 3 && p[2] == '\\')
      full = p;
    else if (!cwd.empty() && toupper((unsigned char)cwd[0]) == toupper((unsigned char)p[0]))
      full = cwd + "\\" + p.substr(2);
    else
      full = p.substr(0, 2) + "\\" + p.substr(2);
  } else if (p.size() >= 2 && p[0] == '\\' && p[1] == '\\') {
    return ERROR_INVALID_PARAMETER;  // UNC names cannot be queued
  } else if (!p.empty() && p[0] == '\\') {
    full = cwd.substr(0, 2) + p;
  } else {
    full = cwd + "\\" + p;
  }
  std::vector<std::string> parts;
  for (const std::string &part : SplitAtChar(full.substr(3), '\\')) {
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.push_back(part);
  }
  *out = full.substr(0, 2);
  for (const std::string &part : parts) *out += "\\" + part;
  if (parts.empty()) *out += "\\";
  return 0;
}

bool EndsWithSeparator(const char *path) {
  size_t last = FindLastChar(path, "\\/");
  return last != std::string::npos && last + 1 == strlen(path);
}

// Microsoft's "Maximum Path Length Limitation" gives MAX_PATH (260)
// characters with the terminating zero as the limit of the ANSI file calls.
// What the NT family refuses is a name that does not fit where the "A" call
// converts its (first) name: the thread's static Unicode buffer of MAX_PATH
// + 1 characters; a name longer than MAX_PATH characters fails with
// ERROR_FILENAME_EXCED_RANGE (206) before anything is looked at (the
// file_name_AtoW conversion in Wine's kernelbase and ReactOS's kernel32).
// Observed under Wine 8 (wine64): GetFileAttributesA of a missing path of
// 260 characters gives 3, of 261 characters 206; CopyFileA with a source of
// 300 characters 206, with a target of 300 characters in a missing folder 3;
// MoveFileExA(..., DELAY_UNTIL_REBOOT) with a source of 300 characters 206.
// A second name (the target of CopyFileA and MoveFileExA) is converted into
// an allocated buffer and fails in the path parsing of the "W" call with
// ERROR_PATH_NOT_FOUND (3), as the code above; that Windows refuses it at
// the same length is not confirmed.  The 9x family counts bytes and is
// given the same codes (not confirmed).  The full path counts too: a
// relative name joined to the current directory must fit as well.
DWORD FileNameLengthError(const char *path, bool firstName) {
  if (!path) return 0;
  std::string full;
  bool tooLong = SystemLength(path) > MAX_PATH ||
                 (FileAbsolutePath(path, &full) == 0 && SystemLength(full) > MAX_PATH);
  if (!tooLong) return 0;
  return firstName ? ERROR_FILENAME_EXCED_RANGE : ERROR_PATH_NOT_FOUND;
}

}  // namespace winsim
