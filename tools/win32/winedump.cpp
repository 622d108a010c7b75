// Writes the state of a Wine prefix that the installer touches, as a dump
// that can be compared with the dump of a simulated machine.
//
//   winedump.exe OUTFILE SCOPEFILE [JOURNALFILE [EXITCODE]]
//
// SCOPEFILE says what to read, one item a line ('#' starts a comment;
// %WINDIR% and %SYSDIR% stand for the Windows and system directories as
// this process sees them):
//   tree DIR            every file and folder below DIR
//   files DIR\PATTERN   the files DIR\PATTERN matches (FindFirstFileA
//                       wildcards), not recursive
//   key HKLM\PATH       the key with its whole subtree (HKLM or HKCU)
//   profile FILE        the lines of a profile file (SYSTEM.INI, WININIT.INI)
//   pending             the delayed moves (Session Manager,
//                       PendingFileRenameOperations), in order
// JOURNALFILE holds the watcher's lines (the message boxes); EXITCODE is
// the installer's exit code, added as "exit N" like winsim's journal.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "ascii.h"
#include "restart_queue.h"
#include "snapshot.h"

using winsim::MachineSnapshot;
using Snapshot = winsim::MachineSnapshot;

namespace {

std::string Expand(std::string text) {
  char dir[MAX_PATH + 1];
  UINT n = GetWindowsDirectoryA(dir, sizeof dir);
  std::string windows(dir, n < sizeof dir ? n : 0);
  n = GetSystemDirectoryA(dir, sizeof dir);
  std::string system(dir, n < sizeof dir ? n : 0);
  for (const auto &var : {std::make_pair(std::string("%WINDIR%"), windows),
                          std::make_pair(std::string("%SYSDIR%"), system)}) {
    size_t at;
    while ((at = text.find(var.first)) != std::string::npos) text.replace(at, var.first.size(), var.second);
  }
  return text;
}

bool ReadWholeFile(const std::string &path, std::string *out) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  out->clear();
  char buffer[65536];
  DWORD got = 0;
  bool ok = true;
  for (;;) {
    if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr)) { ok = false; break; }
    if (got == 0) break;
    out->append(buffer, got);
  }
  CloseHandle(file);
  return ok;
}

void AddFile(const std::string &path, bool directory, Snapshot *out) {
  winsim::FileState entry;
  entry.directory = directory;
  DWORD attributes = GetFileAttributesA(path.c_str());
  entry.attributes = attributes == INVALID_FILE_ATTRIBUTES ? 0 : attributes;
  if (!directory) {
    std::string content;
    if (ReadWholeFile(path, &content)) {
      entry.size = content.size();
      entry.hash = winsim::FormatHash(winsim::Fnv1a64(content.data(), content.size()));
    } else {
      entry.hash = "unreadable";
    }
  }
  out->files[path] = entry;
}

std::string Parent(const std::string &path) {
  size_t slash = path.find_last_of('\\');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

void AddMatches(const std::string &pattern, bool recursive, Snapshot *out) {
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(pattern.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return;
  std::string dir = Parent(pattern);
  std::vector<std::string> subdirs;
  do {
    std::string name = data.cFileName;
    if (name == "." || name == "..") continue;
    std::string path = dir + "\\" + name;
    bool directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (directory && !recursive) continue;
    AddFile(path, directory, out);
    if (directory) subdirs.push_back(path);
  } while (FindNextFileA(find, &data));
  FindClose(find);
  for (const std::string &sub : subdirs) AddMatches(sub + "\\*", true, out);
}

void AddTree(const std::string &dir, Snapshot *out) {
  DWORD attributes = GetFileAttributesA(dir.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  AddFile(dir, (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0, out);
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) AddMatches(dir + "\\*", true, out);
}

bool SplitRoot(const std::string &path, HKEY *root, std::string *prefix, std::string *rest) {
  size_t slash = path.find('\\');
  std::string head = path.substr(0, slash);
  *rest = slash == std::string::npos ? std::string() : path.substr(slash + 1);
  if (lstrcmpiA(head.c_str(), "HKLM") == 0 || lstrcmpiA(head.c_str(), "HKEY_LOCAL_MACHINE") == 0) {
    *root = HKEY_LOCAL_MACHINE;
    *prefix = "HKLM";
  } else if (lstrcmpiA(head.c_str(), "HKCU") == 0 || lstrcmpiA(head.c_str(), "HKEY_CURRENT_USER") == 0) {
    *root = HKEY_CURRENT_USER;
    *prefix = "HKCU";
  } else {
    return false;
  }
  return true;
}

void AddKeyTree(HKEY key, const std::string &name, Snapshot *out) {
  out->keys.push_back(name);
  DWORD subkeys = 0, values = 0, maxKey = 0, maxName = 0, maxData = 0;
  if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, &maxKey, nullptr, &values,
                       &maxName, &maxData, nullptr, nullptr) != ERROR_SUCCESS)
    return;
  for (DWORD i = 0; i < values; ++i) {
    std::vector<char> valueName(maxName + 2);
    std::vector<BYTE> data(maxData + 2);
    DWORD nameLength = DWORD(valueName.size()), dataLength = DWORD(data.size()), type = 0;
    if (RegEnumValueA(key, i, valueName.data(), &nameLength, nullptr, &type, data.data(),
                      &dataLength) != ERROR_SUCCESS)
      continue;
    winsim::RegValueState value;
    value.type = type;
    value.data.assign(data.begin(), data.begin() + dataLength);
    out->values[name + "\\\\" + std::string(valueName.data(), nameLength)] = value;
  }
  std::vector<std::string> names;
  for (DWORD i = 0; i < subkeys; ++i) {
    std::vector<char> subName(maxKey + 2);
    DWORD length = DWORD(subName.size());
    if (RegEnumKeyExA(key, i, subName.data(), &length, nullptr, nullptr, nullptr, nullptr) ==
        ERROR_SUCCESS)
      names.push_back(std::string(subName.data(), length));
  }
  for (const std::string &sub : names) {
    HKEY child;
    if (RegOpenKeyExA(key, sub.c_str(), 0, KEY_READ, &child) != ERROR_SUCCESS) continue;
    AddKeyTree(child, name + "\\" + sub, out);
    RegCloseKey(child);
  }
}

void AddKey(const std::string &path, Snapshot *out) {
  HKEY root, key;
  std::string prefix, rest;
  if (!SplitRoot(path, &root, &prefix, &rest)) {
    fprintf(stderr, "winedump: not a HKLM or HKCU key: %s\n", path.c_str());
    return;
  }
  if (RegOpenKeyExA(root, rest.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  AddKeyTree(key, prefix + "\\" + rest, out);
  RegCloseKey(key);
}

// A profile file of the Windows directory, under its upper-case name
// ("SYSTEM.INI"), each line with its terminator as in the file.
void AddProfile(const std::string &path, Snapshot *out) {
  std::string text;
  if (!ReadWholeFile(path, &text)) return;
  size_t slash = path.find_last_of("\\/");
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  CharUpperA(&name[0]);
  out->profiles[name] = winsim::SplitLines(text);
}

void AddPendingMoves(Snapshot *out) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, winsim::kSessionManager, 0,
                    KEY_READ, &key) != ERROR_SUCCESS)
    return;
  DWORD type = 0, size = 0;
  if (RegQueryValueExA(key, winsim::kPendingValue, nullptr, &type, nullptr, &size) ==
          ERROR_SUCCESS &&
      size > 0) {
    std::vector<uint8_t> data(size);
    if (RegQueryValueExA(key, winsim::kPendingValue, nullptr, &type, data.data(),
                         &size) == ERROR_SUCCESS) {
      data.resize(size);
      out->pendingMoves = winsim::PendingPairs(data);
    }
  }
  RegCloseKey(key);
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 3 || argc > 5) {
    fprintf(stderr, "usage: winedump OUTFILE SCOPEFILE [JOURNALFILE [EXITCODE]]\n");
    return 2;
  }
  std::string scope;
  if (!ReadWholeFile(argv[2], &scope)) {
    fprintf(stderr, "winedump: cannot read %s\n", argv[2]);
    return 2;
  }
  Snapshot snapshot;
  size_t start = 0;
  int lineNumber = 0;
  while (start <= scope.size()) {
    size_t end = scope.find('\n', start);
    if (end == std::string::npos) end = scope.size();
    std::string line = winsim::Trim(scope.substr(start, end - start), winsim::kSpaceTabLineEnds);
    start = end + 1;
    ++lineNumber;
    if (line.empty() || line[0] == '#') continue;
    size_t space = line.find(' ');
    std::string verb = line.substr(0, space);
    std::string arg = space == std::string::npos ? "" : Expand(winsim::Trim(line.substr(space + 1), winsim::kSpaceTabLineEnds));
    if (verb == "tree") AddTree(arg, &snapshot);
    else if (verb == "files") AddMatches(arg, false, &snapshot);
    else if (verb == "key") AddKey(arg, &snapshot);
    else if (verb == "profile") AddProfile(arg, &snapshot);
    else if (verb == "pending") AddPendingMoves(&snapshot);
    else {
      fprintf(stderr, "winedump: %s:%d: unknown item '%s'\n", argv[2], lineNumber, verb.c_str());
      return 2;
    }
  }
  if (argc >= 4) {
    std::string journal;
    if (ReadWholeFile(argv[3], &journal)) {
      size_t at = 0;
      while (at < journal.size()) {
        size_t end = journal.find('\n', at);
        if (end == std::string::npos) end = journal.size();
        std::string line = journal.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) snapshot.journal.push_back(line);
        at = end + 1;
      }
    }
  }
  if (argc == 5) snapshot.journal.push_back(std::string("exit ") + argv[4]);
  std::sort(snapshot.keys.begin(), snapshot.keys.end());
  snapshot.keys.erase(std::unique(snapshot.keys.begin(), snapshot.keys.end()), snapshot.keys.end());

  std::string text = winsim::FormatDump(snapshot);
  HANDLE file = CreateFileA(argv[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  if (file == INVALID_HANDLE_VALUE ||
      !WriteFile(file, text.data(), DWORD(text.size()), &written, nullptr) ||
      written != text.size()) {
    fprintf(stderr, "winedump: cannot write %s\n", argv[1]);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return 2;
  }
  CloseHandle(file);
  return 0;
}
