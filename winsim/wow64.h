// The WOW64 functions of the simulated machine's kernel32: Windows declares
// them in its own headers only for the systems that have them, and the
// product, which must also load on systems without them, looks them up with
// GetProcAddress.  Tests of the simulation call them through these
// declarations.
#ifndef WINSIM_WOW64_H
#define WINSIM_WOW64_H

#include <windows.h>

#define PROCESS_QUERY_LIMITED_INFORMATION 0x1000
#define PROCESS_NAME_NATIVE 0x00000001
#define KEY_WOW64_64KEY 0x0100
#define KEY_WOW64_32KEY 0x0200

extern "C" {
BOOL WINAPI IsWow64Process(HANDLE process, PBOOL wow64);
UINT WINAPI GetSystemWow64DirectoryA(LPSTR buffer, UINT size);
BOOL WINAPI Wow64DisableWow64FsRedirection(PVOID *oldValue);
BOOL WINAPI Wow64RevertWow64FsRedirection(PVOID oldValue);
BOOL WINAPI QueryFullProcessImageNameA(HANDLE process, DWORD flags, LPSTR name, PDWORD size);
}

#endif  // WINSIM_WOW64_H
