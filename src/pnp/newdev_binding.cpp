// The binding of the device installation's libraries: the driver-update
// entry point of NewDev.dll and the SetupAPI functions, made once while the
// process starts and released while it exits.
#include "deploy/deploy.h"
#include "pnp/pnp.h"

NewDevBindingRecord NewDevBinding;
SetupApiBindingRecord SetupApi;

namespace {

// "<system directory>\<name>", or "" when the system directory cannot be
// read.  A library is always loaded by its full path: a bare name would
// search the program's directory first, where a planted DLL would run with
// the installer's rights.
std::string SystemLibraryPath(const char *name) {
  char buffer[261];
  UINT length = GetSystemDirectoryA(buffer, sizeof buffer);
  if (length == 0 || length >= sizeof buffer) return std::string();
  return WithBackslash(std::string(buffer, length), 1) + name;
}

// A missing library must not bring up the system's error box.
HMODULE LoadSystemLibrary(const char *name) {
  UINT previousMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  std::string path = SystemLibraryPath(name);
  HMODULE library = path.empty() ? nullptr : LoadLibraryA(path.c_str());
  SetErrorMode(previousMode);
  return library;
}

// Through void(*)(): a cast between unrelated function types.
template <typename Entry>
void LookUp(HMODULE library, const char *name, Entry *entry) {
  *entry = reinterpret_cast<Entry>(reinterpret_cast<void (*)()>(GetProcAddress(library, name)));
}

void BindSetupApi() {
  if (SetupApi.library) return;
  HMODULE library = LoadSystemLibrary("SETUPAPI.DLL");
  if (!library) return;
  SetupApi.library = library;
  LookUp(library, "SetupDiGetClassDevsA", &SetupApi.getClassDevs);
  LookUp(library, "SetupDiEnumDeviceInfo", &SetupApi.enumDeviceInfo);
  LookUp(library, "SetupDiGetDeviceRegistryPropertyA", &SetupApi.getDeviceRegistryProperty);
  LookUp(library, "SetupDiSetDeviceRegistryPropertyA", &SetupApi.setDeviceRegistryProperty);
  LookUp(library, "SetupDiGetINFClassA", &SetupApi.getInfClass);
  LookUp(library, "SetupDiCreateDeviceInfoList", &SetupApi.createDeviceInfoList);
  LookUp(library, "SetupDiCreateDeviceInfoA", &SetupApi.createDeviceInfo);
  LookUp(library, "SetupDiCallClassInstaller", &SetupApi.callClassInstaller);
  LookUp(library, "SetupDiDestroyDeviceInfoList", &SetupApi.destroyDeviceInfoList);
}

}  // namespace

void BindNewDev() {
  BindSetupApi();
  if (NewDevBinding.loaded) return;
  HMODULE library = LoadSystemLibrary("NewDev.dll");
  if (library) {
    NewDevBinding.library = library;
    NewDevBinding.loaded = true;
    LookUp(library, "UpdateDriverForPlugAndPlayDevicesA", &NewDevBinding.updateDriver);
  }
}

void ReleaseNewDev() {
  if (NewDevBinding.library) FreeLibrary(NewDevBinding.library);
  NewDevBinding.library = nullptr;
  NewDevBinding.loaded = false;
  NewDevBinding.updateDriver = nullptr;
  if (SetupApi.library) FreeLibrary(SetupApi.library);
  SetupApi = SetupApiBindingRecord();
}

bool NewDevBound() { return NewDevBinding.loaded && NewDevBinding.updateDriver != nullptr; }

bool SetupApiBound() {
  const SetupApiBindingRecord &s = SetupApi;
  return s.getClassDevs && s.enumDeviceInfo && s.getDeviceRegistryProperty && s.setDeviceRegistryProperty &&
         s.getInfClass && s.createDeviceInfoList && s.createDeviceInfo && s.callClassInstaller &&
         s.destroyDeviceInfoList;
}
