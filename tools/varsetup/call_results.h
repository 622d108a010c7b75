// The calls of one run whose outcome decides what the run did not do, with
// what each got back.  winsim's call log says what the product asked; this
// log adds the answer.  It is filled by thin wrappers around the API
// functions (the linker's --wrap, see CMakeLists.txt), so neither the
// product nor winsim changes for it.
#ifndef TOOLS_VARSETUP_CALL_RESULTS_H
#define TOOLS_VARSETUP_CALL_RESULTS_H

#include <windows.h>

#include <string>
#include <vector>

namespace varsetup {

struct CallResult {
  std::string call;        // "CopyFileA"
  std::string arg1, arg2;  // paths, key paths ("HKLM\..."), value names, process ids
  bool ok = false;
  DWORD error = 0;         // the last error (registry calls: their status) on failure
  bool directory = false;  // FindFirstFileA: what it found is a folder
};

// Starts (or stops) recording; starting clears the log.
void RecordCalls(bool on);
const std::vector<CallResult> &RecordedCalls();

}  // namespace varsetup

#endif  // TOOLS_VARSETUP_CALL_RESULTS_H
