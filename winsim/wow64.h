// The WOW64 functions of the simulated machine's kernel32: Windows declares
// them in its own headers only for the systems that have them, and the
// product, which must also load on systems without them, looks them up with
// GetProcAddress.  Tests of the simulation call them through these
// declarations.  Below them, the redirectors the other areas of winsim go
// through.
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

#include <string>

#include "paths.h"

namespace winsim {

// The path a call of the program reaches: on a 64-bit machine the file
// system redirector's rewrite of `path` (System32 -> SysWOW64 outside the
// exempt folders, Sysnative -> System32) unless the program turned
// redirection off; else `path` unchanged.
std::string RedirectedPath(const char *path);
// ResolvePath of the redirected path: what the program's file calls use.
// ResolvePath itself always resolves native paths (the tools, the restart).
// A drive without its medium brings up the system's box first (see
// NotReadyDriveBox).
DWORD ResolveCallerPath(const char *path, ResolvedPath *out);
// The 32-bit system folder of a 64-bit machine ("C:\Windows\SysWOW64").
std::string Wow64SystemDir();
// The registry redirector: a full key path "HKLM\..." as the program names
// it, and the access flags it asked for, to the key path it reaches.
std::string RedirectedKeyPath(const std::string &fullPath, REGSAM sam);

}  // namespace winsim

#endif  // WINSIM_WOW64_H
