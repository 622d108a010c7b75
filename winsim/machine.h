// The simulated machine: what every winsim area shares.
//
// A machine is a directory:
//   machine.ini      what the OS reports (version, directories, drives,
//                    libraries, processes, files in use); see LoadMachine
//   drives/<x>/      the contents of drive X:, one folder per letter
//   attributes.txt   file attributes POSIX cannot hold ("0x21 C:\PATH")
//   registry/HKLM.reg, registry/HKCU.reg   REGEDIT4 hives
//   journal.txt      what the user saw: message boxes and the exit code
//
// The API implementations (files.cpp, registry.cpp, ...) call Fault() on
// entry (faults.h), resolve paths with ResolvePath() (paths.h) and persist
// every change at once, so a machine on disk is always complete, also when
// the process dies.
#ifndef WINSIM_MACHINE_H
#define WINSIM_MACHINE_H

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

// machine.cpp keeps, beside the description, the path resolution and the
// attribute table; users of the whole machine (the tools, the tests and
// other harnesses) reach them through this header too.
#include "attributes.h"
#include "paths.h"

namespace winsim {

enum class DriveKind { None, Removable, Fixed, Remote, Cdrom, Ramdisk };

struct SimProcess {
  DWORD id = 0;
  std::string image;    // full image path as the OS reports it
  bool denied = false;  // OpenProcess refuses it (system processes)
  bool native64 = false;  // a 64-bit process of a 64-bit system (see wow64.cpp)
};

// Everything machine.ini says, parsed and validated.
struct MachineConfig {
  DWORD platform = VER_PLATFORM_WIN32_NT;
  DWORD major = 5, minor = 1, build = 2600;
  std::string csd;
  std::string windowsDir;  // C:\WINDOWS (no trailing backslash)
  std::string systemDir;   // C:\WINDOWS\system32
  std::string program;     // full path of the running program (module file name)
  std::string currentDir;  // defaults to the program's directory
  std::string commandLine; // the whole Windows command line, program included
  UINT codePage = 1252;
  // A 64-bit system: the program (32-bit) runs under WOW64, with the file
  // system and registry redirectors of wow64.cpp.
  bool wow64 = false;
  std::map<char, DriveKind> drives;  // upper-case letters
  // Library path (upper-cased Windows path) -> exported entry points.
  std::map<std::string, std::vector<std::string>> libraries;
  std::vector<SimProcess> processes;
  std::vector<std::string> inUse;  // Windows paths held open without sharing
  // Device instance IDs ("ROOT\REALTIME\0000") whose nodes are in the hive
  // but whose devices are not present: phantoms, left by a device that is
  // no longer attached or no longer enumerated.
  std::vector<std::string> absentDevices;
  // Registry keys that refuse KEY_ALL_ACCESS: "HKLM\PATH" (upper-cased).
  std::vector<std::string> deniedKeys;
  bool Is9x() const { return platform == VER_PLATFORM_WIN32_WINDOWS; }
};

// ---- the attached machine ----

// Attaches the machine in `dir` (loads machine.ini, the hives and the
// attributes).  Returns false with a message naming the file (and line) on
// any malformed input; nothing is changed then.
bool Attach(const std::string& dir, std::string* error);
void Detach();
bool Attached();
const std::string& MachineDir();
MachineConfig& Config();
// Rewrites machine.ini from Config() (used by the tools and tests that change
// the machine's description).
bool SaveConfig(std::string* error);

// Parses machine.ini text; `file` names it in error messages.
bool ParseMachineIni(const std::string& text, const std::string& file, MachineConfig* out,
                     std::string* error);
std::string FormatMachineIni(const MachineConfig& config);

// Creates a new machine in `dir` (missing or empty) as a copy of the template
// directory `templateDir` (machine.ini, drives/, registry/; files named
// ".gitkeep" only hold empty folders in the repository and are not copied).
bool CreateMachine(const std::string &templateDir, const std::string &dir, std::string *error);
// samples/machines/<name> of the source tree, or `name` itself when it is a
// path to a directory.
std::string TemplateDir(const std::string &name);

}  // namespace winsim

#endif  // WINSIM_MACHINE_H
