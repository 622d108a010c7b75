// The libraries and modules of the program's process (libraries.cpp): what
// LoadLibraryA loaded, the entry points GetProcAddress hands out, the
// modules every process starts with, the process error mode.
#ifndef WINSIM_LIBRARIES_H
#define WINSIM_LIBRARIES_H

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace winsim {

// Names of the libraries LoadLibraryA loaded so far in this attachment
// (resolved Windows paths), for checks that a planted DLL never loads.
const std::vector<std::string>& LoadedLibraries();
// Registers an implementation that GetProcAddress hands out when a loaded
// library exports `name` (the areas register theirs at start-up).
void RegisterEntryPoint(const std::string& name, FARPROC function);
// A simulated entry point as GetProcAddress hands it out: a cast through
// void(*)(), which any function pointer may take.
template <typename Function>
FARPROC AsProc(Function* function) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}
// The module handle of the program's exe (its preferred base), which
// GetModuleHandleA(NULL) returns.
const uintptr_t kProgramModule = 0x00400000;
// The module handle of a system DLL every process has mapped from the start
// ("KERNEL32.DLL"), 0 for another name.
uintptr_t StartModuleBase(const std::string& fileName);
// The file of a module of the program's process (null: the exe); false when
// `module` is none.
bool ModuleFileName(HMODULE module, std::string* path);
// Libraries still loaded (a test checks every load was released).
size_t LoadedModuleCount();
void ResetModules();
// The process error mode SetErrorMode set last (0 at start).
UINT ProcessErrorMode();

namespace internal {
// The list LoadedLibraries reads, kept with the attached machine's state
// (machine.cpp) so that attaching starts it empty.
std::vector<std::string> &Loaded();
}  // namespace internal

}  // namespace winsim

#endif  // WINSIM_LIBRARIES_H
