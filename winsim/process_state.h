// What a process of the simulated machine owns and loses when it ends: its
// handles, searches, registry keys, device information sets and loaded
// libraries.  Windows starts every process with none of them; winsim does
// the same at every Attach and Detach, through ResetProcessState, so that a
// run never sees what an earlier run in the same host process left open.
#ifndef WINSIM_PROCESS_STATE_H
#define WINSIM_PROCESS_STATE_H

#include <windows.h>

#include <cstdint>
#include <map>
#include <utility>

namespace winsim {

// The process's open handles of one kind, by handle value.  Values are
// handed out from `first` on in steps of 4, as kernel handles are (never 0,
// never -1); a new process starts from `first` again.
template <typename Object>
struct HandleTable {
  explicit HandleTable(uintptr_t start) : first(start), next(start) {}
  HANDLE Add(Object object) {
    uintptr_t handle = next;
    next += 4;
    open[handle] = std::move(object);
    return reinterpret_cast<HANDLE>(handle);
  }
  void Reset() {
    open.clear();
    next = first;
  }
  std::map<uintptr_t, Object> open;
  uintptr_t first, next;
};

// Resets every area's per-process state below, the loaded modules and the
// error mode (ResetModules), and the last error.
void ResetProcessState();

// Each area's share.
void ResetFindHandles();    // file_search.cpp: FindFirstFileA searches
void ResetKernelHandles();  // processes.cpp: process and snapshot handles
void ResetKeyHandles();     // registry.cpp: registry key handles
void ResetDeviceSets();     // setupapi.cpp: device information sets

}  // namespace winsim

#endif  // WINSIM_PROCESS_STATE_H
