// Every platform call of a full run, failed once: for each machine template
// the calls of a clean run are counted, then the run is repeated on a fresh
// copy of the machine with call N failing, for every N.  After each run and
// after the restart that follows it, the machine must hold nothing lost,
// nothing torn and nothing the run should not have written.
#include <windows.h>

#include <gtest/gtest.h>

#include <strings.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "machine.h"
#include "payload.h"
#include "pnp/pnp.h"
#include "report.h"
#include "setup/setup.h"
#include "processes.h"
#include "test_machine.h"

namespace fs = std::filesystem;

namespace {

const char kAppDir[] = "C:\\Program Files\\Korvix";

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

void CopyTree(const std::string &from, const std::string &to) {
  fs::remove_all(to);
  fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
}

std::string ReadAll(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// The hashes of every sample component file and disc file: the contents a
// file the run wrote may have.
std::set<std::string> SampleHashes() {
  std::set<std::string> hashes;
  for (const char *sub : {"payload", "disc"})
    for (const auto &entry : fs::recursive_directory_iterator(winsim::SamplesDir() + "/" + sub))
      if (entry.is_regular_file()) {
        std::string bytes = ReadAll(entry.path());
        hashes.insert(winsim::FormatHash(winsim::Fnv1a64(bytes.data(), bytes.size())));
      }
  return hashes;
}

bool EndsWithNoCase(const std::string &text, const std::string &tail) {
  return text.size() >= tail.size() &&
         strcasecmp(text.c_str() + text.size() - tail.size(), tail.c_str()) == 0;
}

bool IsProfile(const std::string &path) {
  return EndsWithNoCase(path, ".INI") || EndsWithNoCase(path, "\\WININIT.BAK");
}

// A profile file as the system and our readers take it: CR LF lines, no NUL,
// every line blank, a comment, a closed section header or a key line; no
// section header twice.
std::string ProfileProblem(const std::string &name, const std::vector<std::string> &lines) {
  std::set<std::string> sections;
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string line = lines[i];
    if (line.find('\0') != std::string::npos) return name + ": NUL in line " + std::to_string(i + 1);
    bool last = i + 1 == lines.size();
    if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0)
      line.resize(line.size() - 2);
    else if (!last)
      return name + ": line " + std::to_string(i + 1) + " not ended by CR LF";
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      if (line.back() != ']') return name + ": unclosed section header " + line;
      std::string upper = line;
      for (char &c : upper) c = char(toupper(static_cast<unsigned char>(c)));
      if (!sections.insert(upper).second) return name + ": section twice: " + line;
    }
  }
  return "";
}

std::string ValueText(const winsim::RegValueState &v) {
  std::ostringstream out;
  out << "type " << v.type << " data";
  for (uint8_t b : v.data) out << ' ' << std::hex << int(b);
  return out.str();
}

// The calls whose failure may leave one file the run placed read-only: the
// look-up and the attribute change that make a copy writable.  A later run
// clears the attribute before it copies or replaces that file again.
bool MayLeaveReadOnly(const std::string &call) {
  return call == "FindFirstFileA" || call == "GetFileAttributesA" || call == "SetFileAttributesA";
}

struct Sweep {
  std::string templateName;
  bool readOnlySources = false;  // payload and disc from read-only media
  std::string prepared;  // the machine every run starts from
  std::string work;      // the machine of the current run
  winsim::MachineSnapshot before;
  winsim::MachineSnapshot reference;  // after a clean run and the restart
  std::set<std::string> sampleHashes;
  std::vector<std::string> failures;
  std::set<std::string> cleanBoxes;
  std::vector<std::string> calls;  // the clean run's call log
  std::string windowsDir;          // upper-cased, with a trailing backslash

  // Runs the program as its process would: binding, run, release.
  int Run() {
    ApplicationFound = false;
    winsim::ResetModules();
    BindNewDev();
    handlesBefore = winsim::OpenHandleCount();
    int code = RunSetup();
    ReleaseNewDev();
    return code;
  }
  size_t handlesBefore = 0;

  bool AttachCopy() {
    winsim::Detach();
    CopyTree(prepared, work);
    std::string error;
    if (!winsim::Attach(work, &error)) {
      ADD_FAILURE() << error;
      return false;
    }
    return true;
  }

  winsim::MachineSnapshot Take() {
    winsim::MachineSnapshot s;
    std::string error;
    EXPECT_TRUE(winsim::TakeSnapshot(winsim::MachineDir(), &s, &error)) << error;
    return s;
  }

  void Fail(unsigned long n, const std::string &call, const std::string &what) {
    failures.push_back("call " + std::to_string(n) + " (" + call + "): " + what);
  }

  // The machine right after the run (before the restart).
  void CheckRun(unsigned long n, const std::string &call, int code) {
    const winsim::MachineSnapshot after = Take();
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
        Fail(n, call, "box not allowed: " + line);
    }
    // The call WriteProfileEntry makes; the cache flush before the [386Enh]
    // read (all arguments but the file NULL) reports nothing when it fails.
    const bool profileWrite = call == "WritePrivateProfileStringA" &&
                              !(n < calls.size() && calls[n].rfind("GetPrivateProfileSectionA", 0) == 0);
    if (code == 1) {
      if (!profileWrite || !errorBox) Fail(n, call, "exit code 1 without a refused profile write");
    } else if (code == 0) {
      if (profileWrite) Fail(n, call, "refused profile write not reported");
      if (errorBox) Fail(n, call, "error box with exit code 0");
    } else {
      Fail(n, call, "exit code " + std::to_string(code));
    }
    // Every handle the run opened is closed (a close that was made to fail
    // leaves its handle open, as on Windows).
    if (winsim::OpenHandleCount() != handlesBefore && call != "FindClose" && call != "CloseHandle")
      Fail(n, call, "a handle was left open");
    // Only the failed copy adds a box.
    if (copyBoxes > 1 || (copyBoxes == 1 && call != "CopyFileA"))
      Fail(n, call, std::to_string(copyBoxes) + " copy-failure boxes");
    for (const auto &profile : after.profiles) {
      std::string problem = ProfileProblem(profile.first, profile.second);
      if (!problem.empty()) Fail(n, call, "after the run: " + problem);
    }
  }

  // The machine after the restart that completes the run.
  void CheckRestarted(unsigned long n, const std::string &call) {
    const winsim::MachineSnapshot after = Take();
    std::set<std::string> beforeHashes;
    for (const auto &f : before.files) beforeHashes.insert(f.second.hash);
    for (const auto &f : before.files) {
      if (f.second.directory) continue;
      auto it = after.files.find(f.first);
      if (it == after.files.end()) {
        // WININIT.INI is consumed by the 9x start-up.
        if (!EndsWithNoCase(f.first, "\\WININIT.INI")) Fail(n, call, "file lost: " + f.first);
        continue;
      }
      if (IsProfile(f.first)) continue;
      if (it->second.hash != f.second.hash && !sampleHashes.count(it->second.hash))
        Fail(n, call, "file neither old nor new: " + f.first);
    }
    // What the run placed is writable, so that nothing it leaves blocks a
    // later run or another program's update.
    std::vector<std::string> readOnly;
    for (const auto &f : after.files) {
      auto old = before.files.find(f.first);
      if (!f.second.directory && (f.second.attributes & FILE_ATTRIBUTE_READONLY) &&
          (old == before.files.end() || old->second.hash != f.second.hash))
        readOnly.push_back(f.first);
    }
    if (readOnly.size() > (MayLeaveReadOnly(call) ? 1u : 0u))
      Fail(n, call, "read-only file placed: " + readOnly.front());
    for (const auto &f : after.files) {
      if (f.second.directory || before.files.count(f.first) || IsProfile(f.first)) continue;
      // A new file is a whole component file, or a live file moved aside.
      if (!sampleHashes.count(f.second.hash) && !beforeHashes.count(f.second.hash))
        Fail(n, call, "torn or foreign file: " + f.first);
      if (f.first.find(".tmp") != std::string::npos) Fail(n, call, "temporary file: " + f.first);
      std::string upper = f.first;
      for (char &c : upper) c = char(toupper(static_cast<unsigned char>(c)));
      if (upper.rfind(windowsDir, 0) != 0 && upper.rfind("C:\\PROGRAM FILES\\KORVIX\\", 0) != 0)
        Fail(n, call, "file written outside the system and application folders: " + f.first);
    }
    // Every value the run wrote holds what the clean run writes; nothing
    // else was removed.
    for (const auto &v : after.values) {
      auto old = before.values.find(v.first);
      if (old != before.values.end() && old->second.type == v.second.type &&
          old->second.data == v.second.data)
        continue;
      auto want = reference.values.find(v.first);
      if (want == reference.values.end())
        Fail(n, call, "value not written by a clean run: " + v.first + " " + ValueText(v.second));
      else if (want->second.type != v.second.type || want->second.data != v.second.data)
        Fail(n, call, "value " + v.first + " holds " + ValueText(v.second) + ", a clean run " +
                          ValueText(want->second));
    }
    for (const auto &v : before.values)
      if (!after.values.count(v.first) && reference.values.count(v.first))
        Fail(n, call, "value removed: " + v.first);
    for (const auto &profile : after.profiles) {
      std::string problem = ProfileProblem(profile.first, profile.second);
      if (!problem.empty()) Fail(n, call, "after the restart: " + problem);
    }
  }
};

std::string SweepDir(const std::string &name) {
  const char *binary = getenv("VARSETUP_BINARY_DIR");
  std::string base = binary ? binary : VARSETUP_BINARY_DIR;
  return base + "/fault_sweep/" + name;
}

// A template name, with "+ro" for a run whose component files carry the
// read-only attribute (copied from a CD-ROM), like the disc's own files.
class FaultSweep : public ::testing::TestWithParam<std::string> {};

TEST_P(FaultSweep, EveryCallOfAFullRunFailsOnce) {
  Sweep sweep;
  const std::string param = GetParam();
  sweep.readOnlySources = param.size() > 3 && param.compare(param.size() - 3, 3, "+ro") == 0;
  sweep.templateName = sweep.readOnlySources ? param.substr(0, param.size() - 3) : param;
  const std::string base = SweepDir(sweep.readOnlySources ? sweep.templateName + "-ro" : sweep.templateName);
  sweep.prepared = base + "/prepared";
  sweep.work = base + "/run";
  fs::remove_all(base);
  fs::create_directories(base);
  sweep.sampleHashes = SampleHashes();

  // The prepared machine: payload beside the program, the disc in the first
  // CD-ROM drive, an application directory, both arguments.
  std::string error;
  ASSERT_TRUE(winsim::CreateMachine(winsim::TemplateDir(sweep.templateName), sweep.prepared, &error))
      << error;
  ASSERT_TRUE(winsim::Attach(sweep.prepared, &error)) << error;
  char cdrom = 0;
  for (const auto &drive : winsim::Config().drives)
    if (drive.second == winsim::DriveKind::Cdrom && !cdrom) cdrom = drive.first;
  ASSERT_NE(0, cdrom) << "template without a CD-ROM drive";
  ASSERT_TRUE(winsim::InstallPayload("v2", &error)) << error;
  ASSERT_TRUE(winsim::InsertDisc(cdrom, &error)) << error;
  if (sweep.readOnlySources) {
    const std::string &program = winsim::Config().program;
    const std::string folder = program.substr(0, program.find_last_of('\\') + 1);
    for (const char *dir : {"/payload", "/payload/v2"})
      for (const auto &f : fs::directory_iterator(winsim::SamplesDir() + dir)) {
        if (!f.is_regular_file()) continue;
        ASSERT_TRUE(SetFileAttributesA((folder + f.path().filename().string()).c_str(),
                                       FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
      }
  }
  winsim::ResolvedPath app;
  ASSERT_EQ(0u, winsim::ResolvePath("C:\\Program Files", &app));
  fs::create_directories(app.host + "/Korvix");
  winsim::Config().commandLine = "\"" + winsim::Config().program + "\" \"" + kAppDir + "\" korvix";
  ASSERT_TRUE(winsim::SaveConfig(&error)) << error;
  sweep.before = sweep.Take();
  winsim::Detach();

  // The clean run: its calls and what it leaves after the restart.
  ASSERT_TRUE(sweep.AttachCopy());
  winsim::EnableCallLog(true);
  ASSERT_EQ(0, sweep.Run());
  sweep.calls = winsim::CallLog();
  const std::vector<std::string> &calls = sweep.calls;
  sweep.windowsDir = winsim::Config().windowsDir + "\\";
  for (char &c : sweep.windowsDir) c = char(toupper(static_cast<unsigned char>(c)));
  winsim::EnableCallLog(false);
  sweep.CheckRun(0, "none", 0);
  ASSERT_TRUE(winsim::RestartMachine(&error)) << error;
  sweep.reference = sweep.Take();
  sweep.CheckRestarted(0, "none");
  ASSERT_TRUE(sweep.failures.empty()) << sweep.failures.front();
  // The clean run did install: the engine is entered in the Run key.
  bool engine = false;
  for (const auto &v : sweep.reference.values)
    engine = engine || EndsWithNoCase(v.first, "\\CurrentVersion\\Run\\\\Realtime Audio Engine");
  EXPECT_TRUE(engine);

  unsigned long runs = 0;
  for (unsigned long n = 1; n <= calls.size(); ++n) {
    const std::string call = calls[n - 1].substr(0, calls[n - 1].find(' '));
    const std::vector<DWORD> errors = ErrorsFor(call);
    if (!sweep.AttachCopy()) break;
    FailCalls("*", errors[n % errors.size()], n);
    int code = sweep.Run();
    winsim::ClearFaults();
    ++runs;
    sweep.CheckRun(n, call, code);
    if (!winsim::RestartMachine(&error)) sweep.Fail(n, call, "restart: " + error);
    sweep.CheckRestarted(n, call);
  }
  winsim::Detach();

  char line[200];
  std::snprintf(line, sizeof line, "fault sweep %s%s: %zu calls, %lu runs, %zu invariant failures\n",
                sweep.templateName.c_str(), sweep.readOnlySources ? " (read-only sources)" : "",
                calls.size(), runs, sweep.failures.size());
  std::printf("%s", line);
  std::ofstream(SweepDir("") + "figures.txt", std::ios::app) << line;
  for (size_t i = 0; i < sweep.failures.size() && i < 40; ++i)
    ADD_FAILURE() << sweep.templateName << ": " << sweep.failures[i];
  EXPECT_EQ(calls.size(), runs);
  fs::remove_all(base);
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
