// The realtime audio kernel installer on a 98 and an XP machine: files,
// SYSTEM.INI, the 9x device keys, the engine registration, the queued
// replacements and what the restart makes of them.
#include <windows.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "components/components.h"
#include "deploy/deploy.h"
#include "machine.h"
#include "payload.h"
#include "pnp/pnp.h"
#include "setup/setup.h"
#include "installer_checks.h"
#include "test_machine.h"

namespace {

using checks::PendingMoves;
using checks::ReadValue;
using checks::SectionLines;
using checks::Sz;

const char kDriverKey[] = "System\\CurrentControlSet\\Services\\Class\\REALTIME\\PULS";
const char kClassKey[] = "System\\CurrentControlSet\\Services\\Class\\REALTIME";
const char kEnumKey[] = "Enum\\Root\\REALTIME\\PULS";
const char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kSettingsKey[] = "Software\\Varentel\\PULSARIO";
const std::string kEngineValue = std::string(kRunKey) + "\\\\\"Realtime Audio Engine\"";

// The installer's message boxes that show `text` (all of them for "").
int Boxes(const std::string &text = "") {
  std::vector<std::string> texts = checks::BoxTexts();
  if (text.empty()) return int(texts.size());
  return int(std::count(texts.begin(), texts.end(), winsim::QuoteText(text)));
}

// A payload machine on which the kernel's installer runs.
class KernelMachine : public checks::PayloadMachine {
 public:
  using PayloadMachine::PayloadMachine;
  // False when a refused WININIT.INI entry ended the installer.
  bool Run(const std::string &systemDirSuffix = "") const {
    return InstallRealtimeKernel(Source(), WindowsDir(), SystemDir() + systemDirSuffix);
  }
};

std::string Enh386(const std::vector<std::string> &lines) {
  std::string text = "[boot]\r\nshell=Explorer.exe\r\n[386Enh]\r\n";
  for (const std::string &l : lines) text += l + "\r\n";
  return text + "[NonWindowsApp]\r\nCommandEnvSize=1024\r\n";
}

// ---- 9x family ----

TEST(RealtimeKernel9x, DeploysFilesDeviceKeysAndQueuesReplacements) {
  KernelMachine m("win98");
  // Staging copies left by an earlier run without a restart are replaced.
  m.Write(m.Sys("PULSARIO.DL"), "stale");
  m.Write(m.Sys("PULSARIO.EX"), "stale");
  m.Run();
  EXPECT_EQ(0, Boxes());
  EXPECT_EQ(m.Payload("v2", "PULSARIO.VXD"), m.Read(m.Sys("PULSARIO.VXD")));
  EXPECT_EQ(m.Payload("v2", "PULSBR16.DLL"), m.Read(m.Sys("PULSBR16.DLL")));
  EXPECT_TRUE(m.Exists(m.WindowsDir() + "\\INF\\PULSARIO.INF"));
  EXPECT_EQ(m.Payload("v2", "PULSARIO.DLL"), m.Read(m.Sys("PULSARIO.DL")));
  EXPECT_EQ(m.Payload("v2", "PULSARIO.EXE"), m.Read(m.Sys("PULSARIO.EX")));
  EXPECT_FALSE(m.Exists(m.Sys("PULSARIO.SYS")));

  // Table A: the class key with its default value only, the driver key and
  // the device's key, each whole.
  EXPECT_EQ((std::vector<std::string>{
                R"(key )",
                R"(value \\@ REG_SZ "Varentel AudioEngine")",
                R"(key \PULS)",
                R"(value \PULS\\"DevLoader" REG_SZ "*CONFIGMG")",
                R"(value \PULS\\"DeviceDesc" REG_SZ "Varentel RealTime Audio Kernel")",
                R"(value \PULS\\"DeviceDriver" REG_SZ "PULSARIO.VXD")",
                R"(value \PULS\\"DriverDesc" REG_SZ "Varentel RealTime Audio Kernel")",
                R"(value \PULS\\"Icon" REG_SZ "0")",
                R"(value \PULS\\"InfPath" REG_SZ "PULSARIO.INF")",
                R"(value \PULS\\"InfSection" REG_SZ "PULSARIO")",
                R"(value \PULS\\"PortName" REG_SZ "PULSARIO")",
                R"(value \PULS\\"ProviderName" REG_SZ "Varentel GmbH")"}),
            checks::RegistryDumpLines(kClassKey));
  EXPECT_EQ((std::vector<std::string>{
                R"(key )",
                R"(value \\"Capabilities" REG_BINARY hex:14,00,00,00)",
                R"(value \\"Class" REG_SZ "REALTIME")",
                R"(value \\"ConfigFlags" REG_BINARY hex:00,00,00,00)",
                R"(value \\"DeviceDesc" REG_SZ "Varentel RealTime Audio Kernel")",
                R"(value \\"Driver" REG_SZ "REALTIME\\PULS")",
                R"(value \\"Mfg" REG_SZ "Varentel GmbH")"}),
            checks::RegistryDumpLines(kEnumKey));

  // Two [RENAME] entries, the DLL's first, full paths with one backslash.
  EXPECT_EQ((std::vector<std::string>{m.Sys("PULSARIO.DLL") + "=" + m.Sys("PULSARIO.DL"),
                                      m.Sys("PULSARIO.EXE") + "=" + m.Sys("PULSARIO.EX")}),
            SectionLines(m.Read(m.WindowsDir() + "\\WININIT.INI"), "RENAME"));
  EXPECT_TRUE(PendingMoves().empty());
}

TEST(RealtimeKernel9x, SystemDirWithTrailingBackslashGivesTheSamePaths) {
  KernelMachine m("win98");
  m.Run("\\");
  EXPECT_EQ((std::vector<std::string>{m.Sys("PULSARIO.DLL") + "=" + m.Sys("PULSARIO.DL"),
                                      m.Sys("PULSARIO.EXE") + "=" + m.Sys("PULSARIO.EX")}),
            SectionLines(m.Read(m.WindowsDir() + "\\WININIT.INI"), "RENAME"));
  EXPECT_TRUE(m.Exists(m.Sys("PULSARIO.VXD")));
  EXPECT_TRUE(m.Exists(m.Sys("PULSARIO.DL")));
}

TEST(RealtimeKernel9x, WithoutInfLeavesSystemIniAndDeviceKeysAlone) {
  KernelMachine m("win98");
  m.Remove(m.Source() + "PULSARIO.INF");
  m.Write(m.WindowsDir() + "\\SYSTEM.INI", Enh386({"device=pulsario.vxd", "device=*vmm"}));
  std::string before = m.Read(m.WindowsDir() + "\\SYSTEM.INI");
  m.Run();
  EXPECT_EQ(before, m.Read(m.WindowsDir() + "\\SYSTEM.INI"));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kClassKey));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "Enum\\Root\\REALTIME"));
  EXPECT_FALSE(m.Exists(m.WindowsDir() + "\\INF\\PULSARIO.INF"));
  EXPECT_TRUE(m.Exists(m.Sys("PULSARIO.VXD")));
  EXPECT_TRUE(m.Exists(m.Sys("PULSBR16.DLL")));
  EXPECT_EQ(2u, SectionLines(m.Read(m.WindowsDir() + "\\WININIT.INI"), "RENAME").size());
  EXPECT_TRUE(ReadValue(kRunKey, "Realtime Audio Engine").found);
  EXPECT_EQ(0, Boxes());
}

TEST(RealtimeKernel9x, FailedCopiesShowTheirBoxesAndSystemIniAndDeviceKeysStillChange) {
  KernelMachine m("win98");
  m.Remove(m.WindowsDir() + "\\INF");
  m.Write(m.WindowsDir() + "\\SYSTEM.INI", Enh386({"device=pulsario.vxd"}));
  for (const char *file : {"PULSARIO.VXD", "PULSBR16.DLL"}) {
    FailCalls("CopyFileA", ERROR_SHARING_VIOLATION, 0, file);
  }
  m.Run();
  winsim::ClearFaults();
  EXPECT_EQ((std::vector<std::string>{
                winsim::QuoteText("Unable to copy \"PULSARIO.VXD\" to Systemdirectory!"),
                winsim::QuoteText("Unable to copy \"PULSBR16.DLL\" to Systemdirectory!"),
                winsim::QuoteText("Unable to copy \"PULSARIO.INF\" to Systemdirectory!")}),
            checks::BoxTexts());
  EXPECT_FALSE(m.Exists(m.WindowsDir() + "\\INF"));  // never created
  EXPECT_EQ((std::vector<std::string>{";evice=pulsario.vxd"}),
            SectionLines(m.Read(m.WindowsDir() + "\\SYSTEM.INI"), "386Enh"));
  EXPECT_EQ(Sz("Varentel AudioEngine"), ReadValue(kClassKey, "").data);
  EXPECT_EQ((std::vector<BYTE>{0x14, 0, 0, 0}), ReadValue(kEnumKey, "Capabilities").data);
}

TEST(RealtimeKernel9x, DisablesExactlyTheStaticVxdLines) {
  KernelMachine m("win98");
  m.Write(m.WindowsDir() + "\\SYSTEM.INI",
          Enh386({"X", "device=pulsario.vxd", "device=*vmm", "device=PULSARIO.VXD",
                  "device=C:\\WINDOWS\\SYSTEM\\pulsario.vxd", "device=pulsario.vxd2",
                  "EMMExclude=C000-CFFF", "device=pulsario.vxd"}));
  m.Run();
  std::string text = m.Read(m.WindowsDir() + "\\SYSTEM.INI");
  EXPECT_EQ((std::vector<std::string>{"X", ";evice=pulsario.vxd", "device=*vmm", "device=PULSARIO.VXD",
                                      "device=C:\\WINDOWS\\SYSTEM\\pulsario.vxd",
                                      "device=pulsario.vxd2", "EMMExclude=C000-CFFF",
                                      ";evice=pulsario.vxd"}),
            SectionLines(text, "386Enh"));
  EXPECT_EQ((std::vector<std::string>{"shell=Explorer.exe"}), SectionLines(text, "boot"));
  EXPECT_EQ((std::vector<std::string>{"CommandEnvSize=1024"}), SectionLines(text, "NonWindowsApp"));
}

// A section beyond the 8192-byte buffer is read whole and written back
// whole, the line to disable beyond the first buffer.  One beyond what a 9x
// read returns (32767 characters) cannot be read whole there: it must stay
// as it is, never be written back cut short.
TEST(RealtimeKernel9x, LargeEnhSectionIsWrittenBackWholeOrNotAtAll) {
  for (bool fits : {true, false}) {
    const int count = fits ? 1700 : 3000;  // 19 characters each in the read
    KernelMachine m("win98");
    std::vector<std::string> lines;
    for (int i = 0; i < count; ++i) {
      char line[40];
      snprintf(line, sizeof line, "device=vxd%04d.386", i);
      lines.push_back(line);
      if (i == 1500) lines.push_back("device=pulsario.vxd");
    }
    m.Write(m.WindowsDir() + "\\SYSTEM.INI", Enh386(lines));
    std::string before = m.Read(m.WindowsDir() + "\\SYSTEM.INI");
    m.Run();
    std::string text = m.Read(m.WindowsDir() + "\\SYSTEM.INI");
    if (!fits) {
      EXPECT_EQ(before, text);
      continue;
    }
    lines[1501] = ";evice=pulsario.vxd";
    EXPECT_EQ(lines, SectionLines(text, "386Enh"));
  }
}

// Another program read SYSTEM.INI, so the 9x profile cache holds it, and
// then changed it within the same two seconds, so its time on FAT is the
// same: only a flush of the cache shows the lines it added.
TEST(RealtimeKernel9x, ChangedSystemIniIsReadFromDiskNotFromTheCache) {
  KernelMachine m("win98");
  const std::string ini = m.WindowsDir() + "\\SYSTEM.INI";
  m.Write(ini, Enh386({"device=*vmm"}));
  char shell[32];
  GetPrivateProfileStringA("boot", "shell", "", shell, sizeof shell, "SYSTEM.INI");
  struct stat loaded;
  ASSERT_EQ(0, stat(m.Host(ini).c_str(), &loaded));
  m.Write(ini, Enh386({"device=*vmm", "device=pulsario.vxd", "device=added.386"}));
  const struct timespec times[2] = {loaded.st_atim, loaded.st_mtim};
  ASSERT_EQ(0, utimensat(AT_FDCWD, m.Host(ini).c_str(), times, 0));
  m.Run();
  EXPECT_EQ((std::vector<std::string>{"device=*vmm", ";evice=pulsario.vxd", "device=added.386"}),
            SectionLines(m.Read(ini), "386Enh"));
}

// A read that yields nothing must not be written back as an empty section.
TEST(RealtimeKernel9x, FailedSectionReadLeavesSystemIniAlone) {
  KernelMachine m("win98");
  m.Write(m.WindowsDir() + "\\SYSTEM.INI", Enh386({"device=*vmm", "device=pulsario.vxd"}));
  std::string before = m.Read(m.WindowsDir() + "\\SYSTEM.INI");
  FailCalls("GetPrivateProfileSectionA", ERROR_SHARING_VIOLATION);
  m.Run();
  winsim::ClearFaults();
  EXPECT_EQ(before, m.Read(m.WindowsDir() + "\\SYSTEM.INI"));
  EXPECT_TRUE(ReadValue(kEnumKey, "Class").found);  // Table A does not depend on it
}

// A refused WININIT.INI entry stops the installer: what follows it is not done.
TEST(RealtimeKernel9x, ReadOnlyWininitStopsAtTheDllEntry) {
  KernelMachine m("win98");
  std::string wininit = m.WindowsDir() + "\\WININIT.INI";
  m.Write(wininit, "[RENAME]\r\n");
  ASSERT_TRUE(SetFileAttributesA(wininit.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(m.Run());
  EXPECT_EQ("Unable to write to Wininit.ini", RefusedProfileWrite.message);
  EXPECT_TRUE(m.Exists(m.Sys("PULSARIO.DL")));
  EXPECT_FALSE(m.Exists(m.Sys("PULSARIO.EX")));
  EXPECT_FALSE(ReadValue(kRunKey, "Realtime Audio Engine").found);
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kSettingsKey));
}

// A refused engine entry: the DLL's entry stands, the engine is not registered.
TEST(RealtimeKernel9x, RefusedEngineEntrySkipsTheRegistration) {
  KernelMachine m("win98");
  FailCalls("WritePrivateProfileStringA", ERROR_ACCESS_DENIED, 2, "WININIT");
  EXPECT_FALSE(m.Run());
  winsim::ClearFaults();
  EXPECT_EQ("Unable to write to Wininit.ini", RefusedProfileWrite.message);
  EXPECT_EQ((std::vector<std::string>{m.Sys("PULSARIO.DLL") + "=" + m.Sys("PULSARIO.DL")}),
            SectionLines(m.Read(m.WindowsDir() + "\\WININIT.INI"), "RENAME"));
  EXPECT_FALSE(ReadValue(kRunKey, "Realtime Audio Engine").found);
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kSettingsKey));
}

// ---- both families ----

class RealtimeKernelBoth : public ::testing::TestWithParam<const char *> {};

TEST_P(RealtimeKernelBoth, RegistersTheEngineByItsBareName) {
  KernelMachine m(GetParam());
  m.Run();
  EXPECT_EQ((std::vector<std::string>{R"(value  REG_SZ "pulsario.exe")"}), checks::RegistryDumpLines(kEngineValue));
  EXPECT_EQ((std::vector<std::string>{
                R"(key )",
                R"(value \\"Config" REG_BINARY hex:0f,14,d2,e1,44,90,11,d5,91,59,00,d0,c3,00,18,cc)",
                R"(value \\"Enabled" REG_DWORD 0x00000001)"}),
            checks::RegistryDumpLines(kSettingsKey));
}

TEST_P(RealtimeKernelBoth, KeepsAnExistingConfigAndRewritesEnabled) {
  KernelMachine m(GetParam());
  WriteRegString(HKEY_LOCAL_MACHINE, kSettingsKey, "Config", "user's own");
  WriteRegString(HKEY_LOCAL_MACHINE, kSettingsKey, "Enabled", "no");
  m.Run();
  EXPECT_EQ((std::vector<std::string>{R"(key )", R"(value \\"Config" REG_SZ "user's own")",
                                      R"(value \\"Enabled" REG_DWORD 0x00000001)"}),
            checks::RegistryDumpLines(kSettingsKey));
}

TEST_P(RealtimeKernelBoth, WithoutEngineNoRegistrationButTheDllIsQueued) {
  KernelMachine m(GetParam());
  m.Remove(m.Source() + "PULSARIO.EXE");
  m.Run();
  EXPECT_FALSE(ReadValue(kRunKey, "Realtime Audio Engine").found);
  EXPECT_FALSE(ReadValue(kSettingsKey, "Enabled").found);
  EXPECT_FALSE(ReadValue(kSettingsKey, "Config").found);
  EXPECT_FALSE(m.Exists(m.Sys("PULSARIO.EX")));
  EXPECT_TRUE(m.Exists(m.Sys("PULSARIO.DL")));
  if (winsim::Config().Is9x())
    EXPECT_EQ((std::vector<std::string>{m.Sys("PULSARIO.DLL") + "=" + m.Sys("PULSARIO.DL")}),
              SectionLines(m.Read(m.WindowsDir() + "\\WININIT.INI"), "RENAME"));
  else
    EXPECT_EQ((std::vector<std::string>{"\\??\\" + m.Sys("PULSARIO.DL"),
                                        "!\\??\\" + m.Sys("PULSARIO.DLL")}),
              PendingMoves());
  EXPECT_EQ(0, Boxes());
}

// The DLL's staging copy failing changes nothing for the engine's step.
TEST_P(RealtimeKernelBoth, FailedDllStagingStillQueuesTheEngine) {
  KernelMachine m(GetParam());
  // The staging name; the live name is never copied to.
  FailCalls("CopyFileA", ERROR_SHARING_VIOLATION, 0, m.Sys("PULSARIO.DL"));
  m.Run();
  winsim::ClearFaults();
  EXPECT_FALSE(m.Exists(m.Sys("PULSARIO.DL")));
  EXPECT_TRUE(m.Exists(m.Sys("PULSARIO.EX")));
  EXPECT_TRUE(ReadValue(kRunKey, "Realtime Audio Engine").found);
  if (winsim::Config().Is9x())
    EXPECT_EQ((std::vector<std::string>{m.Sys("PULSARIO.EXE") + "=" + m.Sys("PULSARIO.EX")}),
              SectionLines(m.Read(m.WindowsDir() + "\\WININIT.INI"), "RENAME"));
  else
    EXPECT_EQ((std::vector<std::string>{"\\??\\" + m.Sys("PULSARIO.EX"),
                                        "!\\??\\" + m.Sys("PULSARIO.EXE")}),
              PendingMoves());
  EXPECT_EQ(0, Boxes());
}

INSTANTIATE_TEST_SUITE_P(Families, RealtimeKernelBoth, ::testing::Values("win98", "winxp"));

// ---- NT family ----

// Binds the driver-update entry point for the time of a test, as the
// process start does.
struct ScopedNewDev {
  ScopedNewDev() { BindNewDev(); }
  ~ScopedNewDev() { ReleaseNewDev(); }
};

TEST(RealtimeKernelNT, DeploysDriverInstallsDeviceAndQueuesMoves) {
  KernelMachine m("winxp");
  std::string systemIni = m.Exists(m.WindowsDir() + "\\SYSTEM.INI")
                              ? m.Read(m.WindowsDir() + "\\SYSTEM.INI") : "";
  ScopedNewDev bound;
  ASSERT_TRUE(NewDevBound());
  m.Run();
  EXPECT_EQ(0, Boxes());
  EXPECT_EQ(m.Payload("v2", "PULSARIO.SYS"), m.Read(m.Sys("DRIVERS\\PULSARIO.SYS")));
  EXPECT_TRUE(FindDeviceByHardwareId("*varentel\\pulsario"));
  EXPECT_EQ((std::vector<std::string>{"\\??\\" + m.Sys("PULSARIO.DL"),
                                      "!\\??\\" + m.Sys("PULSARIO.DLL"),
                                      "\\??\\" + m.Sys("PULSARIO.EX"),
                                      "!\\??\\" + m.Sys("PULSARIO.EXE")}),
            PendingMoves());
  // Nothing of the 9x mechanisms.
  EXPECT_EQ(systemIni, m.Exists(m.WindowsDir() + "\\SYSTEM.INI")
                           ? m.Read(m.WindowsDir() + "\\SYSTEM.INI") : "");
  EXPECT_FALSE(m.Exists(m.WindowsDir() + "\\WININIT.INI"));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kClassKey));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "Enum\\Root\\REALTIME"));
  EXPECT_FALSE(m.Exists(m.Sys("PULSARIO.VXD")));
  EXPECT_FALSE(m.Exists(m.Sys("PULSBR16.DLL")));
  EXPECT_FALSE(m.Exists(m.WindowsDir() + "\\INF\\PULSARIO.INF"));
}

TEST(RealtimeKernelNT, SystemDirWithTrailingBackslashGivesTheSamePaths) {
  KernelMachine m("winxp");
  m.Run("\\");
  EXPECT_TRUE(m.Exists(m.Sys("DRIVERS\\PULSARIO.SYS")));
  EXPECT_EQ((std::vector<std::string>{"\\??\\" + m.Sys("PULSARIO.DL"),
                                      "!\\??\\" + m.Sys("PULSARIO.DLL"),
                                      "\\??\\" + m.Sys("PULSARIO.EX"),
                                      "!\\??\\" + m.Sys("PULSARIO.EXE")}),
            PendingMoves());
}

TEST(RealtimeKernelNT, WithoutDriverTheDeviceIsStillInstalled) {
  KernelMachine m("winxp");
  m.Remove(m.Source() + "PULSARIO.SYS");
  ScopedNewDev bound;
  m.Run();
  EXPECT_EQ(0, Boxes());
  EXPECT_FALSE(m.Exists(m.Sys("DRIVERS\\PULSARIO.SYS")));
  EXPECT_TRUE(FindDeviceByHardwareId("*varentel\\pulsario"));
  EXPECT_EQ(4u, PendingMoves().size());
}

TEST(RealtimeKernelNT, MissingDriversDirectoryShowsOneMessageAndGoesOn) {
  KernelMachine m("winxp");
  m.Remove(m.Sys("DRIVERS"));
  m.Run();
  EXPECT_EQ(1, Boxes());
  EXPECT_EQ(1, Boxes("Unable to copy \"PULSARIO.SYS\" to Systemdirectory!"));
  EXPECT_FALSE(m.Exists(m.Sys("DRIVERS")));
  EXPECT_EQ(4u, PendingMoves().size());
}

// ---- the replacement completes at the restart ----

class KernelUpdate : public ::testing::TestWithParam<const char *> {};

TEST_P(KernelUpdate, RestartReplacesTheDllAndEngineWithTheNewVersion) {
  KernelMachine m(GetParam(), "v2");
  m.Write(m.Sys("PULSARIO.DLL"), m.Payload("v1", "PULSARIO.DLL"));
  m.Write(m.Sys("PULSARIO.EXE"), m.Payload("v1", "PULSARIO.EXE"));
  m.Run();
  // Until the restart the old version stays live.
  EXPECT_EQ(m.Payload("v1", "PULSARIO.DLL"), m.Read(m.Sys("PULSARIO.DLL")));
  EXPECT_EQ(m.Payload("v1", "PULSARIO.EXE"), m.Read(m.Sys("PULSARIO.EXE")));
  std::string error;
  ASSERT_TRUE(winsim::RestartMachine(&error)) << error;
  EXPECT_EQ(m.Payload("v2", "PULSARIO.DLL"), m.Read(m.Sys("PULSARIO.DLL")));
  EXPECT_EQ(m.Payload("v2", "PULSARIO.EXE"), m.Read(m.Sys("PULSARIO.EXE")));
  EXPECT_FALSE(m.Exists(m.Sys("PULSARIO.DL")));
  EXPECT_FALSE(m.Exists(m.Sys("PULSARIO.EX")));
  EXPECT_TRUE(PendingMoves().empty());
}

INSTANTIATE_TEST_SUITE_P(Families, KernelUpdate, ::testing::Values("win98", "winxp"));

}  // namespace
