// Binding and release of the driver-update entry point of NewDev.dll.
#include <gtest/gtest.h>

#include <string>

#include "pnp/pnp.h"
#include "test_machine.h"

namespace {

std::string SystemNewDev() { return winsim::Config().systemDir + "\\NewDev.dll"; }

bool SawSystemErrorBox() {
  for (const std::string &line : winsim::ReadJournal())
    if (line.rfind("system-error-box", 0) == 0) return true;
  return false;
}

}  // namespace

TEST(NewDevBinding, LoadsOnlyTheSystemCopy) {
  TestMachine machine("winxp");
  // A planted copy beside the program must never be the one loaded.
  std::string program = winsim::Config().program;
  machine.Write(program.substr(0, program.rfind('\\')) + "\\NEWDEV.DLL", "planted");
  if (!machine.Exists(SystemNewDev())) machine.Write(SystemNewDev(), "system");
  winsim::Config().libraries[winsim::PathKey(SystemNewDev())] = {"UpdateDriverForPlugAndPlayDevicesA"};
  SetErrorMode(0);

  BindNewDev();
  EXPECT_TRUE(NewDevBinding.loaded);
  ASSERT_EQ(1u, winsim::LoadedLibraries().size());
  EXPECT_EQ(winsim::PathKey(SystemNewDev()), winsim::PathKey(winsim::LoadedLibraries()[0]));
  EXPECT_EQ(0u, SetErrorMode(0));  // the previous mode is back
  // The entry is exactly what the library hands out.
  FARPROC entry = GetProcAddress(NewDevBinding.library, "UpdateDriverForPlugAndPlayDevicesA");
  EXPECT_EQ(reinterpret_cast<void *>(entry), reinterpret_cast<void *>(NewDevBinding.updateDriver));
  EXPECT_EQ(entry != nullptr, NewDevBound());

  BindNewDev();  // a second binding loads nothing more
  EXPECT_EQ(1u, winsim::LoadedModuleCount());

  ReleaseNewDev();
  EXPECT_FALSE(NewDevBound());
  EXPECT_FALSE(NewDevBinding.loaded);
  EXPECT_EQ(nullptr, NewDevBinding.library);
  EXPECT_EQ(0u, winsim::LoadedModuleCount());
}

TEST(NewDevBinding, MissingLibraryIsNoErrorAndUnbound) {
  TestMachine machine("winxp");
  machine.Remove(SystemNewDev());
  winsim::Config().libraries.erase(winsim::PathKey(SystemNewDev()));
  SetErrorMode(0);

  BindNewDev();
  EXPECT_FALSE(NewDevBinding.loaded);
  EXPECT_FALSE(NewDevBound());
  EXPECT_FALSE(SawSystemErrorBox());
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
