// The canonical dump of a simulated machine.
#ifndef WINSIM_REPORT_H
#define WINSIM_REPORT_H

#include <string>

#include "snapshot.h"  // MachineSnapshot, FormatDump, ParseDump, DiffDumps

namespace winsim {

// Reads the machine in `dir` (attaching it for the time of the call when no
// machine is attached; the attached one otherwise).
bool TakeSnapshot(const std::string &dir, MachineSnapshot *out, std::string *error);

}  // namespace winsim

#endif  // WINSIM_REPORT_H
