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
// entry, resolve paths with ResolvePath() and persist every change at once,
// so a machine on disk is always complete, also when the process dies.
#ifndef WINSIM_MACHINE_H
#define WINSIM_MACHINE_H

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

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
  // Sections and keys we do not interpret but must keep when rewriting.
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

// Does what Windows does at its next start on the attached machine: the 9x
// family carries out WININIT.INI [rename] (then renames it WININIT.BAK), the
// NT family the PendingFileRenameOperations pairs (then deletes the value).
// Appends "restart" to the journal.  False only when no machine is attached.
// `skipped`, when given, receives each move or deletion that did nothing.
struct RestartSkipped {
  std::string via;     // "WININIT.INI" or "pending"
  std::string what;    // "TARGET <- SOURCE" or "delete SOURCE"
  std::string reason;  // "source missing", "target read-only", ...
};
bool RestartMachine(std::string *error, std::vector<RestartSkipped> *skipped = nullptr);

// ---- paths ----

struct ResolvedPath {
  std::string windows;  // normalised: "C:\DIR\NAME", stored case for existing parts
  std::string host;     // the Linux path inside drives/<x>/
  char drive = 0;       // upper-case letter
  bool exists = false;
  bool isDirectory = false;
  bool parentExists = false;  // the directory that holds it exists
  bool isRoot = false;
};

// Resolves a Windows path (absolute, drive-relative "C:NAME", or relative to
// the current directory; '/' accepted as a separator; "." and ".." applied
// lexically and never above the root) to the machine's file system.
// Names are matched case-insensitively.  Returns 0, or the error Windows
// gives: ERROR_PATH_NOT_FOUND for a missing drive or a missing directory on
// the way, ERROR_NOT_READY for a removable or CD-ROM drive without a medium,
// ERROR_INVALID_NAME for characters Windows refuses.
DWORD ResolvePath(const char* path, ResolvedPath* out);
// Upper-cased normalised Windows path: the key under which attributes, files
// in use and libraries are looked up.
std::string PathKey(const std::string& windowsPath);
// The Linux directory of drive `letter` inside the machine.
std::string DriveHostDir(char letter);

// ---- WOW64 (wow64.cpp) ----

// The path a call of the program reaches: on a 64-bit machine the file
// system redirector's rewrite of `path` (System32 -> SysWOW64 outside the
// exempt folders, Sysnative -> System32) unless the program turned
// redirection off; else `path` unchanged.
std::string RedirectedPath(const char *path);
// ResolvePath of the redirected path: what the program's file calls use.
// ResolvePath itself always resolves native paths (the tools, the restart).
// A drive without its medium brings up the system's box first (see
// NotReadyDriveBox).
DWORD ResolveCallerPath(const char *path, ResolvedPath *out);
// The 32-bit system folder of a 64-bit machine ("C:\Windows\SysWOW64").
std::string Wow64SystemDir();
// The registry redirector: a full key path "HKLM\..." as the program names
// it, and the access flags it asked for, to the key path it reaches.
std::string RedirectedKeyPath(const std::string &fullPath, REGSAM sam);

// ---- attributes that POSIX cannot hold ----

// The attributes of an existing file or directory (without the directory
// bit, which the caller adds from the file system).  Files not listed carry
// FILE_ATTRIBUTE_ARCHIVE, as freshly written files do.
DWORD StoredAttributes(const ResolvedPath& path);
void StoreAttributes(const ResolvedPath& path, DWORD attributes);
void ForgetAttributes(const ResolvedPath& path);
bool IsInUse(const ResolvedPath& path);

// ---- faults ----

// A rule that makes a call fail.  `call` is the API name ("CopyFileA"), or
// "*" for any call.  `nth` counts the calls this rule matches (1 = the first
// matching call); 0 fires on every matching call.  `pathContains` (case-
// insensitive) restricts the rule to calls whose path arguments contain it.
struct FaultRule {
  std::string call;
  DWORD error = ERROR_ACCESS_DENIED;
  unsigned long nth = 0;
  std::string pathContains;
  unsigned long seen = 0;  // matching calls so far
  // Not negative: the call does not fail; the process ends on entering it,
  // with this exit status, before the call does anything, as when its task
  // is ended or the power fails.  The call before it was the last to run;
  // no code of the program runs after it, and what the machine holds is
  // what the calls made so far wrote (every change is on disk at once).
  int endProcessStatus = -1;
};
void AddFault(const FaultRule& rule);
void ClearFaults();
// Every API call enters through here: it is counted, recorded in the call log
// when that is on, and checked against the fault rules.  Returns 0, or the
// error the call must fail with (the caller sets it as Windows would).
// `detail` (flags and the like) is logged after the paths but never matched
// by a rule's path.
DWORD Fault(const char* call, const char* path1 = nullptr, const char* path2 = nullptr,
            const std::string& detail = std::string());
unsigned long CallCount();
// Call log: "CopyFileA C:\A C:\B" per call (then the detail, if any), while
// enabled.
void EnableCallLog(bool on);
const std::vector<std::string>& CallLog();

// ---- the journal: what the user saw ----
void JournalAppend(const std::string& line);
std::vector<std::string> ReadJournal();
// Quotes a text for the journal and the dump: "..." with \" \\ and \xNN.
std::string QuoteText(const std::string& text);

// ---- libraries ----
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

// ---- drives ----
// What the system does when a call of the program reaches drive `letter`
// and finds no medium in it: without SEM_FAILCRITICALERRORS in the error
// mode its critical-error box, recorded in the journal (files.cpp).
void NotReadyDriveBox(char letter);

// ---- profiles ----
// Drops the 9x profile cache (at attach, detach and restart).
void ResetProfileCache();
// Registry key handles of this attachment not closed yet (predefined roots
// are no handles).
size_t OpenKeyCount();

// ---- registry store, shared by registry.cpp, devices.cpp, files.cpp ----
namespace reg {

struct Value {
  std::string name;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

struct Key {
  std::string name;  // as created
  Key *parent = nullptr;
  std::vector<Value> values;         // in creation order
  std::vector<Key *> subkeys;        // sorted case-insensitively
  bool deleted = false;
  // The class given to RegCreateKeyExA and the time of the last change, as
  // 100 ns units since 1601.  REGEDIT4 holds neither: they last while the
  // machine is attached (a key read from the file is as old as the reading).
  std::string className;
  uint64_t lastWrite = 0;
};

// Root of a hive: HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER (nullptr for others).
Key *Root(HKEY predefined);
// Looks a relative path up ("A\B\C", trailing backslash accepted); nullptr
// when a part is missing.
Key *Find(Key *base, const std::string &path);
// Creates every missing part; returns the key (never nullptr for a valid
// path) and whether it was new.
Key *Create(Key *base, const std::string &path, bool *created);
Value *FindValue(Key *key, const std::string &name);
void SetValue(Key *key, const std::string &name, DWORD type, const BYTE *data, DWORD size);
bool DeleteValue(Key *key, const std::string &name);
// Deletes a key with its whole subtree.
void DeleteTree(Key *key);
std::string FullPath(const Key *key);  // "HKLM\SYSTEM\..."
// Writes the hive of `key` (or both) to its REGEDIT4 file atomically.
void Save(const Key *key = nullptr);
// Loads registry/HKLM.reg and registry/HKCU.reg of the machine in `dir`
// (missing files are empty hives); false with "file:line: message" when a
// file does not parse.
bool Load(const std::string &dir, std::string *error);
void Unload();

}  // namespace reg

}  // namespace winsim

#endif  // WINSIM_MACHINE_H
