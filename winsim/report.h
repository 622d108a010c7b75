// The canonical dump of a machine and the change report between two states.
#ifndef WINSIM_REPORT_H
#define WINSIM_REPORT_H

#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace winsim {

struct FileState {
  unsigned long long size = 0;
  std::string hash;        // FNV-1a 64 of the content, 16 hex digits
  DWORD attributes = 0;    // as GetFileAttributesA reports them
  bool directory = false;
};

struct RegValueState {
  DWORD type = 0;
  std::vector<BYTE> data;
};

// Everything a test or a packager compares, keyed canonically (Windows paths
// as stored; registry "HKLM\Key\Path" and "HKLM\Key\Path\\<value name>").
struct MachineSnapshot {
  std::map<std::string, FileState> files;              // "C:\WINDOWS\SYSTEM.INI"
  std::vector<std::string> keys;                       // every registry key, sorted
  std::map<std::string, RegValueState> values;         // key + "\\\\" + value name ("" default)
  std::map<std::string, std::vector<std::string>> profiles;  // SYSTEM.INI, WININIT.INI: lines
  std::vector<std::pair<std::string, std::string>> pendingMoves;  // (source, target as stored)
  std::vector<std::string> journal;                    // message boxes, exit codes
};

// Reads the machine in `dir` (attaching it for the time of the call when no
// machine is attached; the attached one otherwise).
bool TakeSnapshot(const std::string &dir, MachineSnapshot *out, std::string *error);
// The canonical dump text, and its reader (so that dumps can be diffed).
std::string FormatDump(const MachineSnapshot &snapshot);
bool ParseDump(const std::string &text, const std::string &file, MachineSnapshot *out,
               std::string *error);
// What changed from `before` to `after`: files created, replaced, removed
// (with sizes), staged files and the moves the restart will make, registry
// values written and removed (key, name, type, data), profile lines changed,
// devices, message boxes, the exit code.
std::string FormatChangesText(const MachineSnapshot &before, const MachineSnapshot &after);
std::string FormatChangesJson(const MachineSnapshot &before, const MachineSnapshot &after);
// A unified-diff-like listing of two dumps ("" when equal).
std::string DiffDumps(const MachineSnapshot &a, const MachineSnapshot &b);

}  // namespace winsim

#endif  // WINSIM_REPORT_H
