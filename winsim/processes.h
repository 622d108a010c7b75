// The process-status functions of the simulated machine's PSAPI.DLL.
//
// Windows declares them in psapi.h, which the product never includes: it
// looks them up with GetProcAddress.  Tests of the simulation call them
// directly through these declarations.
#ifndef WINSIM_PROCESSES_H
#define WINSIM_PROCESSES_H

#include <windows.h>

#include <cstddef>

extern "C" {
BOOL WINAPI EnumProcesses(DWORD *processIds, DWORD cb, DWORD *bytesReturned);
BOOL WINAPI EnumProcessModules(HANDLE process, HMODULE *modules, DWORD cb, DWORD *bytesNeeded);
DWORD WINAPI GetModuleFileNameExA(HANDLE process, HMODULE module, LPSTR fileName, DWORD size);
}

namespace winsim {
// Process, snapshot and FindFirstFileA search handles still open (a test
// checks that every handle the product opened was closed: a search left
// without FindClose is a leak on Windows as much as an unclosed process).
size_t OpenHandleCount();
}  // namespace winsim

#endif  // WINSIM_PROCESSES_H
