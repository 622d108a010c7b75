// The machine's next start: the replacements queued for it are carried out.
//
// 9x family: WININIT.EXE reads [rename] of WININIT.INI in the Windows
// directory line by line, in file order (KB Q140570, Q129532):
// "Destination=Source" moves Source over Destination, "NUL=Source" deletes
// Source.  It runs in real mode, so both names must be 8.3 short names;
// other lines are skipped.  Afterwards the file becomes WININIT.BAK (only
// when the section had entries, as Wine's wineboot does).
//
// NT family: the Session Manager walks PendingFileRenameOperations in the
// order of registration: "\??\source", then "!\??\target" (replace),
// "\??\target" (fails silently when the target exists) or "" (delete).
// The value is deleted afterwards, whatever failed.
// A replacing move never supersedes a read-only target: it is a rename with
// "replace if exists", which the file system refuses for a read-only file
// unless the caller asks for FILE_RENAME_IGNORE_READONLY_ATTRIBUTE (Microsoft's
// FILE_RENAME_INFORMATION pages, ntifs.h and [MS-FSCC] FileRenameInformation;
// MoveFileEx gives ERROR_ACCESS_DENIED for it).  The move fails silently at
// the start, like every other failed pending move, and the list is deleted.
// WININIT.EXE's handling of a read-only target is not documented: the 9x
// lines replace it as before.
#include <sstream>

#include "codepage.h"
#include "machine.h"
#include "textfile.h"

namespace winsim {

namespace internal {
DWORD MoveEntry(const ResolvedPath &src, const ResolvedPath &dst);
DWORD RemoveEntry(const ResolvedPath &r);
}  // namespace internal

namespace {

const char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const char kPendingValue[] = "PendingFileRenameOperations";

std::string RestartTrim(const std::string &s) {
  size_t b = s.find_first_not_of(" \t"), e = s.find_last_not_of(" \t");
  return b == std::string::npos ? "" : s.substr(b, e - b + 1);
}

std::string RestartUpper(std::string s) {
  for (char &c : s) c = char(toupper((unsigned char)c));
  return s;
}

// A DOS name: up to 8 characters, optionally a dot and up to 3 more, none
// of the characters FAT short names exclude.
bool IsShortComponent(const std::string &part) {
  size_t dot = part.find('.');
  std::string base = part.substr(0, dot);
  std::string ext = dot == std::string::npos ? "" : part.substr(dot + 1);
  if (base.empty() || base.size() > 8 || ext.size() > 3) return false;
  if (dot != std::string::npos && (ext.empty() || ext.find('.') != std::string::npos)) return false;
  for (unsigned char c : part)
    if (c <= ' ' || std::string("+,;=[]\"*?<>|").find(char(c)) != std::string::npos) return false;
  return true;
}

bool IsShortPath(const std::string &path) {
  if (path.size() < 3 || path[1] != ':' || path[2] != '\\') return false;
  std::istringstream in(path.substr(3));
  std::string part;
  while (std::getline(in, part, '\\'))
    if (!IsShortComponent(part)) return false;
  return true;
}

// What the restart left undone: one line per move or deletion that did
// nothing, with the reason ("" when it was carried out).
std::vector<RestartSkipped> *restartSkipped = nullptr;

void RestartSkip(const char *via, const std::string &what, const std::string &reason) {
  if (restartSkipped && !reason.empty())
    restartSkipped->push_back({via, what, reason});
}

// Moves `source` over `target`; with `replace` false an existing target
// stops the move.  Nothing is open yet and the start runs with full rights,
// so sharing does not matter; a read-only target does where the caller says
// so (`readOnlyStops`).  Returns why nothing was moved, "" when it was.
std::string RestartMove(const std::string &source, const std::string &target, bool replace,
                        bool readOnlyStops) {
  ResolvedPath src, dst;
  if (ResolvePath(source.c_str(), &src) != 0 || !src.exists) return "source missing";
  if (ResolvePath(target.c_str(), &dst) != 0) return "target folder missing";
  bool sameEntry = PathKey(src.windows) == PathKey(dst.windows);
  if (dst.exists && !sameEntry && (dst.isDirectory || src.isDirectory))
    return dst.isDirectory ? "a folder stands at the target" : "source is a folder";
  if (dst.exists && !sameEntry && !replace) return "target exists (the move does not replace)";
  if (dst.exists && !sameEntry && readOnlyStops && (StoredAttributes(dst) & FILE_ATTRIBUTE_READONLY))
    return "target read-only";
  return internal::MoveEntry(src, dst) ? "refused by the file system" : "";
}

std::string RestartDelete(const std::string &path) {
  ResolvedPath r;
  if (ResolvePath(path.c_str(), &r) != 0 || !r.exists) return "file missing";
  return internal::RemoveEntry(r) ? "refused by the file system" : "";
}

void ProcessWininit() {
  std::string ini = Config().windowsDir + "\\WININIT.INI";
  ResolvedPath file;
  std::string text;
  if (ResolvePath(ini.c_str(), &file) != 0 || !file.exists || file.isDirectory ||
      !ReadTextFile(file.host, &text))
    return;
  std::istringstream in(text);
  std::string line;
  bool inRename = false, seenRename = false, hadEntries = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    line = RestartTrim(line);
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      size_t close = FindFirstChar(line, "]");
      std::string name = RestartTrim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1));
      // Only the first [rename] section counts, as for the profile functions.
      inRename = !seenRename && RestartUpper(name) == "RENAME";
      seenRename = seenRename || inRename;
      continue;
    }
    size_t eq = line.find('=');
    if (!inRename || eq == std::string::npos) continue;
    hadEntries = true;
    std::string target = RestartTrim(line.substr(0, eq));
    std::string source = RestartTrim(line.substr(eq + 1));
    bool erase = RestartUpper(target) == "NUL";
    std::string what = erase ? "delete " + source : target + " <- " + source;
    if (!IsShortPath(source) || (!erase && !IsShortPath(target)))
      RestartSkip("WININIT.INI", what, "not an 8.3 name (WININIT runs under DOS)");
    else if (erase)
      RestartSkip("WININIT.INI", what, RestartDelete(source));
    else
      // A read-only target stays: WININIT.EXE runs under DOS, whose delete
      // refuses a read-only file, and Wine's replacing move refuses one too.
      RestartSkip("WININIT.INI", what, RestartMove(source, target, true, true));
  }
  if (!hadEntries) return;
  ResolvedPath backup;
  if (ResolvePath((Config().windowsDir + "\\WININIT.BAK").c_str(), &backup) != 0) return;
  if (backup.exists && backup.isDirectory) return;
  internal::MoveEntry(file, backup);
}

std::string StripNtPrefix(const std::string &name) {
  return name.compare(0, 4, "\\??\\") == 0 ? name.substr(4) : name;
}

void ProcessPendingRenames() {
  reg::Key *key = reg::Find(reg::Root(HKEY_LOCAL_MACHINE), kSessionManager);
  reg::Value *value = key ? reg::FindValue(key, kPendingValue) : nullptr;
  if (!value) return;
  const std::vector<BYTE> &data = value->data;
  // A list that does not end with its empty string is not trusted: nothing
  // is done and the value stays (wineboot does the same).
  if (data.size() < 2 || data[data.size() - 1] != 0 || data[data.size() - 2] != 0) return;
  std::vector<std::string> names;
  std::string current;
  for (size_t i = 0; i + 1 < data.size(); ++i) {
    if (data[i]) {
      current += char(data[i]);
    } else {
      names.push_back(current);
      current.clear();
    }
  }
  for (size_t i = 0; i + 1 < names.size(); i += 2) {
    std::string source = StripNtPrefix(names[i]);
    std::string target = names[i + 1];
    if (target.empty()) {
      // A directory only when it is empty.
      RestartSkip("pending", "delete " + source, RestartDelete(source));
      continue;
    }
    bool replace = target[0] == '!';
    std::string to = StripNtPrefix(replace ? target.substr(1) : target);
    RestartSkip("pending", to + " <- " + source, RestartMove(source, to, replace, true));
  }
  reg::DeleteValue(key, kPendingValue);
  reg::Save(key);
}

}  // namespace

bool RestartMachine(std::string *error, std::vector<RestartSkipped> *skipped) {
  if (!Attached()) {
    if (error) *error = "no machine attached";
    return false;
  }
  restartSkipped = skipped;
  ResetProfileCache();  // the system starts with nothing cached
  if (Config().Is9x())
    ProcessWininit();
  else
    ProcessPendingRenames();
  restartSkipped = nullptr;
  JournalAppend("restart");
  return true;
}

}  // namespace winsim
