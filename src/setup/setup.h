// The run sequence and the running-application guard.
#ifndef VARSETUP_SETUP_SETUP_H
#define VARSETUP_SETUP_SETUP_H

#include <windows.h>

#include <string>
#include <vector>

#include "platform.h"

// Reads the OS version once and sets PlatformFamily.
void DetectPlatformFamily();

// Splits a Windows command line the usual way (runs of blanks and control
// characters separate arguments, double quotes group and are dropped, an
// empty pair of quotes at the start of an argument is skipped).  Element 0
// is the program.  Arguments of any length are taken whole.
std::vector<std::string> SplitCommandLine(const char *commandLine);
// Argument `index` of the process command line, or "" when missing.
std::string CommandLineArgument(size_t index);

// False after a refused profile-file write (ProfileWriteError).
[[nodiscard]] bool TuneVCache9x();
void ResetEngineSettings();

// The whole run; returns the process exit code (0, or 1 after a refused
// profile-file write, which ends the run with an error box).  It starts
// from the state a new process has (ResetRunState).
int RunSetup();
// Puts the run-wide state back to what a new process starts with: the
// guard's finding, the platform family, the WOW64 view of delayed moves and
// the last refused profile write.  The NewDev.dll binding is not part of
// it: WinMain binds it before the run and releases it after.
void ResetRunState();

// ---- running-application guard ----

// Called once per process: id, image path (may be empty), context.  Returns
// true to go on with the next process.
typedef BOOL (*ProcessVisitor)(DWORD processId, const char *imagePath, DWORD context);
extern bool ApplicationFound;
// Walks the running processes (Toolhelp or PSAPI, both looked up at run
// time); false when no walk could be made.
bool ForEachProcess(ProcessVisitor visitor, DWORD context);
BOOL MatchApplicationProcess(DWORD processId, const char *imagePath, DWORD context);

#endif  // VARSETUP_SETUP_SETUP_H
