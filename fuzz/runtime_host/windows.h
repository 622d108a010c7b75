// The few kernel32 declarations runtime/ uses, for compiling it on the host
// inside fuzz_runtime.cpp, which implements them (a heap that can be made
// to refuse, an ExitProcess that returns to the harness).
#ifndef VARSETUP_FUZZ_RUNTIME_HOST_WINDOWS_H
#define VARSETUP_FUZZ_RUNTIME_HOST_WINDOWS_H

#include <cstddef>

#define WINAPI
typedef unsigned int UINT;
typedef unsigned long DWORD;
typedef unsigned short WORD;
typedef char *LPSTR;
typedef void *HANDLE;
typedef void *HINSTANCE;
typedef void *HMODULE;
typedef std::size_t SIZE_T;

struct STARTUPINFOA {
  DWORD cb;
  DWORD dwFlags;
  WORD wShowWindow;
};
const DWORD STARTF_USESHOWWINDOW = 1;
const int SW_SHOWDEFAULT = 10;

extern "C" {
HANDLE GetProcessHeap();
void *HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes);
int HeapFree(HANDLE heap, DWORD flags, void *block);
[[noreturn]] void ExitProcess(UINT code);
LPSTR GetCommandLineA();
HMODULE GetModuleHandleA(const char *name);
void GetStartupInfoA(STARTUPINFOA *info);
}
int WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR arguments, int show);

#endif  // VARSETUP_FUZZ_RUNTIME_HOST_WINDOWS_H
