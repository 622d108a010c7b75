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
#include "restart.h"

#include "attributes.h"
#include "file_entries.h"
#include "journal.h"
#include "machine.h"
#include "paths.h"
#include "profiles.h"
#include "regstore.h"
#include "restart_queue.h"
#include "snapshot.h"  // SplitLines
#include "textfile.h"

namespace winsim {

namespace {


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
  bool hadEntries = false;
  for (const WininitLine &line : WininitRenames(SplitLines(text))) {
    hadEntries = hadEntries || line.firstSection;
    std::string what = RestartStepText(line.source, line.target);
    if (!line.ignored.empty())
      RestartSkip("WININIT.INI", what, line.ignored);
    else if (line.target.empty())
      RestartSkip("WININIT.INI", what, RestartDelete(line.source));
    else
      // A read-only target stays: WININIT.EXE runs under DOS, whose delete
      // refuses a read-only file, and Wine's replacing move refuses one too.
      RestartSkip("WININIT.INI", what, RestartMove(line.source, line.target, true, true));
  }
  if (!hadEntries) return;
  ResolvedPath backup;
  if (ResolvePath((Config().windowsDir + "\\WININIT.BAK").c_str(), &backup) != 0) return;
  if (backup.exists && backup.isDirectory) return;
  internal::MoveEntry(file, backup);
}

void ProcessPendingRenames() {
  reg::Key *key = reg::Find(reg::Root(HKEY_LOCAL_MACHINE), kSessionManager);
  reg::Value *value = key ? reg::FindValue(key, kPendingValue) : nullptr;
  if (!value) return;
  const std::vector<BYTE> &data = value->data;
  // A list that does not end with its empty string is not trusted: nothing
  // is done and the value stays (wineboot does the same).
  if (data.size() < 2 || data[data.size() - 1] != 0 || data[data.size() - 2] != 0) return;
  for (const auto &pair : PendingPairs(std::vector<uint8_t>(data.begin(), data.end()))) {
    std::string source = StripNtPrefix(pair.first);
    const std::string &target = pair.second;
    if (target.empty()) {
      // A directory only when it is empty.
      RestartSkip("pending", RestartStepText(source, ""), RestartDelete(source));
      continue;
    }
    bool replace = target[0] == '!';
    std::string to = StripNtPrefix(replace ? target.substr(1) : target);
    RestartSkip("pending", RestartStepText(source, to), RestartMove(source, to, replace, true));
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
