// The run sequence on whole simulated machines.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "deploy/deploy.h"
#include "installer_checks.h"
#include "pnp/pnp.h"
#include "setup/setup.h"
#include "test_machine.h"

namespace {

const char kTemplate9x[] = "win98";
const char kTemplateNT[] = "winxp";
const char kEngine[] = "Software\\Varentel\\Engine";

void PlantEngineSettings() {
  WriteRegDword(HKEY_CURRENT_USER, kEngine, "Latency", 64);
  WriteRegString(HKEY_CURRENT_USER, std::string(kEngine) + "\\Devices\\0", "Name", "in");
  WriteRegString(HKEY_CURRENT_USER, std::string(kEngine) + "\\Window", "Pos", "1");
}

std::string SystemIni() { return winsim::Config().windowsDir + "\\SYSTEM.INI"; }

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int);

// The process entry binds the driver-update entry for the run, so the kernel's
// device gets its driver, and leaves no library loaded when it returns.
TEST(RunSetup, ProcessEntryBindsTheDriverUpdateForTheRunOnly) {
  checks::PayloadMachine m(kTemplateNT);
  winsim::EnableCallLog(true);
  char none[] = "";  // the show state (1, normal) is not read
  EXPECT_EQ(0, WinMain(nullptr, nullptr, none, 1));
  size_t updates = 0;
  for (const std::string &line : winsim::CallLog())
    updates += line.rfind("UpdateDriverForPlugAndPlayDevicesA", 0) == 0;
  EXPECT_EQ(1u, updates);
  EXPECT_FALSE(NewDevBound());
  EXPECT_EQ(0u, winsim::LoadedModuleCount());
}

TEST(RunSetup, On9xTunesTheCacheAndResetsTheEngine) {
  TestMachine machine(kTemplate9x);
  PlantEngineSettings();

  EXPECT_EQ(0, RunSetup());
  EXPECT_EQ(Family::Windows9x, PlatformFamily);

  std::string ini = machine.Read(SystemIni());
  size_t section = ini.find("[VCache]");
  ASSERT_NE(std::string::npos, section) << ini;
  size_t min = ini.find("MinFileCache=20480\r\n", section);
  size_t max = ini.find("MaxFileCache=20480\r\n", section);
  ASSERT_NE(std::string::npos, min) << ini;
  ASSERT_NE(std::string::npos, max) << ini;
  EXPECT_LT(min, max);
  EXPECT_EQ(std::string::npos, ini.find("[VCache]", section + 1));

  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kEngine));
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, "Software\\Varentel"));
  EXPECT_TRUE(JournalLines("messagebox").empty());
}

TEST(RunSetup, OnNTLeavesSystemIniAlone) {
  TestMachine machine(kTemplateNT);
  PlantEngineSettings();
  const bool hadIni = machine.Exists(SystemIni());
  const std::string before = machine.Read(SystemIni());

  EXPECT_EQ(0, RunSetup());
  EXPECT_EQ(Family::WindowsNT, PlatformFamily);
  EXPECT_EQ(hadIni, machine.Exists(SystemIni()));
  EXPECT_EQ(before, machine.Read(SystemIni()));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kEngine));
  EXPECT_TRUE(JournalLines("messagebox").empty());
}

TEST(RunSetup, RefusedSystemIniEndsTheRunWithTheErrorBox) {
  TestMachine machine(kTemplate9x);
  PlantEngineSettings();
  ASSERT_TRUE(SetFileAttributesA(SystemIni().c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
  const std::string before = machine.Read(SystemIni());

  EXPECT_EQ(1, RunSetup());

  std::vector<std::string> boxes = JournalLines("messagebox");
  ASSERT_EQ(1u, boxes.size());
  const std::string &box = boxes[0];
  EXPECT_NE(std::string::npos, box.find("flags=0x00002010")) << box;  // MB_ICONERROR | MB_TASKMODAL
  EXPECT_NE(std::string::npos, box.find("caption=" + winsim::QuoteText("Application Error"))) << box;
  std::string program = winsim::Config().program;
  std::string module = program.substr(program.find_last_of("\\:") + 1);
  size_t text = box.find("text=");
  ASSERT_NE(std::string::npos, text);
  std::string shown = box.substr(text + 5);
  // The refusing writer's caller, as the system's C library prints a pointer.
  char address[2 * sizeof(void *) + 1];
  snprintf(address, sizeof address, "%0*llX", int(2 * sizeof(void *)),
           static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(RefusedProfileWrite.address)));
  EXPECT_EQ(winsim::QuoteText("Exception ProfileWriteError in module " + module + " at " + address +
                              ".\nUnable to write to System.ini."),
            shown);

  // Nothing after the refused write was done.
  EXPECT_EQ(before, machine.Read(SystemIni()));
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, std::string(kEngine) + "\\Devices\\0"));
}

// The installers run ASPI layer, realtime kernel, USB audio INF, USB
// controller package: the ASPI renames stand before the kernel's in
// WININIT.INI, and with the INF directory gone the copy messages come in the
// same order.
TEST(RunSetup, RunsTheInstallersInTheirFixedOrder) {
  checks::PayloadMachine m(kTemplate9x);
  m.Remove(m.Win("INF"));

  EXPECT_EQ(0, RunSetup());

  std::vector<std::string> boxes = checks::BoxTexts();
  ASSERT_GE(boxes.size(), 3u);
  EXPECT_EQ(winsim::QuoteText("Unable to copy \"PULSARIO.INF\" to Systemdirectory!"), boxes[0]);
  EXPECT_EQ(winsim::QuoteText("Unable to copy \"MAYA51USB.INF\" to INF!"), boxes[1]);
  EXPECT_EQ(winsim::QuoteText("Unable to copy \"CX_USB.INF\" to INF!"), boxes[2]);

  std::vector<std::string> renames = checks::SectionLines(m.Read(m.Win("WININIT.INI")), "RENAME");
  auto keyAt = [&](const std::string &key) {
    for (size_t i = 0; i < renames.size(); ++i)
      if (strncasecmp(renames[i].c_str(), (key + "=").c_str(), key.size() + 1) == 0) return i;
    return renames.size();
  };
  size_t aspiLast = keyAt(m.Sys("IOSUBSYS\\APIX.VXD"));
  size_t kernelFirst = keyAt(m.Sys("PULSARIO.DLL"));
  ASSERT_LT(aspiLast, renames.size());
  ASSERT_LT(kernelFirst, renames.size());
  EXPECT_LT(aspiLast, kernelFirst);
}

// A program path longer than the first buffer is read again with more room,
// never taken cut: the folder that a cut path would name holds other
// component files, and none of them is deployed.  The program's own folder
// is longer than MAX_PATH, so the ANSI calls refuse its files, as on Windows.
TEST(RunSetup, ProgramInADeepFolderIsNeverTakenForTheFolderAbove) {
  TestMachine machine(kTemplateNT);
  const std::string above = "C:\\" + std::string(200, 'P');
  const std::string folder = above + "\\" + std::string(100, 'Q');
  machine.MakeDir(folder);
  std::string error;
  winsim::Config().program = above + "\\VARSETUP.EXE";
  ASSERT_TRUE(winsim::SaveConfig(&error)) << error;
  ASSERT_TRUE(winsim::InstallPayload("v2", &error)) << error;
  winsim::Config().program = folder + "\\VARSETUP.EXE";
  ASSERT_TRUE(winsim::SaveConfig(&error)) << error;
  EXPECT_EQ(0, RunSetup());
  EXPECT_FALSE(machine.Exists(winsim::Config().systemDir + "\\PULSARIO.DL"));
}

// What a run found belongs to its process: ResetRunState, with which every
// run starts, forgets the application it saw, the family, the WOW64 view of
// delayed moves and the refused write.
TEST(RunSetup, ResetRunStateForgetsWhatTheLastRunFound) {
  TestMachine machine("win10-64");
  const std::string live = winsim::Config().systemDir + "\\PULSARIO.DLL";
  DetectPlatformFamily();
  DetectWow64(winsim::Config().systemDir);
  std::string name;
  ASSERT_TRUE(DelayedMoveName(live, &name));
  ASSERT_NE(live, name);  // the 32-bit system folder
  EXPECT_FALSE(MatchApplicationProcess(4, "C:\\KORVIX.EXE", 0));
  PlatformFamily = Family::Windows9x;
  RefusedProfileWrite.message = "Unable to write to Wininit.ini";
  ResetRunState();
  EXPECT_FALSE(ApplicationFound);
  EXPECT_EQ(Family::WindowsNT, PlatformFamily);
  EXPECT_EQ("", RefusedProfileWrite.message);
  ASSERT_TRUE(DelayedMoveName(live, &name));
  EXPECT_EQ(live, name);
}
