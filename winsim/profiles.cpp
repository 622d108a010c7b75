// Profile (INI) files, edited the way Windows edits them: in place.  Lines
// the call does not touch stay byte-identical (Wine instead rewrites the
// whole file from its parsed form); a new key goes after the last non-blank
// line of its section; a new section is appended at the end; a new file is
// exactly "[S]\r\nk=v\r\n".  Every write replaces the file atomically, so an
// interrupted write leaves the old or the new file.
//
// Comment lines (first non-blank character ';'): Windows' readers skip them.
// Black-box tests of the real functions show that a ';' line is not returned
// when all keys of a section are listed and that a key written as ";key" can
// never be read back; Wine's GetPrivateProfileSection skips them too.  So
// GetPrivateProfileSectionA does not return them.  WritePrivateProfileSectionA
// replaces only the section's entries: Microsoft documents that comments stay
// where they were (and warns that they may then sit beside other keys), so
// comment lines are kept in place.
//
// The 9x family keeps the most recently used profile file in a cache (see
// ProfileCache below), and its GetPrivateProfileSectionA uses at most 32767
// characters of the caller's buffer.
#include "profiles.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "ascii.h"
#include "attributes.h"
#include "faults.h"
#include "libraries.h"
#include "machine.h"
#include "machine_text.h"
#include "paths.h"
#include "textfile.h"
#include "wow64.h"

namespace winsim {

namespace {

// One line of the file with its own line end ("\r\n", "\n" or none).
struct ProfileLine {
  std::string text;
  std::string end;
};

const char kCrlf[] = "\r\n";

// Blanks around names and values go.  A NUL counts as a blank: a file that
// ends in a NUL (as C strings written with their terminator do) gives no
// extra entry on Windows.
const std::string kProfileBlanks = std::string(" \t\v\0", 4);

// Section and key names compare by characters of the code page.
bool ProfileSame(const std::string &a, const std::string &b) { return EqualNoCase(a, b); }

// Line ends are "\r\n", "\n" or a bare "\r": Windows' reader breaks lines
// at either character (Wine's profile tests pass a CR-only file on Windows).
std::vector<ProfileLine> ProfileSplit(const std::string &data) {
  std::vector<ProfileLine> lines;
  size_t start = 0;
  while (start < data.size()) {
    size_t brk = data.find_first_of("\r\n", start);
    if (brk == std::string::npos) {
      lines.push_back({data.substr(start), ""});
      break;
    }
    size_t next = data.compare(brk, 2, "\r\n") == 0 ? brk + 2 : brk + 1;
    lines.push_back({data.substr(start, brk - start), data.substr(brk, next - brk)});
    start = next;
  }
  return lines;
}

std::string ProfileJoin(const std::vector<ProfileLine> &lines) {
  std::string out;
  for (const ProfileLine &l : lines) out += l.text + l.end;
  return out;
}

bool IsBlank(const ProfileLine &l) { return Trim(l.text, kProfileBlanks).empty(); }
bool IsComment(const ProfileLine &l) {
  std::string t = Trim(l.text, kProfileBlanks);
  return !t.empty() && t[0] == ';';
}
bool IsHeader(const ProfileLine &l) {
  std::string t = Trim(l.text, kProfileBlanks);
  return !t.empty() && t[0] == '[';
}
// An entry: a line of a section that is neither blank, a comment nor a header.
bool IsEntry(const ProfileLine &l) { return !IsBlank(l) && !IsComment(l) && !IsHeader(l); }

std::string HeaderName(const ProfileLine &l) {
  std::string t = Trim(l.text, kProfileBlanks);
  size_t close = FindFirstChar(t, "]");  // a second byte may be 0x5D
  return Trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1), kProfileBlanks);
}

std::string EntryKey(const ProfileLine &l) {
  size_t eq = l.text.find('=');
  return Trim(eq == std::string::npos ? l.text : l.text.substr(0, eq), kProfileBlanks);
}

std::string EntryValue(const ProfileLine &l) {
  size_t eq = l.text.find('=');
  return eq == std::string::npos ? "" : Trim(l.text.substr(eq + 1), kProfileBlanks);
}

// The first section of that name: its header line and the line after its
// last line.  Returns false when there is none.
bool FindSection(const std::vector<ProfileLine> &lines, const std::string &name, size_t *header,
                 size_t *end) {
  for (size_t i = 0; i < lines.size(); ++i) {
    if (!IsHeader(lines[i]) || !ProfileSame(HeaderName(lines[i]), name)) continue;
    *header = i;
    size_t j = i + 1;
    while (j < lines.size() && !IsHeader(lines[j])) ++j;
    *end = j;
    return true;
  }
  return false;
}

// Where new lines of a section go: after its last non-blank line.
size_t InsertionPoint(const std::vector<ProfileLine> &lines, size_t header, size_t end) {
  size_t at = header + 1;
  for (size_t i = header + 1; i < end; ++i)
    if (!IsBlank(lines[i])) at = i + 1;
  return at;
}

void InsertLines(std::vector<ProfileLine> *lines, size_t at, const std::vector<std::string> &texts) {
  // The line before gets a line end if the file stopped without one.
  if (at > 0 && (*lines)[at - 1].end.empty()) (*lines)[at - 1].end = kCrlf;
  std::vector<ProfileLine> added;
  for (const std::string &t : texts) added.push_back({t, kCrlf});
  lines->insert(lines->begin() + long(at), added.begin(), added.end());
}

void AppendSection(std::vector<ProfileLine> *lines, const std::string &name,
                   const std::vector<std::string> &entries) {
  std::vector<std::string> texts = {"[" + name + "]"};
  texts.insert(texts.end(), entries.begin(), entries.end());
  InsertLines(lines, lines->size(), texts);
}

// Removes the section's header (when `header` is set) and its entries;
// blank and comment lines stay, as on Windows.
void RemoveEntries(std::vector<ProfileLine> *lines, size_t header, size_t end, bool withHeader) {
  std::vector<ProfileLine> kept(lines->begin(), lines->begin() + long(header) + (withHeader ? 0 : 1));
  for (size_t i = header + 1; i < end; ++i)
    if (!IsEntry((*lines)[i])) kept.push_back((*lines)[i]);
  kept.insert(kept.end(), lines->begin() + long(end), lines->end());
  *lines = kept;
}

// A profile file opened for reading or writing.
struct ProfileFile {
  ResolvedPath path;
  std::vector<ProfileLine> lines;
};

// A bare name ("SYSTEM.INI") lives in the Windows directory; anything with
// a separator or a drive is resolved normally.
DWORD ProfileResolve(const char *name, ResolvedPath *out) {
  std::string n = name;
  if (n.find_first_of("\\/:") == std::string::npos) n = Config().windowsDir + "\\" + n;
  return ResolveCallerPath(n.c_str(), out);
}

// The profile cache of the 9x family.  Windows 95 documents that it "keeps a
// cached version of WIN.INI" and that WritePrivateProfileString with all
// three arguments NULL flushes "the cached version of the most recently
// accessed initialization file" (1998 Platform SDK, WritePrivateProfileString
// and WriteProfileString remarks).  Knowledge Base Q68827 describes the cache
// its 32-bit profile calls come from (Windows 3.x): one file stays in memory
// "until a different .INI file is loaded or until an application forces
// recaching" with that all-NULL call; the file's time is taken when it is
// loaded, and a file whose time has changed is read again; writes change the
// cached copy and write the new contents to disk.  So a change made to the
// file by other means that leaves its time as it was goes unseen, and the
// next profile write puts the stale copy back on disk.  On FAT the recorded
// time moves in steps of two seconds, so that happens to any change made
// within two seconds of the load; winsim's host keeps finer times, and a test
// reproduces it by setting the file's time back.  The NT family reads the
// file at every call.
struct ProfileCacheEntry {
  std::string key;  // PathKey of the cached file; empty when nothing is cached
  struct timespec time = {};
  std::vector<ProfileLine> lines;
};

ProfileCacheEntry &ProfileCache() {
  static ProfileCacheEntry cache;
  return cache;
}

bool ProfileFileTime(const ResolvedPath &path, struct timespec *time) {
  struct stat st;
  if (stat(path.host.c_str(), &st) != 0) return false;
  *time = st.st_mtim;
  return true;
}

// Puts the file's lines in the cache (9x only), with the file's time now.
void ProfileCacheStore(const ResolvedPath &path, const std::vector<ProfileLine> &lines) {
  ProfileCacheEntry &cache = ProfileCache();
  cache.key.clear();
  if (!Config().Is9x() || !ProfileFileTime(path, &cache.time)) return;
  cache.key = PathKey(path.windows);
  cache.lines = lines;
}

// The cached lines of the file when the cache holds it and its time is
// unchanged.
bool ProfileCacheLookup(const ResolvedPath &path, std::vector<ProfileLine> *lines) {
  const ProfileCacheEntry &cache = ProfileCache();
  struct timespec now;
  if (!Config().Is9x() || cache.key.empty() || cache.key != PathKey(path.windows) ||
      !ProfileFileTime(path, &now) || now.tv_sec != cache.time.tv_sec ||
      now.tv_nsec != cache.time.tv_nsec)
    return false;
  *lines = cache.lines;
  return true;
}

// The all-NULL write: the cache is dropped; documented to return zero.
BOOL ProfileFlush() {
  ProfileCache().key.clear();
  return FALSE;
}

DWORD ProfileOpen(const char *name, ProfileFile *file) {
  if (!name || !*name) return ERROR_ACCESS_DENIED;
  if (DWORD e = ProfileResolve(name, &file->path)) return e;
  if (!file->path.exists) return ERROR_FILE_NOT_FOUND;
  if (file->path.isDirectory) return ERROR_ACCESS_DENIED;
  if (ProfileCacheLookup(file->path, &file->lines)) return 0;
  std::string data;
  if (!ReadTextFile(file->path.host, &data)) return ERROR_ACCESS_DENIED;
  file->lines = ProfileSplit(data);
  ProfileCacheStore(file->path, file->lines);
  return 0;
}

// Opens for a change: a missing file is an empty one (the caller creates it
// only when it has something to write).
DWORD ProfileOpenForWrite(const char *name, ProfileFile *file) {
  DWORD e = ProfileOpen(name, file);
  if (e == ERROR_FILE_NOT_FOUND) return 0;
  if (e) return e;
  if (StoredAttributes(file->path) & FILE_ATTRIBUTE_READONLY) return ERROR_ACCESS_DENIED;
  if (IsInUse(file->path)) return ERROR_SHARING_VIOLATION;
  return 0;
}

DWORD ProfileSave(const ProfileFile &file) {
  if (!WriteFileAtomically(file.path.host, ProfileJoin(file.lines))) return ERROR_ACCESS_DENIED;
  ProfileCacheStore(file.path, file.lines);
  return 0;
}

// Finishes a write call: saves, and sets the last error as Windows leaves it
// (2 after creating the file, 0 after updating one).
BOOL ProfileFinish(const ProfileFile &file) {
  bool created = !file.path.exists;
  if (DWORD e = ProfileSave(file)) {
    SetLastError(e);
    return FALSE;
  }
  SetLastError(created ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS);
  return TRUE;
}

// Copies a list of strings as "a\0b\0\0" into nSize characters; when it
// does not fit, the last string is cut, two zeros end the buffer and nSize-2
// is returned.
DWORD CopyList(const std::vector<std::string> &items, LPSTR out, DWORD nSize) {
  std::string flat;
  for (const std::string &s : items) flat += s + '\0';
  if (nSize == 0) return 0;
  if (flat.empty()) {
    out[0] = 0;
    if (nSize > 1) out[1] = 0;
    return 0;
  }
  if (flat.size() + 1 <= nSize) {
    memcpy(out, flat.data(), flat.size());
    out[flat.size()] = 0;
    return DWORD(flat.size());
  }
  if (nSize < 2) {
    out[0] = 0;
    return 0;
  }
  memcpy(out, flat.data(), nSize - 2);
  out[nSize - 2] = 0;
  out[nSize - 1] = 0;
  return nSize - 2;
}

// The checks every write makes before it touches the file: a section is
// needed (ERROR_FILE_NOT_FOUND, as Windows answers), and a file name; then
// the file is opened for writing.  Returns 0 or the error to report.
DWORD ProfileBeginWrite(const char *section, const char *fileName, ProfileFile *file) {
  if (!section) return ERROR_FILE_NOT_FOUND;
  if (!fileName) return ERROR_INVALID_PARAMETER;
  return ProfileOpenForWrite(fileName, file);
}

}  // namespace

}  // namespace winsim

using namespace winsim;

BOOL WINAPI WritePrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString,
                                       LPCSTR lpFileName) {
  if (DWORD e = Fault("WritePrivateProfileStringA", lpFileName)) {
    SetLastError(e);
    return FALSE;
  }
  // All three NULL: the flush of the cached file.  Documented to return zero;
  // the last error is left as it was.
  if (!lpAppName && !lpKeyName && !lpString) return ProfileFlush();
  ProfileFile file;
  if (DWORD e = ProfileBeginWrite(lpAppName, lpFileName, &file)) {
    SetLastError(e);
    return FALSE;
  }
  std::string section = Trim(lpAppName, kProfileBlanks);
  size_t header = 0, end = 0;
  bool found = FindSection(file.lines, section, &header, &end);
  if (!lpKeyName || !lpString) {
    // Deletions succeed also when there is nothing to delete; in a missing
    // file Windows leaves an empty file behind (Wine's profile tests, run on
    // Windows, find one of size 0).
    if (!found) return file.path.exists ? TRUE : ProfileFinish(file);
    if (!lpKeyName) {
      RemoveEntries(&file.lines, header, end, true);
    } else {
      std::string key = Trim(lpKeyName, kProfileBlanks);
      size_t i = header + 1;
      while (i < end && !(IsEntry(file.lines[i]) && ProfileSame(EntryKey(file.lines[i]), key))) ++i;
      if (i == end) return TRUE;
      file.lines.erase(file.lines.begin() + long(i));
    }
    return ProfileFinish(file);
  }
  std::string key = Trim(lpKeyName, kProfileBlanks);
  if (!found) {
    AppendSection(&file.lines, section, {key + "=" + lpString});
    return ProfileFinish(file);
  }
  for (size_t i = header + 1; i < end; ++i) {
    ProfileLine &line = file.lines[i];
    if (IsEntry(line) && ProfileSame(EntryKey(line), key)) {
      // Replaced in place; the file's spelling of the key stays.
      line.text = EntryKey(line) + "=" + lpString;
      return ProfileFinish(file);
    }
  }
  InsertLines(&file.lines, InsertionPoint(file.lines, header, end), {key + "=" + lpString});
  return ProfileFinish(file);
}

BOOL WINAPI WritePrivateProfileSectionA(LPCSTR lpAppName, LPCSTR lpString, LPCSTR lpFileName) {
  if (DWORD e = Fault("WritePrivateProfileSectionA", lpFileName)) {
    SetLastError(e);
    return FALSE;
  }
  if (!lpAppName && !lpString) return ProfileFlush();  // as above
  if (!lpString) return WritePrivateProfileStringA(lpAppName, nullptr, nullptr, lpFileName);
  ProfileFile file;
  if (DWORD e = ProfileBeginWrite(lpAppName, lpFileName, &file)) {
    SetLastError(e);
    return FALSE;
  }
  std::vector<std::string> entries;
  for (const char *p = lpString; *p; p += strlen(p) + 1) entries.push_back(p);
  std::string section = Trim(lpAppName, kProfileBlanks);
  size_t header = 0, end = 0;
  if (!FindSection(file.lines, section, &header, &end)) {
    AppendSection(&file.lines, section, entries);
    return ProfileFinish(file);
  }
  // The new entries take the place of the first old one (or follow the
  // section's last line); comments and blank lines stay where they are.
  size_t at = header + 1, removedBefore = 0;
  bool anyEntry = false;
  for (size_t i = header + 1; i < end; ++i) {
    if (IsEntry(file.lines[i])) {
      if (!anyEntry) at = i;
      anyEntry = true;
    }
  }
  if (!anyEntry) at = InsertionPoint(file.lines, header, end);
  for (size_t i = header + 1; i < at; ++i) removedBefore += IsEntry(file.lines[i]) ? 1 : 0;
  RemoveEntries(&file.lines, header, end, false);
  InsertLines(&file.lines, at - removedBefore, entries);
  return ProfileFinish(file);
}

DWORD WINAPI GetPrivateProfileSectionA(LPCSTR lpAppName, LPSTR lpReturnedString, DWORD nSize,
                                       LPCSTR lpFileName) {
  if (DWORD e = Fault("GetPrivateProfileSectionA", lpFileName)) {
    SetLastError(e);
    return 0;
  }
  if (!lpAppName || !lpReturnedString) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  ProfileFile file;
  std::vector<std::string> items;
  DWORD e = lpFileName ? ProfileOpen(lpFileName, &file) : ERROR_FILE_NOT_FOUND;
  size_t header = 0, end = 0;
  if (!e && FindSection(file.lines, Trim(lpAppName, kProfileBlanks), &header, &end)) {
    for (size_t i = header + 1; i < end; ++i) {
      const ProfileLine &l = file.lines[i];
      if (!IsEntry(l)) continue;
      // Blanks around key and value go; quotes stay.
      items.push_back(l.text.find('=') == std::string::npos ? Trim(l.text, kProfileBlanks)
                                                             : EntryKey(l) + "=" + EntryValue(l));
    }
  }
  // A read from an existing file sets ERROR_SUCCESS, also when the section
  // is missing or empty (Wine's profile tests, run on Windows).
  SetLastError(e);
  // Windows 95: "The maximum buffer size is 32,767 characters" and "The
  // specified profile section must not exceed 32K" (1998 Platform SDK,
  // GetPrivateProfileSection); Knowledge Base Q230194 gives the same limit
  // of just under 32 KB per read for Windows 98.  A larger buffer is used up
  // to that size only, so a longer section comes back cut as in a buffer of
  // that size: 32765 is returned.
  if (Config().Is9x()) nSize = std::min<DWORD>(nSize, 32767);
  return CopyList(items, lpReturnedString, nSize);
}

DWORD WINAPI GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault,
                                      LPSTR lpReturnedString, DWORD nSize, LPCSTR lpFileName) {
  if (DWORD e = Fault("GetPrivateProfileStringA", lpFileName)) {
    SetLastError(e);
    return 0;
  }
  if (!lpReturnedString || nSize == 0) return 0;
  ProfileFile file;
  DWORD e = lpFileName ? ProfileOpen(lpFileName, &file) : ERROR_FILE_NOT_FOUND;
  if (e) SetLastError(e);
  if (!lpAppName || !lpKeyName) {
    // Lists: the section names of the file, or the key names of a section.
    std::vector<std::string> names;
    size_t header = 0, end = 0;
    if (!lpAppName) {
      for (const ProfileLine &l : file.lines)
        if (IsHeader(l)) names.push_back(HeaderName(l));
    } else if (FindSection(file.lines, Trim(lpAppName, kProfileBlanks), &header, &end)) {
      // Only lines with "=" are keys; GetPrivateProfileSectionA returns the others.
      for (size_t i = header + 1; i < end; ++i)
        if (IsEntry(file.lines[i]) && file.lines[i].text.find('=') != std::string::npos)
          names.push_back(EntryKey(file.lines[i]));
    }
    return CopyList(names, lpReturnedString, nSize);
  }
  std::string value;
  bool found = false;
  size_t header = 0, end = 0;
  if (FindSection(file.lines, Trim(lpAppName, kProfileBlanks), &header, &end)) {
    std::string key = Trim(lpKeyName, kProfileBlanks);
    for (size_t i = header + 1; i < end && !found; ++i) {
      if (IsEntry(file.lines[i]) && ProfileSame(EntryKey(file.lines[i]), key)) {
        value = EntryValue(file.lines[i]);
        found = true;
      }
    }
    // One pair of enclosing quotes is removed.
    if (found && value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
      value = value.substr(1, value.size() - 2);
  }
  if (!found) {
    value = lpDefault ? lpDefault : "";
    while (!value.empty() && value.back() == ' ') value.pop_back();  // trailing blanks of the default go
  }
  // Too long: cut to nSize-1 characters, returned count nSize-1.
  DWORD n = DWORD(std::min<size_t>(value.size(), nSize - 1));
  memcpy(lpReturnedString, value.data(), n);
  lpReturnedString[n] = 0;
  return n;
}

namespace winsim {
void ResetProfileCache() { ProfileCache().key.clear(); }
}  // namespace winsim

namespace {

struct RegisterProfileEntryPoints {
  RegisterProfileEntryPoints() {
    RegisterEntryPoint("WritePrivateProfileStringA", AsProc(&WritePrivateProfileStringA));
    RegisterEntryPoint("WritePrivateProfileSectionA", AsProc(&WritePrivateProfileSectionA));
    RegisterEntryPoint("GetPrivateProfileSectionA", AsProc(&GetPrivateProfileSectionA));
    RegisterEntryPoint("GetPrivateProfileStringA", AsProc(&GetPrivateProfileStringA));
  }
} registerProfileEntryPoints;

}  // namespace
