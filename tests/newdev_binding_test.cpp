// Binding and release of the device installation's libraries: the
// driver-update entry point of NewDev.dll and the SetupAPI functions.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "pnp/pnp.h"
#include "test_machine.h"

namespace {

std::string SystemNewDev() { return winsim::Config().systemDir + "\\NewDev.dll"; }
std::string SystemSetupApi() { return winsim::Config().systemDir + "\\setupapi.dll"; }

}  // namespace

TEST(NewDevBinding, LoadsOnlyTheSystemCopy) {
  TestMachine machine("winxp");
  // Planted copies beside the program must never be the ones loaded.
  std::string program = winsim::Config().program;
  std::string programDir = program.substr(0, program.rfind('\\'));
  machine.Write(programDir + "\\NEWDEV.DLL", "planted");
  machine.Write(programDir + "\\SETUPAPI.DLL", "planted");
  winsim::Config().libraries[winsim::PathKey(programDir + "\\SETUPAPI.DLL")] = {"SetupDiGetClassDevsA"};
  if (!machine.Exists(SystemNewDev())) machine.Write(SystemNewDev(), "system");
  winsim::Config().libraries[winsim::PathKey(SystemNewDev())] = {"UpdateDriverForPlugAndPlayDevicesA"};
  SetErrorMode(0);

  BindNewDev();
  EXPECT_TRUE(NewDevBinding.loaded);
  std::set<std::string> loaded;
  for (const std::string &path : winsim::LoadedLibraries()) loaded.insert(winsim::PathKey(path));
  EXPECT_EQ((std::set<std::string>{winsim::PathKey(SystemNewDev()), winsim::PathKey(SystemSetupApi())}), loaded);
  EXPECT_EQ(0u, SetErrorMode(0));  // the previous mode is back
  // The entries are exactly what the libraries hand out.
  FARPROC entry = GetProcAddress(NewDevBinding.library, "UpdateDriverForPlugAndPlayDevicesA");
  EXPECT_EQ(reinterpret_cast<void *>(entry), reinterpret_cast<void *>(NewDevBinding.updateDriver));
  EXPECT_EQ(entry != nullptr, NewDevBound());
  FARPROC lastEntry = GetProcAddress(SetupApi.library, "SetupDiDestroyDeviceInfoList");
  EXPECT_EQ(reinterpret_cast<void *>(lastEntry), reinterpret_cast<void *>(SetupApi.destroyDeviceInfoList));
  EXPECT_TRUE(SetupApiBound());

  BindNewDev();  // a second binding loads nothing more
  EXPECT_EQ(2u, winsim::LoadedModuleCount());

  ReleaseNewDev();
  EXPECT_FALSE(NewDevBound());
  EXPECT_FALSE(NewDevBinding.loaded);
  EXPECT_EQ(nullptr, NewDevBinding.library);
  EXPECT_FALSE(SetupApiBound());
  EXPECT_EQ(nullptr, SetupApi.library);
  EXPECT_EQ(0u, winsim::LoadedModuleCount());
}

// A system without SetupAPI (a retail Windows 95), or whose SetupAPI lacks
// one of the functions: the program starts, no box is shown, and the device
// installation fails like any other step, with nothing created.
TEST(NewDevBinding, WithoutSetupApiTheDeviceInstallationFailsQuietly) {
  for (bool missingFile : {true, false}) {
    TestMachine machine("winxp");
    machine.Write("C:\\VARSETUP\\pulsario.inf", ReadSourceFile("samples/payload/pulsario.inf"));
    auto &exports = winsim::Config().libraries[winsim::PathKey(SystemSetupApi())];
    if (missingFile)
      machine.Remove(SystemSetupApi());
    else
      exports.erase(exports.begin() + 4);  // SetupDiGetINFClassA
    SetErrorMode(0);
    BindNewDev();
    EXPECT_TRUE(NewDevBound());
    EXPECT_FALSE(SetupApiBound());
    SetLastError(0);
    EXPECT_FALSE(InstallRootDevice("C:\\VARSETUP\\pulsario.inf", "*varentel\\pulsario"));
    EXPECT_EQ(DWORD(ERROR_CALL_NOT_IMPLEMENTED), GetLastError());
    EXPECT_FALSE(FindDeviceByHardwareId("*varentel\\pulsario"));
    EXPECT_TRUE(JournalLines("system-error-box").empty());
    EXPECT_TRUE(winsim::ReadJournal().empty());
    ReleaseNewDev();
    EXPECT_EQ(0u, winsim::LoadedModuleCount());
  }
}

TEST(NewDevBinding, MissingLibraryIsNoErrorAndUnbound) {
  TestMachine machine("winxp");
  machine.Remove(SystemNewDev());
  winsim::Config().libraries.erase(winsim::PathKey(SystemNewDev()));
  SetErrorMode(0);

  BindNewDev();
  EXPECT_FALSE(NewDevBinding.loaded);
  EXPECT_FALSE(NewDevBound());
  EXPECT_TRUE(JournalLines("system-error-box").empty());
  EXPECT_EQ(0u, SetErrorMode(0));
  ReleaseNewDev();
  EXPECT_EQ(0u, winsim::LoadedModuleCount());
}

TEST(NewDevBinding, LibraryWithoutTheEntryIsLoadedButUnbound) {
  TestMachine machine("winxp");
  if (!machine.Exists(SystemNewDev())) machine.Write(SystemNewDev(), "system");
  winsim::Config().libraries[winsim::PathKey(SystemNewDev())] = {};

  BindNewDev();
  EXPECT_TRUE(NewDevBinding.loaded);
  EXPECT_FALSE(NewDevBound());
  ReleaseNewDev();
  EXPECT_EQ(0u, winsim::LoadedModuleCount());
}
