// Searches: FindFirstFileA, FindNextFileA and FindClose, with the wildcard
// match of names and the handles of the searches still open.
#include "file_search.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "attributes.h"
#include "faults.h"
#include "file_names.h"
#include "machine_text.h"
#include "paths.h"
#include "process_state.h"
#include "wow64.h"

namespace winsim {

namespace {

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
    if (pattern[p] != "?" && UpperText(pattern[p]) != UpperText(name[n])) return false;
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
    return UpperText(a) < UpperText(b);
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

}  // namespace

// Attributes as GetFileAttributesA reports them: the directory bit from the
// file system, NORMAL for a file that has no other bit.
DWORD FileReportedAttributes(const ResolvedPath &r) {
  DWORD a = StoredAttributes(r);
  if (r.isDirectory) return a | FILE_ATTRIBUTE_DIRECTORY;
  return a ? a : FILE_ATTRIBUTE_NORMAL;
}

// Search handles not yet closed with FindClose; counted with the process
// handles, so that a search left open shows as a leak.
size_t OpenFindHandleCount() { return FindHandles().size(); }

void ResetFindHandles() { Finds().Reset(); }

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

}  // extern "C"
