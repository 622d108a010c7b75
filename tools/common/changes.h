// The change report between two machine states, for a packager to read at a
// glance; printed by the machine tools (varsetup, winsim restart).
#ifndef TOOLS_COMMON_CHANGES_H
#define TOOLS_COMMON_CHANGES_H

#include <string>

#include "snapshot.h"

namespace winsim {

// What changed from `before` to `after`: files created, replaced, removed
// (with sizes), staged files and the moves the restart will make, registry
// values written and removed (key, name, type, data), profile lines changed,
// devices, message boxes, the exit code.
std::string FormatChangesText(const MachineSnapshot &before, const MachineSnapshot &after);
std::string FormatChangesJson(const MachineSnapshot &before, const MachineSnapshot &after);

}  // namespace winsim

#endif  // TOOLS_COMMON_CHANGES_H
