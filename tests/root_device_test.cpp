// Finding, creating and updating the root device node, under Windows' and
// under Wine's last-error conventions.
#include <gtest/gtest.h>
#include <setupapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "devices.h"
#include "machine.h"
#include "pnp/pnp.h"
#include "test_machine.h"

namespace {

const char kEnum[] = "SYSTEM\\CurrentControlSet\\Enum";
const char kInf[] = "C:\\VARSETUP\\pulsario.inf";
const char kId[] = "*varentel\\pulsario";

std::string SampleInf() { return ReadSourceFile("samples/payload/pulsario.inf"); }

winsim::reg::Key *Node(const std::string &instance) {
  return winsim::reg::Find(winsim::reg::Root(HKEY_LOCAL_MACHINE), std::string(kEnum) + "\\" + instance);
}

// The REALTIME nodes on the machine.
std::vector<std::string> RealtimeNodes() {
  std::vector<std::string> names;
  if (winsim::reg::Key *device = Node("ROOT\\REALTIME"))
    for (winsim::reg::Key *instance : device->subkeys)
      if (!instance->deleted) names.push_back(instance->name);
  return names;
}

std::string RawValue(winsim::reg::Key *key, const char *name) {
  winsim::reg::Value *v = key ? winsim::reg::FindValue(key, name) : nullptr;
  return v ? std::string(v->data.begin(), v->data.end()) : "<none>";
}

// Adds a present device; `data` is the raw HardwareID value ("" for none).
void AddDevice(const std::string &instance, const std::string &data) {
  using namespace winsim::reg;
  Key *node = Create(Root(HKEY_LOCAL_MACHINE), std::string(kEnum) + "\\" + instance, nullptr);
  if (!data.empty())
    SetValue(node, "HardwareID", REG_MULTI_SZ, reinterpret_cast<const BYTE *>(data.data()), DWORD(data.size()));
  Save(node);
}

std::string List(const std::vector<std::string> &ids) {
  std::string data;
  for (const std::string &id : ids) data += id + '\0';
  return data + '\0';
}

bool Called(const std::string &prefix) {
  for (const std::string &line : winsim::CallLog())
    if (line.rfind(prefix, 0) == 0) return true;
  return false;
}

// Every test runs under Windows' convention (a successful SetupAPI call
// clears the last error) and under Wine's (it leaves stale codes).
class RootDeviceTest : public ::testing::TestWithParam<bool> {
 protected:
  explicit RootDeviceTest(const char *templateName = "winxp") : machine_(templateName) {
    winsim::UseWineSetupApiLastError(GetParam());
    machine_.Write(kInf, SampleInf());
  }
  ~RootDeviceTest() override {
    ReleaseNewDev();
    winsim::UseWineSetupApiLastError(false);
  }
  void Bind() {
    BindNewDev();
    ASSERT_TRUE(NewDevBound());
    winsim::EnableCallLog(true);
  }
  TestMachine machine_;
};

// The device calls of the log, without the walk through the device list.
std::vector<std::string> DeviceCalls() {
  std::vector<std::string> calls;
  for (const std::string &line : winsim::CallLog())
    if (line.rfind("SetupDiGetClassDevsA", 0) == 0 || line.rfind("SetupDiCreate", 0) == 0 ||
        line.rfind("SetupDiCallClassInstaller", 0) == 0 || line.rfind("UpdateDriver", 0) == 0)
      calls.push_back(line);
  return calls;
}

// A phantom node of an earlier install carries the ID: it is neither found
// nor driven, and the new node takes the next number.  On the second run
// the driver started at the restart is loaded, so the update needs a
// restart, which the product neither requests nor shows.
TEST_P(RootDeviceTest, FirstRunCreatesOneNodeAndSecondRunOnlyUpdatesIt) {
  AddDevice("ROOT\\REALTIME\\0000", List({kId}));
  winsim::Config().absentDevices = {"ROOT\\REALTIME\\0000"};
  std::string error;
  ASSERT_TRUE(winsim::SaveConfig(&error)) << error;
  Bind();
  SetLastError(0xdeadbeef);
  ASSERT_TRUE(InstallRootDevice(kInf, kId));
  EXPECT_EQ(0u, GetLastError());
  ASSERT_EQ((std::vector<std::string>{"0000", "0001"}), RealtimeNodes());
  winsim::reg::Key *node = Node("ROOT\\REALTIME\\0001");
  EXPECT_EQ(std::string(kId) + '\0' + '\0', RawValue(node, "HardwareID"));  // length = ID + 2
  EXPECT_NE("<none>", RawValue(node, "Driver"));
  EXPECT_EQ("<none>", RawValue(Node("ROOT\\REALTIME\\0000"), "Driver"));
  const std::string update = std::string("UpdateDriverForPlugAndPlayDevicesA ") + kInf + " " + kId +
                             " flags=0x1 reboot=pointer";
  EXPECT_EQ((std::vector<std::string>{"SetupDiGetClassDevsA flags=0x6", "SetupDiCreateDeviceInfoList",
                                      "SetupDiCreateDeviceInfoA REALTIME", "SetupDiCreateDeviceInfoA",
                                      "SetupDiCallClassInstaller DIF_REGISTERDEVICE ROOT\\REALTIME\\0001",
                                      update}),
            DeviceCalls());

  // The second run, from the machine as stored on disk.
  ReleaseNewDev();
  machine_.Reattach();
  winsim::UseWineSetupApiLastError(GetParam());
  winsim::Config().inUse.push_back(winsim::Config().systemDir + "\\DRIVERS\\PULSARIO.SYS");
  Bind();
  SetLastError(ERROR_NO_MORE_ITEMS);
  ASSERT_TRUE(InstallRootDevice(kInf, kId));
  EXPECT_EQ(0u, GetLastError());
  EXPECT_EQ((std::vector<std::string>{"0000", "0001"}), RealtimeNodes());
  EXPECT_EQ((std::vector<std::string>{"SetupDiGetClassDevsA flags=0x6", update}), DeviceCalls());
  EXPECT_EQ(0u, winsim::ReadJournal().size());
  EXPECT_EQ("<none>", RawValue(Node("ROOT\\REALTIME\\0000"), "Driver"));  // still a phantom
}

TEST_P(RootDeviceTest, IdLaterInADevicesListIsFoundAndOnlyUpdated) {
  // Devices without hardware IDs (the template's legacy nodes, and this
  // one) come before it and are passed over.
  AddDevice("ROOT\\AAA_NOIDS\\0000", "");
  AddDevice("ROOT\\MULTI\\0000", List({"varentel\\bridge", kId}));
  Bind();
  SetLastError(0xdeadbeef);
  EXPECT_TRUE(FindDeviceByHardwareId(kId));
  EXPECT_EQ(0u, GetLastError());
  ASSERT_TRUE(InstallRootDevice(kInf, kId));
  EXPECT_EQ(0u, GetLastError());
  EXPECT_TRUE(RealtimeNodes().empty());
  EXPECT_FALSE(Called("SetupDiCreateDeviceInfoA"));
  EXPECT_NE("<none>", RawValue(Node("ROOT\\MULTI\\0000"), "Driver"));
}

// The first device of the whole list counts like any other.
TEST_P(RootDeviceTest, IdOfTheFirstDeviceIsFound) {
  AddDevice("ACPI\\0\\0000", List({kId}));
  Bind();
  EXPECT_TRUE(FindDeviceByHardwareId(kId));
  EXPECT_EQ(0u, GetLastError());
}

TEST_P(RootDeviceTest, IdInAnotherCaseIsNotFound) {
  AddDevice("ROOT\\UPPER\\0000", List({"*VARENTEL\\PULSARIO"}));
  Bind();
  EXPECT_FALSE(FindDeviceByHardwareId(kId));
  EXPECT_EQ(DWORD(ERROR_NO_MORE_ITEMS), GetLastError());
  ASSERT_TRUE(InstallRootDevice(kInf, kId));
  EXPECT_EQ(std::vector<std::string>{"0000"}, RealtimeNodes());
}

TEST_P(RootDeviceTest, ScanStopsAtTheEmptyStringOfTheList) {
  // A setter that passed too long a size leaves bytes behind the list's
  // end; an ID there is not one of the device's IDs.
  AddDevice("ROOT\\GARBAGE\\0000", List({"other\\id"}) + kId + '\0');
  Bind();
  EXPECT_FALSE(FindDeviceByHardwareId(kId));
  EXPECT_EQ(DWORD(ERROR_NO_MORE_ITEMS), GetLastError());
}

TEST_P(RootDeviceTest, FailedUpdateOfANewNodeRemovesItAndKeepsTheUpdatesCode) {
  std::string inf = SampleInf();
  size_t at = inf.find("*varentel\\pulsario");
  inf.replace(at, 18, "*varentel\\other");
  machine_.Write(kInf, inf);  // lists another ID
  Bind();
  EXPECT_FALSE(InstallRootDevice(kInf, kId));
  EXPECT_EQ(DWORD(ERROR_NO_COMPAT_DRIVERS), GetLastError());
  EXPECT_TRUE(Called("SetupDiCallClassInstaller DIF_REMOVE"));
  EXPECT_TRUE(RealtimeNodes().empty());
  // The next run numbers from 0000 again: nothing was left behind.
  machine_.Write(kInf, SampleInf());
  ASSERT_TRUE(InstallRootDevice(kInf, kId));
  EXPECT_EQ(std::vector<std::string>{"0000"}, RealtimeNodes());
}

TEST_P(RootDeviceTest, FailedRemovalStillReportsTheUpdatesCode) {
  Bind();
  FailCalls("UpdateDriverForPlugAndPlayDevicesA", ERROR_ACCESS_DENIED);
  FailCalls("SetupDiCallClassInstaller", ERROR_INVALID_HANDLE, 0, "DIF_REMOVE");
  EXPECT_FALSE(CreateRootDevice(kId, kInf));
  EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), GetLastError());
  EXPECT_EQ(std::vector<std::string>{"0000"}, RealtimeNodes());  // the node could not be removed
}

TEST_P(RootDeviceTest, FailureBeforeRegistrationLeavesNoNode) {
  Bind();
  const std::pair<const char *, const char *> steps[] = {
      {"SetupDiCreateDeviceInfoList", ""},
      {"SetupDiCreateDeviceInfoA", ""},
      {"SetupDiSetDeviceRegistryPropertyA", ""},
      {"SetupDiCallClassInstaller", "DIF_REGISTERDEVICE"}};
  for (const auto &step : steps) {
    winsim::ClearFaults();
    FailCalls(step.first, ERROR_NOT_ENOUGH_MEMORY, 0, step.second);
    EXPECT_FALSE(InstallRootDevice(kInf, kId)) << step.first;
    EXPECT_EQ(DWORD(ERROR_NOT_ENOUGH_MEMORY), GetLastError()) << step.first;
    EXPECT_FALSE(Called("UpdateDriverForPlugAndPlayDevicesA")) << step.first;
    EXPECT_TRUE(RealtimeNodes().empty()) << step.first;
  }
  winsim::ClearFaults();
}

TEST_P(RootDeviceTest, UnreadableDeviceListCreatesNothing) {
  Bind();
  FailCalls("SetupDiGetClassDevsA", ERROR_ACCESS_DENIED);
  EXPECT_FALSE(InstallRootDevice(kInf, kId));
  EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), GetLastError());
  EXPECT_FALSE(Called("SetupDiCreateDeviceInfoA"));
  EXPECT_FALSE(Called("UpdateDriverForPlugAndPlayDevicesA"));
  EXPECT_TRUE(RealtimeNodes().empty());
}

TEST_P(RootDeviceTest, PropertyReadFailingWithAnotherCodeCreatesNothing) {
  AddDevice("ROOT\\MULTI\\0000", List({"x\\y"}));
  Bind();
  // The second: a read that asks for more room every time without saying how much.
  for (DWORD code : {DWORD(ERROR_NOT_ENOUGH_MEMORY), DWORD(ERROR_INSUFFICIENT_BUFFER)}) {
    winsim::ClearFaults();
    FailCalls("SetupDiGetDeviceRegistryPropertyA", code, 0, "MULTI");
    EXPECT_FALSE(InstallRootDevice(kInf, kId));
    EXPECT_EQ(code, GetLastError());
  }
  EXPECT_FALSE(Called("SetupDiCreateDeviceInfoA"));
  EXPECT_TRUE(RealtimeNodes().empty());
}

TEST_P(RootDeviceTest, FailedUpdateOfAnExistingDeviceChangesNothing) {
  AddDevice("ROOT\\REALTIME\\0007", List({kId}));
  Bind();
  FailCalls("UpdateDriverForPlugAndPlayDevicesA", ERROR_ACCESS_DENIED);
  EXPECT_FALSE(InstallRootDevice(kInf, kId));
  EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), GetLastError());
  EXPECT_EQ(std::vector<std::string>{"0007"}, RealtimeNodes());
  EXPECT_FALSE(Called("SetupDiCallClassInstaller"));
}

TEST_P(RootDeviceTest, MissingInfCreatesNothing) {
  machine_.Remove(kInf);
  Bind();
  EXPECT_FALSE(InstallRootDevice(kInf, kId));
  EXPECT_EQ(DWORD(ERROR_FILE_NOT_FOUND), GetLastError());
  EXPECT_FALSE(Called("SetupDiCreateDeviceInfoA"));
}

TEST_P(RootDeviceTest, InfWithoutSignatureIsAFailureWithACode) {
  // Wine fails SetupDiGetINFClassA here without setting a code; the
  // operation must still report a failure with one.
  std::string inf = SampleInf();
  inf.replace(inf.find("Signature="), 10, "Sxgnature=");
  machine_.Write(kInf, inf);
  Bind();
  EXPECT_FALSE(CreateRootDevice(kId, kInf));
  EXPECT_EQ(DWORD(ERROR_WRONG_INF_STYLE), GetLastError());
  EXPECT_TRUE(RealtimeNodes().empty());
}

INSTANTIATE_TEST_SUITE_P(LastErrorConventions, RootDeviceTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool> &info) {
                           return info.param ? "Wine" : "Windows";
                         });

// Without NewDev.dll (NT 4.0, or a system whose library lacks the entry
// point) nothing is called and nothing is shown.
class NoNewDevTest : public ::testing::Test {};

TEST_F(NoNewDevTest, Nt40CreatesNothingAndShowsNothing) {
  TestMachine machine("nt40");
  machine.Write("C:\\VARSETUP\\pulsario.inf", SampleInf());
  winsim::EnableCallLog(true);
  BindNewDev();
  EXPECT_FALSE(NewDevBound());
  SetLastError(0);
  EXPECT_FALSE(InstallRootDevice("C:\\VARSETUP\\pulsario.inf", kId));
  EXPECT_EQ(DWORD(ERROR_CALL_NOT_IMPLEMENTED), GetLastError());
  SetLastError(0);
  EXPECT_FALSE(CreateRootDevice(kId, "C:\\VARSETUP\\pulsario.inf"));
  EXPECT_EQ(DWORD(ERROR_CALL_NOT_IMPLEMENTED), GetLastError());
  EXPECT_FALSE(Called("SetupDi"));
  EXPECT_TRUE(winsim::ReadJournal().empty());  // no system error box
  EXPECT_EQ(nullptr, Node("ROOT\\REALTIME"));
  ReleaseNewDev();
}

TEST_F(NoNewDevTest, PlantedNewDevBesideTheProgramIsNeverLoaded) {
  TestMachine machine("winxp");
  machine.Write("C:\\VARSETUP\\pulsario.inf", SampleInf());
  machine.Write("C:\\VARSETUP\\NewDev.dll", "MZ planted");
  winsim::Config().libraries["C:\\VARSETUP\\NEWDEV.DLL"] = {"UpdateDriverForPlugAndPlayDevicesA"};
  BindNewDev();
  ASSERT_TRUE(NewDevBound());
  ASSERT_TRUE(InstallRootDevice("C:\\VARSETUP\\pulsario.inf", kId));
  for (const std::string &loaded : winsim::LoadedLibraries())
    EXPECT_EQ(std::string::npos, winsim::PathKey(loaded).find("VARSETUP")) << loaded;
  // With the system's copy gone the planted one is still not taken.
  ReleaseNewDev();
  machine.Remove("C:\\WINDOWS\\system32\\newdev.dll");
  BindNewDev();
  EXPECT_FALSE(NewDevBound());
  ReleaseNewDev();
  // Nor when the system directory cannot be read (a bare name would find it).
  FailCalls("GetSystemDirectoryA", ERROR_NOT_ENOUGH_MEMORY);
  BindNewDev();
  EXPECT_FALSE(NewDevBound());
  for (const std::string &loaded : winsim::LoadedLibraries())
    EXPECT_EQ(std::string::npos, winsim::PathKey(loaded).find("VARSETUP")) << loaded;
  ReleaseNewDev();
}

TEST_F(NoNewDevTest, XpRunLeavesExactlyOneRealtimeNodeInTheHive) {
  TestMachine machine("winxp");
  machine.Write("C:\\VARSETUP\\pulsario.inf", SampleInf());
  for (int run = 0; run < 2; ++run) {
    BindNewDev();
    EXPECT_TRUE(InstallRootDevice("C:\\VARSETUP\\pulsario.inf", kId));
    ReleaseNewDev();
    machine.Reattach();
  }
  std::string hive;
  FILE *f = fopen((machine.Dir() + "/registry/HKLM.reg").c_str(), "rb");
  ASSERT_NE(nullptr, f);
  char buffer[8192];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) hive.append(buffer, n);
  fclose(f);
  size_t first = hive.find("\\Enum\\Root\\REALTIME\\0000]");
  EXPECT_NE(std::string::npos, first);
  EXPECT_EQ(std::string::npos, hive.find("\\Enum\\Root\\REALTIME\\0001]"));
  EXPECT_EQ(std::vector<std::string>{"0000"}, RealtimeNodes());
}

}  // namespace

// The list reader alone: an entry counts only when it begins inside the
// reported data and ends inside the buffer; no buffer lists nothing.
TEST(ListsHardwareId, EntriesBeginInsideTheDataAndEndInsideTheBuffer) {
  const BYTE list[] = {'A', 0, 'B', 0, 'C', 'D', 0};
  EXPECT_TRUE(ListsHardwareId(list, 4, 7, "B"));
  EXPECT_FALSE(ListsHardwareId(list, 2, 7, "B"));   // B begins where the data ends
  EXPECT_TRUE(ListsHardwareId(list, 7, 7, "CD"));
  EXPECT_FALSE(ListsHardwareId(list, 6, 6, "CD"));  // its zero lies beyond the buffer
  EXPECT_FALSE(ListsHardwareId(nullptr, 0, 0, ""));
}
