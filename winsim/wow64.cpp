// WOW64: the 32-bit program on a 64-bit machine (machine.ini "bits=64").
//
// What Windows does, and where it is written down:
//
// File system redirector (Microsoft, "File System Redirector", Win32 docs,
// winprog64/file-system-redirector):
//   - a 32-bit process that names %windir%\System32 reaches %windir%\SysWOW64;
//     %windir%\lastgood\system32 likewise goes to lastgood\SysWOW64 and
//     %windir%\regedit.exe to SysWOW64\regedit.exe;
//   - exempt, and reached natively: System32\catroot, catroot2, driverstore,
//     drivers\etc, logfiles and spool (driverstore is redirected on Vista,
//     Server 2008 and older);
//   - %windir%\Sysnative is an alias that reaches the native System32 from a
//     32-bit process; it is no real folder, so no listing shows it;
//   - Wow64DisableWow64FsRedirection turns redirection off for the calling
//     thread until Wow64RevertWow64FsRedirection.
// GetSystemDirectoryA keeps answering System32 (the path the redirector
// rewrites); GetSystemWow64DirectoryA answers SysWOW64 and fails with
// ERROR_CALL_NOT_IMPLEMENTED on a 32-bit system (its reference page).
//
// Registry redirector (Microsoft, "Registry Redirector" and "Registry Keys
// Affected by WOW64"): a 32-bit process that names HKLM\SOFTWARE\X reaches
// HKLM\SOFTWARE\Wow6432Node\X, except below the shared keys; HKLM\SYSTEM is
// not redirected; KEY_WOW64_64KEY and KEY_WOW64_32KEY pick a view.  Only
// HKLM\SOFTWARE is modelled (HKCU\Software\Classes is not), and
// HKLM\SOFTWARE\Classes is taken as redirected as a whole (its shared
// sub-keys are not modelled).
//
// Delayed moves (MoveFileExA with MOVEFILE_DELAY_UNTIL_REBOOT) go into
// PendingFileRenameOperations as the program named them, without the file
// system redirector (observed under Wine; Microsoft's MoveFileEx page says
// nothing either way), and the 64-bit start-up carries them out on native
// paths: files.cpp queues the unredirected names and restart.cpp resolves
// them natively.
//
// Device installation from a 32-bit process fails with ERROR_IN_WOW64
// (Microsoft, "Device Installations on 64-Bit Systems", for
// UpdateDriverForPlugAndPlayDevices; that SetupDiCallClassInstaller fails
// the same way for a 32-bit caller is reported, not documented: Stack
// Overflow question 8685183): setupapi.cpp, newdev.cpp.  EnumProcessModules from a 32-bit
// process on a 64-bit process fails with ERROR_PARTIAL_COPY (its reference
// page), QueryFullProcessImageNameA (Vista and later) reads the image path
// of either: processes.cpp.
#include "wow64.h"

#include <cstring>
#include <sstream>
#include <vector>

#include "drives.h"
#include "faults.h"
#include "libraries.h"
#include "machine.h"
#include "machine_text.h"
#include "paths.h"

namespace winsim {

namespace {

// Per thread, as Windows keeps it: true while the program has redirection
// turned off.
thread_local bool redirectionOff = false;

std::vector<std::string> SplitParts(const std::string &path) {
  std::vector<std::string> parts;
  for (const std::string &part : SplitAtChar(path, '\\')) {
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.push_back(part);
  }
  return parts;
}

// "X:" and the parts of an absolute form of `path`, made without looking
// at the disk; false for names this cannot place (UNC, no drive).
bool AbsoluteParts(const std::string &raw, std::string *drive, std::vector<std::string> *parts) {
  std::string p(raw);
  for (char &c : p)
    if (c == '/') c = '\\';
  const std::string &cwd = Config().currentDir;
  std::string full;
  if (p.size() >= 2 && p[1] == ':') {
    if (p.size() >= 3 && p[2] == '\\')
      full = p;
    else if (cwd.size() >= 2 && toupper((unsigned char)cwd[0]) == toupper((unsigned char)p[0]))
      full = cwd + "\\" + p.substr(2);
    else
      full = p.substr(0, 2) + "\\" + p.substr(2);
  } else if (p.size() >= 2 && p[0] == '\\' && p[1] == '\\') {
    return false;
  } else if (!p.empty() && p[0] == '\\') {
    full = cwd.substr(0, 2) + p;
  } else {
    full = cwd + "\\" + p;
  }
  if (full.size() < 2 || full[1] != ':') return false;
  *drive = UpperText(full.substr(0, 2));
  *parts = SplitParts(full.substr(2));
  return true;
}

bool Is(const std::vector<std::string> &parts, size_t i, const char *upper) {
  return i < parts.size() && UpperText(parts[i]) == upper;
}

// Driverstore became exempt with Windows 7 (6.1).
bool DriverStoreExempt() {
  const MachineConfig &c = Config();
  return c.major > 6 || (c.major == 6 && c.minor >= 1);
}

}  // namespace

// The folder's name as it is stored on the machine (Windows reports the
// name the folder has; a Wine prefix has "syswow64").
std::string Wow64SystemDir() {
  std::string dir = Config().windowsDir + "\\SysWOW64";
  ResolvedPath r;
  if (ResolvePath(dir.c_str(), &r) == 0 && r.exists) return r.windows;
  return dir;
}

std::string RedirectedPath(const char *path) {
  if (!path || !Config().wow64 || redirectionOff) return path ? path : "";
  std::string drive, windowsDrive;
  std::vector<std::string> parts, windows;
  if (!AbsoluteParts(path, &drive, &parts) ||
      !AbsoluteParts(Config().windowsDir, &windowsDrive, &windows) || drive != windowsDrive ||
      parts.size() <= windows.size())
    return path;
  for (size_t i = 0; i < windows.size(); ++i)
    if (UpperText(parts[i]) != UpperText(windows[i])) return path;
  const size_t at = windows.size();
  if (Is(parts, at, "SYSNATIVE")) {
    parts[at] = "System32";
  } else if (Is(parts, at, "SYSTEM32")) {
    bool exempt = Is(parts, at + 1, "CATROOT") || Is(parts, at + 1, "CATROOT2") ||
                  Is(parts, at + 1, "LOGFILES") || Is(parts, at + 1, "SPOOL") ||
                  (Is(parts, at + 1, "DRIVERSTORE") && DriverStoreExempt()) ||
                  (Is(parts, at + 1, "DRIVERS") && Is(parts, at + 2, "ETC"));
    if (exempt) return path;
    parts[at] = "SysWOW64";
  } else if (Is(parts, at, "LASTGOOD") && Is(parts, at + 1, "SYSTEM32")) {
    parts[at + 1] = "SysWOW64";
  } else if (Is(parts, at, "REGEDIT.EXE") && parts.size() == at + 1) {
    parts.insert(parts.begin() + at, "SysWOW64");
  } else {
    return path;
  }
  std::string out = drive;
  for (const std::string &part : parts) out += "\\" + part;
  if (EndsWithChar(path, '\\') || EndsWithChar(path, '/')) out += "\\";
  return out;
}

DWORD ResolveCallerPath(const char *path, ResolvedPath *out) {
  DWORD e = !path || !Config().wow64 ? ResolvePath(path, out)
                                     : ResolvePath(RedirectedPath(path).c_str(), out);
  if (e == ERROR_NOT_READY) NotReadyDriveBox(out->drive);
  return e;
}

std::string RedirectedKeyPath(const std::string &fullPath, REGSAM sam) {
  if (!Config().wow64 || (sam & KEY_WOW64_64KEY)) return fullPath;
  std::vector<std::string> parts = SplitParts(fullPath);
  if (parts.size() < 3 || UpperText(parts[0]) != "HKLM" || UpperText(parts[1]) != "SOFTWARE" ||
      Is(parts, 2, "WOW6432NODE"))
    return fullPath;
  // Shared keys below SOFTWARE (Windows 7 and later), reached by both views.
  static const char *const kShared[] = {
      "MICROSOFT\\COM3",
      "MICROSOFT\\CRYPTOGRAPHY\\CALAIS\\CURRENT",
      "MICROSOFT\\CRYPTOGRAPHY\\CALAIS\\READERS",
      "MICROSOFT\\CRYPTOGRAPHY\\SERVICES",
      "MICROSOFT\\CTF\\SYSTEMSHARED",
      "MICROSOFT\\CTF\\TIP",
      "MICROSOFT\\DFS",
      "MICROSOFT\\DRIVER SIGNING",
      "MICROSOFT\\ENTERPRISECERTIFICATES",
      "MICROSOFT\\EVENTSYSTEM",
      "MICROSOFT\\MSMQ",
      "MICROSOFT\\NON-DRIVER SIGNING",
      "MICROSOFT\\NOTEPAD\\DEFAULTFONTS",
      "MICROSOFT\\OLE",
      "MICROSOFT\\RAS",
      "MICROSOFT\\RPC",
      "MICROSOFT\\SOFTWARE\\MICROSOFT\\SHARED TOOLS\\MSINFO",
      "MICROSOFT\\SYSTEMCERTIFICATES",
      "MICROSOFT\\TERMSERVLICENSING",
      "MICROSOFT\\TRANSACTION SERVER",
      "MICROSOFT\\WINDOWS\\CURRENTVERSION\\APP PATHS",
      "MICROSOFT\\WINDOWS\\CURRENTVERSION\\CONTROL PANEL\\CURSORS\\SCHEMES",
      "MICROSOFT\\WINDOWS\\CURRENTVERSION\\EXPLORER\\AUTOPLAYHANDLERS",
      "MICROSOFT\\WINDOWS\\CURRENTVERSION\\EXPLORER\\DRIVEICONS",
      "MICROSOFT\\WINDOWS\\CURRENTVERSION\\EXPLORER\\KINDMAP",
      "MICROSOFT\\WINDOWS\\CURRENTVERSION\\GROUP POLICY",
      "MICROSOFT\\WINDOWS\\CURRENTVERSION\\POLICIES",
      "MICROSOFT\\WINDOWS\\CURRENTVERSION\\PREVIEWHANDLERS",
      "MICROSOFT\\WINDOWS\\CURRENTVERSION\\SETUP",
      "MICROSOFT\\WINDOWS\\CURRENTVERSION\\TELEPHONY\\LOCATIONS",
      "MICROSOFT\\WINDOWS NT\\CURRENTVERSION\\CONSOLE",
      "MICROSOFT\\WINDOWS NT\\CURRENTVERSION\\FONTDPI",
      "MICROSOFT\\WINDOWS NT\\CURRENTVERSION\\FONTLINK",
      "MICROSOFT\\WINDOWS NT\\CURRENTVERSION\\FONTMAPPER",
      "MICROSOFT\\WINDOWS NT\\CURRENTVERSION\\FONTS",
      "MICROSOFT\\WINDOWS NT\\CURRENTVERSION\\FONTSUBSTITUTES",
      "MICROSOFT\\WINDOWS NT\\CURRENTVERSION\\GRE_INITIALIZE",
      "MICROSOFT\\WINDOWS NT\\CURRENTVERSION\\IMAGE FILE EXECUTION OPTIONS",
      "MICROSOFT\\WINDOWS NT\\CURRENTVERSION\\LANGUAGEPACK",
      "MICROSOFT\\WINDOWS NT\\CURRENTVERSION\\NETWORKCARDS",
      "MICROSOFT\\WINDOWS NT\\CURRENTVERSION\\PERFLIB",
      "MICROSOFT\\WINDOWS NT\\CURRENTVERSION\\PORTS",
      "MICROSOFT\\WINDOWS NT\\CURRENTVERSION\\PRINT",
      "MICROSOFT\\WINDOWS NT\\CURRENTVERSION\\PROFILELIST",
      "MICROSOFT\\WINDOWS NT\\CURRENTVERSION\\TIME ZONES",
      "POLICIES",
      "REGISTEREDAPPLICATIONS",
  };
  std::string below;
  for (size_t i = 2; i < parts.size(); ++i) below += (i > 2 ? "\\" : "") + UpperText(parts[i]);
  for (const char *shared : kShared) {
    size_t n = strlen(shared);
    if (below.compare(0, n, shared) == 0 && (below.size() == n || below[n] == '\\')) return fullPath;
  }
  std::string out = parts[0] + "\\" + parts[1] + "\\Wow6432Node";
  for (size_t i = 2; i < parts.size(); ++i) out += "\\" + parts[i];
  return out;
}

}  // namespace winsim

using namespace winsim;

extern "C" {

HANDLE WINAPI GetCurrentProcess(void) { return reinterpret_cast<HANDLE>(intptr_t(-1)); }

UINT WINAPI GetSystemWow64DirectoryA(LPSTR buffer, UINT size) {
  if (DWORD e = Fault("GetSystemWow64DirectoryA")) {
    SetLastError(e);
    return 0;
  }
  if (!Config().wow64) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
  }
  // As GetSystemDirectoryA: the length without the zero when it fits, else
  // the size needed with it.
  std::string dir = Wow64SystemDir();
  if (!buffer || dir.size() + 1 > size) return UINT(dir.size() + 1);
  memcpy(buffer, dir.c_str(), dir.size() + 1);
  return UINT(dir.size());
}

BOOL WINAPI Wow64DisableWow64FsRedirection(PVOID *oldValue) {
  if (DWORD e = Fault("Wow64DisableWow64FsRedirection")) {
    SetLastError(e);
    return FALSE;
  }
  if (!Config().wow64) {
    SetLastError(ERROR_INVALID_FUNCTION);
    return FALSE;
  }
  if (oldValue) *oldValue = reinterpret_cast<PVOID>(intptr_t(redirectionOff ? 1 : 0));
  redirectionOff = true;
  return TRUE;
}

BOOL WINAPI Wow64RevertWow64FsRedirection(PVOID oldValue) {
  if (DWORD e = Fault("Wow64RevertWow64FsRedirection")) {
    SetLastError(e);
    return FALSE;
  }
  if (!Config().wow64) {
    SetLastError(ERROR_INVALID_FUNCTION);
    return FALSE;
  }
  redirectionOff = oldValue != nullptr;
  return TRUE;
}

}  // extern "C"

namespace {

// Handed out by GetProcAddress where the machine's kernel32 lists them
// (machine.ini [libraries]); IsWow64Process and QueryFullProcessImageNameA
// live with the other process functions.
struct RegisterWow64EntryPoints {
  RegisterWow64EntryPoints() {
    RegisterEntryPoint("GetSystemWow64DirectoryA", AsProc(&GetSystemWow64DirectoryA));
    RegisterEntryPoint("Wow64DisableWow64FsRedirection", AsProc(&Wow64DisableWow64FsRedirection));
    RegisterEntryPoint("Wow64RevertWow64FsRedirection", AsProc(&Wow64RevertWow64FsRedirection));
  }
} registerWow64EntryPoints;

}  // namespace
