// The machine core: path resolution, machine.ini validation, new machines
// from templates.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <setupapi.h>

#include <fstream>

#include "processes.h"
#include "test_machine.h"

namespace {

winsim::ResolvedPath Resolve(const char *path, DWORD expected = 0) {
  winsim::ResolvedPath r;
  EXPECT_EQ(expected, winsim::ResolvePath(path, &r)) << path;
  return r;
}

TEST(ResolvePath, MatchesCaseInsensitivelyAndKeepsStoredCase) {
  TestMachine m("winxp");
  winsim::ResolvedPath r = Resolve("c:/windows/SYSTEM32/KERNEL32.DLL");
  EXPECT_TRUE(r.exists);
  EXPECT_EQ("C:\\WINDOWS\\system32\\kernel32.dll", r.windows);
  // A new name keeps the case it was given.
  r = Resolve("C:\\windows\\New.Dat");
  EXPECT_FALSE(r.exists);
  EXPECT_EQ("C:\\WINDOWS\\New.Dat", r.windows);
}

TEST(ResolvePath, DotDotStopsAtTheRootAndRelativeNamesUseTheCurrentDirectory) {
  TestMachine m("win98");
  EXPECT_EQ("C:\\WINDOWS\\WIN.INI", Resolve("C:\\..\\..\\WINDOWS\\.\\SYSTEM\\..\\win.ini").windows);
  EXPECT_TRUE(Resolve("C:\\..").isRoot);
  EXPECT_EQ("C:\\VARSETUP\\VARSETUP.EXE", Resolve("varsetup.exe").windows);
  EXPECT_EQ("C:\\WINDOWS", Resolve("..\\windows").windows);
}

TEST(ResolvePath, MissingPartsAndDrives) {
  TestMachine m("winxp");
  winsim::ResolvedPath r = Resolve("C:\\NOPE\\FILE.TXT", ERROR_PATH_NOT_FOUND);
  Resolve("Q:\\FILE.TXT", ERROR_PATH_NOT_FOUND);       // no such drive
  Resolve("D:\\OEM\\KORVIXOEM.DLL", ERROR_NOT_READY);  // CD-ROM drive without a disc
  Resolve("A:\\", ERROR_NOT_READY);                    // floppy drive, no disk
  Resolve("C:\\WINDOWS\\a*b", ERROR_INVALID_NAME);
  // A file used as a directory is a missing path.
  Resolve("C:\\WINDOWS\\WIN.INI\\X", ERROR_PATH_NOT_FOUND);
  m.MakeDir("C:\\DISC");
  ASSERT_EQ(0, symlink(m.Host("C:\\DISC").c_str(), (m.Dir() + "/drives/d").c_str()));
  EXPECT_FALSE(Resolve("D:\\OEM").exists);
}

void WriteIni(const std::string &path, const std::string &text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string AttachError(const std::string &dir) {
  std::string error;
  EXPECT_FALSE(winsim::Attach(dir, &error));
  return error;
}

// Attaching a machine starts a new process: nothing an earlier one opened,
// loaded or set carries over, and its handles name nothing any more.
TEST(Attach, StartsANewProcessEachTime) {
  TestMachine m("winxp");
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA("C:\\WINDOWS\\*", &found);
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, 668);
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, &key));
  HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
  ASSERT_NE(nullptr, LoadLibraryA("C:\\WINDOWS\\system32\\newdev.dll"));
  SetErrorMode(SEM_FAILCRITICALERRORS);
  ASSERT_NE(INVALID_HANDLE_VALUE, search);
  ASSERT_NE(nullptr, process);
  ASSERT_NE(INVALID_HANDLE_VALUE, set);
  m.Reattach();
  EXPECT_EQ(0u, winsim::OpenHandleCount());
  EXPECT_EQ(0u, winsim::OpenKeyCount());
  EXPECT_EQ(0u, winsim::LoadedModuleCount());
  EXPECT_TRUE(winsim::LoadedLibraries().empty());
  EXPECT_EQ(0u, winsim::ProcessErrorMode());
  EXPECT_EQ(0u, GetLastError());
  EXPECT_FALSE(FindClose(search));
  EXPECT_FALSE(CloseHandle(process));
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(key));
  EXPECT_FALSE(SetupDiDestroyDeviceInfoList(set));
  // The new process numbers its handles from the start again.
  HANDLE again = FindFirstFileA("C:\\WINDOWS\\*", &found);
  EXPECT_EQ(search, again);
  FindClose(again);
}

TEST(MachineIni, RefusesBadLinesWithFileAndLine) {
  TestMachine m("winxp");
  std::string ini = m.Dir() + "/machine.ini";
  std::string good;
  {
    std::ifstream in(ini, std::ios::binary);
    good.assign(std::istreambuf_iterator<char>(in), {});
  }
  winsim::Detach();
  const std::string head = "[system]\nversion=5.1\nwindows=C:\\WINDOWS\nsystem=C:\\WINDOWS\\system32\n";
  struct Case {
    std::string text, message;
  } cases[] = {
      {head + "program=C:\\P.EXE\n[drives]\nC=fixed\n[system]\ncolour=blue\n", "machine.ini:9: unknown key 'colour'"},
      {head + "program=E:\\P.EXE\n[drives]\nC=fixed\n", "machine.ini:5: path on a drive"},
      {head + "program=C:\\A\\..\\P.EXE\n[drives]\nC=fixed\n", "machine.ini:5: program must be a full Windows path"},
      // Win32 strips a name's trailing blanks and dots: no such folder exists.
      {head + "program=C:\\SETUP \\P.EXE\n[drives]\nC=fixed\n", "machine.ini:5: program must be a full Windows path"},
      // Nor does a name hold control characters.
      {head + "program=C:\\SETUP\t\\P.EXE\n[drives]\nC=fixed\n", "machine.ini:5: program must be a full Windows path"},
      {head + "program=C:\\P.EXE\n[drives]\nC=fixed\n[in-use]\nC:\\X\\..\\Y\n", "machine.ini:9: expected a full"},
      {"garbage\n", "machine.ini:1: line outside a section"},
      {head + "program=C:\\P.EXE\n[drives]\nC=floppy\n", "machine.ini:7: unknown drive type"},
      {"[system\n", "machine.ini:1: unterminated"},
  };
  for (const Case &c : cases) {
    WriteIni(ini, c.text);
    std::string error = AttachError(m.Dir());
    EXPECT_NE(std::string::npos, error.find(c.message)) << error;
    EXPECT_FALSE(winsim::Attached());
  }
  WriteIni(ini, good);
  m.Reattach();
  EXPECT_TRUE(winsim::Attached());
}

TEST(MachineIni, FormatParsesBackToTheSameConfig) {
  TestMachine m("win98");
  winsim::Config().inUse.push_back("C:\\WINDOWS\\SYSTEM\\X.DLL");
  std::string text = winsim::FormatMachineIni(winsim::Config()), error;
  winsim::MachineConfig back;
  ASSERT_TRUE(winsim::ParseMachineIni(text, "x", &back, &error)) << error;
  EXPECT_EQ(text, winsim::FormatMachineIni(back));
  EXPECT_EQ(" A ", back.csd);
  EXPECT_EQ(1u, back.inUse.size());
}

TEST(MachineIni, A64BitMachineAndItsProcessFlagsParseBack) {
  TestMachine m("win10-64");
  std::string text = winsim::FormatMachineIni(winsim::Config()), error;
  winsim::MachineConfig back;
  ASSERT_TRUE(winsim::ParseMachineIni(text, "x", &back, &error)) << error;
  EXPECT_EQ(text, winsim::FormatMachineIni(back));
  EXPECT_TRUE(back.wow64);
  ASSERT_LT(1u, back.processes.size());
  EXPECT_EQ("System", back.processes[1].image);
  EXPECT_TRUE(back.processes[1].denied && back.processes[1].native64);
  // A 64-bit process on a 32-bit machine is refused.
  std::string bad = text;
  bad.replace(bad.find("bits=64"), 7, "bits=32");
  EXPECT_FALSE(winsim::ParseMachineIni(bad, "x", &back, &error));
  EXPECT_NE(std::string::npos, error.find("needs bits=64")) << error;
}

TEST(CreateMachine, CopiesTheTemplateWithoutKeepFiles) {
  TestMachine m("win2k");
  EXPECT_TRUE(m.Exists("C:\\WINNT\\system32\\drivers"));
  EXPECT_FALSE(m.Exists("C:\\WINNT\\system32\\drivers\\.gitkeep"));
  EXPECT_TRUE(m.Exists("C:\\VARSETUP\\VARSETUP.EXE"));
  struct stat st;
  EXPECT_EQ(0, stat((m.Dir() + "/registry/HKLM.reg").c_str(), &st));
  EXPECT_NE(nullptr, winsim::reg::Find(winsim::reg::Root(HKEY_LOCAL_MACHINE),
                                       kSessionManager));
  // Never over a machine that is there already, and never from a broken
  // template.
  std::string error;
  EXPECT_FALSE(winsim::CreateMachine(winsim::TemplateDir("win2k"), m.Dir(), &error));
  EXPECT_NE(std::string::npos, error.find("not empty")) << error;
  EXPECT_FALSE(winsim::CreateMachine(m.Dir() + "/drives", m.Dir() + "/other", &error));
  EXPECT_NE(0, stat((m.Dir() + "/other").c_str(), &st));
}

TEST(CreateMachine, EveryTemplateAttachesWithItsVersion) {
  struct Expect {
    const char *name;
    DWORD platform, major, minor, build;
    const char *system;
    bool psapi;
    UINT codePage = 1252;
  } all[] = {
      {"win95", 1, 4, 0, 67109814, "C:\\WINDOWS\\SYSTEM", false},
      {"win98", 1, 4, 10, 67766446, "C:\\WINDOWS\\SYSTEM", false},
      {"winme", 1, 4, 90, 73010104, "C:\\WINDOWS\\SYSTEM", false},
      {"nt40", 2, 4, 0, 1381, "C:\\WINNT\\system32", false},
      {"win2k", 2, 5, 0, 2195, "C:\\WINNT\\system32", true},
      {"winxp", 2, 5, 1, 2600, "C:\\WINDOWS\\system32", true},
      {"win10", 2, 6, 2, 9200, "C:\\Windows\\System32", true},
      {"win98-ja", 1, 4, 10, 67766446, "C:\\WINDOWS\\SYSTEM", false, 932},
      {"winxp-ja", 2, 5, 1, 2600, "C:\\WINDOWS\\system32", true, 932},
      {"win10-utf8", 2, 6, 2, 9200, "C:\\Windows\\System32", true, 65001},
  };
  for (const Expect &e : all) {
    TestMachine m(e.name);
    const winsim::MachineConfig &c = winsim::Config();
    EXPECT_EQ(e.platform, c.platform) << e.name;
    EXPECT_EQ(e.major * 100 + e.minor, c.major * 100 + c.minor) << e.name;
    EXPECT_EQ(e.build, c.build) << e.name;
    EXPECT_EQ(e.codePage, GetACP()) << e.name;
    EXPECT_EQ(e.system, c.systemDir) << e.name;
    EXPECT_TRUE(m.Exists(c.systemDir + "\\KERNEL32.DLL")) << e.name;
    EXPECT_TRUE(m.Exists(c.windowsDir + "\\INF")) << e.name;
    EXPECT_TRUE(m.Exists(c.windowsDir + "\\SYSTEM.INI")) << e.name;
    EXPECT_EQ(e.psapi, m.Exists(c.systemDir + "\\PSAPI.DLL")) << e.name;
    EXPECT_EQ(e.psapi, m.Exists(c.systemDir + "\\NEWDEV.DLL")) << e.name;
    EXPECT_EQ(e.psapi, c.libraries.count(winsim::PathKey(c.systemDir + "\\PSAPI.DLL")) == 1) << e.name;
    EXPECT_EQ(std::string(e.name) != "nt40",
              c.libraries.count(winsim::PathKey(c.systemDir + "\\KERNEL32.DLL")) == 1)
        << e.name;
    EXPECT_EQ(c.Is9x(), m.Exists(c.systemDir + "\\IOSUBSYS")) << e.name;
    EXPECT_EQ(!c.Is9x(), m.Exists(c.systemDir + "\\DRIVERS")) << e.name;
    EXPECT_NE(nullptr, winsim::reg::Find(winsim::reg::Root(HKEY_CURRENT_USER),
                                         "Software\\Varentel\\Engine\\Midi\\Ports"))
        << e.name;
  }
}

}  // namespace
