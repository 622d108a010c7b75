// The change report between two machine states, for a packager to read at a
// glance; printed by the machine tools (varsetup, winsim restart).
#ifndef TOOLS_COMMON_CHANGES_H
#define TOOLS_COMMON_CHANGES_H

#include <string>
#include <vector>

#include "snapshot.h"

namespace winsim {

// What changed from `before` to `after`: files created, replaced, removed
// (with sizes), staged files and the moves the restart will make, registry
// values written and removed (key, name, type, data), profile lines changed,
// devices, message boxes, the exit code.
//
// Names and texts are bytes of the machine's ANSI code page; the report
// shows them decoded, as UTF-8.  `notDone` lists what the run (or the
// restart) asked for and did not get, each with its reason.
struct NotDone {
  std::string step, reason;
};
struct ReportContext {
  unsigned codePage = 1252;
  std::vector<NotDone> notDone;
};
std::string FormatChangesText(const MachineSnapshot &before, const MachineSnapshot &after,
                              const ReportContext &context = ReportContext());
std::string FormatChangesJson(const MachineSnapshot &before, const MachineSnapshot &after,
                              const ReportContext &context = ReportContext());

// The JSON report's format: its name and version, raised whenever a field
// changes meaning or disappears.
extern const char kChangesFormatName[];
const int kChangesFormatVersion = 2;

// `text` in ANSI code page `codePage` (1252, 932, 936, 949, 950, 65001) as
// UTF-8.  A byte that starts no character of the page becomes U+FFFD, except
// in 1252, whose five unassigned bytes Windows maps to the C1 controls of the
// same number.
std::string AnsiToUtf8(const std::string &text, unsigned codePage);

}  // namespace winsim

#endif  // TOOLS_COMMON_CHANGES_H
