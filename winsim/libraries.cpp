// Dynamic loading over the machine's library table.
//
// A library exists when its file exists on the machine; the entry points it
// exports are listed in machine.ini [libraries] under its full path.  A DLL
// file that is not listed loads (its code would run: that is what a planted
// DLL does) but exports nothing.  Bare names are searched the way Windows
// searches them.
#include <cstring>
#include <map>

#include "codepage.h"
#include "machine.h"

namespace winsim {

namespace {

struct Module {
  std::string path;  // resolved Windows path
  int references = 0;
};

std::map<std::string, FARPROC> &EntryPoints() {
  static std::map<std::string, FARPROC> table;
  return table;
}

std::map<uintptr_t, Module> &Modules() {
  static std::map<uintptr_t, Module> modules;
  return modules;
}

UINT &ErrorMode() {
  static UINT mode = 0;
  return mode;
}

bool HasDirectoryPart(const std::string &name) {
  return name.find_first_of("\\/:") != std::string::npos;
}

std::string Upper(const std::string &s) { return UpperText(s); }

// Modules every process of ours has loaded at start: a bare name of one of
// them resolves to the loaded copy in the system directory, never a search.
// SETUPAPI.DLL is not among them: the program does not import it, and a
// bare name of it is searched for like any other.
bool IsPreloaded(const std::string &base) {
  static const char *names[] = {"KERNEL32.DLL", "NTDLL.DLL", "ADVAPI32.DLL", "USER32.DLL",
                                "GDI32.DLL", "MSVCRT.DLL"};
  for (const char *n : names)
    if (Upper(base) == n) return true;
  return false;
}

bool FindFile(const std::string &candidate, ResolvedPath *out) {
  return ResolveCallerPath(candidate.c_str(), out) == 0 && out->exists && !out->isDirectory;
}

std::string ProgramDir() {
  const std::string &p = Config().program;
  return p.substr(0, FindLastChar(p, "\\"));
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

namespace internal {
std::vector<std::string> &Loaded();
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
  std::string file(name);
  size_t cut = FindLastChar(file, "\\/:");
  std::string base = file.substr(cut == std::string::npos ? 0 : cut + 1);
  if (base.find('.') == std::string::npos) file += ".DLL";
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
  std::string key = PathKey(found.windows);
  for (auto &entry : Modules())
    if (PathKey(entry.second.path) == key) {
      ++entry.second.references;
      return reinterpret_cast<HMODULE>(entry.first);
    }
  static uintptr_t next = 0x10000000;
  uintptr_t handle = next;
  next += 0x10000;
  Modules()[handle] = Module{found.windows, 1};
  internal::Loaded().push_back(found.windows);
  return reinterpret_cast<HMODULE>(handle);
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR procName) {
  if (DWORD e = Fault("GetProcAddress", procName)) {
    SetLastError(e);
    return nullptr;
  }
  auto it = Modules().find(reinterpret_cast<uintptr_t>(module));
  if (it == Modules().end() || it->second.references <= 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  auto lib = Config().libraries.find(PathKey(it->second.path));
  if (lib != Config().libraries.end())
    for (const std::string &exported : lib->second)
      if (exported == procName) {
        auto entry = EntryPoints().find(procName);
        if (entry != EntryPoints().end()) return entry->second;
      }
  SetLastError(ERROR_PROC_NOT_FOUND);
  return nullptr;
}

BOOL WINAPI FreeLibrary(HMODULE module) {
  if (DWORD e = Fault("FreeLibrary")) {
    SetLastError(e);
    return FALSE;
  }
  auto it = Modules().find(reinterpret_cast<uintptr_t>(module));
  if (it == Modules().end() || it->second.references <= 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (--it->second.references == 0) Modules().erase(it);
  return TRUE;
}

HMODULE WINAPI GetModuleHandleA(LPCSTR name) {
  Fault("GetModuleHandleA", name);
  if (!name) return reinterpret_cast<HMODULE>(uintptr_t(0x00400000));
  for (auto &entry : Modules()) {
    const std::string &p = entry.second.path;
    std::string base = p.substr(FindLastChar(p, "\\") + 1);
    if (Upper(base) == Upper(name) || PathKey(p) == PathKey(name))
      return reinterpret_cast<HMODULE>(entry.first);
  }
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

}  // extern "C"

namespace winsim {
// Number of libraries still loaded: a test checks that every load was
// released.
size_t LoadedModuleCount() { return Modules().size(); }
void ResetModules() { Modules().clear(); ErrorMode() = 0; }
UINT ProcessErrorMode() { return ErrorMode(); }
}  // namespace winsim
