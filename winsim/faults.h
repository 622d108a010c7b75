// Every API call's entry: the call count, the call log and the fault rules
// that make a call fail or end the process.
#ifndef WINSIM_FAULTS_H
#define WINSIM_FAULTS_H

#include <windows.h>

#include <string>
#include <vector>

namespace winsim {

// A rule that makes a call fail.  `call` is the API name ("CopyFileA"), or
// "*" for any call.  `nth` counts the calls this rule matches (1 = the first
// matching call); 0 fires on every matching call.  `pathContains` (case-
// insensitive) restricts the rule to calls whose path arguments contain it.
struct FaultRule {
  std::string call;
  DWORD error = ERROR_ACCESS_DENIED;
  unsigned long nth = 0;
  std::string pathContains;
  unsigned long seen = 0;  // matching calls so far
  // Not negative: the call does not fail; the process ends on entering it,
  // with this exit status, before the call does anything, as when its task
  // is ended or the power fails.  The call before it was the last to run;
  // no code of the program runs after it, and what the machine holds is
  // what the calls made so far wrote (every change is on disk at once).
  int endProcessStatus = -1;
};
void AddFault(const FaultRule& rule);
void ClearFaults();
// Every API call enters through here: it is counted, recorded in the call log
// when that is on, and checked against the fault rules.  Returns 0, or the
// error the call must fail with (the caller sets it as Windows would).
// `detail` (flags and the like) is logged after the paths but never matched
// by a rule's path.
DWORD Fault(const char* call, const char* path1 = nullptr, const char* path2 = nullptr,
            const std::string& detail = std::string());
unsigned long CallCount();
// Call log: "CopyFileA C:\A C:\B" per call (then the detail, if any), while
// enabled.
void EnableCallLog(bool on);
const std::vector<std::string>& CallLog();

}  // namespace winsim

#endif  // WINSIM_FAULTS_H
