// The machine's next start (restart.cpp).
#ifndef WINSIM_RESTART_H
#define WINSIM_RESTART_H

#include <string>
#include <vector>

namespace winsim {

// Does what Windows does at its next start on the attached machine: the 9x
// family carries out WININIT.INI [rename] (then renames it WININIT.BAK), the
// NT family the PendingFileRenameOperations pairs (then deletes the value).
// Appends "restart" to the journal.  False only when no machine is attached.
// `skipped`, when given, receives each move or deletion that did nothing.
struct RestartSkipped {
  std::string via;     // "WININIT.INI" or "pending"
  std::string what;    // "TARGET <- SOURCE" or "delete SOURCE"
  std::string reason;  // "source missing", "target read-only", ...
};
bool RestartMachine(std::string *error, std::vector<RestartSkipped> *skipped = nullptr);

}  // namespace winsim

#endif  // WINSIM_RESTART_H
