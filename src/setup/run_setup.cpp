// The run sequence: from the directories to the last installer, and the one
// place where a refused profile-file write is reported.
#include <cstdint>
#include <cstring>
#include <vector>

#include "components/components.h"
#include "deploy/deploy.h"
#include "setup/setup.h"

void DetectPlatformFamily() {
  OSVERSIONINFOA info;
  std::memset(&info, 0, sizeof info);
  info.dwOSVersionInfoSize = sizeof info;
  bool is9x;
  if (GetVersionExA(&info))
    is9x = info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;
  else  // the high bit of GetVersion marks the 9x family
    is9x = (GetVersion() & 0x80000000u) != 0;
  PlatformFamily = is9x ? Family::Windows9x : Family::WindowsNT;
}

bool TuneVCache9x() {
  if (PlatformFamily != Family::Windows9x) return true;
  return WriteProfileEntry("System.ini", "VCache", "MinFileCache", "20480") &&
         WriteProfileEntry("System.ini", "VCache", "MaxFileCache", "20480");
}

void ResetEngineSettings() { DeleteRegTree(HKEY_CURRENT_USER, "Software\\Varentel\\Engine\\"); }

namespace {

typedef UINT(WINAPI *DirectoryQuery)(LPSTR, UINT);

// A directory the system reports, "" when the query fails.  A directory
// longer than the usual buffer is read again with the size it asked for.
std::string QueryDirectory(DirectoryQuery query) {
  std::vector<char> buffer(261);
  UINT length = query(buffer.data(), UINT(buffer.size()));
  if (length >= buffer.size()) {
    buffer.assign(size_t(length) + 1, '\0');
    length = query(buffer.data(), UINT(buffer.size()));
    if (length >= buffer.size()) return std::string();
  }
  return std::string(buffer.data(), length);
}

// Where the file name of a path begins: after its last backslash or colon
// character (the second byte of a double-byte character may have the value
// of either), 0 when it has none.
size_t FileNameStart(const std::string &path) {
  size_t start = 0;
  for (const char *p = path.c_str(); *p; p = CharNextA(p))
    if (*p == '\\' || *p == ':') start = size_t(p - path.c_str()) + 1;
  return start;
}

// The full path of the running program, "" when it cannot be read whole.
// Where long paths are enabled it may exceed MAX_PATH, up to the system's
// limit of 32767 characters: one buffer holds any of them.
std::string ModulePath() {
  const DWORD kLongestPath = 32768;  // characters, the zero included
  std::vector<char> buffer(kLongestPath);
  DWORD length = GetModuleFileNameA(nullptr, buffer.data(), kLongestPath);
  if (length == 0 || length >= kLongestPath) return std::string();
  return std::string(buffer.data(), length);
}

// The program's directory with its trailing backslash: the module path cut
// after its last backslash or colon.
std::string SourceDirectory() {
  std::string path = ModulePath();
  return path.substr(0, FileNameStart(path));
}

// An address as the system's C library prints a pointer: upper-case hex
// digits, two per byte of the pointer, zero-padded.
std::string PointerText(const void *address) {
  std::uintptr_t value = reinterpret_cast<std::uintptr_t>(address);
  std::string text(2 * sizeof value, '0');
  for (size_t i = text.size(); i-- > 0; value >>= 4) text[i] = "0123456789ABCDEF"[value & 0xF];
  return text;
}

// Shows the refused profile-file write that ended the run; returns the exit
// code of such a run.
int ReportProfileWriteError(const ProfileWriteError &error) {
  std::string module = ModulePath();
  module.erase(0, FileNameStart(module));
  std::string text = "Exception ProfileWriteError in module " + module + " at " +
                     PointerText(error.address) + ".\n" + error.message;
  if (text.back() != '.') text += '.';
  MessageBoxA(nullptr, text.c_str(), "Application Error", MB_ICONERROR | MB_TASKMODAL | MB_OK);
  return 1;
}

}  // namespace

void ResetRunState() {
  ApplicationFound = false;
  PlatformFamily = Family::WindowsNT;
  DetectWow64("");
  RefusedProfileWrite = ProfileWriteError();
}

int RunSetup() {
  ResetRunState();
  DetectPlatformFamily();

  // Nothing may be deployed while the application runs: refuse before
  // anything is read or changed.  A walk that cannot be made lets the run
  // go on.
  if (ForEachProcess(MatchApplicationProcess, 0) && ApplicationFound) {
    MessageBoxA(nullptr, "Please close Korvix-Studio, restart your machine and run setup again !",
                InstallerTitle, MB_OK);
    return 0;
  }

  const std::string systemDir = QueryDirectory(GetSystemDirectoryA);
  const std::string windowsDir = QueryDirectory(GetWindowsDirectoryA);
  const std::string sourceDir = SourceDirectory();

  // A refused profile-file write skips the remaining steps; the entries
  // written so far stay.
  if (!TuneVCache9x()) return ReportProfileWriteError(RefusedProfileWrite);
  ResetEngineSettings();

  // The component installers, in this order, each on its own copies.  A
  // system or Windows directory the system did not report would turn every
  // target into a name relative to the current directory: drivers would be
  // staged and queued there.  Without both directories nothing is installed.
  if (!systemDir.empty() && !windowsDir.empty()) {
    DetectWow64(systemDir);
    if (!InstallAspiLayer(sourceDir, windowsDir, systemDir) ||
        !InstallRealtimeKernel(sourceDir, windowsDir, systemDir))
      return ReportProfileWriteError(RefusedProfileWrite);
    InstallUsbAudioInf(sourceDir, windowsDir, systemDir);
    InstallUsbControllerPackage(sourceDir, windowsDir, systemDir);
  }

  // The disc extras come last, named by the command line.
  CopyDiscExtras(CommandLineArgument(1), CommandLineArgument(2));

  return 0;
}
