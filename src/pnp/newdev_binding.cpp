// The binding of the driver-update entry point of NewDev.dll, made once
// while the process starts and released while it exits.
#include "deploy/deploy.h"
#include "pnp/pnp.h"

NewDevBindingRecord NewDevBinding;

namespace {

// "<system directory>\NewDev.dll", or "" when the system directory cannot
// be read.  The library is always loaded by its full path: a bare name would
// search the program's directory first, where a planted DLL would run with
// the installer's rights.
std::string NewDevPath() {
  char buffer[261];
  UINT length = GetSystemDirectoryA(buffer, sizeof buffer);
  if (length == 0 || length >= sizeof buffer) return std::string();
  return WithBackslash(std::string(buffer, length), 1) + "NewDev.dll";
}

}  // namespace

void BindNewDev() {
  if (NewDevBinding.loaded) return;
  // A missing library must not bring up the system's error box.
  UINT previousMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  std::string path = NewDevPath();
  HMODULE library = path.empty() ? nullptr : LoadLibraryA(path.c_str());
  if (library) {
    NewDevBinding.library = library;
    NewDevBinding.loaded = true;
    // Through void(*)(): a cast between unrelated function types.
    FARPROC entry = GetProcAddress(library, "UpdateDriverForPlugAndPlayDevicesA");
    NewDevBinding.updateDriver = reinterpret_cast<UpdateDriverProc>(reinterpret_cast<void (*)()>(entry));
  }
  SetErrorMode(previousMode);
}

void ReleaseNewDev() {
  if (NewDevBinding.library) FreeLibrary(NewDevBinding.library);
  NewDevBinding.library = nullptr;
  NewDevBinding.loaded = false;
  NewDevBinding.updateDriver = nullptr;
}

bool NewDevBound() { return NewDevBinding.loaded && NewDevBinding.updateDriver != nullptr; }
