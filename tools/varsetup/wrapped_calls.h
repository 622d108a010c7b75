// The calls the preview links with -Wl,--wrap (see CMakeLists.txt): the
// linker sends the program's X to __wrap_X, the recorder of
// call_results.cpp, which calls the simulated machine's own X as __real_X.
#ifndef VARSETUP_WRAPPED_CALLS_H
#define VARSETUP_WRAPPED_CALLS_H

#include <windows.h>

#define VARSETUP_WRAPPED(type, name, parameters) \
  type WINAPI __real_##name parameters;          \
  type WINAPI __wrap_##name parameters;

extern "C" {
VARSETUP_WRAPPED(HANDLE, FindFirstFileA, (LPCSTR, LPWIN32_FIND_DATAA))
VARSETUP_WRAPPED(BOOL, CopyFileA, (LPCSTR, LPCSTR, BOOL))
VARSETUP_WRAPPED(BOOL, MoveFileExA, (LPCSTR, LPCSTR, DWORD))
VARSETUP_WRAPPED(UINT, GetDriveTypeA, (LPCSTR))
VARSETUP_WRAPPED(BOOL, WritePrivateProfileStringA, (LPCSTR, LPCSTR, LPCSTR, LPCSTR))
VARSETUP_WRAPPED(BOOL, WritePrivateProfileSectionA, (LPCSTR, LPCSTR, LPCSTR))
VARSETUP_WRAPPED(HMODULE, LoadLibraryA, (LPCSTR))
VARSETUP_WRAPPED(FARPROC, GetProcAddress, (HMODULE, LPCSTR))
VARSETUP_WRAPPED(HANDLE, OpenProcess, (DWORD, BOOL, DWORD))
VARSETUP_WRAPPED(BOOL, CloseHandle, (HANDLE))
VARSETUP_WRAPPED(LONG, RegCreateKeyExA, (HKEY, LPCSTR, DWORD, LPSTR, DWORD, REGSAM, LPSECURITY_ATTRIBUTES, PHKEY, LPDWORD))
VARSETUP_WRAPPED(LONG, RegOpenKeyExA, (HKEY, LPCSTR, DWORD, REGSAM, PHKEY))
VARSETUP_WRAPPED(LONG, RegCloseKey, (HKEY))
VARSETUP_WRAPPED(LONG, RegSetValueExA, (HKEY, LPCSTR, DWORD, DWORD, const BYTE *, DWORD))
VARSETUP_WRAPPED(LONG, RegDeleteKeyA, (HKEY, LPCSTR))
}

#undef VARSETUP_WRAPPED

#endif  // VARSETUP_WRAPPED_CALLS_H
