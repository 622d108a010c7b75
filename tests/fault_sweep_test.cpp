// Every platform call of a full run, failed once: for each machine template
// the calls of a clean run are counted, then the run is repeated on a fresh
// copy of the machine with call N failing, for every N.  After each run and
// after the restart that follows it, the machine must hold nothing lost,
// nothing torn and nothing the run should not have written.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "processes.h"
#include "sweep.h"
#include "test_machine.h"

namespace fs = std::filesystem;

namespace {

// The error each call gets, as Windows gives it for that call.  Calls with
// several plausible errors take them in turn (by the run number), so that a
// sweep sees each of them somewhere.
std::vector<DWORD> ErrorsFor(const std::string &call) {
  static const std::map<std::string, std::vector<DWORD>> table = {
      {"CopyFileA", {ERROR_ACCESS_DENIED, ERROR_DISK_FULL, ERROR_SHARING_VIOLATION}},
      {"MoveFileExA", {ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION}},
      {"DeleteFileA", {ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION}},
      {"GetFileAttributesA", {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED}},
      {"SetFileAttributesA", {ERROR_ACCESS_DENIED}},
      {"FindFirstFileA", {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED}},
      {"FindNextFileA", {ERROR_NO_MORE_FILES}},
      {"FindClose", {ERROR_INVALID_HANDLE}},
      {"GetDriveTypeA", {ERROR_NOT_READY}},
      {"GetPrivateProfileSectionA", {ERROR_FILE_NOT_FOUND, ERROR_NOT_ENOUGH_MEMORY}},
      {"GetPrivateProfileStringA", {ERROR_FILE_NOT_FOUND}},
      {"WritePrivateProfileStringA", {ERROR_ACCESS_DENIED, ERROR_DISK_FULL}},
      {"WritePrivateProfileSectionA", {ERROR_ACCESS_DENIED, ERROR_DISK_FULL}},
      {"RegOpenKeyExA", {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED}},
      {"RegCreateKeyExA", {ERROR_ACCESS_DENIED}},
      {"RegSetValueExA", {ERROR_ACCESS_DENIED}},
      {"RegQueryValueExA", {ERROR_FILE_NOT_FOUND}},
      {"RegDeleteKeyA", {ERROR_ACCESS_DENIED}},
      {"RegDeleteValueA", {ERROR_ACCESS_DENIED}},
      {"RegEnumKeyExA", {ERROR_ACCESS_DENIED}},
      {"RegEnumValueA", {ERROR_ACCESS_DENIED}},
      {"RegQueryInfoKeyA", {ERROR_ACCESS_DENIED}},
      {"RegCloseKey", {ERROR_INVALID_HANDLE}},
      {"HeapAlloc", {ERROR_NOT_ENOUGH_MEMORY}},  // returns NULL
      {"HeapFree", {ERROR_INVALID_PARAMETER}},
      {"LoadLibraryA", {ERROR_MOD_NOT_FOUND, ERROR_NOT_ENOUGH_MEMORY}},
      {"GetProcAddress", {ERROR_PROC_NOT_FOUND}},
      {"FreeLibrary", {ERROR_INVALID_HANDLE}},
      {"GetModuleHandleA", {ERROR_MOD_NOT_FOUND}},
      {"GetSystemDirectoryA", {ERROR_NOT_ENOUGH_MEMORY}},
      {"GetWindowsDirectoryA", {ERROR_NOT_ENOUGH_MEMORY}},
      {"GetModuleFileNameA", {ERROR_INSUFFICIENT_BUFFER}},
      {"GetVersionExA", {ERROR_INSUFFICIENT_BUFFER}},
      {"MessageBoxA", {ERROR_NOT_ENOUGH_MEMORY}},
      {"OpenProcess", {ERROR_ACCESS_DENIED, ERROR_INVALID_PARAMETER}},
      {"EnumProcesses", {ERROR_NOT_ENOUGH_MEMORY}},
      {"EnumProcessModules", {ERROR_PARTIAL_COPY, ERROR_ACCESS_DENIED}},
      {"GetModuleFileNameExA", {ERROR_ACCESS_DENIED, ERROR_PARTIAL_COPY}},
      {"CreateToolhelp32Snapshot", {ERROR_NOT_ENOUGH_MEMORY}},
      {"Process32First", {ERROR_NO_MORE_FILES}},
      {"Process32Next", {ERROR_NO_MORE_FILES}},
      {"CloseHandle", {ERROR_INVALID_HANDLE}},
      {"SetupDiGetClassDevsA", {ERROR_NOT_ENOUGH_MEMORY}},
      {"SetupDiCreateDeviceInfoList", {ERROR_NOT_ENOUGH_MEMORY}},
      {"SetupDiEnumDeviceInfo", {ERROR_NO_MORE_ITEMS}},
      {"SetupDiGetDeviceRegistryPropertyA", {ERROR_INVALID_DATA, ERROR_INSUFFICIENT_BUFFER}},
      {"SetupDiSetDeviceRegistryPropertyA", {ERROR_ACCESS_DENIED}},
      {"SetupDiCreateDeviceInfoA", {ERROR_ACCESS_DENIED, ERROR_NOT_ENOUGH_MEMORY}},
      {"SetupDiCallClassInstaller", {ERROR_ACCESS_DENIED}},
      {"SetupDiGetINFClassA", {ERROR_FILE_NOT_FOUND}},
      {"SetupDiDestroyDeviceInfoList", {ERROR_INVALID_HANDLE}},
      {"UpdateDriverForPlugAndPlayDevicesA", {ERROR_ACCESS_DENIED, ERROR_FILE_NOT_FOUND}},
      {"IsWow64Process", {ERROR_ACCESS_DENIED}},
      {"GetSystemWow64DirectoryA", {ERROR_NOT_ENOUGH_MEMORY}},
      {"QueryFullProcessImageNameA", {ERROR_ACCESS_DENIED, ERROR_PARTIAL_COPY}},
  };
  auto it = table.find(call);
  if (it != table.end()) return it->second;
  return {ERROR_ACCESS_DENIED};
}

// The machine right after run n (before the restart): its exit code, its
// boxes, its handles, its profile files.  Run 0 is the clean run.
void CheckRun(sweep::Sweep &sweep, std::set<std::string> &cleanBoxes, unsigned long n,
              const std::string &call, int code) {
  const winsim::MachineSnapshot after = sweep.Take();
  bool errorBox = false;
  int copyBoxes = 0;
  for (const std::string &line : after.journal) {
    if (line.rfind("messagebox ", 0) != 0) continue;
    if (line.find("caption=\"Application Error\"") != std::string::npos &&
        line.find("Unable to write to ") != std::string::npos)
      errorBox = true;
    else if (line.find("caption=\"Varentel Installation\" text=\"Unable to copy ") !=
             std::string::npos) {
      // The clean run's own boxes (a target folder the template lacks)
      // come again; a failed copy adds its one.
      if (n == 0) cleanBoxes.insert(line);
      if (!cleanBoxes.count(line)) ++copyBoxes;
    }
    else
      sweep.Fail(n, call, "box not allowed: " + line);
  }
  // The call WriteProfileEntry makes; the cache flush before the [386Enh]
  // read (all arguments but the file NULL) reports nothing when it fails.
  const bool profileWrite = call == "WritePrivateProfileStringA" &&
                            !(n < sweep.calls.size() && sweep.calls[n].rfind("GetPrivateProfileSectionA", 0) == 0);
  if (code == 1) {
    if (!profileWrite || !errorBox) sweep.Fail(n, call, "exit code 1 without a refused profile write");
  } else if (code == 0) {
    if (profileWrite) sweep.Fail(n, call, "refused profile write not reported");
    if (errorBox) sweep.Fail(n, call, "error box with exit code 0");
  } else {
    sweep.Fail(n, call, "exit code " + std::to_string(code));
  }
  // Every handle the run opened is closed (a close that was made to fail
  // leaves its handle open, as on Windows).
  if (winsim::OpenHandleCount() != sweep.handlesBefore && call != "FindClose" && call != "CloseHandle")
    sweep.Fail(n, call, "a handle was left open");
  // Only the failed copy adds a box.
  if (copyBoxes > 1 || (copyBoxes == 1 && call != "CopyFileA"))
    sweep.Fail(n, call, std::to_string(copyBoxes) + " copy-failure boxes");
  for (const auto &profile : after.profiles) {
    std::string problem = sweep::ProfileProblem(profile.first, profile.second);
    if (!problem.empty()) sweep.Fail(n, call, "after the run: " + problem);
  }
}

// A template name, with "+ro" for a run whose component files carry the
// read-only attribute (copied from a CD-ROM), like the disc's own files.
class FaultSweep : public ::testing::TestWithParam<std::string> {};

TEST_P(FaultSweep, EveryCallOfAFullRunFailsOnce) {
  sweep::Sweep sweep;
  const std::string param = GetParam();
  sweep.readOnlySources = param.size() > 3 && param.compare(param.size() - 3, 3, "+ro") == 0;
  sweep.templateName = sweep.readOnlySources ? param.substr(0, param.size() - 3) : param;
  sweep.Prepare("fault_sweep", sweep.readOnlySources ? sweep.templateName + "-ro" : sweep.templateName);
  if (HasFatalFailure()) return;
  std::set<std::string> cleanBoxes;  // the clean run's own copy-failure boxes
  sweep.RunClean([&] { CheckRun(sweep, cleanBoxes, 0, "none", 0); });
  if (HasFatalFailure()) return;

  unsigned long runs = 0;
  std::string error;
  for (unsigned long n = 1; n <= sweep.calls.size(); ++n) {
    const std::string call = sweep.CallName(n);
    const std::vector<DWORD> errors = ErrorsFor(call);
    if (!sweep.AttachCopy()) break;
    FailCalls("*", errors[n % errors.size()], n);
    int code = sweep.Run();
    winsim::ClearFaults();
    ++runs;
    CheckRun(sweep, cleanBoxes, n, call, code);
    if (!winsim::RestartMachine(&error)) sweep.Fail(n, call, "restart: " + error);
    sweep.CheckRestarted(n, call);
  }
  winsim::Detach();

  char line[200];
  std::snprintf(line, sizeof line, "fault sweep %s%s: %zu calls, %lu runs, %zu invariant failures\n",
                sweep.templateName.c_str(), sweep.readOnlySources ? " (read-only sources)" : "",
                sweep.calls.size(), runs, sweep.failures.size());
  sweep::ReportFigures("fault_sweep", line);
  for (size_t i = 0; i < sweep.failures.size() && i < 40; ++i)
    ADD_FAILURE() << sweep.templateName << ": " << sweep.failures[i];
  EXPECT_EQ(sweep.calls.size(), runs);
  fs::remove_all(sweep.base);
}

INSTANTIATE_TEST_SUITE_P(Templates, FaultSweep,
                         ::testing::Values("win95", "win98", "winme", "nt40", "win2k", "winxp",
                                           "win10", "win10-64", "win7-64", "win98-ja", "winxp-ja",
                                           "win10-utf8", "win95+ro", "win98+ro",
                                           "winme+ro", "nt40+ro", "win2k+ro", "winxp+ro", "win10+ro",
                                           "win10-64+ro", "win7-64+ro"),
                         [](const ::testing::TestParamInfo<std::string> &info) {
                           std::string name = info.param;
                           if (name.size() > 3 && name.compare(name.size() - 3, 3, "+ro") == 0)
                             name.replace(name.size() - 3, 3, "_readonly");
                           for (char &c : name)
                             if (c == '-') c = '_';
                           return name;
                         });

}  // namespace
