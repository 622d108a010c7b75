// Dynamic loading over the machine's library table.
//
// A library exists when its file exists on the machine.  The process starts
// with its exe and the system DLLs every process of ours has mapped (ntdll,
// kernel32 and what the program imports): GetModuleHandleA finds them and
// LoadLibraryA hands out their handles without a search.  What a library
// exports: the system directory's kernel32, advapi32 and user32 export the
// entry points winsim implements that every Windows version has (the table
// below); whatever differs between versions is listed in machine.ini
// [libraries] under the library's full path.  A DLL file that is not listed
// loads (its code would run: that is what a planted DLL does) but exports
// nothing.  Bare names are searched the way Windows searches them.
#include "libraries.h"

#include <cstring>
#include <map>

#include "faults.h"
#include "journal.h"
#include "machine.h"
#include "machine_text.h"
#include "paths.h"
#include "snapshot.h"
#include "wow64.h"

namespace winsim {

namespace {

// A module LoadLibraryA loaded and FreeLibrary has not released yet.
struct Module {
  std::string path;  // resolved Windows path
  int references = 0;
};

std::map<std::string, FARPROC> &EntryPoints() {
  static std::map<std::string, FARPROC> table;
  return table;
}

// What the process loaded: by module handle (a start module is here only
// while loads hold it), the error mode, and the base the next new module is
// mapped at.
struct ModuleTable {
  std::map<uintptr_t, Module> loaded;
  UINT errorMode = 0;
  uintptr_t nextBase = 0x10000000;
};

ModuleTable &Table() {
  static ModuleTable table;
  return table;
}

std::map<uintptr_t, Module> &Modules() { return Table().loaded; }

UINT &ErrorMode() { return Table().errorMode; }

bool HasDirectoryPart(const std::string &name) {
  return name.find_first_of("\\/:") != std::string::npos;
}

// The system DLLs every process of ours has mapped before the program runs:
// ntdll (NT family), kernel32, the DLLs the program imports and theirs.  A
// bare name of one of them resolves to the mapped copy in the system
// directory, never a search.  A module handle is the module's base address;
// these are Windows XP's (only their distinctness matters to a caller).
// SETUPAPI.DLL is not among them: the program binds it at run time by its
// full path, and a bare name of it is searched for like any other.
struct StartDll {
  const char *name;
  uintptr_t base;
};
const StartDll kStartDlls[] = {
    {"NTDLL.DLL", 0x7C900000},    {"KERNEL32.DLL", 0x7C800000}, {"USER32.DLL", 0x7E410000},
    {"ADVAPI32.DLL", 0x77DD0000}, {"GDI32.DLL", 0x77F10000},    {"MSVCRT.DLL", 0x77C10000}};

const StartDll *FindStartDll(const std::string &base) {
  for (const StartDll &d : kStartDlls)
    if (UpperText(base) == d.name) return &d;
  return nullptr;
}

bool IsPreloaded(const std::string &base) { return FindStartDll(base) != nullptr; }

bool FindFile(const std::string &candidate, ResolvedPath *out) {
  return ResolveCallerPath(candidate.c_str(), out) == 0 && out->exists && !out->isDirectory;
}

std::string ProgramDir() {
  const std::string &p = Config().program;
  return p.substr(0, FindLastChar(p, "\\"));
}

// Where the program's system DLLs are: the 32-bit system folder under WOW64.
std::string ProgramSystemDir() { return Config().wow64 ? Wow64SystemDir() : Config().systemDir; }

struct ModuleView {
  uintptr_t handle;
  std::string path;
};

// The modules mapped from the start: the exe, then each start DLL whose
// file the machine holds in the program's system directory.
std::vector<ModuleView> StartModules() {
  const MachineConfig &c = Config();
  std::vector<ModuleView> list{{kProgramModule, c.program}};
  for (const StartDll &d : kStartDlls) {
    if (c.Is9x() && std::string(d.name) == "NTDLL.DLL") continue;
    ResolvedPath found;
    if (ResolvePath((ProgramSystemDir() + "\\" + d.name).c_str(), &found) == 0 && found.exists &&
        !found.isDirectory)
      list.push_back({d.base, found.windows});
  }
  return list;
}

// Every module of the process: the start modules and what LoadLibraryA added.
std::vector<ModuleView> ProcessModules() {
  std::vector<ModuleView> list = StartModules();
  for (const auto &entry : Modules()) list.push_back({entry.first, entry.second.path});
  return list;
}

bool FindModule(uintptr_t handle, std::string *path) {
  for (const ModuleView &m : ProcessModules())
    if (m.handle == handle) {
      *path = m.path;
      return true;
    }
  return false;
}

// A module name as the loader looks it up: a name without an extension gets
// ".DLL", and a trailing dot says "no extension".
std::string LoaderName(std::string file) {
  size_t cut = FindLastChar(file, "\\/:");
  std::string base = file.substr(cut == std::string::npos ? 0 : cut + 1);
  if (!base.empty() && base.back() == '.')
    file.pop_back();
  else if (base.find('.') == std::string::npos)
    file += ".DLL";
  return file;
}

// The entry points winsim implements that the system directory's copy of a
// library exports on every Windows version.  Entry points some versions
// lack (Toolhelp, WOW64, psapi, newdev) are the machine's [libraries].
struct SystemExport {
  const char *dll;
  const char *name;
  FARPROC entry;
};

const std::vector<SystemExport> &SystemExports() {
  static const std::vector<SystemExport> table = {
      {"KERNEL32.DLL", "CloseHandle", AsProc(&CloseHandle)},
      {"KERNEL32.DLL", "CopyFileA", AsProc(&CopyFileA)},
      {"KERNEL32.DLL", "DeleteFileA", AsProc(&DeleteFileA)},
      {"KERNEL32.DLL", "FindClose", AsProc(&FindClose)},
      {"KERNEL32.DLL", "FindFirstFileA", AsProc(&FindFirstFileA)},
      {"KERNEL32.DLL", "FindNextFileA", AsProc(&FindNextFileA)},
      {"KERNEL32.DLL", "FreeLibrary", AsProc(&FreeLibrary)},
      {"KERNEL32.DLL", "GetACP", AsProc(&GetACP)},
      {"KERNEL32.DLL", "GetCommandLineA", AsProc(&GetCommandLineA)},
      {"KERNEL32.DLL", "GetCurrentProcess", AsProc(&GetCurrentProcess)},
      {"KERNEL32.DLL", "GetDriveTypeA", AsProc(&GetDriveTypeA)},
      {"KERNEL32.DLL", "GetFileAttributesA", AsProc(&GetFileAttributesA)},
      {"KERNEL32.DLL", "GetLastError", AsProc(&GetLastError)},
      {"KERNEL32.DLL", "GetModuleFileNameA", AsProc(&GetModuleFileNameA)},
      {"KERNEL32.DLL", "GetModuleHandleA", AsProc(&GetModuleHandleA)},
      {"KERNEL32.DLL", "GetPrivateProfileSectionA", AsProc(&GetPrivateProfileSectionA)},
      {"KERNEL32.DLL", "GetPrivateProfileStringA", AsProc(&GetPrivateProfileStringA)},
      {"KERNEL32.DLL", "GetProcAddress", AsProc(&GetProcAddress)},
      {"KERNEL32.DLL", "GetProcessHeap", AsProc(&GetProcessHeap)},
      {"KERNEL32.DLL", "GetSystemDirectoryA", AsProc(&GetSystemDirectoryA)},
      {"KERNEL32.DLL", "GetVersion", AsProc(&GetVersion)},
      {"KERNEL32.DLL", "GetVersionExA", AsProc(&GetVersionExA)},
      {"KERNEL32.DLL", "GetWindowsDirectoryA", AsProc(&GetWindowsDirectoryA)},
      {"KERNEL32.DLL", "HeapAlloc", AsProc(&HeapAlloc)},
      {"KERNEL32.DLL", "HeapFree", AsProc(&HeapFree)},
      {"KERNEL32.DLL", "IsDBCSLeadByte", AsProc(&IsDBCSLeadByte)},
      {"KERNEL32.DLL", "LoadLibraryA", AsProc(&LoadLibraryA)},
      {"KERNEL32.DLL", "MoveFileExA", AsProc(&MoveFileExA)},
      {"KERNEL32.DLL", "OpenProcess", AsProc(&OpenProcess)},
      {"KERNEL32.DLL", "SetErrorMode", AsProc(&SetErrorMode)},
      {"KERNEL32.DLL", "SetFileAttributesA", AsProc(&SetFileAttributesA)},
      {"KERNEL32.DLL", "SetLastError", AsProc(&SetLastError)},
      {"KERNEL32.DLL", "WritePrivateProfileSectionA", AsProc(&WritePrivateProfileSectionA)},
      {"KERNEL32.DLL", "WritePrivateProfileStringA", AsProc(&WritePrivateProfileStringA)},
      {"ADVAPI32.DLL", "RegCloseKey", AsProc(&RegCloseKey)},
      {"ADVAPI32.DLL", "RegCreateKeyExA", AsProc(&RegCreateKeyExA)},
      {"ADVAPI32.DLL", "RegDeleteKeyA", AsProc(&RegDeleteKeyA)},
      {"ADVAPI32.DLL", "RegDeleteValueA", AsProc(&RegDeleteValueA)},
      {"ADVAPI32.DLL", "RegEnumKeyExA", AsProc(&RegEnumKeyExA)},
      {"ADVAPI32.DLL", "RegEnumValueA", AsProc(&RegEnumValueA)},
      {"ADVAPI32.DLL", "RegOpenKeyExA", AsProc(&RegOpenKeyExA)},
      {"ADVAPI32.DLL", "RegQueryInfoKeyA", AsProc(&RegQueryInfoKeyA)},
      {"ADVAPI32.DLL", "RegQueryValueExA", AsProc(&RegQueryValueExA)},
      {"ADVAPI32.DLL", "RegSetValueExA", AsProc(&RegSetValueExA)},
      {"USER32.DLL", "CharNextA", AsProc(&CharNextA)},
      {"USER32.DLL", "CharPrevA", AsProc(&CharPrevA)},
      {"USER32.DLL", "MessageBoxA", AsProc(&MessageBoxA)},
  };
  return table;
}

// What the module at `path` exports under `name`, or null.
FARPROC ExportOf(const std::string &path, const char *name) {
  std::string key = PathKey(path);
  for (const SystemExport &x : SystemExports())
    if (strcmp(x.name, name) == 0 && key == PathKey(ProgramSystemDir() + "\\" + x.dll))
      return x.entry;
  auto lib = Config().libraries.find(key);
  if (lib == Config().libraries.end()) return nullptr;
  for (const std::string &exported : lib->second)
    if (exported == name) {
      auto entry = EntryPoints().find(name);
      if (entry != EntryPoints().end()) return entry->second;
    }
  return nullptr;
}

// The directories searched for a bare name, in order.  Systems with safe
// DLL search (XP and later) look in the current directory after the system
// and Windows directories; older ones right after the program's directory.
std::vector<std::string> SearchOrder() {
  const MachineConfig &c = Config();
  bool safe = c.platform == VER_PLATFORM_WIN32_NT && (c.major > 5 || (c.major == 5 && c.minor >= 1));
  std::vector<std::string> dirs{ProgramDir()};
  if (!safe) dirs.push_back(c.currentDir);
  dirs.push_back(c.systemDir);
  if (c.platform == VER_PLATFORM_WIN32_NT) dirs.push_back(c.windowsDir + "\\SYSTEM");
  dirs.push_back(c.windowsDir);
  if (safe) dirs.push_back(c.currentDir);
  return dirs;
}

}  // namespace

void RegisterEntryPoint(const std::string &name, FARPROC function) {
  EntryPoints()[name] = function;
}

uintptr_t StartModuleBase(const std::string &fileName) {
  const StartDll *d = FindStartDll(fileName);
  return d ? d->base : 0;
}

bool ModuleFileName(HMODULE module, std::string *path) {
  return FindModule(module ? reinterpret_cast<uintptr_t>(module) : kProgramModule, path);
}

}  // namespace winsim

using namespace winsim;

extern "C" {

UINT WINAPI SetErrorMode(UINT mode) {
  Fault("SetErrorMode");
  UINT previous = ErrorMode();
  ErrorMode() = mode;
  return previous;
}

HMODULE WINAPI LoadLibraryA(LPCSTR name) {
  if (DWORD e = Fault("LoadLibraryA", name)) {
    SetLastError(e);
    return nullptr;
  }
  if (!name || !*name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  // Trailing blanks are dropped ("kernel32   " loads kernel32).
  std::string file(name);
  file = LoaderName(file.erase(file.find_last_not_of(' ') + 1));
  std::string base = file.substr(FindLastChar(file, "\\/:") + 1);
  ResolvedPath found;
  bool ok = false;
  if (HasDirectoryPart(file)) {
    ok = FindFile(file, &found);
  } else if (IsPreloaded(base)) {
    ok = FindFile(Config().systemDir + "\\" + file, &found);
  } else {
    for (const std::string &dir : SearchOrder())
      if ((ok = FindFile(dir + "\\" + file, &found))) break;
  }
  if (!ok) {
    if (!(ErrorMode() & SEM_FAILCRITICALERRORS) && !IsPreloaded(base))
      JournalAppend("system-error-box " + QuoteText("The dynamic link library " + base +
                                                     " could not be found."));
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  // A module already in the process (mapped at start or loaded before)
  // keeps its handle; a new one is mapped at a new base.
  std::string key = PathKey(found.windows);
  uintptr_t handle = 0;
  for (const ModuleView &m : ProcessModules())
    if (PathKey(m.path) == key) handle = m.handle;
  if (!handle) {
    handle = Table().nextBase;
    Table().nextBase += 0x10000;
  }
  Module &loaded = Modules()[handle];
  if (loaded.references++ == 0) {
    loaded.path = found.windows;
    internal::Loaded().push_back(found.windows);
  }
  return reinterpret_cast<HMODULE>(handle);
}

// NULL is the exe's module, which exports nothing here.  A handle that is
// no module of the process fails with 126, a name the module does not
// export with 127 (what Wine's conformance test expects of Windows, and
// what wine64 gives).  A "name" below 0x10000 is an ordinal: winsim's
// modules export by name only.
FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR procName) {
  bool byOrdinal = reinterpret_cast<uintptr_t>(procName) <= 0xFFFF;
  if (DWORD e = Fault("GetProcAddress", byOrdinal ? nullptr : procName)) {
    SetLastError(e);
    return nullptr;
  }
  std::string path;
  if (!ModuleFileName(module, &path)) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  if (!byOrdinal)
    if (FARPROC entry = ExportOf(path, procName)) return entry;
  SetLastError(ERROR_PROC_NOT_FOUND);
  return nullptr;
}

// A start module stays mapped whatever FreeLibrary is called on it.
BOOL WINAPI FreeLibrary(HMODULE module) {
  if (DWORD e = Fault("FreeLibrary")) {
    SetLastError(e);
    return FALSE;
  }
  uintptr_t handle = reinterpret_cast<uintptr_t>(module);
  auto it = Modules().find(handle);
  if (it != Modules().end()) {
    if (--it->second.references == 0) Modules().erase(it);
    return TRUE;
  }
  for (const ModuleView &m : StartModules())
    if (m.handle == handle) return TRUE;
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

// A bare name is compared with the modules' file names, a name with a
// directory with their full paths, case-insensitively, after the loader's
// extension rule ("kernel32" is "kernel32.DLL", as the function's reference
// page says).  Trailing blanks are not dropped here: under wine64
// GetModuleHandleA("kernel32   ") is NULL with 126 while LoadLibraryA of
// the same name loads kernel32.
HMODULE WINAPI GetModuleHandleA(LPCSTR name) {
  Fault("GetModuleHandleA", name);
  if (!name) return reinterpret_cast<HMODULE>(kProgramModule);
  std::string wanted = LoaderName(name);
  bool fullPath = HasDirectoryPart(wanted);
  for (const ModuleView &m : ProcessModules()) {
    std::string base = m.path.substr(FindLastChar(m.path, "\\") + 1);
    if (fullPath ? PathKey(m.path) == PathKey(wanted) : UpperText(base) == UpperText(wanted))
      return reinterpret_cast<HMODULE>(m.handle);
  }
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

}  // extern "C"

namespace winsim {
// Number of libraries still loaded: a test checks that every load was
// released.
size_t LoadedModuleCount() { return Modules().size(); }
void ResetModules() { Table() = ModuleTable(); }
UINT ProcessErrorMode() { return ErrorMode(); }
}  // namespace winsim
