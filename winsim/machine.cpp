// The attached machine: machine.ini, path resolution, attributes, faults,
// the journal.
#include "attributes.h"
#include "faults.h"
#include "journal.h"
#include "libraries.h"
#include "machine.h"
#include "paths.h"
#include "profiles.h"
#include "regstore.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "machine_text.h"
#include "process_state.h"
#include "textfile.h"

namespace winsim {

namespace {

struct State {
  bool attached = false;
  std::string dir;
  MachineConfig config;
  std::map<std::string, DWORD> attributes;  // PathKey -> attributes
  std::vector<FaultRule> faults;
  unsigned long calls = 0;
  bool logCalls = false;
  std::vector<std::string> callLog;
  std::vector<std::string> loaded;
};

State &S() {
  static State state;
  return state;
}

bool ContainsNoCase(const std::string &hay, const std::string &needle) {
  return UpperText(hay).find(UpperText(needle)) != std::string::npos;
}

std::string AttributesFile() { return S().dir + "/attributes.txt"; }

bool LoadAttributes(std::string *error) {
  S().attributes.clear();
  std::string text;
  if (!ReadTextFile(AttributesFile(), &text)) return true;  // none yet
  std::istringstream in(text);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == ';') continue;
    size_t space = line.find(' ');
    char *end = nullptr;
    unsigned long value = space == std::string::npos ? 0 : strtoul(line.c_str(), &end, 16);
    if (space == std::string::npos || end != line.c_str() + space || line.compare(0, 2, "0x") ||
        space + 1 >= line.size()) {
      *error = AttributesFile() + ":" + std::to_string(number) +
               ": expected \"0xHEX C:\\PATH\"";
      return false;
    }
    S().attributes[PathKey(line.substr(space + 1))] = DWORD(value);
  }
  return true;
}

void SaveAttributes() {
  std::string text = "; file attributes kept by the simulated machine\r\n";
  char hex[16];
  for (const auto &entry : S().attributes) {
    snprintf(hex, sizeof hex, "0x%02x ", unsigned(entry.second));
    text += hex + entry.first + "\r\n";
  }
  WriteFileAtomically(AttributesFile(), text);
}

bool ValidPathChar(unsigned char c) {
  return c >= 32 && !strchr("<>\"|?*", c);
}

// Finds `name` in host directory `dir` case-insensitively; returns the stored
// name or "" when absent.
std::string FindEntry(const std::string &dir, const std::string &name) {
  std::string direct = dir + "/" + name;
  struct stat st;
  if (lstat(direct.c_str(), &st) == 0) return name;
  DIR *d = opendir(dir.c_str());
  if (!d) return "";
  std::string want = UpperText(name), found;
  while (struct dirent *e = readdir(d)) {
    if (!strcmp(e->d_name, ".") || !strcmp(e->d_name, "..")) continue;
    if (UpperText(e->d_name) == want) {
      found = e->d_name;
      break;
    }
  }
  closedir(d);
  return found;
}

}  // namespace

bool Attached() { return S().attached; }
const std::string &MachineDir() { return S().dir; }
MachineConfig &Config() { return S().config; }

bool Attach(const std::string &dir, std::string *error) {
  Detach();
  std::string text;
  struct stat st;
  if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    *error = dir + ": not a machine directory";
    return false;
  }
  if (!ReadTextFile(dir + "/machine.ini", &text)) {
    *error = dir + "/machine.ini: missing or unreadable";
    return false;
  }
  MachineConfig config;
  if (!ParseMachineIni(text, dir + "/machine.ini", &config, error)) return false;
  S().dir = dir;
  S().config = config;
  if (!LoadAttributes(error) || !reg::Load(dir, error)) {
    S().dir.clear();
    reg::Unload();
    return false;
  }
  S().attached = true;
  return true;
}

// Detaching ends the process that ran on the machine: what it had open goes
// with it, and the next Attach starts a new one.
void Detach() {
  if (S().attached) reg::Unload();
  ResetProcessState();
  ResetProfileCache();
  S().attached = false;
  S().dir.clear();
  S().config = MachineConfig();
  S().attributes.clear();
  S().faults.clear();
}

void ResetProcessState() {
  ResetFindHandles();
  ResetKernelHandles();
  ResetKeyHandles();
  ResetDeviceSets();
  ResetModules();
  S().loaded.clear();
  S().calls = 0;
  S().callLog.clear();
  SetLastError(ERROR_SUCCESS);
}

bool SaveConfig(std::string *error) {
  if (!WriteFileAtomically(S().dir + "/machine.ini", FormatMachineIni(S().config))) {
    *error = S().dir + "/machine.ini: cannot write";
    return false;
  }
  return true;
}

std::string PathKey(const std::string &windowsPath) { return UpperText(windowsPath); }

std::string DriveHostDir(char letter) {
  char lower = char(tolower((unsigned char)letter));
  return S().dir + "/drives/" + std::string(1, lower);
}

DWORD ResolvePath(const char *path, ResolvedPath *out) {
  *out = ResolvedPath();
  if (!path || !*path) return ERROR_PATH_NOT_FOUND;
  // Checked and split by characters: the second byte of a double-byte
  // character may be 0x5C or 0x7C and is neither a separator nor "|".
  std::string p;
  for (const std::string &ch : SplitChars(path)) {
    if (ch.size() == 1) {
      char c = ch[0] == '/' ? '\\' : ch[0];
      if (p.size() == 1 && c == ':') {
        p += c;
        continue;
      }
      if (!ValidPathChar((unsigned char)c) || c == ':') return ERROR_INVALID_NAME;
      p += c;
    } else {
      p += ch;
    }
  }
  std::string full;
  const MachineConfig &config = S().config;
  if (p.size() >= 2 && p[1] == ':') {
    if (!isalpha((unsigned char)p[0])) return ERROR_INVALID_NAME;
    std::string rest = p.substr(2);
    if (rest.empty() || rest[0] != '\\') {
      // Drive-relative: relative to the current directory when it is on that
      // drive, else to the root.
      std::string base = std::string(1, char(toupper((unsigned char)p[0]))) + ":\\";
      if (!config.currentDir.empty() && toupper((unsigned char)config.currentDir[0]) == base[0])
        base = config.currentDir + "\\";
      full = base + rest;
    } else {
      full = p;
    }
  } else if (p.size() >= 2 && p[0] == '\\' && p[1] == '\\') {
    return ERROR_BAD_PATHNAME;  // UNC paths: no network on the machine
  } else if (!p.empty() && p[0] == '\\') {
    full = config.currentDir.substr(0, 2) + p;
  } else {
    full = config.currentDir + "\\" + p;
  }
  char drive = char(toupper((unsigned char)full[0]));
  std::vector<std::string> parts;
  for (std::string part : SplitAtChar(full.substr(2), '\\')) {
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    // Windows drops trailing dots and blanks of a name.
    while (!part.empty() && (part.back() == '.' || part.back() == ' ')) part.pop_back();
    if (part.empty()) continue;
    parts.push_back(part);
  }
  out->drive = drive;
  auto kind = config.drives.find(drive);
  if (kind == config.drives.end() || kind->second == DriveKind::None) return ERROR_PATH_NOT_FOUND;
  std::string host = DriveHostDir(drive);
  struct stat st;
  if (stat(host.c_str(), &st) != 0) {
    if (kind->second == DriveKind::Cdrom || kind->second == DriveKind::Removable)
      return ERROR_NOT_READY;
    return ERROR_PATH_NOT_FOUND;
  }
  std::string windows = std::string(1, drive) + ":";
  out->isRoot = parts.empty();
  bool existing = true;
  for (size_t i = 0; i < parts.size(); ++i) {
    bool last = i + 1 == parts.size();
    std::string stored = existing ? FindEntry(host, parts[i]) : "";
    if (stored.empty()) {
      if (!last) {
        out->windows = windows;
        return ERROR_PATH_NOT_FOUND;
      }
      existing = false;
      stored = parts[i];
    } else if (!last) {
      std::string next = host + "/" + stored;
      if (stat(next.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return ERROR_PATH_NOT_FOUND;
    }
    host += "/" + stored;
    windows += "\\" + stored;
  }
  if (parts.empty()) windows += "\\";
  out->host = host;
  out->windows = windows;
  out->parentExists = true;
  if (stat(host.c_str(), &st) == 0) {
    out->exists = true;
    out->isDirectory = S_ISDIR(st.st_mode);
  }
  return 0;
}

DWORD StoredAttributes(const ResolvedPath &path) {
  auto it = S().attributes.find(PathKey(path.windows));
  DWORD a = it != S().attributes.end() ? it->second
                                       : (path.isDirectory ? 0 : FILE_ATTRIBUTE_ARCHIVE);
  // Every file on a CD-ROM reports FILE_ATTRIBUTE_READONLY (the medium
  // cannot be written; a copy from it takes the attribute along, as
  // CopyFile gives the new file the source's attributes: Microsoft's
  // CopyFile page).
  if (!path.isDirectory && !path.windows.empty()) {
    auto drive = S().config.drives.find(char(toupper((unsigned char)path.windows[0])));
    if (drive != S().config.drives.end() && drive->second == DriveKind::Cdrom)
      a |= FILE_ATTRIBUTE_READONLY;
  }
  return a;
}

void StoreAttributes(const ResolvedPath &path, DWORD attributes) {
  DWORD current = StoredAttributes(path);
  bool defaulted = !path.isDirectory && attributes == FILE_ATTRIBUTE_ARCHIVE;
  bool defaultedDir = path.isDirectory && attributes == 0;
  std::string key = PathKey(path.windows);
  if (defaulted || defaultedDir) {
    if (S().attributes.erase(key)) SaveAttributes();
    return;
  }
  if (current == attributes && S().attributes.count(key)) return;
  S().attributes[key] = attributes;
  SaveAttributes();
}

void ForgetAttributes(const ResolvedPath &path) {
  if (S().attributes.erase(PathKey(path.windows))) SaveAttributes();
}

bool IsInUse(const ResolvedPath &path) {
  std::string key = PathKey(path.windows);
  for (const std::string &p : S().config.inUse)
    if (PathKey(p) == key) return true;
  return false;
}

void AddFault(const FaultRule &rule) { S().faults.push_back(rule); }
void ClearFaults() { S().faults.clear(); }
unsigned long CallCount() { return S().calls; }
void EnableCallLog(bool on) {
  S().logCalls = on;
  S().callLog.clear();
}
const std::vector<std::string> &CallLog() { return S().callLog; }

DWORD Fault(const char *call, const char *path1, const char *path2, const std::string &detail) {
  State &s = S();
  ++s.calls;
  if (s.logCalls) {
    std::string line = call;
    if (path1) line += std::string(" ") + path1;
    if (path2) line += std::string(" ") + path2;
    if (!detail.empty()) line += " " + detail;
    s.callLog.push_back(line);
  }
  for (FaultRule &rule : s.faults) {
    if (rule.call != "*" && rule.call != call) continue;
    if (!rule.pathContains.empty()) {
      bool match = (path1 && ContainsNoCase(path1, rule.pathContains)) ||
                    (path2 && ContainsNoCase(path2, rule.pathContains));
      if (!match) continue;
    }
    ++rule.seen;
    if (rule.nth != 0 && rule.seen != rule.nth) continue;
    if (rule.endProcessStatus >= 0) _exit(rule.endProcessStatus);
    return rule.error;
  }
  return 0;
}

// QuoteText is shared with the dump code (winsim/dump_format.cpp).

void JournalAppend(const std::string &line) {
  std::ofstream out(S().dir + "/journal.txt", std::ios::app | std::ios::binary);
  out << line << "\n";
  out.flush();
}

std::vector<std::string> ReadJournal() {
  std::vector<std::string> lines;
  std::string text;
  if (!ReadTextFile(S().dir + "/journal.txt", &text)) return lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

namespace internal {
std::vector<std::string> &Loaded() { return S().loaded; }
}  // namespace internal

const std::vector<std::string> &LoadedLibraries() { return S().loaded; }

}  // namespace winsim
