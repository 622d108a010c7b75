// Files: attributes, copy, move (immediate and at the next restart), delete.
// Searches are in file_search.cpp, the names' checks in file_names.cpp,
// drive types in drives.cpp.
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

#include "attributes.h"
#include "faults.h"
#include "file_entries.h"
#include "file_names.h"
#include "file_search.h"
#include "journal.h"
#include "libraries.h"
#include "machine.h"
#include "machine_text.h"
#include "paths.h"
#include "regstore.h"
#include "restart_queue.h"
#include "snapshot.h"
#include "wow64.h"

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

}  // namespace

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

}  // extern "C"
