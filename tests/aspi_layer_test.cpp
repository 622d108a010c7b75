// The ASPI layer installer on a 98 and an XP machine: the presence test, the
// staging copies with their queued moves, the registry values, a second run
// before the restart, and what the restart makes of it all.
#include "components/components.h"
#include "installer_checks.h"

using namespace checks;

namespace {

const char kAspiEnumKey[] = "SYSTEM\\CurrentControlSet\\Services\\VXD\\ASPIEnum";
const char kApixKey[] = "SYSTEM\\CurrentControlSet\\Services\\VXD\\APIX";
const char kServiceKey[] = "SYSTEM\\CurrentControlSet\\Services\\Aspi32";
const char kParametersKey[] = "SYSTEM\\CurrentControlSet\\Services\\Aspi32\\Parameters";

class AspiMachine : public PayloadMachine {
 public:
  using PayloadMachine::PayloadMachine;
  // False when a refused WININIT.INI entry ended the installer.
  bool Run() const { return InstallAspiLayer(Source(), WindowsDir(), SystemDir()); }
  std::string Wininit() const { return Read(Win("WININIT.INI")); }
  // Live, staging, backup of the NT rows (rows 3 and 4 under WindowsDir\SYSTEM).
  std::string NTDir(int row) const { return row <= 2 ? SystemDir() : Win("SYSTEM"); }
};

struct Row {
  const char *source, *staging, *live, *backup;
};
const Row kRows9x[] = {{"WNASPI32.9x", "WNASPI32.9x", "WNASPI32.DLL", "WNASPI32.OLD"},
                       {"WINASPI.9x", "WINASPI.9x", "WINASPI.DLL", "WINASPI.OLD"},
                       {"ASPIENUM.9x", "ASPIENUM.9x", "ASPIENUM.VXD", "ASPIENUM.OLD"},
                       {"APIX.9x", "IOSUBSYS\\APIX.9x", "IOSUBSYS\\APIX.VXD", "IOSUBSYS\\APIX.OLD"}};
const Row kRowsNT[] = {
    {"ASPI32.NT", "Drivers\\ASPI32.NT", "Drivers\\ASPI32.SYS", "Drivers\\ASPI32.OLD"},
    {"WNASPI32.NT", "WNASPI32.NT", "WNASPI32.DLL", "WNASPI32.OLD"},
    {"WINASPI.NT", "WINASPI.NT", "WINASPI.DLL", "WINASPI.OLD"},
    {"WOWPOST.NT", "WOWPOST.NT", "WOWPOST.EXE", "WOWPOST.OLD"}};

// The [RENAME] lines a complete 9x run adds, backup entry first per file.
std::vector<std::string> Renames9x(const AspiMachine &m, std::vector<int> rows = {0, 1, 2, 3}) {
  std::vector<std::string> lines;
  for (int i : rows) {
    const Row &r = kRows9x[i];
    lines.push_back(m.Sys(r.backup) + "=" + m.Sys(r.live));
    lines.push_back(m.Sys(r.live) + "=" + m.Sys(r.staging));
  }
  return lines;
}

std::vector<std::string> MovesNT(const AspiMachine &m) {
  std::vector<std::string> moves;
  for (int i = 0; i < 4; ++i) {
    const Row &r = kRowsNT[i];
    std::string dir = m.NTDir(i + 1) + "\\";
    moves.push_back("\\??\\" + dir + r.live);
    moves.push_back("!\\??\\" + dir + r.backup);
    moves.push_back("\\??\\" + dir + r.staging);
    moves.push_back("!\\??\\" + dir + r.live);
  }
  return moves;
}

void ExpectRegistry9x() {
  RegRead start = ReadValue(kAspiEnumKey, "Start");
  EXPECT_EQ(DWORD(REG_DWORD), start.type);
  EXPECT_EQ(Dword(0), start.data);
  RegRead vxd = ReadValue(kAspiEnumKey, "StaticVxD");
  EXPECT_EQ(DWORD(REG_SZ), vxd.type);
  EXPECT_EQ(Sz("ASPIENUM.VXD"), vxd.data);
  RegRead exclude = ReadValue(kApixKey, "ExcludeMiniports");
  ASSERT_TRUE(exclude.found);
  EXPECT_EQ(DWORD(REG_SZ), exclude.type);
  EXPECT_EQ(std::vector<BYTE>{0}, exclude.data);  // the terminating zero alone
}

void ExpectRegistryNT() {
  const winsim::reg::Key *service =
      winsim::reg::Find(winsim::reg::Root(HKEY_LOCAL_MACHINE), kServiceKey);
  ASSERT_NE(nullptr, service);
  // Exactly these values, in this order, and nothing else in the service key.
  const std::pair<const char *, DWORD> values[] = {
      {"Type", 1}, {"Start", 2}, {"Undoable", 1}, {"ErrorControl", 1}, {"MatchFlags", 0}};
  ASSERT_EQ(5u, service->values.size());
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(values[i].first, service->values[i].name);
    EXPECT_EQ(DWORD(REG_DWORD), service->values[i].type) << values[i].first;
    EXPECT_EQ(Dword(values[i].second), service->values[i].data) << values[i].first;
  }
  RegRead exclude = ReadValue(kParametersKey, "ExcludeMiniports");
  ASSERT_TRUE(exclude.found);
  EXPECT_EQ(DWORD(REG_SZ), exclude.type);
  EXPECT_EQ(std::vector<BYTE>{0}, exclude.data);
}

}  // namespace

// ---- presence test ----

class AspiBoth : public ::testing::TestWithParam<const char *> {};

// The one live file of the family stands for the layer: with it present
// nothing at all changes, even when the layer's other files are missing.
TEST_P(AspiBoth, PresentLayerLeavesTheMachineUntouched) {
  AspiMachine m(GetParam());
  if (winsim::Config().Is9x()) {
    m.Write(m.Sys("WNASPI32.DLL"), "installed");
  } else {
    m.Write(m.Sys("Drivers\\ASPI32.SYS"), "installed");
  }
  winsim::MachineSnapshot before = Snapshot();
  m.Run();
  EXPECT_EQ("", winsim::DiffDumps(before, Snapshot()));
}

// Without any ASPI file beside the program nothing is staged or queued, but
// every registry value of the family is written all the same.
TEST_P(AspiBoth, NoSourcesStillWriteEveryRegistryValue) {
  AspiMachine m(GetParam());
  for (const Row &r : kRows9x) m.Remove(m.Source() + r.source);
  for (const Row &r : kRowsNT) m.Remove(m.Source() + r.source);
  m.Run();
  EXPECT_FALSE(m.Exists(m.Win("WININIT.INI")));
  EXPECT_TRUE(PendingMoves().empty());
  for (const Row &r : kRows9x) EXPECT_FALSE(m.Exists(m.Sys(r.staging))) << r.staging;
  for (int i = 0; i < 4; ++i)
    EXPECT_FALSE(m.Exists(m.NTDir(i + 1) + "\\" + kRowsNT[i].staging)) << kRowsNT[i].staging;
  if (winsim::Config().Is9x()) {
    ExpectRegistry9x();
    EXPECT_EQ(nullptr, winsim::reg::Find(winsim::reg::Root(HKEY_LOCAL_MACHINE), kServiceKey));
  } else {
    ExpectRegistryNT();
    EXPECT_FALSE(ReadValue(kAspiEnumKey, "Start").found);
  }
  EXPECT_TRUE(BoxTexts().empty());
}

// A run, then the restart: every live file is the new version, and every
// backup holds what was live before (nothing, for the file whose absence let
// the installer run).
TEST_P(AspiBoth, RestartPutsTheNewVersionLiveAndKeepsTheOldAsBackup) {
  AspiMachine m(GetParam());
  const bool is9x = winsim::Config().Is9x();
  std::vector<std::string> live, backup, staging;
  std::vector<std::string> sources;
  for (int i = 0; i < 4; ++i) {
    const Row &r = is9x ? kRows9x[i] : kRowsNT[i];
    std::string dir = is9x ? m.SystemDir() : m.NTDir(i + 1);
    live.push_back(dir + "\\" + r.live);
    backup.push_back(dir + "\\" + r.backup);
    staging.push_back(dir + "\\" + r.staging);
    sources.push_back(r.source);
  }
  // The presence test's file is row 1 on both families; the others exist.
  for (int i = 1; i < 4; ++i) m.Write(live[i], "old " + sources[i]);
  m.Run();
  for (int i = 1; i < 4; ++i) EXPECT_EQ("old " + sources[i], m.Read(live[i]));  // untouched yet
  m.Restart();
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(AspiMachine::Payload("v2", sources[i]), m.Read(live[i])) << live[i];
    EXPECT_FALSE(m.Exists(staging[i])) << staging[i];
    if (i == 0)
      EXPECT_FALSE(m.Exists(backup[i])) << backup[i];
    else
      EXPECT_EQ("old " + sources[i], m.Read(backup[i])) << backup[i];
  }
}

INSTANTIATE_TEST_SUITE_P(Families, AspiBoth, ::testing::Values("win98", "winxp"));

// ---- 9x family ----

// Eight entries, two per file, backup first, after the lines already there;
// a line that stood there before for a live name is moved after its backup
// line (kept in place, the restart would move the new file off again).
TEST(Aspi9x, QueuesEightRenamesAfterEarlierLines) {
  AspiMachine m("win98");
  for (const Row &r : kRows9x) m.Write(m.Sys(r.staging), "stale");  // replaced
  m.Write(m.Win("WININIT.INI"), "[RENAME]\r\nC:\\WINDOWS\\OTHER.DLL=C:\\WINDOWS\\OTHER.NEW\r\n" +
                                    m.Sys("WINASPI.DLL") + "=C:\\WINDOWS\\STALE.TMP\r\n");
  m.Run();
  std::vector<std::string> expected = {"C:\\WINDOWS\\OTHER.DLL=C:\\WINDOWS\\OTHER.NEW"};
  for (const std::string &line : Renames9x(m)) expected.push_back(line);
  EXPECT_EQ(expected, SectionLines(m.Wininit(), "RENAME"));
  for (const Row &r : kRows9x)
    EXPECT_EQ(AspiMachine::Payload("v2", r.source), m.Read(m.Sys(r.staging))) << r.staging;
  EXPECT_TRUE(PendingMoves().empty());
  ExpectRegistry9x();
  EXPECT_TRUE(BoxTexts().empty());
}

// A second run before the restart finds every line pending and leaves the
// section as one run left it.
TEST(Aspi9x, SecondRunKeepsOneLinePerKey) {
  AspiMachine m("win98");
  m.Run();
  m.Run();
  EXPECT_EQ(Renames9x(m), SectionLines(m.Wininit(), "RENAME"));
}

TEST(Aspi9x, MissingAspienumSkipsOnlyItsRow) {
  AspiMachine m("win98");
  m.Remove(m.Source() + "ASPIENUM.9x");
  m.Run();
  EXPECT_EQ(Renames9x(m, {0, 1, 3}), SectionLines(m.Wininit(), "RENAME"));
  EXPECT_FALSE(m.Exists(m.Sys("ASPIENUM.9x")));
  EXPECT_TRUE(m.Exists(m.Sys("IOSUBSYS\\APIX.9x")));
  ExpectRegistry9x();  // StaticVxD names the VXD although it was not staged
}

// A refused WININIT.INI entry stops the installer there; the error reaches
// the caller, and the registry is not written.
TEST(Aspi9x, RefusedWininitStopsAtTheFirstEntry) {
  AspiMachine m("win98");
  m.Write(m.Win("WININIT.INI"), "[RENAME]\r\n");
  ASSERT_TRUE(SetFileAttributesA(m.Win("WININIT.INI").c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(m.Run());
  EXPECT_EQ("Unable to write to Wininit.ini", RefusedProfileWrite.message);
  EXPECT_TRUE(m.Exists(m.Sys("WNASPI32.9x")));
  EXPECT_FALSE(m.Exists(m.Sys("WINASPI.9x")));
  EXPECT_FALSE(ReadValue(kAspiEnumKey, "Start").found);
}

// A live WINASPI.DLL with seventeen earlier lines for it: every one goes,
// and the whole run installs the new file.  Each write of that row, refused
// in turn, ends the run with the error box and exit code 1, and the restart
// leaves the old file live.
TEST(Aspi9x, EarlierLinesForALiveNameGoHoweverMany) {
  std::vector<unsigned long> rowWrites;  // among the run's WritePrivateProfileStringA calls
  for (size_t refused = 0; refused <= rowWrites.size(); ++refused) {
    AspiMachine m("win98");
    m.Write(m.Sys("WINASPI.DLL"), "old");
    std::string lines = "[rename]\r\n";
    for (int i = 0; i < 17; ++i)
      lines += m.Sys("WINASPI.DLL") + "=" + m.Sys("OTHER" + std::to_string(i) + ".DLL") + "\r\n";
    m.Write(m.Win("WININIT.INI"), lines);
    winsim::EnableCallLog(true);
    if (refused > 0) FailCalls("WritePrivateProfileStringA", ERROR_ACCESS_DENIED, rowWrites[refused - 1]);
    const int code = RunSetup();
    if (refused == 0) {  // the clean run: find the row's writes, from its copy to the next
      unsigned long writes = 0;
      bool inRow = false;
      for (const std::string &call : winsim::CallLog()) {
        if (call.rfind("CopyFileA ", 0) == 0) inRow = call.find("WINASPI.9x") != std::string::npos;
        if (call.rfind("WritePrivateProfileStringA ", 0) != 0) continue;
        ++writes;
        if (inRow) rowWrites.push_back(writes);
      }
      EXPECT_EQ(19u, rowWrites.size());  // seventeen removals, the backup and the new line
    }
    winsim::EnableCallLog(false);
    winsim::ClearFaults();
    m.Restart();
    const std::string box = "Exception ProfileWriteError";
    bool errorBox = false;
    for (const std::string &line : winsim::ReadJournal()) errorBox |= line.find(box) != std::string::npos;
    EXPECT_EQ(refused == 0 ? 0 : 1, code) << "refused write " << refused;
    EXPECT_EQ(refused != 0, errorBox) << "refused write " << refused;
    EXPECT_EQ(refused == 0 ? AspiMachine::Payload("v2", "WINASPI.9x") : "old", m.Read(m.Sys("WINASPI.DLL")))
        << "refused write " << refused;
  }
}

// ---- NT family ----

TEST(AspiNT, QueuesEightMovesInRowOrder) {
  AspiMachine m("winxp");
  // Another program's pending delete of a live file is no backup move.
  ASSERT_TRUE(MoveFileExA(m.Sys("WNASPI32.DLL").c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
  m.Run();
  std::vector<std::string> expected = {"\\??\\" + m.Sys("WNASPI32.DLL"), ""};  // the deletion first
  for (const std::string &move : MovesNT(m)) expected.push_back(move);
  EXPECT_EQ(expected, PendingMoves());
  EXPECT_EQ(AspiMachine::Payload("v2", "WINASPI.NT"), m.Read(m.Win("SYSTEM\\WINASPI.NT")));
  EXPECT_EQ(AspiMachine::Payload("v2", "WOWPOST.NT"), m.Read(m.Win("SYSTEM\\WOWPOST.NT")));
  EXPECT_EQ(AspiMachine::Payload("v2", "ASPI32.NT"), m.Read(m.Sys("Drivers\\ASPI32.NT")));
  EXPECT_FALSE(m.Exists(m.Sys("WINASPI.NT")));
  EXPECT_FALSE(m.Exists(m.Win("WININIT.INI")));
  ExpectRegistryNT();
  EXPECT_TRUE(BoxTexts().empty());
}

// Two runs before one restart: each pair is queued once, so the restart
// leaves the newest staged file live and the previous live file as backup.
// Queued twice, the repeated backup move would take the fresh file away and
// leave no live file at all.
TEST(AspiNT, SecondRunBeforeRestartQueuesNothingTwice) {
  AspiMachine m("winxp", "v1");
  m.Write(m.Sys("WNASPI32.DLL"), "old WNASPI32.DLL");
  m.Run();
  m.LoadPayload("v2");
  m.Run();
  EXPECT_EQ(MovesNT(m), PendingMoves());
  EXPECT_EQ(AspiMachine::Payload("v2", "WNASPI32.NT"), m.Read(m.Sys("WNASPI32.NT")));
  m.Restart();
  EXPECT_EQ(AspiMachine::Payload("v2", "WNASPI32.NT"), m.Read(m.Sys("WNASPI32.DLL")));
  EXPECT_EQ("old WNASPI32.DLL", m.Read(m.Sys("WNASPI32.OLD")));
  EXPECT_EQ(AspiMachine::Payload("v2", "ASPI32.NT"), m.Read(m.Sys("Drivers\\ASPI32.SYS")));
  EXPECT_EQ(AspiMachine::Payload("v2", "WOWPOST.NT"), m.Read(m.Win("SYSTEM\\WOWPOST.EXE")));
  EXPECT_FALSE(m.Exists(m.Sys("WNASPI32.NT")));
}

// A row whose staging copy failed in the first run is queued by the second;
// the rows already pending are not.
TEST(AspiNT, SecondRunQueuesWhatTheFirstCouldNot) {
  AspiMachine m("winxp");
  FailCalls("CopyFileA", ERROR_SHARING_VIOLATION, 0, "WOWPOST.NT");
  m.Run();
  winsim::ClearFaults();
  std::vector<std::string> all = MovesNT(m);
  EXPECT_EQ(std::vector<std::string>(all.begin(), all.begin() + 12), PendingMoves());
  m.Run();
  EXPECT_EQ(all, PendingMoves());
}

// The first run's replacement move of row 1 was refused, its backup move was
// not: the second run queues the replacement alone.
TEST(AspiNT, SecondRunQueuesOnlyTheMissingReplacement) {
  AspiMachine m("winxp");
  FailCalls("MoveFileExA", ERROR_ACCESS_DENIED, 2);
  m.Run();
  winsim::ClearFaults();
  m.Run();
  std::vector<std::string> all = MovesNT(m), expected(all.begin(), all.begin() + 2);
  expected.insert(expected.end(), all.begin() + 4, all.end());
  expected.insert(expected.end(), all.begin() + 2, all.begin() + 4);
  EXPECT_EQ(expected, PendingMoves());
}

// A replacement move refused after the backup move of a live file: the
// restart moves the backup back, so the live file is never lost; a second
// run before the restart queues backup and replacement again.
TEST(AspiNT, RefusedReplacementKeepsTheLiveFile) {
  for (bool secondRun : {false, true}) {
    AspiMachine m("winxp");
    m.Write(m.Sys("WNASPI32.DLL"), "old WNASPI32.DLL");
    FailCalls("MoveFileExA", ERROR_ACCESS_DENIED, 0, "WNASPI32.NT");
    m.Run();
    winsim::ClearFaults();
    if (secondRun) m.Run();
    m.Restart();
    EXPECT_EQ(secondRun ? AspiMachine::Payload("v2", "WNASPI32.NT") : "old WNASPI32.DLL",
              m.Read(m.Sys("WNASPI32.DLL"))) << secondRun;
    EXPECT_EQ(secondRun ? "old WNASPI32.DLL" : "", m.Read(m.Sys("WNASPI32.OLD"))) << secondRun;
  }
}

// Pending moves are compared without regard to case: a second run naming
// the same directories in other letters queues nothing again.
TEST(AspiNT, SecondRunInOtherLettersQueuesNothingTwice) {
  AspiMachine m("winxp");
  m.MakeDir("C:\\az\\AZ\\S32\\Drivers");
  m.MakeDir("C:\\az\\AZ\\SYSTEM");
  EXPECT_TRUE(InstallAspiLayer(m.Source(), "C:\\az\\AZ", "C:\\az\\AZ\\S32"));
  std::vector<std::string> first = PendingMoves();
  EXPECT_EQ(16u, first.size());
  EXPECT_TRUE(InstallAspiLayer(m.Source(), "C:\\AZ\\az", "C:\\AZ\\az\\S32"));
  EXPECT_EQ(first, PendingMoves());
}
