// The USB device packages: two INFs into WindowsDir\INF, the FTDI library
// and uninstaller into SystemDir, the driver into a Drivers folder that on
// the 9x family sits in the directory named like SystemDir plus "32".
#include "components/components.h"
#include "installer_checks.h"

using namespace checks;

namespace {

const char *const kFiles[] = {"MAYA51USB.INF", "CX_USB.INF", "FTD2XX.DLL", "FTD2XXUN.EXE",
                              "FTD2XX.SYS"};

class UsbMachine : public PayloadMachine {
 public:
  using PayloadMachine::PayloadMachine;
  void Run() const {
    InstallUsbAudioInf(Source(), WindowsDir(), SystemDir());
    InstallUsbControllerPackage(Source(), WindowsDir(), SystemDir());
  }
};

std::string Box(const std::string &file, const std::string &place) {
  return winsim::QuoteText("Unable to copy \"" + file + "\" to " + place + "!");
}

}  // namespace

TEST(UsbPackages9x, DriverGoesToSystem32DriversAndTheRestToSystem) {
  UsbMachine m("win98");
  m.Run();
  EXPECT_TRUE(BoxTexts().empty());
  EXPECT_EQ(UsbMachine::Payload("v2", "MAYA51USB.INF"), m.Read("C:\\WINDOWS\\INF\\MAYA51USB.INF"));
  EXPECT_EQ(UsbMachine::Payload("v2", "CX_USB.INF"), m.Read("C:\\WINDOWS\\INF\\CX_USB.INF"));
  EXPECT_EQ(UsbMachine::Payload("v2", "FTD2XX.DLL"), m.Read("C:\\WINDOWS\\SYSTEM\\FTD2XX.DLL"));
  EXPECT_EQ(UsbMachine::Payload("v2", "FTD2XXUN.EXE"), m.Read("C:\\WINDOWS\\SYSTEM\\FTD2XXUN.EXE"));
  EXPECT_EQ(UsbMachine::Payload("v2", "FTD2XX.SYS"),
            m.Read("C:\\WINDOWS\\SYSTEM32\\Drivers\\FTD2XX.SYS"));
  EXPECT_FALSE(m.Exists("C:\\WINDOWS\\SYSTEM\\Drivers\\FTD2XX.SYS"));
  // The same place when the directories come with their trailing backslash.
  m.Remove("C:\\WINDOWS\\SYSTEM32\\Drivers\\FTD2XX.SYS");
  InstallUsbControllerPackage(m.Source(), m.WindowsDir() + "\\", m.SystemDir() + "\\");
  EXPECT_EQ(UsbMachine::Payload("v2", "FTD2XX.SYS"),
            m.Read("C:\\WINDOWS\\SYSTEM32\\Drivers\\FTD2XX.SYS"));
  EXPECT_TRUE(BoxTexts().empty());
}

// The Drivers folder is never created: only the driver's row fails, and its
// box names the place by its fixed wording.
TEST(UsbPackages9x, MissingDriversFolderFailsOnlyTheDriver) {
  UsbMachine m("win98");
  m.Remove("C:\\WINDOWS\\SYSTEM32\\DRIVERS");
  m.Run();
  EXPECT_EQ(std::vector<std::string>{Box("FTD2XX.SYS", "Drivers directory")}, BoxTexts());
  EXPECT_FALSE(m.Exists("C:\\WINDOWS\\SYSTEM32\\DRIVERS"));
  EXPECT_TRUE(m.Exists("C:\\WINDOWS\\SYSTEM\\FTD2XX.DLL"));
  EXPECT_TRUE(m.Exists("C:\\WINDOWS\\SYSTEM\\FTD2XXUN.EXE"));
  EXPECT_TRUE(m.Exists("C:\\WINDOWS\\INF\\CX_USB.INF"));
}

TEST(UsbPackagesNT, DriverGoesToSystemDirDrivers) {
  UsbMachine m("winxp");
  m.Run();
  EXPECT_TRUE(BoxTexts().empty());
  EXPECT_EQ(UsbMachine::Payload("v2", "FTD2XX.SYS"), m.Read(m.Sys("drivers\\FTD2XX.SYS")));
  EXPECT_TRUE(m.Exists(m.Sys("FTD2XX.DLL")));
  EXPECT_TRUE(m.Exists(m.Sys("FTD2XXUN.EXE")));
  EXPECT_TRUE(m.Exists(m.Win("INF\\MAYA51USB.INF")));
  EXPECT_FALSE(m.Exists("C:\\WINDOWS\\system3232"));
}

class UsbBoth : public ::testing::TestWithParam<const char *> {};

// Every copy failing: five boxes, one per row, in row order, with the fixed
// place wordings whatever the directory is called.
TEST_P(UsbBoth, FiveFailedCopiesGiveFiveBoxesInRowOrder) {
  UsbMachine m(GetParam());
  FailCalls("CopyFileA", ERROR_DISK_FULL);
  m.Run();
  winsim::ClearFaults();
  EXPECT_EQ((std::vector<std::string>{
                Box("MAYA51USB.INF", "INF"), Box("CX_USB.INF", "INF"),
                Box("FTD2XX.DLL", "System32 directory"), Box("FTD2XXUN.EXE", "System32 directory"),
                Box("FTD2XX.SYS", "Drivers directory")}),
            BoxTexts());
}

TEST_P(UsbBoth, MissingSourcesAreSkippedSilently) {
  UsbMachine m(GetParam());
  for (const char *file : kFiles) m.Remove(m.Source() + file);
  winsim::MachineSnapshot before = Snapshot();
  m.Run();
  EXPECT_EQ("", winsim::DiffDumps(before, Snapshot()));
}

// A read-only INF left in place is made writable and replaced, no message.
TEST_P(UsbBoth, ReadOnlyTargetIsReplaced) {
  UsbMachine m(GetParam());
  std::string inf = m.Win("INF\\MAYA51USB.INF");
  m.Write(inf, "old");
  ASSERT_TRUE(SetFileAttributesA(inf.c_str(), FILE_ATTRIBUTE_READONLY));
  m.Run();
  EXPECT_TRUE(BoxTexts().empty());
  EXPECT_EQ(UsbMachine::Payload("v2", "MAYA51USB.INF"), m.Read(inf));
  EXPECT_EQ(0u, GetFileAttributesA(inf.c_str()) & FILE_ATTRIBUTE_READONLY);
}

INSTANTIATE_TEST_SUITE_P(Families, UsbBoth, ::testing::Values("win98", "winxp"));
