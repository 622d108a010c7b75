// Root-enumerated device installation through SetupAPI and NewDev.dll.
#ifndef VARSETUP_PNP_PNP_H
#define VARSETUP_PNP_PNP_H

#include <windows.h>

#include <string>

typedef BOOL(WINAPI *UpdateDriverProc)(HWND, LPCSTR, LPCSTR, DWORD, PBOOL);

// The driver-update entry point of "NewDev.dll", bound while the process
// starts and released while it exits.
struct NewDevBindingRecord {
  HMODULE library = nullptr;
  bool loaded = false;
  UpdateDriverProc updateDriver = nullptr;
};
extern NewDevBindingRecord NewDevBinding;
void BindNewDev();
void ReleaseNewDev();
bool NewDevBound();

// All three leave the thread's last error; true exactly when it is
// ERROR_SUCCESS.
bool FindDeviceByHardwareId(const char *hardwareId);
bool CreateRootDevice(const char *hardwareId, const char *infPath);
bool InstallRootDevice(const char *infPath, const char *hardwareId);

// Whether the hardware-ID multi-string of `bufferSize` bytes, of which a
// read reported `dataSize`, lists `hardwareId` exactly.
bool ListsHardwareId(const BYTE *buffer, DWORD dataSize, DWORD bufferSize, const char *hardwareId);

#endif  // VARSETUP_PNP_PNP_H
