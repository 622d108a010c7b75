// What a run did not do, and why: read from the calls it made and what
// each got back (RecordedCalls), for the "Not done" section of the report.
#ifndef TOOLS_VARSETUP_NOT_DONE_H
#define TOOLS_VARSETUP_NOT_DONE_H

#include <map>
#include <string>
#include <vector>

#include "call_results.h"
#include "changes.h"

namespace varsetup {

// What the run's calls are read against.
struct RunFacts {
  std::string sourceDir;                      // the program's folder, "C:\VARSETUP\"
  const winsim::MachineSnapshot *after = nullptr;
  std::vector<std::string> inUse;             // machine.ini [in-use]
  std::map<std::string, std::string> images;  // process id -> image, machine.ini [processes]
  bool stoppedByGuard = false;                // the application-running box was shown
  int exitCode = 0;
};

std::vector<winsim::NotDone> DeriveNotDone(const std::vector<CallResult> &calls, const RunFacts &facts);

}  // namespace varsetup

#endif  // TOOLS_VARSETUP_NOT_DONE_H
