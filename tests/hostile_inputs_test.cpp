// Odd and hostile inputs to a whole run: directories the system does not
// report, arguments and paths beyond the usual limits, an application
// directory that is missing or a file, a module path without a folder, a
// program started from a CD-ROM.
// Whatever comes in, the run ends normally and writes only where it should.
#include <gtest/gtest.h>

#include <errno.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <windows.h>

#include "installer_checks.h"

namespace {

using checks::PayloadMachine;

std::string Upper(std::string text) {
  for (char &c : text) c = char(toupper(static_cast<unsigned char>(c)));
  return text;
}

// Files the run created or changed outside the Windows folder tree and the
// folders in `allowed` (upper-case prefixes).
std::vector<std::string> StrayWrites(const winsim::MachineSnapshot &before,
                                     const winsim::MachineSnapshot &after,
                                     std::vector<std::string> allowed = {}) {
  allowed.push_back(Upper(winsim::Config().windowsDir) + "\\");
  std::vector<std::string> stray;
  for (const auto &f : after.files) {
    if (f.second.directory) continue;
    auto old = before.files.find(f.first);
    if (old != before.files.end() && old->second.hash == f.second.hash) continue;
    bool inside = false;
    for (const std::string &prefix : allowed) inside = inside || Upper(f.first).rfind(prefix, 0) == 0;
    if (!inside) stray.push_back(f.first);
  }
  return stray;
}

// The names in a host folder, sorted.
std::vector<std::string> Names(const std::string &hostDir) {
  std::vector<std::string> names;
  for (const auto &entry : std::filesystem::directory_iterator(hostDir))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

void SetCommandLine(const std::string &arguments) {
  winsim::Config().commandLine = "\"" + winsim::Config().program + "\" " + arguments;
}

class EmptyDirectory : public ::testing::TestWithParam<std::pair<const char *, const char *>> {};

// A directory query that fails must not turn the targets into names relative
// to the current directory (the program's own folder): nothing is staged,
// copied or queued there, and no box is shown.
TEST_P(EmptyDirectory, InstallsNothingAndWritesNowhere) {
  PayloadMachine machine(GetParam().first);
  const winsim::MachineSnapshot before = checks::Snapshot();
  FailCalls(GetParam().second, ERROR_NOT_ENOUGH_MEMORY);

  EXPECT_EQ(0, RunSetup());
  winsim::ClearFaults();
  const winsim::MachineSnapshot after = checks::Snapshot();
  EXPECT_EQ(std::vector<std::string>{}, StrayWrites(before, after));
  EXPECT_TRUE(checks::BoxTexts().empty());
  EXPECT_TRUE(after.pendingMoves.empty());
  EXPECT_TRUE(checks::SectionLines(machine.Read(machine.Win("WININIT.INI")), "rename").empty());
  machine.Restart();
  EXPECT_EQ(std::vector<std::string>{}, StrayWrites(before, checks::Snapshot()));
}

INSTANTIATE_TEST_SUITE_P(
    Families, EmptyDirectory,
    ::testing::Values(std::make_pair("win98", "GetSystemDirectoryA"),
                      std::make_pair("win98", "GetWindowsDirectoryA"),
                      std::make_pair("winxp", "GetSystemDirectoryA"),
                      std::make_pair("winxp", "GetWindowsDirectoryA")));

// The state after a whole run with `arguments` on a fresh machine with the
// sample disc, and the stray writes of that run.
struct ArgumentsRun {
  winsim::MachineSnapshot after;
  std::vector<std::string> stray, boxes;
};

ArgumentsRun RunWithArguments(const char *templateName, const std::string &arguments) {
  PayloadMachine machine(templateName);
  std::string error;
  EXPECT_TRUE(winsim::InsertDisc('D', &error)) << error;
  SetCommandLine(arguments);
  const winsim::MachineSnapshot before = checks::Snapshot();
  EXPECT_EQ(0, RunSetup());
  ArgumentsRun run;
  run.after = checks::Snapshot();
  run.stray = StrayWrites(before, run.after, {"C:\\PROGRAM FILES\\KORVIX-STUDIO\\"});
  run.boxes = checks::BoxTexts();
  return run;
}

// An application directory of 300 characters: every target path in it
// passes MAX_PATH, so the system refuses the three disc copies (CopyFileA
// fails, silently); every other step runs as in a run without arguments.
TEST(HostileInputs, ApplicationDirectoryBeyondMaxPathDiscCopiesRefusedOtherStepsAsUsual) {
  for (const char *name : {"win98", "winxp"}) {
    SCOPED_TRACE(name);
    const ArgumentsRun longDir = RunWithArguments(name, "\"C:\\" + std::string(300, 'A') + "\" korvix");
    const ArgumentsRun none = RunWithArguments(name, "");
    EXPECT_EQ(std::vector<std::string>{}, longDir.stray);
    EXPECT_TRUE(longDir.boxes.empty());
    EXPECT_EQ("", winsim::DiffDumps(none.after, longDir.after));
  }
}

// A manual base name of 256 characters: its path on the disc passes
// MAX_PATH, so the look-up on the disc finds nothing (FindFirstFileA is
// refused) and no manual is copied; the OEM module is copied as usual.
TEST(HostileInputs, ManualNameBeyondMaxPathNotFoundOnDiscOemModuleStillCopied) {
  for (const char *name : {"win98", "winxp"}) {
    SCOPED_TRACE(name);
    const std::string appDir = "\"C:\\Program Files\\Korvix-Studio\"";
    const ArgumentsRun longName = RunWithArguments(name, appDir + " " + std::string(256, 'k'));
    const ArgumentsRun oemOnly = RunWithArguments(name, appDir);
    EXPECT_EQ(std::vector<std::string>{}, longName.stray);
    EXPECT_TRUE(longName.boxes.empty());
    EXPECT_EQ(1u, oemOnly.after.files.count("C:\\Program Files\\Korvix-Studio\\KORVIXOEM.DLL"));
    EXPECT_EQ("", winsim::DiffDumps(oemOnly.after, longName.after));
  }
}

// The program in a folder so deep that SourceDir plus a component name of
// more than ten characters passes MAX_PATH: the system refuses those
// sources, so their deployment finds no file (no box) and their staging
// copies fail (nothing queued); the shorter names deploy as usual.
TEST(HostileInputs, SourceDirNearMaxPathLongerSourcesSkippedNothingQueuedWithoutItsFile) {
  for (const char *name : {"win98", "winxp"}) {
    SCOPED_TRACE(name);
    TestMachine machine(name);
    const std::string folder = "C:\\" + std::string(245, 'S');  // SourceDir: 249 characters
    winsim::Config().program = folder + "\\V.EXE";
    winsim::Config().currentDir = folder;
    winsim::Config().commandLine = "\"" + winsim::Config().program + "\"";
    std::string error;
    ASSERT_TRUE(winsim::SaveConfig(&error)) << error;
    machine.Write(winsim::Config().program, "MZ");
    ASSERT_TRUE(winsim::InstallPayload("v2", &error)) << error;
    const winsim::MachineSnapshot before = checks::Snapshot();
    EXPECT_EQ(0, RunSetup());
    const winsim::MachineSnapshot after = checks::Snapshot();
    EXPECT_EQ(std::vector<std::string>{}, StrayWrites(before, after));
    EXPECT_TRUE(checks::BoxTexts().empty());
    // CX_USB.INF (10 characters) still fits; PULSARIO.VXD (12) does not.
    EXPECT_EQ(1u, after.files.count(winsim::Config().windowsDir + "\\INF\\CX_USB.INF"));
    EXPECT_EQ(0u, after.files.count(winsim::Config().windowsDir + "\\INF\\MAYA51USB.INF"));
    // Every queued replacement has its staged file; backups (to .OLD) may
    // name a live file that is absent.
    std::vector<std::string> queuedWithoutFile;
    for (const auto &move : after.pendingMoves)
      if (Upper(move.second).find(".OLD") == std::string::npos && !machine.Exists(move.first.substr(4)))
        queuedWithoutFile.push_back(move.first);
    const std::string wininit = winsim::Config().windowsDir + "\\WININIT.INI";
    for (const std::string &line : checks::SectionLines(machine.Exists(wininit) ? machine.Read(wininit) : "", "rename")) {
      const std::string source = line.substr(line.find('=') + 1);
      if (Upper(line).find(".OLD=") == std::string::npos && !machine.Exists(source)) queuedWithoutFile.push_back(source);
    }
    EXPECT_EQ(std::vector<std::string>{}, queuedWithoutFile);
  }
}

// An application "directory" that is a file, and one that does not exist:
// the file is left as it was and no folder is created.
TEST(HostileInputs, ApplicationDirectoryThatIsAFileOrMissing) {
  PayloadMachine machine("winxp");
  std::string error;
  ASSERT_TRUE(winsim::InsertDisc('D', &error)) << error;
  machine.Write("C:\\KORVIX", "not a folder");
  for (const char *dir : {"C:\\KORVIX", "C:\\NOWHERE\\KORVIX"}) {
    SetCommandLine(std::string("\"") + dir + "\" korvix");
    const winsim::MachineSnapshot before = checks::Snapshot();
    EXPECT_EQ(0, RunSetup()) << dir;
    EXPECT_EQ(std::vector<std::string>{}, StrayWrites(before, checks::Snapshot())) << dir;
    EXPECT_EQ("not a folder", machine.Read("C:\\KORVIX"));
    EXPECT_FALSE(machine.Exists("C:\\NOWHERE"));
  }
}

// A module path without any backslash leaves SourceDir empty; component
// names then resolve in the current directory, and the run still installs
// from there without writing anywhere else.
TEST(HostileInputs, ModulePathWithoutBackslash) {
  PayloadMachine machine("win2k");
  winsim::Config().program = "VARSETUP.EXE";
  const winsim::MachineSnapshot before = checks::Snapshot();
  EXPECT_EQ(0, RunSetup());
  EXPECT_EQ(std::vector<std::string>{}, StrayWrites(before, checks::Snapshot()));
}

// Double-byte names (Shift-JIS, whose second byte may be 0x5C) in both
// arguments on a Japanese machine: the disc copies go into the folder named,
// nowhere else.
TEST(HostileInputs, DoubleByteArguments) {
  PayloadMachine machine("winxp-ja");
  std::string error;
  ASSERT_TRUE(winsim::InsertDisc('D', &error)) << error;
  const std::string dir = "C:\\\x95\x5C\x8E\xA6";  // a folder named with a 0x5C second byte
  machine.MakeDir(dir);
  SetCommandLine("\"" + dir + "\" \x83\x5C\x83\x74\x83\x67");
  const winsim::MachineSnapshot before = checks::Snapshot();
  EXPECT_EQ(0, RunSetup());
  EXPECT_EQ(std::vector<std::string>{},
            StrayWrites(before, checks::Snapshot(), {Upper(dir) + "\\"}));
}

// Manual base names that are more than a file-name part: no manual is
// copied (silently, as for an empty name), nothing lands outside the
// application directory, and the OEM module is still copied.  The disc
// holds a file at each place such a name would reach.
TEST(HostileInputs, ManualNamesThatLeaveTheFolderCopyNoManual) {
  PayloadMachine machine("winxp");
  std::string error;
  ASSERT_TRUE(winsim::InsertDisc('D', &error)) << error;
  const std::string app = "C:\\Program Files\\Korvix";
  machine.MakeDir(app);
  for (const char *planted : {"D:\\x-de.pdf", "D:\\DATA\\x-de.pdf", "D:\\DATA\\DOC\\..-de.pdf",
                              "D:\\DATA\\DOC\\sub\\x-de.pdf", "D:\\DATA\\DOC\\korvix-de.pdf"})
    machine.Write(planted, "manual");
  for (const char *name : {"..\\..\\..\\x", "..\\x", "../x", "sub/x", "sub\\x", "..", "D:x", "C:\\x",
                           "korvix*", "korvix?", "korvix\t", "\x1F"}) {
    SCOPED_TRACE(name);
    machine.Remove(app);
    machine.MakeDir(app);
    SetCommandLine("\"" + app + "\" \"" + name + "\"");
    const winsim::MachineSnapshot before = checks::Snapshot();
    winsim::EnableCallLog(true);
    EXPECT_EQ(0, RunSetup());
    for (const std::string &call : winsim::CallLog()) EXPECT_EQ(std::string::npos, call.find(".pdf")) << call;
    winsim::EnableCallLog(false);
    EXPECT_EQ(std::vector<std::string>{}, StrayWrites(before, checks::Snapshot(), {Upper(app) + "\\"}));
    EXPECT_EQ((std::vector<std::string>{"KORVIXOEM.DLL"}), Names(machine.Host(app)));
    EXPECT_TRUE(checks::BoxTexts().empty());
  }
}

// Plain names are taken as they are: a blank, and a double-byte character
// at the end whose second byte is a backslash.
TEST(HostileInputs, PlainManualNamesWithBlanksAndDoubleByteEndsAreCopied) {
  const struct { const char *machine, *name; } runs[] = {{"winxp", "Korvix Manual"},
                                                         {"winxp-ja", "\x83\x5C\x95\x5C"}};
  for (const auto &run : runs) {
    SCOPED_TRACE(run.name);
    PayloadMachine machine(run.machine);
    std::string error;
    ASSERT_TRUE(winsim::InsertDisc('D', &error)) << error;
    const std::string app = "C:\\Korvix\\", name = run.name;
    machine.MakeDir(app);
    machine.Write("D:\\DATA\\DOC\\" + name + "-de.pdf", "de");
    machine.Write("D:\\DATA\\DOC\\" + name + "-en.pdf", "en");
    SetCommandLine("\"" + app + "\" \"" + name + "\"");
    EXPECT_EQ(0, RunSetup());
    EXPECT_EQ("de en", machine.Read(app + name + "-de.pdf") + " " + machine.Read(app + name + "-en.pdf"));
  }
}

// The snapshot without the files below `prefix` (upper case), so that runs
// started from different folders can be compared.
winsim::MachineSnapshot Without(winsim::MachineSnapshot snapshot, const std::string &prefix) {
  for (auto it = snapshot.files.begin(); it != snapshot.files.end();)
    it = Upper(it->first).rfind(prefix, 0) == 0 ? snapshot.files.erase(it) : std::next(it);
  return snapshot;
}

// Calls of the run that change the file system, named with a path on drive
// `letter`: what a run from a disc must never attempt.  These are all the
// writing file calls the product makes.
std::vector<std::string> WritesOnDrive(const std::vector<std::string> &log, char letter) {
  static const char *const kWriting[] = {"CopyFileA", "MoveFileExA", "DeleteFileA", "SetFileAttributesA",
                                         "WritePrivateProfileStringA", "WritePrivateProfileSectionA"};
  const std::string drive = std::string(" ") + letter + ":";
  std::vector<std::string> found;
  for (const std::string &line : log) {
    std::string call = line.substr(0, line.find(' '));
    bool writing = false;
    for (const char *name : kWriting) writing = writing || call == name;
    if (!writing) continue;
    // CopyFileA reads its first path: only the target counts.
    std::string paths = Upper(line.substr(call.size()));
    if (call == "CopyFileA") paths = paths.substr(std::min(paths.size(), paths.find(' ', 1)));
    if (paths.find(drive) != std::string::npos) found.push_back(line);
  }
  return found;
}

// SourceDir on a CD-ROM: the program runs as D:\SETUP\VARSETUP.EXE (current
// directory there too) with the payload beside it on the disc.  The run
// deploys exactly what the same run from a folder on the hard disk deploys,
// and writes nothing to the disc, where winsim refuses every write with
// access denied.
TEST(HostileInputs, SourceDirOnCdRomDeploysAsFromAnyFolder) {
  for (const char *name : {"win98", "winxp"}) {
    SCOPED_TRACE(name);
    winsim::MachineSnapshot fromDisk;
    {
      PayloadMachine machine(name);
      const winsim::MachineSnapshot before = checks::Snapshot();
      ASSERT_EQ(0, RunSetup());
      // The run from the hard disk leaves its own folder alone too.
      EXPECT_EQ(std::vector<std::string>{}, StrayWrites(before, checks::Snapshot()));
      machine.Restart();
      const std::string folder = Upper(machine.Source());
      fromDisk = Without(checks::Snapshot(), folder.substr(0, folder.size() - 1));
    }

    TestMachine machine(name);
    ASSERT_EQ(winsim::DriveKind::Cdrom, winsim::Config().drives['D']);
    const std::string disc = winsim::DriveHostDir('D');
    ASSERT_TRUE(mkdir(disc.c_str(), 0755) == 0 || errno == EEXIST) << disc;
    const std::string program = winsim::Config().program;
    const std::string image = machine.Exists(program) ? machine.Read(program) : "MZ";
    machine.Remove(program.substr(0, program.rfind('\\')));
    winsim::Config().program = "D:\\SETUP\\VARSETUP.EXE";
    winsim::Config().currentDir = "D:\\SETUP";
    winsim::Config().commandLine = "\"D:\\SETUP\\VARSETUP.EXE\"";
    std::string error;
    ASSERT_TRUE(winsim::SaveConfig(&error)) << error;
    ASSERT_TRUE(winsim::InstallPayload("v2", &error)) << error;
    {
      // The fixture writes with host calls; the disc itself refuses writes.
      std::ofstream(machine.Host("D:\\SETUP") + "/VARSETUP.EXE", std::ios::binary) << image;
      const std::string ini = winsim::Config().windowsDir + "\\SYSTEM.INI";
      EXPECT_FALSE(CopyFileA(ini.c_str(), "D:\\SETUP\\PROBE.TXT", FALSE));
      EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), GetLastError());
    }
    const winsim::MachineSnapshot before = checks::Snapshot();
    winsim::EnableCallLog(true);
    EXPECT_EQ(0, RunSetup());
    const std::vector<std::string> calls = winsim::CallLog();
    winsim::EnableCallLog(false);
    const winsim::MachineSnapshot after = checks::Snapshot();
    EXPECT_EQ(std::vector<std::string>{}, StrayWrites(before, after));
    EXPECT_EQ(std::vector<std::string>{}, WritesOnDrive(calls, 'D'));
    // The payload was read from the disc.
    bool readFromDisc = false;
    for (const std::string &line : calls)
      readFromDisc = readFromDisc || (line.rfind("CopyFileA D:\\SETUP\\", 0) == 0);
    EXPECT_TRUE(readFromDisc);
    ASSERT_TRUE(winsim::RestartMachine(&error)) << error;
    EXPECT_EQ("", winsim::DiffDumps(fromDisk, Without(checks::Snapshot(), "D:")));
  }
}

}  // namespace
