// A stand-in for the application, for the runs under Wine that need it
// running.  The harness copies it under the application's image name
// (KORVIX.EXE, KORVIXTAVERN.EXE) and starts it in the prefix.
//
//   dummyapp.exe READYFILE STOPFILE [SECONDS]
//
// Creates READYFILE once it runs (so the harness knows the process exists
// before it starts the installer), then waits until STOPFILE exists or
// SECONDS (default 120) have passed.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

int main(int argc, char **argv) {
  if (argc < 3 || argc > 4) {
    fprintf(stderr, "usage: dummyapp READYFILE STOPFILE [SECONDS]\n");
    return 2;
  }
  DWORD limitMs = (argc == 4 ? DWORD(atoi(argv[3])) : 120) * 1000;
  HANDLE ready = CreateFileA(argv[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
  if (ready == INVALID_HANDLE_VALUE) return 2;
  CloseHandle(ready);
  DWORD start = GetTickCount();
  while (GetFileAttributesA(argv[2]) == INVALID_FILE_ATTRIBUTES) {
    if (GetTickCount() - start > limitMs) return 3;
    Sleep(100);
  }
  return 0;
}
