// What a process of the simulated machine owns and loses when it ends: its
// handles, searches, registry keys, device information sets and loaded
// libraries.  Windows starts every process with none of them; winsim does
// the same at every Attach and Detach, through ResetProcessState, so that a
// run never sees what an earlier run in the same host process left open.
#ifndef WINSIM_PROCESS_STATE_H
#define WINSIM_PROCESS_STATE_H

namespace winsim {

// Resets every area's per-process state below, the loaded modules and the
// error mode (ResetModules), and the last error.
void ResetProcessState();

// Each area's share.
void ResetFindHandles();    // files.cpp: FindFirstFileA searches
void ResetKernelHandles();  // processes.cpp: process and snapshot handles
void ResetKeyHandles();     // registry.cpp: registry key handles
void ResetDeviceSets();     // setupapi.cpp: device information sets

}  // namespace winsim

#endif  // WINSIM_PROCESS_STATE_H
