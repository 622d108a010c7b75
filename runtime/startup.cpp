// Process start-up and exit: the entry point the linker gives the program,
// the constructors of static objects, exit handlers, and the WinMain call.
#include <windows.h>

#include "runtime.h"

// Laid down by the linker's default PE script: -1, the constructors of
// every object file, 0.
extern "C" void (*__CTOR_LIST__[])();

namespace {

// The compiler registers the destructor of each static object here, from
// its constructor.  A handful exist; the table leaves room for many more.
const int kMaxExitHandlers = 64;
void (*exitHandlers[kMaxExitHandlers])();
int exitHandlerCount = 0;

// Runs the constructors the way the compiler's own start-up does: from the
// last entry of the list to the first.
void RunConstructors() {
  int count = 0;
  while (__CTOR_LIST__[count + 1]) ++count;
  for (int i = count; i >= 1; --i) __CTOR_LIST__[i]();
}

void RunExitHandlers() {
  while (exitHandlerCount > 0) exitHandlers[--exitHandlerCount]();
}

// The command line after the program's name and the blanks that follow it,
// which is what WinMain receives.  The name is quoted when it holds blanks.
LPSTR ArgumentsAfterProgram(LPSTR line) {
  if (*line == '"') {
    for (++line; *line && *line != '"'; ++line) {
    }
    if (*line) ++line;
  } else {
    while (static_cast<unsigned char>(*line) > ' ') ++line;
  }
  while (*line && static_cast<unsigned char>(*line) <= ' ') ++line;
  return line;
}

int ShowCommand() {
  STARTUPINFOA startup;
  startup.cb = sizeof startup;
  GetStartupInfoA(&startup);
  return (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWDEFAULT;
}

}  // namespace

extern "C" int atexit(void (*handler)()) {
  if (exitHandlerCount == kMaxExitHandlers) return -1;
  exitHandlers[exitHandlerCount++] = handler;
  return 0;
}

void RuntimeAbort() { ExitProcess(3); }

// The entry point.  A 32-bit program is entered with the stack aligned to
// four bytes only; the compiler keeps it at sixteen from here on.
extern "C" __attribute__((force_align_arg_pointer)) void WinMainCRTStartup() {
  RunConstructors();
  int code = WinMain(GetModuleHandleA(nullptr), nullptr, ArgumentsAfterProgram(GetCommandLineA()),
                     ShowCommand());
  RunExitHandlers();
  ExitProcess(UINT(code));
}
