// winsim's SetupAPI and newdev: device sets over the machine's registry,
// with Windows' error codes and last-error convention.
#include <gtest/gtest.h>
#include <newdev.h>
#include <setupapi.h>

#include <cstring>
#include <string>
#include <vector>

#include "devices.h"
#include "machine.h"
#include "test_machine.h"

namespace {

const char kEnum[] = "SYSTEM\\CurrentControlSet\\Enum";
const char kInf[] = "C:\\VARSETUP\\pulsario.inf";
const char kId[] = "*varentel\\pulsario";
const GUID kRealtime = {0x3E9E8221, 0x580A, 0x44A3, {0x8D, 0x15, 0xC7, 0x5C, 0x03, 0x98, 0xFE, 0xFC}};

std::string SampleInf() { return ReadSourceFile("samples/payload/pulsario.inf"); }

std::string Replace(std::string text, const std::string &from, const std::string &to) {
  size_t at = text.find(from);
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

winsim::reg::Key *Node(const std::string &instance) {
  return winsim::reg::Find(winsim::reg::Root(HKEY_LOCAL_MACHINE), std::string(kEnum) + "\\" + instance);
}

std::string StringValue(winsim::reg::Key *key, const char *name) {
  winsim::reg::Value *v = key ? winsim::reg::FindValue(key, name) : nullptr;
  if (!v) return "<none>";
  return std::string(v->data.begin(), v->data.end()).c_str();
}

// Adds a present device with the given hardware IDs (none: no property).
void AddDevice(const std::string &instance, const std::vector<std::string> &ids) {
  using namespace winsim::reg;
  Key *node = Create(Root(HKEY_LOCAL_MACHINE), std::string(kEnum) + "\\" + instance, nullptr);
  if (!ids.empty()) {
    std::string data;
    for (const std::string &id : ids) data += id + '\0';
    data += '\0';
    SetValue(node, "HardwareID", REG_MULTI_SZ, reinterpret_cast<const BYTE *>(data.data()), DWORD(data.size()));
  }
  Save(node);
}

HDEVINFO NewSet() { return SetupDiCreateDeviceInfoList(&kRealtime, nullptr); }

class DevicesTest : public ::testing::Test {
 protected:
  DevicesTest() : machine_("winxp") { machine_.Write(kInf, SampleInf()); }
  ~DevicesTest() override { winsim::UseWineSetupApiLastError(false); }

  // Registers a generated REALTIME element (with `id` as hardware ID) in
  // `set`; true on success.
  bool Register(HDEVINFO set, SP_DEVINFO_DATA *d, const char *id = kId) {
    d->cbSize = sizeof *d;
    std::string list = std::string(id) + '\0' + '\0';
    return SetupDiCreateDeviceInfoA(set, "Realtime", &kRealtime, nullptr, nullptr, DICD_GENERATE_ID, d) &&
           SetupDiSetDeviceRegistryPropertyA(set, d, SPDRP_HARDWAREID,
                                             reinterpret_cast<const BYTE *>(list.data()), DWORD(list.size())) &&
           SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, d);
  }

  TestMachine machine_;
};

TEST_F(DevicesTest, PresentDevicesEnumerateUntilNoMoreItems) {
  SetLastError(0xdeadbeef);
  HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
  ASSERT_NE(INVALID_HANDLE_VALUE, set);
  EXPECT_EQ(0u, GetLastError());  // Windows clears the last error on success
  SP_DEVINFO_DATA d;
  d.cbSize = sizeof d;
  DWORD count = 0;
  while (SetupDiEnumDeviceInfo(set, count, &d)) ++count;
  EXPECT_EQ(DWORD(ERROR_NO_MORE_ITEMS), GetLastError());
  EXPECT_EQ(5u, count);  // the template's nodes, some without hardware IDs
  d.cbSize = 32;
  EXPECT_FALSE(SetupDiEnumDeviceInfo(set, 0, &d));
  EXPECT_EQ(DWORD(ERROR_INVALID_USER_BUFFER), GetLastError());
  EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
  EXPECT_FALSE(SetupDiDestroyDeviceInfoList(set));
  EXPECT_EQ(DWORD(ERROR_INVALID_HANDLE), GetLastError());
  // Without DIGCF_ALLCLASSES a class is needed.
  EXPECT_EQ(INVALID_HANDLE_VALUE, SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_PRESENT));
  EXPECT_EQ(DWORD(ERROR_INVALID_PARAMETER), GetLastError());
}

TEST_F(DevicesTest, HardwareIdPropertyReadsAtEverySize) {
  AddDevice("ROOT\\MULTI\\0000", {"first\\id", kId});
  HDEVINFO set = SetupDiGetClassDevsA(nullptr, "root", nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
  ASSERT_NE(INVALID_HANDLE_VALUE, set);
  const std::string expected = std::string("first\\id") + '\0' + kId + '\0' + '\0';
  SP_DEVINFO_DATA d;
  d.cbSize = sizeof d;
  bool sawMulti = false, sawWithout = false;
  for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &d); ++i) {
    DWORD type = 0, required = 0xdeadbeef;
    SetLastError(0xdeadbeef);
    BOOL ok = SetupDiGetDeviceRegistryPropertyA(set, &d, SPDRP_HARDWAREID, &type, nullptr, 0, &required);
    EXPECT_FALSE(ok);
    if (GetLastError() == ERROR_INVALID_DATA) {  // ROOT\LEGACY_BEEP has none
      sawWithout = true;
      continue;
    }
    ASSERT_EQ(DWORD(ERROR_INSUFFICIENT_BUFFER), GetLastError());
    EXPECT_EQ(DWORD(REG_MULTI_SZ), type);
    if (required != expected.size()) continue;
    sawMulti = true;
    std::vector<BYTE> buffer(required + 1, 0xAA);
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(set, &d, SPDRP_HARDWAREID, &type, buffer.data(),
                                                   required - 1, &required));
    EXPECT_EQ(DWORD(ERROR_INSUFFICIENT_BUFFER), GetLastError());
    EXPECT_EQ(expected.size(), required);
    SetLastError(0xdeadbeef);
    ASSERT_TRUE(SetupDiGetDeviceRegistryPropertyA(set, &d, SPDRP_HARDWAREID, &type, buffer.data(),
                                                  DWORD(buffer.size()), &required));
    EXPECT_EQ(0u, GetLastError());
    EXPECT_EQ(expected, std::string(buffer.begin(), buffer.begin() + required));
    EXPECT_EQ(0xAA, buffer[required]);  // nothing written past the data
  }
  EXPECT_TRUE(sawMulti);
  EXPECT_TRUE(sawWithout);
  SetupDiDestroyDeviceInfoList(set);
}

TEST_F(DevicesTest, InfClassComesFromTheVersionSection) {
  GUID guid{};
  char name[32];
  DWORD required = 0;
  SetLastError(0xdeadbeef);
  ASSERT_TRUE(SetupDiGetINFClassA(kInf, &guid, name, sizeof name, &required));
  EXPECT_EQ(0u, GetLastError());
  EXPECT_STREQ("REALTIME", name);
  EXPECT_EQ(9u, required);
  EXPECT_EQ(0, memcmp(&kRealtime, &guid, sizeof guid));

  EXPECT_FALSE(SetupDiGetINFClassA(kInf, &guid, name, 8, &required));
  EXPECT_EQ(DWORD(ERROR_INSUFFICIENT_BUFFER), GetLastError());
  EXPECT_EQ(9u, required);

  EXPECT_FALSE(SetupDiGetINFClassA("C:\\VARSETUP\\missing.inf", &guid, name, sizeof name, nullptr));
  EXPECT_EQ(DWORD(ERROR_FILE_NOT_FOUND), GetLastError());

  machine_.Write("C:\\VARSETUP\\nosig.inf", Replace(SampleInf(), "Signature=\"$CHICAGO$\"", ""));
  EXPECT_FALSE(SetupDiGetINFClassA("C:\\VARSETUP\\nosig.inf", &guid, name, sizeof name, nullptr));
  EXPECT_EQ(DWORD(ERROR_WRONG_INF_STYLE), GetLastError());
  winsim::UseWineSetupApiLastError(true);  // Wine fails without a code
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(SetupDiGetINFClassA("C:\\VARSETUP\\nosig.inf", &guid, name, sizeof name, nullptr));
  EXPECT_EQ(0u, GetLastError());
}

TEST_F(DevicesTest, GeneratedIdsTakeTheLowestFreeNumber) {
  HDEVINFO set = NewSet();
  SP_DEVINFO_DATA a, b, c;
  ASSERT_TRUE(Register(set, &a));
  ASSERT_TRUE(Register(set, &b));
  ASSERT_NE(nullptr, Node("ROOT\\REALTIME\\0000"));
  ASSERT_NE(nullptr, Node("ROOT\\REALTIME\\0001"));
  EXPECT_EQ("{3E9E8221-580A-44A3-8D15-C75C0398FEFC}", StringValue(Node("ROOT\\REALTIME\\0000"), "ClassGUID"));
  SetLastError(0xdeadbeef);
  ASSERT_TRUE(SetupDiCallClassInstaller(DIF_REMOVE, set, &a));
  EXPECT_EQ(0u, GetLastError());
  EXPECT_EQ(nullptr, Node("ROOT\\REALTIME\\0000"));
  ASSERT_TRUE(Register(set, &c));  // the gap is reused
  EXPECT_NE(nullptr, Node("ROOT\\REALTIME\\0000"));
  // An element never registered holds its number only while its set lives.
  SP_DEVINFO_DATA pending;
  pending.cbSize = sizeof pending;
  ASSERT_TRUE(SetupDiCreateDeviceInfoA(set, "realtime", &kRealtime, nullptr, nullptr, DICD_GENERATE_ID, &pending));
  SetupDiDestroyDeviceInfoList(set);
  set = NewSet();
  SP_DEVINFO_DATA d;
  ASSERT_TRUE(Register(set, &d));
  EXPECT_NE(nullptr, Node("ROOT\\REALTIME\\0002"));
  EXPECT_EQ(nullptr, Node("ROOT\\REALTIME\\0003"));
  d.cbSize = sizeof d;
  EXPECT_FALSE(SetupDiCreateDeviceInfoA(set, "ROOT\\X", &kRealtime, nullptr, nullptr, DICD_GENERATE_ID, &d));
  EXPECT_EQ(DWORD(ERROR_INVALID_DEVINST_NAME), GetLastError());
  EXPECT_FALSE(SetupDiCreateDeviceInfoA(set, "ROOT\\REALTIME\\0001", &kRealtime, nullptr, nullptr, 0, &d));
  EXPECT_EQ(DWORD(ERROR_DEVINST_ALREADY_EXISTS), GetLastError());
  GUID other = kRealtime;
  other.Data1 ^= 1;
  EXPECT_FALSE(SetupDiCreateDeviceInfoA(set, "Realtime", &other, nullptr, nullptr, DICD_GENERATE_ID, &d));
  EXPECT_EQ(DWORD(ERROR_CLASS_MISMATCH), GetLastError());
  SetupDiDestroyDeviceInfoList(set);
  // The nodes persist: they are in the hive on disk.
  machine_.Reattach();
  EXPECT_NE(nullptr, Node("ROOT\\REALTIME\\0001"));
}

TEST_F(DevicesTest, DriverUpdateFailsAsWindowsDoes) {
  BOOL reboot = TRUE;
  EXPECT_FALSE(UpdateDriverForPlugAndPlayDevicesA(nullptr, kId, kInf, INSTALLFLAG_FORCE, &reboot));
  EXPECT_EQ(DWORD(ERROR_NO_SUCH_DEVINST), GetLastError());
  AddDevice("ROOT\\REALTIME\\0000", {kId});
  EXPECT_FALSE(UpdateDriverForPlugAndPlayDevicesA(nullptr, kId, "C:\\VARSETUP\\gone.inf", INSTALLFLAG_FORCE, &reboot));
  EXPECT_EQ(DWORD(ERROR_FILE_NOT_FOUND), GetLastError());
  EXPECT_FALSE(UpdateDriverForPlugAndPlayDevicesA(nullptr, kId, kInf, 8, &reboot));
  EXPECT_EQ(DWORD(ERROR_INVALID_FLAGS), GetLastError());
  machine_.Write("C:\\VARSETUP\\other.inf", Replace(SampleInf(), "*varentel\\pulsario", "*varentel\\other"));
  EXPECT_FALSE(UpdateDriverForPlugAndPlayDevicesA(nullptr, kId, "C:\\VARSETUP\\other.inf", INSTALLFLAG_FORCE, &reboot));
  EXPECT_EQ(DWORD(ERROR_NO_COMPAT_DRIVERS), GetLastError());
  machine_.Write("C:\\VARSETUP\\nosvc.inf", Replace(SampleInf(), "AddService=pulsario,0x00000002,Pulsario_Service", ""));
  EXPECT_FALSE(UpdateDriverForPlugAndPlayDevicesA(nullptr, kId, "C:\\VARSETUP\\nosvc.inf", INSTALLFLAG_FORCE, &reboot));
  EXPECT_EQ(DWORD(ERROR_NO_ASSOCIATED_SERVICE), GetLastError());
  EXPECT_EQ("<none>", StringValue(Node("ROOT\\REALTIME\\0000"), "Driver"));
}

TEST_F(DevicesTest, DriverUpdateRecordsTheDriverOnEveryMatchingDevice) {
  AddDevice("ROOT\\REALTIME\\0000", {kId});
  AddDevice("ROOT\\OTHER\\0000", {"x\\y", "*VARENTEL\\PULSARIO"});  // IDs compare without case
  AddDevice("ROOT\\UNRELATED\\0000", {"x\\y"});
  BOOL reboot = TRUE;
  SetLastError(0xdeadbeef);
  ASSERT_TRUE(UpdateDriverForPlugAndPlayDevicesA(nullptr, kId, kInf, INSTALLFLAG_FORCE, &reboot));
  EXPECT_EQ(0u, GetLastError());
  EXPECT_FALSE(reboot);
  winsim::reg::Key *node = Node("ROOT\\REALTIME\\0000");
  EXPECT_EQ("REALTIME", StringValue(node, "Class"));
  EXPECT_EQ("Varentel RealTime Audio Kernel", StringValue(node, "DeviceDesc"));
  EXPECT_EQ("Varentel GmbH", StringValue(node, "Mfg"));
  EXPECT_EQ("pulsario", StringValue(node, "Service"));
  std::string driver = StringValue(node, "Driver");
  std::string other = StringValue(Node("ROOT\\OTHER\\0000"), "Driver");
  EXPECT_EQ(0u, driver.rfind("{3E9E8221-580A-44A3-8D15-C75C0398FEFC}\\000", 0)) << driver;
  EXPECT_EQ(0u, other.rfind("{3E9E8221-580A-44A3-8D15-C75C0398FEFC}\\000", 0)) << other;
  EXPECT_NE(driver, other);  // one driver key per device
  EXPECT_EQ("<none>", StringValue(Node("ROOT\\UNRELATED\\0000"), "Driver"));
  winsim::reg::Key *driverKey = winsim::reg::Find(winsim::reg::Root(HKEY_LOCAL_MACHINE),
                                                  "SYSTEM\\CurrentControlSet\\Control\\Class\\" + driver);
  EXPECT_EQ("Pulsario_Install", StringValue(driverKey, "InfSection"));
  // A second update keeps the driver key; removing the node removes it.
  ASSERT_TRUE(UpdateDriverForPlugAndPlayDevicesA(nullptr, kId, kInf, INSTALLFLAG_FORCE, nullptr));
  EXPECT_EQ(driver, StringValue(Node("ROOT\\REALTIME\\0000"), "Driver"));
}

// Without INSTALLFLAG_FORCE only a better driver is installed.  A device
// whose driver is loaded needs a restart: reported through the pointer, or
// prompted for by the function itself without one.  A phantom node with the
// ID is neither listed as present nor driven.
TEST_F(DevicesTest, DriverUpdateRanksDriversAndReportsTheRestart) {
  AddDevice("ROOT\\REALTIME\\0000", {kId});
  AddDevice("ROOT\\REALTIME\\0001", {kId});
  winsim::Config().absentDevices = {"Root\\REALTIME\\0001"};
  auto count = [](DWORD flags) {
    HDEVINFO set = SetupDiGetClassDevsA(nullptr, "ROOT", nullptr, flags);
    SP_DEVINFO_DATA d;
    d.cbSize = sizeof d;
    DWORD n = 0;
    while (SetupDiEnumDeviceInfo(set, n, &d)) ++n;
    SetupDiDestroyDeviceInfoList(set);
    return n;
  };
  EXPECT_EQ(count(DIGCF_ALLCLASSES) - 1, count(DIGCF_PRESENT | DIGCF_ALLCLASSES));
  BOOL reboot = TRUE;
  ASSERT_TRUE(UpdateDriverForPlugAndPlayDevicesA(nullptr, kId, kInf, 0, &reboot));  // no driver yet
  EXPECT_FALSE(reboot);
  EXPECT_EQ("<none>", StringValue(Node("ROOT\\REALTIME\\0001"), "Driver"));
  machine_.Write("C:\\VARSETUP\\old.inf", Replace(SampleInf(), "06/01/2004,1.0.0.0", "05/31/2004,9.0.0.0"));
  machine_.Write("C:\\VARSETUP\\new.inf", Replace(SampleInf(), "06/01/2004,1.0.0.0", "06/01/2004,1.0.0.1"));
  for (const char *inf : {kInf, "C:\\VARSETUP\\old.inf"}) {
    EXPECT_FALSE(UpdateDriverForPlugAndPlayDevicesA(nullptr, kId, inf, 0, &reboot)) << inf;
    EXPECT_EQ(DWORD(ERROR_NO_MORE_ITEMS), GetLastError()) << inf;
  }
  winsim::Config().inUse.push_back("C:\\WINDOWS\\system32\\DRIVERS\\PULSARIO.SYS");
  ASSERT_TRUE(UpdateDriverForPlugAndPlayDevicesA(nullptr, kId, "C:\\VARSETUP\\new.inf", 0, &reboot));
  EXPECT_TRUE(reboot);
  EXPECT_TRUE(winsim::ReadJournal().empty());
  ASSERT_TRUE(UpdateDriverForPlugAndPlayDevicesA(nullptr, kId, "C:\\VARSETUP\\old.inf", INSTALLFLAG_FORCE, nullptr));
  ASSERT_EQ(1u, winsim::ReadJournal().size());
  EXPECT_EQ(0u, winsim::ReadJournal()[0].rfind("system-restart-box caption=\"System Settings Change\" ", 0));
  winsim::reg::Key *service =
      winsim::reg::Find(winsim::reg::Root(HKEY_LOCAL_MACHINE), "SYSTEM\\CurrentControlSet\\Services\\pulsario");
  ASSERT_NE(nullptr, service);
  EXPECT_EQ("system32\\DRIVERS\\PULSARIO.SYS", StringValue(service, "ImagePath"));
  EXPECT_EQ("Varentel RealTime Audio Kernel", StringValue(service, "DisplayName"));
  auto dword = [&](const char *name) {
    winsim::reg::Value *v = winsim::reg::FindValue(service, name);
    DWORD x = 0xdeadbeef;
    if (v && v->type == REG_DWORD) memcpy(&x, v->data.data(), sizeof x);
    return x;
  };
  EXPECT_EQ((std::vector<DWORD>{1, 3, 1}), (std::vector<DWORD>{dword("Type"), dword("Start"), dword("ErrorControl")}));
  AddDevice("ROOT\\GONE\\0000", {"*varentel\\gone"});
  winsim::Config().absentDevices.push_back("ROOT\\GONE\\0000");
  EXPECT_FALSE(UpdateDriverForPlugAndPlayDevicesA(nullptr, "*varentel\\gone", kInf, INSTALLFLAG_FORCE, &reboot));
  EXPECT_EQ(DWORD(ERROR_NO_SUCH_DEVINST), GetLastError());
}

// Removing a device whose driver is loaded succeeds and asks for the
// restart through DI_NEEDREBOOT; a device without a driver needs none.
TEST_F(DevicesTest, RemovalOfADeviceInUseNeedsTheRestart) {
  HDEVINFO set = NewSet();
  SP_DEVINFO_DATA driven, bare;
  ASSERT_TRUE(Register(set, &driven));
  ASSERT_TRUE(UpdateDriverForPlugAndPlayDevicesA(nullptr, kId, kInf, INSTALLFLAG_FORCE, nullptr));
  ASSERT_TRUE(Register(set, &bare, "*varentel\\bare"));
  winsim::Config().inUse.push_back("C:\\WINDOWS\\system32\\DRIVERS\\PULSARIO.SYS");
  SP_DEVINSTALL_PARAMS_A params;
  std::vector<DWORD> flags;
  for (SP_DEVINFO_DATA *d : {&driven, &bare}) {
    ASSERT_TRUE(SetupDiCallClassInstaller(DIF_REMOVE, set, d));
    params.cbSize = sizeof params;
    ASSERT_TRUE(SetupDiGetDeviceInstallParamsA(set, d, &params));
    flags.push_back(params.Flags);
  }
  EXPECT_EQ((std::vector<DWORD>{DI_NEEDREBOOT, 0}), flags);
  params.cbSize = 8;
  EXPECT_FALSE(SetupDiGetDeviceInstallParamsA(set, &driven, &params));
  EXPECT_EQ(DWORD(ERROR_INVALID_USER_BUFFER), GetLastError());
  SetupDiDestroyDeviceInfoList(set);
}

TEST_F(DevicesTest, NewDevEntryPointComesFromTheLibraryTable) {
  HMODULE newdev = LoadLibraryA("C:\\WINDOWS\\system32\\NewDev.dll");
  ASSERT_NE(nullptr, newdev);
  EXPECT_EQ(reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&UpdateDriverForPlugAndPlayDevicesA)),
            GetProcAddress(newdev, "UpdateDriverForPlugAndPlayDevicesA"));
  EXPECT_EQ(nullptr, GetProcAddress(newdev, "UpdateDriverForPlugAndPlayDevicesW"));
  FreeLibrary(newdev);
}

TEST_F(DevicesTest, WineConventionLeavesStaleCodes) {
  winsim::UseWineSetupApiLastError(true);
  AddDevice("ROOT\\REALTIME\\0000", {kId});
  HDEVINFO set = SetupDiGetClassDevsA(nullptr, "ROOT", nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
  SP_DEVINFO_DATA d;
  d.cbSize = sizeof d;
  ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 1, &d));
  DWORD required = 0;
  BYTE buffer[64];
  SetLastError(ERROR_INSUFFICIENT_BUFFER);
  EXPECT_TRUE(SetupDiGetDeviceRegistryPropertyA(set, &d, SPDRP_HARDWAREID, nullptr, buffer, sizeof buffer, &required));
  EXPECT_EQ(DWORD(ERROR_INSUFFICIENT_BUFFER), GetLastError());
  EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
  EXPECT_EQ(0u, GetLastError());  // Wine's destroy does clear it
}

}  // namespace

namespace {

// What Wine's SetupAPI tests find on Windows: the order of the creation's
// checks, the longest ID, a new element's class and description read back,
// an interface list, and the default action handed back to the caller.
TEST_F(DevicesTest, CreationChecksAndNewElementsAsWindowsReportsThem) {
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(SetupDiCreateDeviceInfoA(nullptr, nullptr, &kRealtime, nullptr, nullptr, 0, nullptr));
  EXPECT_EQ(DWORD(ERROR_INVALID_DEVINST_NAME), GetLastError());
  HDEVINFO set = SetupDiGetClassDevsA(&kRealtime, nullptr, nullptr, DIGCF_DEVICEINTERFACE);
  ASSERT_NE(INVALID_HANDLE_VALUE, set);
  SP_DEVINFO_DATA d{};
  d.cbSize = sizeof d;
  ASSERT_TRUE(SetupDiCreateDeviceInfoA(set, "ROOT\\X\\0000", &kRealtime, "desc", nullptr, 0, &d));
  SP_DEVINFO_DATA bad{};
  EXPECT_FALSE(SetupDiCreateDeviceInfoA(set, "ROOT\\X\\0000", &kRealtime, nullptr, nullptr, 0, &bad));
  EXPECT_EQ(DWORD(ERROR_DEVINST_ALREADY_EXISTS), GetLastError());
  std::string id = "ROOT\\X\\" + std::string(MAX_DEVICE_ID_LEN - 7, 'x');
  EXPECT_FALSE(SetupDiCreateDeviceInfoA(set, id.c_str(), &kRealtime, nullptr, nullptr, 0, nullptr));
  EXPECT_EQ(DWORD(ERROR_INVALID_DEVINST_NAME), GetLastError());
  char buf[64];
  ASSERT_TRUE(SetupDiGetDeviceRegistryPropertyA(set, &d, SPDRP_CLASSGUID, nullptr, (BYTE *)buf, sizeof buf, nullptr));
  EXPECT_STRCASEEQ("{3e9e8221-580a-44a3-8d15-c75c0398fefc}", buf);
  ASSERT_TRUE(SetupDiGetDeviceRegistryPropertyA(set, &d, SPDRP_DEVICEDESC, nullptr, (BYTE *)buf, sizeof buf, nullptr));
  EXPECT_STREQ("desc", buf);
  EXPECT_FALSE(SetupDiCallClassInstaller(DIF_SELECTDEVICE, set, &d));
  EXPECT_EQ(DWORD(ERROR_DI_DO_DEFAULT), GetLastError());
  SetupDiDestroyDeviceInfoList(set);
}

}  // namespace
