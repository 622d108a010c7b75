// Files: search, attributes, copy, move (immediate and at the next restart),
// delete, drive types.
//
// Paths go through ResolvePath (case-insensitive lookup, stored case kept).
// Attributes that POSIX cannot hold live in the machine's attribute table;
// every function that moves or removes a file keeps that table in step.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <sstream>

#include "codepage.h"
#include "machine.h"
#include "process_state.h"

namespace winsim {

namespace {

// Not in our windows.h: the code Windows gives for a move across volumes
// without MOVEFILE_COPY_ALLOWED.
const DWORD kErrorNotSameDevice = 17;

// The bits SetFileAttributesA keeps; DIRECTORY, COMPRESSED, ENCRYPTED and
// the like are ignored (Microsoft's SetFileAttributes page).
const DWORD kSettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                  FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                  FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_TEMPORARY |
                                  FILE_ATTRIBUTE_OFFLINE |
                                  FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

const char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const char kPendingValue[] = "PendingFileRenameOperations";

std::string FileUpper(const std::string &s) { return UpperText(s); }

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Attributes as GetFileAttributesA reports them: the directory bit from the
// file system, NORMAL for a file that has no other bit.
DWORD FileReportedAttributes(const ResolvedPath &r) {
  DWORD a = StoredAttributes(r);
  if (r.isDirectory) return a | FILE_ATTRIBUTE_DIRECTORY;
  return a ? a : FILE_ATTRIBUTE_NORMAL;
}

FILETIME FileTimeFromUnix(const struct timespec &t) {
  // 100-ns intervals since 1601-01-01.
  unsigned long long ticks =
      (unsigned long long)(t.tv_sec + 11644473600LL) * 10000000ULL + (unsigned long long)t.tv_nsec / 100;
  FILETIME ft;
  ft.dwLowDateTime = DWORD(ticks);
  ft.dwHighDateTime = DWORD(ticks >> 32);
  return ft;
}

void FileFillFindData(const ResolvedPath &r, const std::string &name, WIN32_FIND_DATAA *fd) {
  memset(fd, 0, sizeof *fd);
  fd->dwFileAttributes = FileReportedAttributes(r);
  struct stat st;
  if (stat(r.host.c_str(), &st) == 0) {
    fd->ftCreationTime = FileTimeFromUnix(st.st_mtim);
    fd->ftLastAccessTime = FileTimeFromUnix(st.st_atim);
    fd->ftLastWriteTime = FileTimeFromUnix(st.st_mtim);
    if (!r.isDirectory) {
      fd->nFileSizeLow = DWORD(st.st_size);
      fd->nFileSizeHigh = DWORD((unsigned long long)st.st_size >> 32);
    }
  }
  // No 8.3 aliases on this machine (as under Wine): cAlternateFileName stays
  // empty.
  snprintf(fd->cFileName, sizeof fd->cFileName, "%s", name.c_str());
}

// Wildcard match of one name by characters, case-insensitive: '*' any run,
// '?' one character (also a double-byte one).  "*.*" matches names without
// a dot too, as on Windows.
bool FileMatchChars(const std::vector<std::string> &pattern, size_t p,
                    const std::vector<std::string> &name, size_t n) {
  for (;;) {
    if (p < pattern.size() && pattern[p] == "*") {
      while (p < pattern.size() && pattern[p] == "*") ++p;
      if (p == pattern.size()) return true;
      bool dotStar = p + 2 == pattern.size() && pattern[p] == "." && pattern[p + 1] == "*";
      bool hasDot = false;
      for (size_t i = n; i < name.size(); ++i) hasDot = hasDot || name[i] == ".";
      if (dotStar && !hasDot) return true;
      for (size_t i = n; i <= name.size(); ++i)
        if (FileMatchChars(pattern, p, name, i)) return true;
      return false;
    }
    if (n == name.size()) {
      // A trailing ".*" also matches the end of a name without an extension.
      return p == pattern.size() ||
             (p + 2 == pattern.size() && pattern[p] == "." && pattern[p + 1] == "*");
    }
    if (p == pattern.size()) return false;
    if (pattern[p] != "?" && FileUpper(pattern[p]) != FileUpper(name[n])) return false;
    ++p;
    ++n;
  }
}

bool FileMatches(const char *pattern, const char *name) {
  return FileMatchChars(SplitChars(pattern), 0, SplitChars(name), 0);
}

struct FindState {
  std::vector<WIN32_FIND_DATAA> entries;
  size_t next = 0;
};

HandleTable<FindState> &Finds() {
  static HandleTable<FindState> table(0x00F10000);
  return table;
}

std::map<uintptr_t, FindState> &FindHandles() { return Finds().open; }

HANDLE FileNewFindHandle(FindState state) { return Finds().Add(std::move(state)); }

// Lists `dir` (resolved, existing) for the entries matching `pattern`:
// "." and ".." first outside a root, then the names in case-insensitive
// order (the order NTFS gives).
DWORD FileListMatches(const ResolvedPath &dir, const std::string &pattern, FindState *state) {
  std::vector<std::string> names;
  DIR *d = opendir(dir.host.c_str());
  if (!d) return ERROR_PATH_NOT_FOUND;
  while (struct dirent *e = readdir(d)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    if (FileMatches(pattern.c_str(), name.c_str())) names.push_back(name);
  }
  closedir(d);
  std::sort(names.begin(), names.end(), [](const std::string &a, const std::string &b) {
    return FileUpper(a) < FileUpper(b);
  });
  std::string base = dir.isRoot ? dir.windows : dir.windows + "\\";
  if (!dir.isRoot)
    for (const char *dot : {".", ".."})
      if (FileMatches(pattern.c_str(), dot)) {
        WIN32_FIND_DATAA fd;
        FileFillFindData(dir, dot, &fd);
        state->entries.push_back(fd);
      }
  for (const std::string &name : names) {
    ResolvedPath child;
    if (ResolvePath((base + name).c_str(), &child) != 0 || !child.exists) continue;
    WIN32_FIND_DATAA fd;
    FileFillFindData(child, name, &fd);
    state->entries.push_back(fd);
  }
  return state->entries.empty() ? ERROR_FILE_NOT_FOUND : 0;
}

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

// Appends one pair to PendingFileRenameOperations: "\??\source", then
// "!\??\target" (replace), "\??\target", or "" (delete); the list keeps its
// final extra NUL.  The same pair queued twice appears twice.  A value of
// another type than REG_MULTI_SZ is left as it is and the move refused,
// without a last error (measured under Wine: a REG_BINARY or REG_SZ value
// makes every delayed move fail with the last error unchanged).
bool FileQueueDelayedMove(const std::string &source, const std::string *target, bool replace) {
  reg::Key *key = reg::Create(reg::Root(HKEY_LOCAL_MACHINE), kSessionManager, nullptr);
  std::string list;
  if (reg::Value *v = reg::FindValue(key, kPendingValue)) {
    if (v->type != REG_MULTI_SZ) return false;
    list.assign(v->data.begin(), v->data.end());
  }
  // Drop the terminating empty string; keep the NUL that ends the last name.
  if (list.size() >= 2 && list[list.size() - 1] == 0 && list[list.size() - 2] == 0)
    list.pop_back();
  else if (list == std::string(1, '\0'))
    list.clear();
  else if (!list.empty() && list.back() != 0)
    list.push_back('\0');
  list += "\\??\\" + source;
  list.push_back('\0');
  if (target) list += (replace ? "!\\??\\" : "\\??\\") + *target;
  list.push_back('\0');
  list.push_back('\0');
  reg::SetValue(key, kPendingValue, REG_MULTI_SZ, reinterpret_cast<const BYTE *>(list.data()),
                DWORD(list.size()));
  reg::Save(key);
  return true;
}

// Attributes of everything at and below `r` (a file or a directory tree),
// keyed by the path relative to `r` ("" for `r` itself).
void FileCollectAttributes(const ResolvedPath &r, const std::string &relative,
                           std::vector<std::pair<std::string, DWORD>> *out) {
  out->push_back({relative, StoredAttributes(r)});
  if (!r.isDirectory) return;
  DIR *d = opendir(r.host.c_str());
  if (!d) return;
  std::vector<std::string> names;
  while (struct dirent *e = readdir(d))
    if (strcmp(e->d_name, ".") && strcmp(e->d_name, "..")) names.push_back(e->d_name);
  closedir(d);
  for (const std::string &name : names) {
    ResolvedPath child;
    if (ResolvePath((r.windows + "\\" + name).c_str(), &child) == 0 && child.exists)
      FileCollectAttributes(child, relative + "\\" + name, out);
  }
}

void FileForgetTree(const std::string &windowsRoot,
                    const std::vector<std::pair<std::string, DWORD>> &entries) {
  for (const auto &e : entries) {
    ResolvedPath r;
    r.windows = windowsRoot + e.first;
    ForgetAttributes(r);
  }
}

void FileStoreTree(const std::string &windowsRoot,
                   const std::vector<std::pair<std::string, DWORD>> &entries) {
  for (const auto &e : entries) {
    ResolvedPath r;
    if (ResolvePath((windowsRoot + e.first).c_str(), &r) == 0 && r.exists)
      StoreAttributes(r, e.second);
  }
}

// A CD-ROM cannot be written: opening a file on it for writing, or
// removing one, is refused with ERROR_ACCESS_DENIED (not confirmed on a
// real system; ERROR_WRITE_PROTECT is the other candidate).
bool FileOnReadOnlyMedium(const ResolvedPath &r) {
  auto it = Config().drives.find(r.drive);
  return it != Config().drives.end() && it->second == DriveKind::Cdrom;
}

bool FileIsSameEntry(const ResolvedPath &a, const ResolvedPath &b) {
  return PathKey(a.windows) == PathKey(b.windows);
}

DWORD FileErrnoToError(int error) {
  switch (error) {
    case ENOSPC: return ERROR_DISK_FULL;
    case ENOENT: return ERROR_PATH_NOT_FOUND;
    default: return ERROR_ACCESS_DENIED;
  }
}

// Writes the content of `source` to `target` through a temporary file beside
// it, so that a failure leaves the old target whole; the last-write time is
// copied from the source.
DWORD FileCopyContent(const std::string &source, const std::string &target) {
  int in = open(source.c_str(), O_RDONLY);
  if (in < 0) return ERROR_ACCESS_DENIED;
  std::string temp = target + ".winsim-copy" + std::to_string(getpid());
  int out = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (out < 0) {
    int e = errno;
    close(in);
    return FileErrnoToError(e);
  }
  bool ok = true;
  int e = 0;
  // The kernel copies the bytes (as cp does); plain reads and writes where
  // it cannot.
  bool kernelCopy = true;
  for (;;) {
    ssize_t n = kernelCopy ? copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0) : 0;
    if (kernelCopy && n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL)) {
      kernelCopy = false;
      continue;
    }
    if (!kernelCopy) {
      static char buffer[1 << 20];
      n = read(in, buffer, sizeof buffer);
      if (n > 0 && write(out, buffer, size_t(n)) != n) n = -1;
    }
    if (n < 0) {
      ok = false;
      e = errno;
    }
    if (n <= 0) break;
  }
  close(in);
  if (close(out) != 0 && ok) {
    ok = false;
    e = errno;
  }
  struct stat st;
  if (ok && stat(source.c_str(), &st) == 0) {
    struct timespec times[2] = {st.st_atim, st.st_mtim};
    utimensat(AT_FDCWD, temp.c_str(), times, 0);
  }
  if (ok && rename(temp.c_str(), target.c_str()) != 0) {
    ok = false;
    e = errno;
  }
  if (!ok) {
    unlink(temp.c_str());
    return FileErrnoToError(e);
  }
  return 0;
}

// The error an existing path gives when it must be found: 2 for the last
// part, 3 for a directory on the way (ResolvePath's own error).
DWORD FileResolveExisting(const char *path, ResolvedPath *r) {
  if (DWORD e = ResolveCallerPath(path, r)) return e;
  return r->exists ? 0 : ERROR_FILE_NOT_FOUND;
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

// Search handles not yet closed with FindClose; counted with the process
// handles, so that a search left open shows as a leak.
size_t OpenFindHandleCount() { return FindHandles().size(); }

void ResetFindHandles() { Finds().Reset(); }

namespace internal {

// Renames a resolved file or directory over `dst` (which may exist) and
// carries its attributes, and those of everything below it, to the new
// names.  Shared with the restart, which moves without the API's checks.
DWORD MoveEntry(const ResolvedPath &src, const ResolvedPath &dst) {
  std::vector<std::pair<std::string, DWORD>> kept;
  FileCollectAttributes(src, "", &kept);
  // A directory replacing a file: POSIX rename refuses that, Windows does it.
  if (src.isDirectory && dst.exists && !dst.isDirectory && !FileIsSameEntry(src, dst) &&
      unlink(dst.host.c_str()) != 0)
    return FileErrnoToError(errno);
  if (rename(src.host.c_str(), dst.host.c_str()) != 0) return FileErrnoToError(errno);
  if (dst.exists && !FileIsSameEntry(src, dst)) ForgetAttributes(dst);
  FileForgetTree(src.windows, kept);
  FileStoreTree(dst.windows, kept);
  return 0;
}

// Removes a file, or an empty directory, and its attributes.
DWORD RemoveEntry(const ResolvedPath &r) {
  if ((r.isDirectory ? rmdir(r.host.c_str()) : unlink(r.host.c_str())) != 0)
    return FileErrnoToError(errno);
  ForgetAttributes(r);
  return 0;
}

}  // namespace internal

}  // namespace winsim

using namespace winsim;

extern "C" {

HANDLE WINAPI FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA data) {
  if (DWORD e = Fault("FindFirstFileA", pattern)) {
    SetLastError(e);
    return INVALID_HANDLE_VALUE;
  }
  if (!pattern || !data) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  if (DWORD e = FileNameLengthError(pattern, true)) {
    SetLastError(e);
    return INVALID_HANDLE_VALUE;
  }
  std::string p(pattern);
  size_t split = FindLastChar(p, "\\/");
  std::string last = split == std::string::npos ? p.substr(p.size() >= 2 && p[1] == ':' ? 2 : 0)
                                                 : p.substr(split + 1);
  FindState state;
  if (last.find_first_of("*?") == std::string::npos) {
    // A plain name: the entry itself.  A root, or a name with a trailing
    // backslash, names a directory's contents without a pattern and fails.
    ResolvedPath r;
    if (DWORD e = ResolveCallerPath(pattern, &r)) {
      SetLastError(e);
      return INVALID_HANDLE_VALUE;
    }
    if (r.isRoot || EndsWithSeparator(pattern)) {
      // Windows: 2 for a root or an existing directory, 3 for a missing one
      // (Wine's own test, todo_wine for the missing case).
      SetLastError(r.isRoot || r.exists ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
      return INVALID_HANDLE_VALUE;
    }
    if (!r.exists) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return INVALID_HANDLE_VALUE;
    }
    WIN32_FIND_DATAA fd;
    FileFillFindData(r, r.windows.substr(FindLastChar(r.windows, "\\") + 1), &fd);
    state.entries.push_back(fd);
  } else {
    // Wildcards in the last part only; a '*' or '?' in a directory part is
    // refused by the path resolution (ERROR_INVALID_NAME).
    std::string dirPath = split == std::string::npos ? p.substr(0, p.size() - last.size())
                                                     : p.substr(0, split + 1);
    if (dirPath.empty()) dirPath = ".";
    ResolvedPath dir;
    DWORD e = ResolveCallerPath(dirPath.c_str(), &dir);
    if (!e && (!dir.exists || !dir.isDirectory)) e = ERROR_PATH_NOT_FOUND;
    if (!e) e = FileListMatches(dir, last, &state);
    if (e) {
      SetLastError(e);
      return INVALID_HANDLE_VALUE;
    }
  }
  *data = state.entries[0];
  state.next = 1;
  return FileNewFindHandle(std::move(state));
}

BOOL WINAPI FindNextFileA(HANDLE handle, LPWIN32_FIND_DATAA data) {
  if (DWORD e = Fault("FindNextFileA")) {
    SetLastError(e);
    return FALSE;
  }
  auto it = FindHandles().find(reinterpret_cast<uintptr_t>(handle));
  if (it == FindHandles().end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (it->second.next >= it->second.entries.size()) {
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
  }
  *data = it->second.entries[it->second.next++];
  return TRUE;
}

BOOL WINAPI FindClose(HANDLE handle) {
  if (DWORD e = Fault("FindClose")) {
    SetLastError(e);
    return FALSE;
  }
  if (!FindHandles().erase(reinterpret_cast<uintptr_t>(handle))) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

DWORD WINAPI GetFileAttributesA(LPCSTR path) {
  if (DWORD e = Fault("GetFileAttributesA", path)) {
    SetLastError(e);
    return INVALID_FILE_ATTRIBUTES;
  }
  ResolvedPath r;
  DWORD e = FileNameLengthError(path, true);
  if (!e) e = FileResolveExisting(path, &r);
  // A trailing backslash is accepted on a directory, not on a file.
  if (!e && !r.isDirectory && EndsWithSeparator(path)) e = ERROR_INVALID_NAME;
  if (e) {
    SetLastError(e);
    return INVALID_FILE_ATTRIBUTES;
  }
  return FileReportedAttributes(r);
}

BOOL WINAPI SetFileAttributesA(LPCSTR path, DWORD attributes) {
  if (DWORD e = Fault("SetFileAttributesA", path)) {
    SetLastError(e);
    return FALSE;
  }
  ResolvedPath r;
  DWORD e = FileNameLengthError(path, true);
  if (!e) e = FileResolveExisting(path, &r);
  // The read-only attribute of a file on a CD-ROM cannot be taken away.
  if (!e && FileOnReadOnlyMedium(r)) e = ERROR_ACCESS_DENIED;
  if (e) {
    SetLastError(e);
    return FALSE;
  }
  DWORD kept = attributes & kSettableAttributes;
  // NORMAL only counts alone; with it alone the file has no attribute.
  kept &= ~DWORD(FILE_ATTRIBUTE_NORMAL);
  StoreAttributes(r, kept);
  return TRUE;
}

BOOL WINAPI CopyFileA(LPCSTR existing, LPCSTR newName, BOOL failIfExists) {
  if (DWORD e = Fault("CopyFileA", existing, newName)) {
    SetLastError(e);
    return FALSE;
  }
  if (!existing || !newName) {
    SetLastError(ERROR_PATH_NOT_FOUND);  // as for an empty name (Wine's file tests, run on Windows)
    return FALSE;
  }
  // The source is checked first: a missing source wins over any problem of
  // the target.
  ResolvedPath src, dst;
  DWORD e = FileNameLengthError(existing, true);
  if (!e) e = FileResolveExisting(existing, &src);
  if (!e && src.isDirectory) e = ERROR_ACCESS_DENIED;
  if (!e && IsInUse(src)) e = ERROR_SHARING_VIOLATION;
  if (!e) e = FileNameLengthError(newName, false);
  if (!e) e = ResolveCallerPath(newName, &dst);
  if (!e && FileOnReadOnlyMedium(dst)) e = ERROR_ACCESS_DENIED;
  if (!e && dst.exists) {
    DWORD target = StoredAttributes(dst);
    DWORD source = StoredAttributes(src);
    DWORD hiddenSystem = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    if (dst.isDirectory)
      e = ERROR_ACCESS_DENIED;
    else if (FileIsSameEntry(src, dst))
      e = ERROR_SHARING_VIOLATION;  // the source is open for reading
    else if (failIfExists)
      e = ERROR_FILE_EXISTS;
    else if (target & FILE_ATTRIBUTE_READONLY)
      e = ERROR_ACCESS_DENIED;  // Microsoft's CopyFile page: a read-only target fails with 5
    else if (!Config().Is9x() && (target & hiddenSystem & ~source))
      // NT opens the target with CREATE_ALWAYS and the source's attributes;
      // that fails on a hidden or system file the new attributes lack.
      e = ERROR_ACCESS_DENIED;
    else if (IsInUse(dst))
      e = ERROR_SHARING_VIOLATION;
  }
  if (!e) e = FileCopyContent(src.host, dst.host);
  if (e) {
    SetLastError(e);
    return FALSE;
  }
  bool overwritten = dst.exists;
  dst.exists = true;
  dst.isDirectory = false;
  DWORD attributes = StoredAttributes(src);
  StoreAttributes(dst, overwritten ? attributes | FILE_ATTRIBUTE_ARCHIVE : attributes);
  return TRUE;
}

BOOL WINAPI MoveFileExA(LPCSTR existing, LPCSTR newName, DWORD flags) {
  if (DWORD e = Fault("MoveFileExA", existing, newName)) {
    SetLastError(e);
    return FALSE;
  }
  // The 9x family does not implement MoveFileEx (KB Q129532: use
  // WININIT.INI); the code is 120 (not confirmed on a real system).
  if (Config().Is9x()) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
  }
  if (!existing) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  DWORD tooLong = FileNameLengthError(existing, true);
  if (!tooLong) tooLong = FileNameLengthError(newName, false);
  if (tooLong) {
    SetLastError(tooLong);
    return FALSE;
  }
  if (flags & MOVEFILE_DELAY_UNTIL_REBOOT) {
    // Nothing moves now and nothing is checked on disk: the source may be
    // missing and so may the target's folder.
    if (flags & MOVEFILE_COPY_ALLOWED) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    std::string source, target;
    DWORD e = FileAbsolutePath(existing, &source);
    if (!e && newName) e = FileAbsolutePath(newName, &target);
    if (e) {
      SetLastError(e);
      return FALSE;
    }
    return FileQueueDelayedMove(source, newName ? &target : nullptr,
                                (flags & MOVEFILE_REPLACE_EXISTING) != 0);
  }
  if (!newName) {
    SetLastError(ERROR_INVALID_PARAMETER);  // deleting needs the delay flag
    return FALSE;
  }
  ResolvedPath src, dst;
  DWORD e = FileResolveExisting(existing, &src);
  if (!e && IsInUse(src)) e = ERROR_SHARING_VIOLATION;
  if (!e) e = ResolveCallerPath(newName, &dst);
  if (!e && (FileOnReadOnlyMedium(src) || FileOnReadOnlyMedium(dst))) e = ERROR_ACCESS_DENIED;
  // Renaming an entry to itself in other letters is a change of case.
  if (!e && dst.exists && !FileIsSameEntry(src, dst)) {
    if (!(flags & MOVEFILE_REPLACE_EXISTING))
      e = ERROR_ALREADY_EXISTS;
    else if (dst.isDirectory)  // a file may be replaced by a directory, never a directory
      e = ERROR_ACCESS_DENIED;   // (Wine's file tests, run on Windows)
    else if (StoredAttributes(dst) & FILE_ATTRIBUTE_READONLY)
      e = ERROR_ACCESS_DENIED;  // a read-only file is never replaced (see restart.cpp)
    else if (IsInUse(dst))
      e = ERROR_ACCESS_DENIED;  // an open file cannot be superseded
  }
  if (!e && src.drive != dst.drive && (src.isDirectory || !(flags & MOVEFILE_COPY_ALLOWED)))
    e = kErrorNotSameDevice;
  if (!e) e = internal::MoveEntry(src, dst);
  if (e) {
    SetLastError(e);
    return FALSE;
  }
  return TRUE;
}

BOOL WINAPI DeleteFileA(LPCSTR path) {
  if (DWORD e = Fault("DeleteFileA", path)) {
    SetLastError(e);
    return FALSE;
  }
  ResolvedPath r;
  DWORD e = FileNameLengthError(path, true);
  if (!e) e = FileResolveExisting(path, &r);
  if (!e && (r.isDirectory || (StoredAttributes(r) & FILE_ATTRIBUTE_READONLY) ||
             FileOnReadOnlyMedium(r)))
    e = ERROR_ACCESS_DENIED;
  if (!e && IsInUse(r)) e = ERROR_SHARING_VIOLATION;
  if (!e) e = internal::RemoveEntry(r);
  if (e) {
    SetLastError(e);
    return FALSE;
  }
  return TRUE;
}

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
