// The wrappers behind RecordedCalls.  Each calls the real function
// (__real_X, which the linker binds to winsim's X), notes the call and what
// came back, and returns the same result with the same last error.  Entry
// points the product looks up with GetProcAddress are wrapped by handing out
// a recording stand-in for them.
#include "call_results.h"

#include <setupapi.h>
#include <newdev.h>

#include <cstring>
#include <map>

#include "wrapped_calls.h"

namespace varsetup {

namespace {

struct Recorder {
  bool on = false;
  std::vector<CallResult> calls;
  std::map<HKEY, std::string> keys;       // open key handle -> "HKLM\PATH"
  std::map<HANDLE, DWORD> processes;      // open process handle -> id
};

Recorder &R() {
  static Recorder recorder;
  return recorder;
}

std::string Text(const char *s) { return s ? s : ""; }

void Note(const char *call, const std::string &arg1, const std::string &arg2, bool ok,
          DWORD error, bool directory = false) {
  if (R().on) R().calls.push_back({call, arg1, arg2, ok, ok ? 0 : error, directory});
}

// The last error survives the note: the product reads it after the call.
void NoteLastError(const char *call, const std::string &arg1, const std::string &arg2, bool ok,
                   bool directory = false) {
  DWORD error = GetLastError();
  Note(call, arg1, arg2, ok, error, directory);
  SetLastError(error);
}

std::string KeyPath(HKEY key, const char *subKey) {
  std::string base = key == HKEY_LOCAL_MACHINE  ? "HKLM"
                     : key == HKEY_CURRENT_USER ? "HKCU"
                     : R().keys.count(key)      ? R().keys[key]
                                                : "?";
  return subKey && *subKey ? base + "\\" + subKey : base;
}

std::string ProcessOf(HANDLE process) {
  auto it = R().processes.find(process);
  return it == R().processes.end() ? "?" : std::to_string(it->second);
}

typedef BOOL(WINAPI *EnumProcessModulesFn)(HANDLE, HMODULE *, DWORD, DWORD *);
typedef DWORD(WINAPI *GetModuleFileNameExAFn)(HANDLE, HMODULE, LPSTR, DWORD);
typedef BOOL(WINAPI *QueryFullProcessImageNameAFn)(HANDLE, DWORD, LPSTR, DWORD *);
typedef BOOL(WINAPI *UpdateDriverFn)(HWND, LPCSTR, LPCSTR, DWORD, PBOOL);
typedef BOOL(WINAPI *CallClassInstallerFn)(DI_FUNCTION, HDEVINFO, PSP_DEVINFO_DATA);

EnumProcessModulesFn realEnumProcessModules;
GetModuleFileNameExAFn realGetModuleFileNameExA;
QueryFullProcessImageNameAFn realQueryFullProcessImageNameA;
UpdateDriverFn realUpdateDriver;
CallClassInstallerFn realCallClassInstaller;

BOOL WINAPI RecordEnumProcessModules(HANDLE process, HMODULE *modules, DWORD cb, DWORD *needed) {
  BOOL ok = realEnumProcessModules(process, modules, cb, needed);
  NoteLastError("EnumProcessModules", ProcessOf(process), "", ok);
  return ok;
}

DWORD WINAPI RecordGetModuleFileNameExA(HANDLE process, HMODULE module, LPSTR name, DWORD size) {
  DWORD length = realGetModuleFileNameExA(process, module, name, size);
  NoteLastError("GetModuleFileNameExA", ProcessOf(process), "", length != 0);
  return length;
}

BOOL WINAPI RecordQueryFullProcessImageNameA(HANDLE process, DWORD flags, LPSTR name, DWORD *size) {
  BOOL ok = realQueryFullProcessImageNameA(process, flags, name, size);
  NoteLastError("QueryFullProcessImageNameA", ProcessOf(process), "", ok);
  return ok;
}

BOOL WINAPI RecordUpdateDriver(HWND owner, LPCSTR hardwareId, LPCSTR inf, DWORD flags, PBOOL reboot) {
  BOOL ok = realUpdateDriver(owner, hardwareId, inf, flags, reboot);
  NoteLastError("UpdateDriverForPlugAndPlayDevicesA", Text(inf), Text(hardwareId), ok);
  return ok;
}

BOOL WINAPI RecordCallClassInstaller(DI_FUNCTION function, HDEVINFO set, PSP_DEVINFO_DATA device) {
  BOOL ok = realCallClassInstaller(function, set, device);
  const char *name = function == DIF_REGISTERDEVICE  ? "DIF_REGISTERDEVICE"
                     : function == DIF_INSTALLDEVICE ? "DIF_INSTALLDEVICE"
                     : function == DIF_SELECTDEVICE  ? "DIF_SELECTDEVICE"
                     : function == DIF_REMOVE        ? "DIF_REMOVE"
                                                     : nullptr;
  NoteLastError("SetupDiCallClassInstaller",
                std::string("SetupDiCallClassInstaller(") +
                    (name ? name : std::to_string(function).c_str()) + ")",
                "", ok);
  return ok;
}

// The stand-in for an entry point that is wrapped, else the entry point.
template <typename Fn>
FARPROC Substitute(FARPROC real, Fn *slot, Fn recorder) {
  if (!real) return real;
  *slot = reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(real));
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(recorder));
}

}  // namespace

void RecordCalls(bool on) {
  R().on = on;
  if (on) R().calls.clear();
}

const std::vector<CallResult> &RecordedCalls() { return R().calls; }

}  // namespace varsetup

using namespace varsetup;

extern "C" {

HANDLE WINAPI __wrap_FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA data) {
  HANDLE found = __real_FindFirstFileA(pattern, data);
  bool ok = found != INVALID_HANDLE_VALUE;
  NoteLastError("FindFirstFileA", Text(pattern), "", ok,
                ok && data && (data->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY));
  return found;
}

BOOL WINAPI __wrap_CopyFileA(LPCSTR existing, LPCSTR newName, BOOL failIfExists) {
  BOOL ok = __real_CopyFileA(existing, newName, failIfExists);
  NoteLastError("CopyFileA", Text(existing), Text(newName), ok);
  return ok;
}

BOOL WINAPI __wrap_MoveFileExA(LPCSTR existing, LPCSTR newName, DWORD flags) {
  BOOL ok = __real_MoveFileExA(existing, newName, flags);
  NoteLastError("MoveFileExA", Text(existing), Text(newName), ok);
  return ok;
}

UINT WINAPI __wrap_GetDriveTypeA(LPCSTR root) {
  UINT type = __real_GetDriveTypeA(root);
  DWORD error = GetLastError();
  Note("GetDriveTypeA", Text(root), std::to_string(type), true, 0);
  SetLastError(error);
  return type;
}

BOOL WINAPI __wrap_WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR file) {
  BOOL ok = __real_WritePrivateProfileStringA(section, key, value, file);
  // A call without a section only flushes the cache.
  if (section) NoteLastError("WritePrivateProfileStringA", Text(file), "[" + Text(section) + "] " + Text(key), ok);
  return ok;
}

BOOL WINAPI __wrap_WritePrivateProfileSectionA(LPCSTR section, LPCSTR lines, LPCSTR file) {
  BOOL ok = __real_WritePrivateProfileSectionA(section, lines, file);
  NoteLastError("WritePrivateProfileSectionA", Text(file), "[" + Text(section) + "]", ok);
  return ok;
}

HMODULE WINAPI __wrap_LoadLibraryA(LPCSTR name) {
  HMODULE module = __real_LoadLibraryA(name);
  NoteLastError("LoadLibraryA", Text(name), "", module != nullptr);
  return module;
}

FARPROC WINAPI __wrap_GetProcAddress(HMODULE module, LPCSTR name) {
  FARPROC proc = __real_GetProcAddress(module, name);
  DWORD error = GetLastError();
  std::string n = Text(name);
  Note("GetProcAddress", n, "", proc != nullptr, error);
  if (n == "EnumProcessModules")
    proc = Substitute(proc, &realEnumProcessModules, &RecordEnumProcessModules);
  else if (n == "GetModuleFileNameExA")
    proc = Substitute(proc, &realGetModuleFileNameExA, &RecordGetModuleFileNameExA);
  else if (n == "QueryFullProcessImageNameA")
    proc = Substitute(proc, &realQueryFullProcessImageNameA, &RecordQueryFullProcessImageNameA);
  else if (n == "UpdateDriverForPlugAndPlayDevicesA")
    proc = Substitute(proc, &realUpdateDriver, &RecordUpdateDriver);
  else if (n == "SetupDiCallClassInstaller")
    proc = Substitute(proc, &realCallClassInstaller, &RecordCallClassInstaller);
  SetLastError(error);
  return proc;
}

HANDLE WINAPI __wrap_OpenProcess(DWORD access, BOOL inherit, DWORD id) {
  HANDLE process = __real_OpenProcess(access, inherit, id);
  if (process) R().processes[process] = id;
  NoteLastError("OpenProcess", std::to_string(id), "", process != nullptr);
  return process;
}

BOOL WINAPI __wrap_CloseHandle(HANDLE handle) {
  R().processes.erase(handle);
  return __real_CloseHandle(handle);
}

LONG WINAPI __wrap_RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR cls,
                                   DWORD options, REGSAM sam, LPSECURITY_ATTRIBUTES security,
                                   PHKEY result, LPDWORD disposition) {
  std::string path = KeyPath(key, subKey);
  LONG status = __real_RegCreateKeyExA(key, subKey, reserved, cls, options, sam, security, result,
                                       disposition);
  if (status == ERROR_SUCCESS && result) R().keys[*result] = path;
  Note("RegCreateKeyExA", path, "", status == ERROR_SUCCESS, DWORD(status));
  return status;
}

LONG WINAPI __wrap_RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM sam, PHKEY result) {
  std::string path = KeyPath(key, subKey);
  LONG status = __real_RegOpenKeyExA(key, subKey, options, sam, result);
  if (status == ERROR_SUCCESS && result) R().keys[*result] = path;
  Note("RegOpenKeyExA", path, "", status == ERROR_SUCCESS, DWORD(status));
  return status;
}

LONG WINAPI __wrap_RegCloseKey(HKEY key) {
  R().keys.erase(key);
  return __real_RegCloseKey(key);
}

LONG WINAPI __wrap_RegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type,
                                  const BYTE *data, DWORD size) {
  LONG status = __real_RegSetValueExA(key, name, reserved, type, data, size);
  Note("RegSetValueExA", KeyPath(key, nullptr), Text(name), status == ERROR_SUCCESS, DWORD(status));
  return status;
}

LONG WINAPI __wrap_RegDeleteKeyA(HKEY key, LPCSTR subKey) {
  std::string path = KeyPath(key, subKey);
  LONG status = __real_RegDeleteKeyA(key, subKey);
  Note("RegDeleteKeyA", path, "", status == ERROR_SUCCESS, DWORD(status));
  return status;
}


}  // extern "C"
