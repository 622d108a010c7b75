// The running-application guard: the visitor, both process walks, and the
// guard step of a whole run.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "machine.h"
#include "processes.h"
#include "report.h"
#include "setup/setup.h"
#include "test_machine.h"

namespace {

// ---- the visitor ----

bool Matches(const char *path) {
  ResetRunState();
  BOOL goOn = MatchApplicationProcess(7, path, 0);
  EXPECT_EQ(!goOn, ApplicationFound) << path;  // stops exactly when it found it
  return ApplicationFound;
}

TEST(MatchApplicationProcess, RecognisesTheFileNamePartOnly) {
  TestMachine machine("winxp");
  EXPECT_TRUE(Matches("C:\\PROGRAM FILES\\KORVIX\\korvix.exe"));
  EXPECT_TRUE(Matches("korvixtavern.exe"));
  EXPECT_TRUE(Matches("C:KORVIX.EXE"));
  EXPECT_TRUE(Matches("\\??\\C:\\Korvix\\KorvixTavern.EXE"));
  EXPECT_FALSE(Matches("C:\\KORVIX\\KORVIX.EXE.BAK"));
  EXPECT_FALSE(Matches("C:\\KORVIX\\MYKORVIX.EXE"));
  EXPECT_FALSE(Matches("C:\\KORVIX\\KORVIX"));
  EXPECT_FALSE(Matches("C:\\KORVIX.EXE\\SETUP.EXE"));
  EXPECT_FALSE(Matches("C:\\KORVIX\\KORVIX.EXE "));
  EXPECT_FALSE(Matches(""));
  EXPECT_FALSE(Matches("C:\\KORVIX\\"));
}

TEST(MatchApplicationProcess, TrailByteWithTheValueOfABackslashIsNoSeparator) {
  TestMachine machine("winxp");
  // 0x95 0x5C is one Shift-JIS character; the folder name "\x95\x5C" ends
  // in what looks like a backslash.
  const char *inKanjiName = "C:\\APPS\\\x95\\KORVIX.EXE";     // file "<kanji>KORVIX.EXE"
  const char *inKanjiFolder = "C:\\\x95\\\\korvix.exe";       // folder "<kanji>"
  const char *colonTrail = "C:\\APPS\\\x81:KORVIX.EXE";       // 0x81 0x3A, no drive colon
  winsim::Config().codePage = 932;
  EXPECT_FALSE(Matches(inKanjiName));
  EXPECT_TRUE(Matches(inKanjiFolder));
  EXPECT_FALSE(Matches(colonTrail));
  // A lead byte at the very end has no trail byte to swallow.
  EXPECT_FALSE(Matches("C:\\KORVIX.EXE\x95"));
  // In a single-byte code page the same bytes are separators.
  winsim::Config().codePage = 1252;
  EXPECT_TRUE(Matches(inKanjiName));
  EXPECT_TRUE(Matches(inKanjiFolder));
  EXPECT_TRUE(Matches(colonTrail));
}

// ---- the walks ----

struct Visit {
  DWORD id;
  std::string path;
  DWORD context;
};
std::vector<Visit> visits;
DWORD stopAt = 0xFFFFFFFF;

BOOL Record(DWORD id, const char *path, DWORD context) {
  visits.push_back({id, path, context});
  return id != stopAt;
}

// Records every visit, then asks the application matcher.
BOOL RecordAndMatch(DWORD id, const char *path, DWORD context) {
  visits.push_back({id, path, context});
  return MatchApplicationProcess(id, path, context);
}

size_t CallsTo(const std::string &name) {
  const std::vector<std::string> &log = winsim::CallLog();
  return std::count_if(log.begin(), log.end(), [&](const std::string &line) {
    return line == name || line.rfind(name + " ", 0) == 0;
  });
}

// A machine whose kernel32 and psapi.dll (by its full system path) export
// what the walks look up, regardless of the template's own lists.
class WalkTest : public ::testing::Test {
 protected:
  explicit WalkTest(const char *templateName) : machine_(templateName) {
    visits.clear();
    stopAt = 0xFFFFFFFF;
    winsim::MachineConfig &c = winsim::Config();
    kernel_ = c.systemDir + "\\KERNEL32.DLL";
    psapi_ = c.systemDir + "\\PSAPI.DLL";
    if (!machine_.Exists(kernel_)) machine_.Write(kernel_, "MZ");
    if (!machine_.Exists(psapi_)) machine_.Write(psapi_, "MZ");
    c.libraries[winsim::PathKey(kernel_)] = {"CreateToolhelp32Snapshot", "Process32First",
                                             "Process32Next"};
    c.libraries[winsim::PathKey(psapi_)] = {"EnumProcesses", "EnumProcessModules",
                                            "GetModuleFileNameExA"};
    winsim::EnableCallLog(true);
  }
  ~WalkTest() override {
    EXPECT_EQ(0u, winsim::LoadedModuleCount()) << "a library stayed loaded";
    EXPECT_EQ(handles_, winsim::OpenHandleCount()) << "a handle stayed open";
    EXPECT_TRUE(winsim::ReadJournal().empty()) << "the walk showed something";
    winsim::EnableCallLog(false);
  }
  void SetCount(DWORD count) {
    std::vector<winsim::SimProcess> list;
    for (DWORD i = 0; i < count; ++i)
      list.push_back({1000 + 4 * i, "C:\\APP\\P" + std::to_string(i) + ".EXE", false});
    winsim::Config().processes = list;
  }
  void ExpectEachVisitedOnce(DWORD count) {
    ASSERT_EQ(count, visits.size());
    for (DWORD i = 0; i < count; ++i) {
      ASSERT_EQ(1000 + 4 * i, visits[i].id);
      ASSERT_EQ("C:\\APP\\P" + std::to_string(i) + ".EXE", visits[i].path);
    }
  }
  TestMachine machine_;
  std::string kernel_, psapi_;
  size_t handles_ = winsim::OpenHandleCount();
};

class NtWalk : public WalkTest {
 protected:
  NtWalk() : WalkTest("winxp") {}
};

class Win9xWalk : public WalkTest {
 protected:
  Win9xWalk() : WalkTest("win98") {}
};

TEST_F(NtWalk, VisitsEveryProcessWithItsImagePathAndTheContext) {
  winsim::Config().processes = {{0, "[System Process]", true},
                                {4, "System", true},
                                {520, "\\??\\C:\\WINDOWS\\system32\\csrss.exe", true},
                                {1512, "C:\\WINDOWS\\Explorer.EXE", false}};
  EXPECT_TRUE(ForEachProcess(Record, 0x12345678));
  ASSERT_EQ(4u, visits.size());
  // Processes that cannot be opened are visited with an empty path.
  EXPECT_EQ("", visits[0].path);
  EXPECT_EQ("", visits[1].path);
  EXPECT_EQ(520u, visits[2].id);
  EXPECT_EQ("", visits[2].path);
  EXPECT_EQ("C:\\WINDOWS\\Explorer.EXE", visits[3].path);
  for (const Visit &v : visits) EXPECT_EQ(0x12345678u, v.context);
  EXPECT_EQ(0u, CallsTo("CreateToolhelp32Snapshot"));
  // One short-lived handle for each process that opened.
  EXPECT_EQ(1u, CallsTo("CloseHandle"));
}

TEST_F(NtWalk, UnreadableModulesGiveAnEmptyPath) {
  SetCount(3);
  FailCalls("EnumProcessModules", ERROR_PARTIAL_COPY, 1);
  FailCalls("GetModuleFileNameExA", ERROR_ACCESS_DENIED, 1);
  EXPECT_TRUE(ForEachProcess(Record, 0));
  ASSERT_EQ(3u, visits.size());
  EXPECT_EQ("", visits[0].path);
  EXPECT_EQ("", visits[1].path);
  EXPECT_EQ("C:\\APP\\P2.EXE", visits[2].path);
}

TEST_F(NtWalk, StopsAtTheFirstMatch) {
  winsim::Config().processes = {{8, "C:\\A.EXE", false},
                                {12, "C:\\Korvix\\KORVIXTAVERN.EXE", false},
                                {16, "C:\\Korvix\\KORVIX.EXE", false},
                                {20, "C:\\B.EXE", false}};
  EXPECT_TRUE(ForEachProcess(RecordAndMatch, 0));
  EXPECT_TRUE(ApplicationFound);
  ASSERT_EQ(2u, visits.size());
  EXPECT_EQ(12u, visits[1].id);
  EXPECT_EQ(2u, CallsTo("OpenProcess"));  // nothing is opened after the stop
}

TEST_F(NtWalk, ExactlyAFullFirstBufferIsDoubledOnce) {
  SetCount(256);  // 1024 bytes: the first call fills the buffer exactly
  EXPECT_TRUE(ForEachProcess(Record, 0));
  EXPECT_EQ(2u, CallsTo("EnumProcesses"));
  ExpectEachVisitedOnce(256);
}

TEST_F(NtWalk, OneLessFitsTheFirstBuffer) {
  SetCount(255);
  EXPECT_TRUE(ForEachProcess(Record, 0));
  EXPECT_EQ(1u, CallsTo("EnumProcesses"));
  ExpectEachVisitedOnce(255);
}

TEST_F(NtWalk, ThousandsOfProcessesAreEachVisitedOnce) {
  SetCount(5000);  // 20000 bytes: 1024, 2048, 4096, 8192, 16384 full; 32768 fits
  EXPECT_TRUE(ForEachProcess(Record, 0));
  EXPECT_EQ(6u, CallsTo("EnumProcesses"));
  EXPECT_EQ(6u, CallsTo("HeapAlloc"));
  EXPECT_EQ(6u, CallsTo("HeapFree"));
  ExpectEachVisitedOnce(5000);
}

TEST_F(NtWalk, NoWalkWithoutPsapiAndNoBox) {
  SetCount(3);
  machine_.Remove(psapi_);
  EXPECT_FALSE(ForEachProcess(Record, 0));
  EXPECT_TRUE(visits.empty());
}

TEST_F(NtWalk, NoWalkWhenAnEntryPointIsMissing) {
  SetCount(3);
  winsim::Config().libraries[winsim::PathKey(psapi_)] = {"EnumProcesses", "EnumProcessModules"};
  EXPECT_FALSE(ForEachProcess(Record, 0));
  EXPECT_TRUE(visits.empty());
}

TEST_F(NtWalk, NoWalkWhenTheIdsCannotBeRead) {
  SetCount(300);
  // The second call of each: by then the first buffer was filled and freed.
  struct { const char *call; unsigned long nth; size_t allocs, frees; } faults[] = {
      {"GetSystemDirectoryA", 1, 0, 0}, {"HeapAlloc", 2, 2, 1}, {"EnumProcesses", 2, 2, 2}};
  for (auto f : faults) {
    visits.clear();
    winsim::ClearFaults();
    winsim::EnableCallLog(true);
    FailCalls(f.call, ERROR_NOT_ENOUGH_MEMORY, f.nth);
    EXPECT_FALSE(ForEachProcess(Record, 0)) << f.call;
    EXPECT_TRUE(visits.empty()) << f.call;
    EXPECT_EQ(f.allocs, CallsTo("HeapAlloc")) << f.call;
    EXPECT_EQ(f.frees, CallsTo("HeapFree")) << f.call;
  }
}

TEST_F(NtWalk, PsapiPlantedBesideTheProgramNeverLoads) {
  SetErrorMode(SEM_NOOPENFILEERRORBOX);  // the caller's mode, restored after the load
  const std::string &program = winsim::Config().program;
  std::string planted = program.substr(0, program.rfind('\\')) + "\\PSAPI.DLL";
  machine_.Write(planted, "MZ planted");
  winsim::Config().libraries[winsim::PathKey(planted)] = {"EnumProcesses", "EnumProcessModules",
                                                          "GetModuleFileNameExA"};
  SetCount(2);
  EXPECT_TRUE(ForEachProcess(Record, 0));
  EXPECT_EQ(UINT(SEM_NOOPENFILEERRORBOX), SetErrorMode(0));
  ExpectEachVisitedOnce(2);
  const std::vector<std::string> &loaded = winsim::LoadedLibraries();
  for (const std::string &l : loaded) EXPECT_NE(winsim::PathKey(planted), winsim::PathKey(l));
  EXPECT_NE(loaded.end(), std::find_if(loaded.begin(), loaded.end(), [&](const std::string &l) {
              return winsim::PathKey(l) == winsim::PathKey(psapi_);
            }));
}

TEST_F(NtWalk, Nt4UsesPsapi) {
  winsim::Config().major = 4;
  winsim::Config().minor = 0;
  SetCount(2);
  EXPECT_TRUE(ForEachProcess(Record, 0));
  EXPECT_EQ(1u, CallsTo("EnumProcesses"));
  EXPECT_EQ(0u, CallsTo("CreateToolhelp32Snapshot"));
  ExpectEachVisitedOnce(2);
}

TEST_F(NtWalk, VersionsBelowNt4UseToolhelp) {
  winsim::Config().major = 3;
  winsim::Config().minor = 51;
  SetCount(2);
  EXPECT_TRUE(ForEachProcess(Record, 0));
  EXPECT_EQ(1u, CallsTo("CreateToolhelp32Snapshot"));
  EXPECT_EQ(0u, CallsTo("EnumProcesses"));
  ASSERT_EQ(2u, visits.size());
  EXPECT_EQ("P1.EXE", visits[1].path);  // the NT family's bare name
}

TEST_F(Win9xWalk, ToolhelpVisitsFullPathsAndStopsAtTheFirstMatch) {
  winsim::Config().processes = {{0xFFF1, "C:\\WINDOWS\\SYSTEM\\KERNEL32.DLL", false},
                                {0xFFF2, "C:\\PROGRAM FILES\\KORVIX\\KORVIX.EXE", false},
                                {0xFFF3, "C:\\WINDOWS\\EXPLORER.EXE", false}};
  EXPECT_TRUE(ForEachProcess(RecordAndMatch, 5));
  EXPECT_TRUE(ApplicationFound);
  ASSERT_EQ(2u, visits.size());
  EXPECT_EQ("C:\\WINDOWS\\SYSTEM\\KERNEL32.DLL", visits[0].path);
  EXPECT_EQ(5u, visits[0].context);
  EXPECT_EQ(1u, CallsTo("Process32First"));
  EXPECT_EQ(1u, CallsTo("Process32Next"));
  EXPECT_EQ(0u, CallsTo("LoadLibraryA " + psapi_));
}

TEST_F(Win9xWalk, ThousandsOfProcessesAreEachVisitedOnce) {
  SetCount(3000);
  EXPECT_TRUE(ForEachProcess(Record, 0));
  ExpectEachVisitedOnce(3000);
}

// Without the version the walk is Toolhelp's; an image path of 259
// characters, the most the record holds, is visited whole.
TEST_F(Win9xWalk, LongestPathVisitedWholeAlsoWithoutVersion) {
  std::string longest = "C:\\" + std::string(245, 'D') + "\\KORVIX.EXE";
  ASSERT_EQ(259u, longest.size());
  winsim::Config().processes = {{0xFFF1, longest, false}};
  FailCalls("GetVersionExA", ERROR_INVALID_PARAMETER);
  EXPECT_TRUE(ForEachProcess(RecordAndMatch, 0));
  ASSERT_EQ(1u, visits.size());
  EXPECT_EQ(longest, visits[0].path);
  EXPECT_TRUE(ApplicationFound);
  EXPECT_EQ(1u, CallsTo("CreateToolhelp32Snapshot"));
}

TEST_F(Win9xWalk, NoWalkWithoutToolhelpOrSnapshot) {
  SetCount(2);
  FailCalls("CreateToolhelp32Snapshot", ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_FALSE(ForEachProcess(Record, 0));
  winsim::ClearFaults();
  FailCalls("LoadLibraryA", ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_FALSE(ForEachProcess(Record, 0));
  winsim::ClearFaults();
  winsim::Config().libraries[winsim::PathKey(kernel_)] = {"CreateToolhelp32Snapshot",
                                                          "Process32First"};
  EXPECT_FALSE(ForEachProcess(Record, 0));
  EXPECT_TRUE(visits.empty());
}

}  // namespace

// ---- the guard step of a whole run ----

namespace guardstep {

// Every file of the machine directory with its content, except the journal
// (where the box is recorded): drives, attributes, hives, machine.ini.
std::map<std::string, std::string> MachineFiles(const std::string &dir) {
  std::map<std::string, std::string> files;
  std::string command = "cd '" + dir + "' && find . -type f -o -type d | LC_ALL=C sort";
  FILE *list = popen(command.c_str(), "r");
  char line[4096];
  while (list && fgets(line, sizeof line, list)) {
    std::string path(line);
    path.pop_back();
    if (path == "./journal.txt") continue;
    std::string content;
    if (FILE *f = fopen((dir + "/" + path).c_str(), "rb")) {
      char buffer[4096];
      size_t n;
      while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) content.append(buffer, n);
      fclose(f);
    }
    files[path] = content;
  }
  if (list) pclose(list);
  return files;
}

void AddRunningProcess(DWORD id, const std::string &image) {
  winsim::Config().processes.push_back({id, image, false});
  std::string error;
  ASSERT_TRUE(winsim::SaveConfig(&error)) << error;
}

const char *kCloseMessage =
    "messagebox flags=0x00000000 caption=\"Varentel Installation\" "
    "text=\"Please close Korvix-Studio, restart your machine and run setup again !\"";

winsim::MachineSnapshot Dump(const TestMachine &machine) {
  winsim::MachineSnapshot snapshot;
  std::string error;
  EXPECT_TRUE(winsim::TakeSnapshot(machine.Dir(), &snapshot, &error)) << error;
  return snapshot;
}

// The dump after the run is the one before it plus the box; so is every
// file of the machine directory (machine.ini and the attributes included).
void ExpectRefusedWithNothingChanged(const TestMachine &machine) {
  winsim::MachineSnapshot before = Dump(machine);
  std::map<std::string, std::string> beforeFiles = MachineFiles(machine.Dir());
  EXPECT_EQ(0, RunSetup());
  EXPECT_EQ(std::vector<std::string>{kCloseMessage}, winsim::ReadJournal());
  winsim::MachineSnapshot after = Dump(machine);
  before.journal.push_back(kCloseMessage);
  EXPECT_EQ("", winsim::DiffDumps(before, after));
  EXPECT_TRUE(beforeFiles == MachineFiles(machine.Dir())) << "the run changed the machine";
  EXPECT_EQ(0u, winsim::LoadedModuleCount());
}

TEST(GuardStep, Win98WithKorvixRunningShowsOneBoxAndChangesNothing) {
  TestMachine machine("win98");
  AddRunningProcess(0xFFFA1237, "C:\\PROGRAM FILES\\VARENTEL\\KORVIX.EXE");
  ExpectRefusedWithNothingChanged(machine);
}

TEST(GuardStep, WinXpWithKorvixTavernRunningShowsOneBoxAndChangesNothing) {
  TestMachine machine("winxp");
  AddRunningProcess(2044, "C:\\Program Files\\Varentel\\KorvixTavern.exe");
  ExpectRefusedWithNothingChanged(machine);
}

TEST(GuardStep, Win10x64WithA64BitKorvixRunningShowsOneBoxAndChangesNothing) {
  // The 32-bit program cannot read a 64-bit process's modules; the image
  // path comes from QueryFullProcessImageNameA.
  TestMachine machine("win10-64");
  winsim::SimProcess korvix;
  korvix.id = 6120;
  korvix.image = "C:\\Program Files\\Korvix-Studio\\KORVIX.EXE";
  korvix.native64 = true;
  winsim::Config().processes.push_back(korvix);
  std::string error;
  ASSERT_TRUE(winsim::SaveConfig(&error)) << error;
  ExpectRefusedWithNothingChanged(machine);
}

// A 64-bit process's image path comes from QueryFullProcessImageNameA into
// the walk's buffer: 260 characters fit it, 261 do not and are never taken
// cut (the first 260 would name the application).
TEST(GuardStep, Wow64ImagePathsFillTheBufferAndNeverMore) {
  TestMachine machine("win10-64");
  const std::string fits = "C:\\" + std::string(246, 'D') + "\\KORVIX.EXE";
  ASSERT_EQ(260u, fits.size());
  for (const std::string &image : {fits, fits + "X"}) {
    winsim::SimProcess process;
    process.id = 6120;
    process.image = image;
    process.native64 = true;
    winsim::Config().processes = {process};
    ResetRunState();
    EXPECT_TRUE(ForEachProcess(MatchApplicationProcess, 0));
    EXPECT_EQ(image == fits, ApplicationFound) << image.size();
  }
}

TEST(GuardStep, RunGoesOnWhenNoWalkIsPossible) {
  // NT 4.0 without the psapi.dll redistributable: the application cannot
  // be seen, so the run is not refused.
  TestMachine machine("nt40");
  AddRunningProcess(300, "C:\\VARENTEL\\KORVIX.EXE");
  EXPECT_EQ(0, RunSetup());
  for (const std::string &line : winsim::ReadJournal())
    EXPECT_EQ(std::string::npos, line.find("Please close")) << line;
  EXPECT_FALSE(ApplicationFound);
}

// A run refused while the application ran leaves nothing behind that
// refuses the next run, made after the application ended.
TEST(GuardStep, RunAfterTheApplicationEndedGoesOn) {
  TestMachine machine("winxp");
  AddRunningProcess(2044, "C:\\Program Files\\Varentel\\KORVIX.EXE");
  EXPECT_EQ(0, RunSetup());
  winsim::Config().processes.clear();
  EXPECT_EQ(0, RunSetup());
  std::vector<std::string> journal = winsim::ReadJournal();
  EXPECT_EQ(1, std::count(journal.begin(), journal.end(), kCloseMessage));
  EXPECT_FALSE(ApplicationFound);
}

TEST(GuardStep, RunGoesOnWhenTheApplicationIsNotRunning) {
  TestMachine machine("win98");
  AddRunningProcess(0xFFFA1237, "C:\\PROGRAM FILES\\VARENTEL\\KORVIX.EXE.BAK");
  std::map<std::string, std::string> before = MachineFiles(machine.Dir());
  EXPECT_EQ(0, RunSetup());
  EXPECT_TRUE(winsim::ReadJournal().empty());
  EXPECT_FALSE(before == MachineFiles(machine.Dir())) << "the run did nothing";
}

}  // namespace guardstep
