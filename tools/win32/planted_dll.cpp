// A DLL planted under a system library's name (NewDev.dll, PSAPI.DLL) beside
// VARSETUP.EXE by the Wine tests.  Whenever a process loads it, DllMain
// leaves C:\PLANTED-<base name of this copy>.txt behind, so the test sees
// whether the installer ever loaded the planted copy instead of the one in
// the system directory.  It exports nothing: it is only ever meant to be
// found, never called.
#include <windows.h>

#include <string.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  char module[MAX_PATH + 1];
  DWORD length = GetModuleFileNameA(instance, module, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return TRUE;
  module[length] = 0;
  const char *base = strrchr(module, '\\');
  base = base ? base + 1 : module;
  char marker[MAX_PATH + 32] = "C:\\PLANTED-";
  strncat(marker, base, MAX_PATH);
  char *dot = strrchr(marker, '.');
  if (dot && dot > marker + 11) *dot = 0;
  strcat(marker, ".txt");
  HANDLE file = CreateFileA(marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    WriteFile(file, module, length, &written, nullptr);
    CloseHandle(file);
  }
  return TRUE;
}
