// Finding, creating and updating a root-enumerated device node.
//
// Every operation reports through its boolean and the thread's last error,
// which is ERROR_SUCCESS exactly when the boolean is true.  Each step is
// decided by its own BOOL result, never by the last error a successful call
// left: Windows' SetupAPI clears it on success, Wine's leaves stale codes
// (a sizing read's ERROR_INSUFFICIENT_BUFFER survives the read that
// follows).  So the success path sets ERROR_SUCCESS itself, and a failure
// path keeps the failing call's code, also across the destruction of the
// device information set.
#include <windows.h>
#include <setupapi.h>
#include <newdev.h>

#include <cstring>
#include <string>

#include "pnp/pnp.h"

// Whether the multi-string that a read reported as `dataSize` bytes lists
// `hardwareId`, compared exactly and case-sensitively.  Entries are taken
// while they are not empty and begin inside the data; an entry is never
// read beyond the buffer (`bufferSize` bytes, zero-filled beyond the data).
bool ListsHardwareId(const BYTE *buffer, DWORD dataSize, DWORD bufferSize, const char *hardwareId) {
  if (!buffer) return false;
  const char *start = reinterpret_cast<const char *>(buffer);
  const char *dataEnd = start + (dataSize < bufferSize ? dataSize : bufferSize);
  const char *bufferEnd = start + bufferSize;
  for (const char *entry = start; entry < dataEnd && *entry;) {
    const char *zero = entry;
    while (zero < bufferEnd && *zero) ++zero;  // msvcrt of the oldest systems has no strnlen
    if (zero < bufferEnd && strcmp(entry, hardwareId) == 0) return true;
    entry = zero + 1;
  }
  return false;
}

namespace {

// MAX_CLASS_NAME_LEN of the SDK (mingw-w64's setupapi.h lacks it): a class
// name buffer of 32 characters, terminator included.
const DWORD kClassNameLength = 32;

// The code a failed call left.  A failure that left no code (Wine's
// SetupDiGetINFClassA on an INF without a Signature does that) still has
// to be reported as a failure, so it gets `fallback`.
DWORD FailureCode(DWORD fallback) {
  DWORD code = GetLastError();
  return code != ERROR_SUCCESS ? code : fallback;
}

// Destroys `set` without changing the code to be reported, leaves `code`
// and returns whether it is a success.
bool Finish(HDEVINFO set, DWORD code) {
  SetupApi.destroyDeviceInfoList(set);
  SetLastError(code);
  return code == ERROR_SUCCESS;
}

enum class ReadResult { Found, NotFound, NoIds, Failed };

// Reads a device's hardware IDs and looks for `hardwareId` among them.  On
// Failed, `code` is the failing read's code.
ReadResult MatchDevice(HDEVINFO set, SP_DEVINFO_DATA *device, const char *hardwareId, DWORD *code) {
  BYTE *buffer = nullptr;
  DWORD size = 0, required = 0, type = 0;
  ReadResult result = ReadResult::Failed;
  for (;;) {
    if (SetupApi.getDeviceRegistryProperty(set, device, SPDRP_HARDWAREID, &type, buffer, size, &required)) {
      result = ListsHardwareId(buffer, required, size, hardwareId) ? ReadResult::Found : ReadResult::NotFound;
      break;
    }
    DWORD error = FailureCode(ERROR_INVALID_FUNCTION);
    if (error == ERROR_INVALID_DATA) {  // the device has no hardware IDs
      result = ReadResult::NoIds;
      break;
    }
    // A read that stays short of a buffer twice the size it asked for
    // would go on for ever; it is a failure like any other.
    if (error != ERROR_INSUFFICIENT_BUFFER || DWORD(2 * required) <= size) {
      *code = error;
      break;
    }
    if (buffer) HeapFree(GetProcessHeap(), 0, buffer);
    size = 2 * required;
    buffer = static_cast<BYTE *>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size));
    if (!buffer) {
      *code = ERROR_NOT_ENOUGH_MEMORY;
      break;
    }
  }
  if (buffer) HeapFree(GetProcessHeap(), 0, buffer);
  return result;
}

// The driver update through NewDev.dll, leaving ERROR_SUCCESS or its code.
bool UpdateDriver(const char *hardwareId, const char *infPath) {
  BOOL rebootRequired = FALSE;
  if (NewDevBinding.updateDriver(nullptr, hardwareId, infPath, INSTALLFLAG_FORCE, &rebootRequired)) {
    SetLastError(ERROR_SUCCESS);
    return true;
  }
  SetLastError(FailureCode(ERROR_INVALID_FUNCTION));
  return false;
}

// Without SetupAPI or NewDev.dll no device can be found or driven: the
// code left then says the function is not available on this system.
bool Unbound() {
  SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return false;
}

}  // namespace

bool FindDeviceByHardwareId(const char *hardwareId) {
  if (!SetupApiBound()) return Unbound();
  HDEVINFO set = SetupApi.getClassDevs(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
  if (set == INVALID_HANDLE_VALUE) {
    SetLastError(FailureCode(ERROR_INVALID_FUNCTION));
    return false;
  }
  SP_DEVINFO_DATA device;
  memset(&device, 0, sizeof device);
  device.cbSize = sizeof device;
  for (DWORD index = 0;; ++index) {
    if (!SetupApi.enumDeviceInfo(set, index, &device))
      return Finish(set, FailureCode(ERROR_INVALID_FUNCTION));  // ERROR_NO_MORE_ITEMS at the end
    DWORD code = ERROR_SUCCESS;
    switch (MatchDevice(set, &device, hardwareId, &code)) {
      case ReadResult::Found:
        return Finish(set, ERROR_SUCCESS);
      case ReadResult::Failed:
        return Finish(set, code);
      case ReadResult::NotFound:
      case ReadResult::NoIds:
        break;
    }
  }
}

bool CreateRootDevice(const char *hardwareId, const char *infPath) {
  if (!NewDevBound() || !SetupApiBound()) return Unbound();
  GUID classGuid;
  char className[kClassNameLength];
  if (!SetupApi.getInfClass(infPath, &classGuid, className, kClassNameLength, nullptr)) {
    SetLastError(FailureCode(ERROR_WRONG_INF_STYLE));
    return false;
  }
  HDEVINFO set = SetupApi.createDeviceInfoList(&classGuid, nullptr);
  if (set == INVALID_HANDLE_VALUE) {
    SetLastError(FailureCode(ERROR_INVALID_FUNCTION));
    return false;
  }
  SP_DEVINFO_DATA device;
  memset(&device, 0, sizeof device);
  device.cbSize = sizeof device;
  // The one-entry multi-string: the ID, its zero and the list's zero.  It
  // is built in a buffer of its own: the ID's string ends at its first
  // zero, and reading the list's zero from behind it would read past it.
  std::string idList(hardwareId);
  idList.append(2, '\0');
  DWORD length = DWORD(idList.size());
  if (!SetupApi.createDeviceInfo(set, className, &classGuid, nullptr, nullptr, DICD_GENERATE_ID, &device) ||
      !SetupApi.setDeviceRegistryProperty(set, &device, SPDRP_HARDWAREID,
                                         reinterpret_cast<const BYTE *>(idList.data()), length) ||
      !SetupApi.callClassInstaller(DIF_REGISTERDEVICE, set, &device))
    return Finish(set, FailureCode(ERROR_INVALID_FUNCTION));
  if (!UpdateDriver(hardwareId, infPath)) {
    // The node was registered but has no driver: take it away again,
    // keeping the update's code.
    DWORD code = GetLastError();
    SetupApi.callClassInstaller(DIF_REMOVE, set, &device);
    return Finish(set, code);
  }
  return Finish(set, ERROR_SUCCESS);
}

bool InstallRootDevice(const char *infPath, const char *hardwareId) {
  if (!NewDevBound() || !SetupApiBound()) return Unbound();
  if (FindDeviceByHardwareId(hardwareId)) return UpdateDriver(hardwareId, infPath);
  if (GetLastError() == ERROR_NO_MORE_ITEMS) return CreateRootDevice(hardwareId, infPath);
  return false;
}
