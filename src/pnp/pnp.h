// Root-enumerated device installation through SetupAPI and NewDev.dll.
#ifndef VARSETUP_PNP_PNP_H
#define VARSETUP_PNP_PNP_H

#include <windows.h>
#include <setupapi.h>

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

// The SetupAPI functions the device installation calls, bound from the
// system directory's SETUPAPI.DLL together with NewDev.dll.  They are not
// imported: a retail Windows 95 has no SETUPAPI.DLL (and would refuse to
// start a program importing it), and an imported DLL is searched for beside
// the program first.
struct SetupApiBindingRecord {
  HMODULE library = nullptr;
  decltype(&SetupDiGetClassDevsA) getClassDevs = nullptr;
  decltype(&SetupDiEnumDeviceInfo) enumDeviceInfo = nullptr;
  decltype(&SetupDiGetDeviceRegistryPropertyA) getDeviceRegistryProperty = nullptr;
  decltype(&SetupDiSetDeviceRegistryPropertyA) setDeviceRegistryProperty = nullptr;
  decltype(&SetupDiGetINFClassA) getInfClass = nullptr;
  decltype(&SetupDiCreateDeviceInfoList) createDeviceInfoList = nullptr;
  decltype(&SetupDiCreateDeviceInfoA) createDeviceInfo = nullptr;
  decltype(&SetupDiCallClassInstaller) callClassInstaller = nullptr;
  decltype(&SetupDiDestroyDeviceInfoList) destroyDeviceInfoList = nullptr;
};
extern SetupApiBindingRecord SetupApi;

// Binds both libraries by their full paths in the system directory (a
// missing one, or one without an entry point, leaves its part unbound and
// shows no box); the release frees what was loaded.
void BindNewDev();
void ReleaseNewDev();
bool NewDevBound();
// Whether every SetupAPI function above is bound.
bool SetupApiBound();

// All three leave the thread's last error; true exactly when it is
// ERROR_SUCCESS.  Without SetupAPI (or, to create or update, NewDev.dll)
// they fail with ERROR_CALL_NOT_IMPLEMENTED.
bool FindDeviceByHardwareId(const char *hardwareId);
bool CreateRootDevice(const char *hardwareId, const char *infPath);
bool InstallRootDevice(const char *infPath, const char *hardwareId);

// Whether the hardware-ID multi-string of `bufferSize` bytes, of which a
// read reported `dataSize`, lists `hardwareId` exactly.
bool ListsHardwareId(const BYTE *buffer, DWORD dataSize, DWORD bufferSize, const char *hardwareId);

#endif  // VARSETUP_PNP_PNP_H
