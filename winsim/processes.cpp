// The running processes of the simulated machine: process handles, the
// Toolhelp snapshot (kernel32) and the process-status functions (psapi.dll).
//
// The processes are machine.ini [processes]: id and image path as the OS
// reports it, "|denied" for a process that OpenProcess refuses (System,
// CSRSS and their kind on the NT family).  Whether a program can reach the
// Toolhelp and PSAPI functions at all is decided by the machine's
// [libraries]: GetProcAddress hands them out only where they are listed, so
// an NT 4.0 machine without Toolhelp or a 9x machine without psapi.dll is
// just a matter of its machine.ini.
#include "processes.h"

#include <tlhelp32.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "faults.h"
#include "file_search.h"
#include "libraries.h"
#include "machine.h"
#include "machine_text.h"
#include "process_state.h"
#include "wow64.h"

namespace winsim {

namespace {

enum class HandleKind { Process, Snapshot };

struct HandleObject {
  HandleKind kind = HandleKind::Process;
  DWORD processId = 0;                 // Process
  DWORD access = 0;                    // Process: the rights it was opened with
  std::vector<SimProcess> processes;   // Snapshot: the list when it was taken
  size_t next = 0;                     // Snapshot: the entry Process32Next reads
};

HandleTable<HandleObject> &Table() {
  static HandleTable<HandleObject> table(0x7C4);
  return table;
}

std::map<uintptr_t, HandleObject> &Handles() { return Table().open; }

HANDLE NewHandle(HandleObject object) { return Table().Add(std::move(object)); }

HandleObject *FindHandle(HANDLE handle, HandleKind kind) {
  auto it = Handles().find(reinterpret_cast<uintptr_t>(handle));
  if (it == Handles().end() || it->second.kind != kind) return nullptr;
  return &it->second;
}

const SimProcess *FindProcess(DWORD id) {
  for (const SimProcess &p : Config().processes)
    if (p.id == id) return &p;
  return nullptr;
}

// Module handles of a process: the exe is mapped at its preferred base; a
// process also has ntdll (NT only) and kernel32 loaded, at the bases the
// program's own process has them.  Only the exe's handle and the count
// matter to callers that ask for the first module.

struct SimModule {
  uintptr_t handle;
  std::string path;
};

std::vector<SimModule> ModulesOf(const SimProcess &p) {
  const MachineConfig &c = Config();
  std::vector<SimModule> modules{{kProgramModule, p.image}};
  if (c.platform == VER_PLATFORM_WIN32_NT)
    modules.push_back({StartModuleBase("NTDLL.DLL"), c.systemDir + "\\ntdll.dll"});
  modules.push_back({StartModuleBase("KERNEL32.DLL"), c.systemDir + "\\kernel32.dll"});
  return modules;
}

// szExeFile: "Path and filename of the executable" on 9x, only "the name of
// the executable file" on the NT family (reference 4.2).
std::string ExeFileField(const SimProcess &p) {
  if (Config().Is9x()) return p.image;
  size_t cut = FindLastChar(p.image, "\\");
  return cut == std::string::npos ? p.image : p.image.substr(cut + 1);
}

void FillEntry(const SimProcess &p, PROCESSENTRY32 *entry) {
  DWORD size = entry->dwSize;  // left as the caller set it
  memset(entry, 0, sizeof *entry);
  entry->dwSize = size;
  entry->th32ProcessID = p.id;
  entry->cntThreads = 1;
  entry->pcPriClassBase = 8;  // normal priority
  std::string exe = ExeFileField(p);
  strncpy(entry->szExeFile, exe.c_str(), sizeof entry->szExeFile - 1);
}

// Process32First/Next share everything but where they start reading.
BOOL ReadSnapshotEntry(HANDLE snapshot, PROCESSENTRY32 *entry, bool first) {
  HandleObject *s = FindHandle(snapshot, HandleKind::Snapshot);
  if (!s) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!entry) {
    SetLastError(ERROR_NOACCESS);
    return FALSE;
  }
  // dwSize must be set before every call; a smaller value fails with 122,
  // a larger one is accepted (reference 4.2).
  if (entry->dwSize < sizeof(PROCESSENTRY32)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  if (first) s->next = 0;
  if (s->next >= s->processes.size()) {
    SetLastError(ERROR_NO_MORE_FILES);  // and again on every further call
    return FALSE;
  }
  FillEntry(s->processes[s->next++], entry);
  return TRUE;
}

}  // namespace

size_t OpenHandleCount() { return Handles().size() + OpenFindHandleCount(); }

void ResetKernelHandles() { Table().Reset(); }

}  // namespace winsim

using namespace winsim;

extern "C" {

// NT: pid 0 (the idle process) and ids that name no process fail with 87;
// System and CSRSS refuse query and read access with 5 (reference 4.3).
HANDLE WINAPI OpenProcess(DWORD access, BOOL inherit, DWORD processId) {
  if (DWORD e = Fault("OpenProcess")) {
    SetLastError(e);
    return nullptr;
  }
  const SimProcess *p = FindProcess(processId);
  if (processId == 0 || !p) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (p->denied) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  HandleObject object;
  object.kind = HandleKind::Process;
  object.processId = processId;
  object.access = access;
  return NewHandle(std::move(object));
}

BOOL WINAPI CloseHandle(HANDLE handle) {
  if (DWORD e = Fault("CloseHandle")) {
    SetLastError(e);
    return FALSE;
  }
  auto it = Handles().find(reinterpret_cast<uintptr_t>(handle));
  if (it == Handles().end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  Handles().erase(it);
  return TRUE;
}

// The snapshot holds the process list as it was when taken.  Without
// TH32CS_SNAPPROCESS it holds no processes.
HANDLE WINAPI CreateToolhelp32Snapshot(DWORD flags, DWORD processId) {
  if (DWORD e = Fault("CreateToolhelp32Snapshot")) {
    SetLastError(e);
    return INVALID_HANDLE_VALUE;
  }
  HandleObject object;
  object.kind = HandleKind::Snapshot;
  if (flags & TH32CS_SNAPPROCESS) object.processes = Config().processes;
  return NewHandle(std::move(object));
}

BOOL WINAPI Process32First(HANDLE snapshot, LPPROCESSENTRY32 entry) {
  if (DWORD e = Fault("Process32First")) {
    SetLastError(e);
    return FALSE;
  }
  return ReadSnapshotEntry(snapshot, entry, true);
}

BOOL WINAPI Process32Next(HANDLE snapshot, LPPROCESSENTRY32 entry) {
  if (DWORD e = Fault("Process32Next")) {
    SetLastError(e);
    return FALSE;
  }
  return ReadSnapshotEntry(snapshot, entry, false);
}

// *bytesReturned is the number of bytes written, not the size needed: a
// buffer that is too small is no error, the caller recognises a list that
// may have been cut by bytesReturned == cb (reference 4.3).
BOOL WINAPI EnumProcesses(DWORD *processIds, DWORD cb, DWORD *bytesReturned) {
  if (DWORD e = Fault("EnumProcesses")) {
    SetLastError(e);
    return FALSE;
  }
  if (!bytesReturned || (!processIds && cb >= sizeof(DWORD))) {
    SetLastError(ERROR_NOACCESS);
    return FALSE;
  }
  const std::vector<SimProcess> &all = Config().processes;
  size_t count = std::min<size_t>(cb / sizeof(DWORD), all.size());
  for (size_t i = 0; i < count; ++i) processIds[i] = all[i].id;
  *bytesReturned = DWORD(count * sizeof(DWORD));
  return TRUE;
}

namespace {

// What the module calls need of a process handle.
const DWORD kModuleAccess = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;

// The process handle of `call`, or null with the last error set: the call's
// injected fault, 6 for a handle that is not a process's, 5 for a handle
// without all of `allOf` or, when `anyOf` is given, without any of it.
HandleObject *ProcessCallHandle(const char *call, HANDLE process, DWORD allOf, DWORD anyOf) {
  if (DWORD e = Fault(call)) {
    SetLastError(e);
    return nullptr;
  }
  HandleObject *h = FindHandle(process, HandleKind::Process);
  if (!h) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if ((h->access & allOf) != allOf || (anyOf && !(h->access & anyOf))) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  return h;
}

}  // namespace

// Fills as many module handles as fit, the exe's first; *bytesNeeded is
// the size for all of them (reference 4.3).  Needs a handle opened with
// query and read access.
BOOL WINAPI EnumProcessModules(HANDLE process, HMODULE *modules, DWORD cb, DWORD *bytesNeeded) {
  HandleObject *h = ProcessCallHandle("EnumProcessModules", process, kModuleAccess, 0);
  if (!h) return FALSE;
  const SimProcess *p = FindProcess(h->processId);
  // A 32-bit caller cannot read a 64-bit process's modules: 299, as the
  // function's reference page says for WOW64.
  if (!p || p->native64) {  // ended since it was opened, or 64-bit
    SetLastError(ERROR_PARTIAL_COPY);
    return FALSE;
  }
  if (!modules && cb >= sizeof(HMODULE)) {
    SetLastError(ERROR_NOACCESS);
    return FALSE;
  }
  // The handles are written before the count: without a place for the
  // count the call fails after filling the array (what the NT versions
  // Wine's tests ran on do; not confirmed on XP).
  std::vector<SimModule> list = ModulesOf(*p);
  size_t fit = std::min<size_t>(cb / sizeof(HMODULE), list.size());
  for (size_t i = 0; i < fit; ++i) modules[i] = reinterpret_cast<HMODULE>(list[i].handle);
  if (!bytesNeeded) {
    SetLastError(ERROR_NOACCESS);
    return FALSE;
  }
  *bytesNeeded = DWORD(list.size() * sizeof(HMODULE));
  return TRUE;
}

// Returns the length copied without the zero.  A name that does not fit is
// cut to size-1 characters and a zero, and the call returns size (reference
// 4.3: Windows documents the cut, Wine returns size).  A null module is the
// exe.
DWORD WINAPI GetModuleFileNameExA(HANDLE process, HMODULE module, LPSTR fileName, DWORD size) {
  HandleObject *h = ProcessCallHandle("GetModuleFileNameExA", process, kModuleAccess, 0);
  if (!h) return 0;
  const SimProcess *p = FindProcess(h->processId);
  // A 64-bit process's modules are out of a 32-bit caller's reach, as for
  // EnumProcessModules (the code is not confirmed for this function).
  if (!p || p->native64) {
    SetLastError(ERROR_PARTIAL_COPY);
    return 0;
  }
  uintptr_t wanted = module ? reinterpret_cast<uintptr_t>(module) : kProgramModule;
  const std::string *path = nullptr;
  std::vector<SimModule> list = ModulesOf(*p);
  for (const SimModule &m : list)
    if (m.handle == wanted) path = &m.path;
  if (!path) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  if (size == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (!fileName) {
    SetLastError(ERROR_NOACCESS);
    return 0;
  }
  if (path->size() < size) {
    memcpy(fileName, path->c_str(), path->size() + 1);
    return DWORD(path->size());
  }
  memcpy(fileName, path->c_str(), size - 1);
  fileName[size - 1] = 0;
  return size;
}

// kernel32 of XP SP2 and later (machine.ini lists it where the machine has
// it).  The current process is under WOW64 on a 64-bit machine; another
// process is when it is not a 64-bit one.
BOOL WINAPI IsWow64Process(HANDLE process, PBOOL wow64) {
  if (DWORD e = Fault("IsWow64Process")) {
    SetLastError(e);
    return FALSE;
  }
  bool underWow64 = Config().wow64;
  if (process != GetCurrentProcess()) {
    HandleObject *h = FindHandle(process, HandleKind::Process);
    if (!h) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    const SimProcess *p = FindProcess(h->processId);
    underWow64 = underWow64 && !(p && p->native64);
  }
  if (!wow64) {
    SetLastError(ERROR_NOACCESS);
    return FALSE;
  }
  *wow64 = underWow64 ? TRUE : FALSE;
  return TRUE;
}

// kernel32 of Vista and later: the image path of a process of either width,
// for a handle with query (or limited query) access.  *size is the buffer's
// size in characters on entry, the length without the zero on success; a
// buffer too small fails with 122.  The native form (PROCESS_NAME_NATIVE,
// "\Device\HarddiskVolume...") is not simulated.
BOOL WINAPI QueryFullProcessImageNameA(HANDLE process, DWORD flags, LPSTR name, PDWORD size) {
  HandleObject *h = ProcessCallHandle("QueryFullProcessImageNameA", process, 0,
                                      PROCESS_QUERY_INFORMATION | PROCESS_QUERY_LIMITED_INFORMATION);
  if (!h) return FALSE;
  if (flags != 0) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
  }
  const SimProcess *p = FindProcess(h->processId);
  if (!p) {
    SetLastError(ERROR_INVALID_PARAMETER);  // the process has ended
    return FALSE;
  }
  if (!size || !name) {
    SetLastError(ERROR_NOACCESS);
    return FALSE;
  }
  if (p->image.size() + 1 > *size) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  memcpy(name, p->image.c_str(), p->image.size() + 1);
  *size = DWORD(p->image.size());
  return TRUE;
}

}  // extern "C"

namespace {

// Handed out by GetProcAddress where the machine's [libraries] lists them:
// the Toolhelp functions in kernel32, the others in psapi.dll.
struct RegisterProcessEntryPoints {
  RegisterProcessEntryPoints() {
    RegisterEntryPoint("CreateToolhelp32Snapshot", AsProc(&CreateToolhelp32Snapshot));
    RegisterEntryPoint("Process32First", AsProc(&Process32First));
    RegisterEntryPoint("Process32Next", AsProc(&Process32Next));
    RegisterEntryPoint("EnumProcesses", AsProc(&EnumProcesses));
    RegisterEntryPoint("EnumProcessModules", AsProc(&EnumProcessModules));
    RegisterEntryPoint("GetModuleFileNameExA", AsProc(&GetModuleFileNameExA));
    RegisterEntryPoint("IsWow64Process", AsProc(&IsWow64Process));
    RegisterEntryPoint("QueryFullProcessImageNameA", AsProc(&QueryFullProcessImageNameA));
  }
} registerProcessEntryPoints;

}  // namespace
