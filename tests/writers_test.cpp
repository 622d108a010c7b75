// The registry and profile-file writers against the simulated machine.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "deploy/deploy.h"
#include "test_machine.h"

namespace {

const char kTemplate9x[] = "win98";
const char kTemplateNT[] = "winxp";
const char kBase[] = "Software\\Varentel\\Test";

struct StoredValue {
  bool present = false;
  DWORD type = 0;
  std::vector<BYTE> data;
};

StoredValue ReadValue(HKEY root, const std::string &keyPath, const std::string &name) {
  StoredValue result;
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, keyPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return result;
  BYTE buffer[256];
  DWORD size = sizeof buffer;
  if (RegQueryValueExA(key, name.c_str(), nullptr, &result.type, buffer, &size) == ERROR_SUCCESS) {
    result.present = true;
    result.data.assign(buffer, buffer + size);
  }
  RegCloseKey(key);
  return result;
}

void CreateKey(HKEY root, const std::string &keyPath) {
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root, keyPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                           nullptr, &key, nullptr))
      << keyPath;
  RegCloseKey(key);
}

std::vector<BYTE> Bytes(std::initializer_list<int> values) {
  std::vector<BYTE> bytes;
  for (int v : values) bytes.push_back(BYTE(v));
  return bytes;
}

// A section buffer as GetPrivateProfileSectionA returns it.
std::string Section(std::initializer_list<const char *> lines) {
  std::string buffer;
  for (const char *line : lines) buffer += std::string(line) + '\0';
  return buffer + '\0';
}

}  // namespace

TEST(WriteRegString, StoresTheTextWithItsZero) {
  TestMachine machine(kTemplateNT);
  const std::string deep = std::string(kBase) + "\\One\\Two\\Three";
  WriteRegString(HKEY_LOCAL_MACHINE, deep, "Path", "C:\\X");
  WriteRegString(HKEY_LOCAL_MACHINE, deep, "", "default");
  WriteRegString(HKEY_LOCAL_MACHINE, deep, "Empty", "");
  machine.Reattach();

  StoredValue path = ReadValue(HKEY_LOCAL_MACHINE, deep, "Path");
  EXPECT_EQ(DWORD(REG_SZ), path.type);
  EXPECT_EQ(Bytes({'C', ':', '\\', 'X', 0}), path.data);
  EXPECT_EQ(Bytes({'d', 'e', 'f', 'a', 'u', 'l', 't', 0}), ReadValue(HKEY_LOCAL_MACHINE, deep, "").data);
  StoredValue empty = ReadValue(HKEY_LOCAL_MACHINE, deep, "Empty");
  ASSERT_TRUE(empty.present);
  EXPECT_EQ(DWORD(REG_SZ), empty.type);
  EXPECT_EQ(Bytes({0}), empty.data);
}

TEST(WriteRegDwordAndBinary, KeepTheirTypes) {
  TestMachine machine(kTemplateNT);
  const BYTE four[4] = {1, 0, 0, 0};
  WriteRegDword(HKEY_LOCAL_MACHINE, kBase, "Enabled", 1);
  WriteRegDword(HKEY_LOCAL_MACHINE, kBase, "Big", 0x12345678);
  WriteRegBinary(HKEY_LOCAL_MACHINE, kBase, "Config", four, sizeof four);
  WriteRegBinary(HKEY_LOCAL_MACHINE, kBase, "Nothing", four, 0);
  machine.Reattach();

  StoredValue enabled = ReadValue(HKEY_LOCAL_MACHINE, kBase, "Enabled");
  EXPECT_EQ(DWORD(REG_DWORD), enabled.type);
  EXPECT_EQ(Bytes({1, 0, 0, 0}), enabled.data);
  EXPECT_EQ(Bytes({0x78, 0x56, 0x34, 0x12}), ReadValue(HKEY_LOCAL_MACHINE, kBase, "Big").data);
  StoredValue config = ReadValue(HKEY_LOCAL_MACHINE, kBase, "Config");
  EXPECT_EQ(DWORD(REG_BINARY), config.type);
  EXPECT_EQ(Bytes({1, 0, 0, 0}), config.data);
  StoredValue nothing = ReadValue(HKEY_LOCAL_MACHINE, kBase, "Nothing");
  EXPECT_TRUE(nothing.present);
  EXPECT_EQ(DWORD(REG_BINARY), nothing.type);
  EXPECT_TRUE(nothing.data.empty());
}

TEST(WriteRegValue, ReplacesAValueOfAnotherType) {
  TestMachine machine(kTemplateNT);
  WriteRegDword(HKEY_LOCAL_MACHINE, kBase, "Mixed", 7);
  WriteRegString(HKEY_LOCAL_MACHINE, kBase, "Mixed", "seven");
  StoredValue mixed = ReadValue(HKEY_LOCAL_MACHINE, kBase, "Mixed");
  EXPECT_EQ(DWORD(REG_SZ), mixed.type);
  EXPECT_EQ(Bytes({'s', 'e', 'v', 'e', 'n', 0}), mixed.data);
}

TEST(RegValueExists, AnyValueCountsAlsoAnEmptyOne) {
  TestMachine machine(kTemplateNT);
  EXPECT_FALSE(RegValueExists(HKEY_LOCAL_MACHINE, kBase, "Config"));  // key missing
  WriteRegBinary(HKEY_LOCAL_MACHINE, kBase, "Config", "", 0);
  EXPECT_TRUE(RegValueExists(HKEY_LOCAL_MACHINE, kBase, "Config"));
  EXPECT_FALSE(RegValueExists(HKEY_LOCAL_MACHINE, kBase, "Other"));
  EXPECT_FALSE(RegValueExists(HKEY_LOCAL_MACHINE, kBase, ""));  // default value never set
}

class DeleteRegTreeTest : public ::testing::TestWithParam<const char *> {};

TEST_P(DeleteRegTreeTest, RemovesEveryLevelAndKeepsTheParent) {
  TestMachine machine(GetParam());
  const std::string engine = "Software\\Varentel\\Engine";
  for (const char *child : {"Alpha", "Beta", "Gamma"}) {
    CreateKey(HKEY_CURRENT_USER, engine + "\\" + child + "\\Inner");
    WriteRegString(HKEY_CURRENT_USER, engine + "\\" + child + "\\Inner", "v", "x");
  }
  WriteRegDword(HKEY_CURRENT_USER, engine, "Level", 3);
  WriteRegDword(HKEY_CURRENT_USER, "Software\\Varentel\\Other", "Keep", 1);

  EXPECT_TRUE(DeleteRegTree(HKEY_CURRENT_USER, engine + "\\"));
  machine.Reattach();
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, engine));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, engine + "\\Beta"));
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, "Software\\Varentel"));
  EXPECT_TRUE(RegValueExists(HKEY_CURRENT_USER, "Software\\Varentel\\Other", "Keep"));

  // Absent now: nothing to delete, nothing changed.
  EXPECT_FALSE(DeleteRegTree(HKEY_CURRENT_USER, engine + "\\"));
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, "Software\\Varentel"));
}

TEST_P(DeleteRegTreeTest, LeadingBackslashIsDropped) {
  TestMachine machine(GetParam());
  CreateKey(HKEY_CURRENT_USER, "Software\\Varentel\\Engine\\Sub");
  EXPECT_TRUE(DeleteRegTree(HKEY_CURRENT_USER, "\\Software\\Varentel\\Engine"));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Software\\Varentel\\Engine"));
}

INSTANTIATE_TEST_SUITE_P(BothFamilies, DeleteRegTreeTest, ::testing::Values(kTemplate9x, kTemplateNT));

TEST(DeleteRegTree, PassesOverARefusedSubkeyAndDeletesTheRest) {
  // NT keeps a key whose subkey could not be deleted; the walk still reaches
  // the subkeys behind the refused one.
  TestMachine machine(kTemplateNT);
  const std::string engine = "Software\\Varentel\\Engine";
  for (const char *child : {"Alpha", "Beta", "Gamma", "Delta"}) CreateKey(HKEY_CURRENT_USER, engine + "\\" + child + "\\Inner");
  FailCalls("RegDeleteKeyA", ERROR_ACCESS_DENIED, 0, "\\Beta\\Inner");

  EXPECT_FALSE(DeleteRegTree(HKEY_CURRENT_USER, engine));
  winsim::ClearFaults();
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, engine + "\\Beta\\Inner"));
  for (const char *gone : {"Alpha", "Gamma", "Delta"}) EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, engine + "\\" + gone)) << gone;

  // A subkey whose name cannot be read is passed over as well, its name never
  // taken from what the buffer held.
  FailCalls("RegEnumKeyExA", ERROR_ACCESS_DENIED, 1);
  EXPECT_FALSE(DeleteRegTree(HKEY_CURRENT_USER, engine));
  winsim::ClearFaults();
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, engine + "\\Beta\\Inner"));

  // A key that opens for reading only is emptied through that handle.
  FailCalls("RegOpenKeyExA", ERROR_ACCESS_DENIED, 1, "Engine");
  EXPECT_TRUE(DeleteRegTree(HKEY_CURRENT_USER, engine));
  winsim::ClearFaults();
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, engine));
}

TEST(DeleteRegTree, DoubleByteSubkeyNamesOnNT) {
  // With a double-byte code page the longest name is reported in characters
  // while the ANSI name needs a byte per half: the buffer must allow for it.
  TestMachine machine(kTemplateNT);
  winsim::Config().codePage = 932;
  const std::string wide = "\x83\x65\x83\x58\x83\x67\x83\x4c\x81\x5b";  // five Shift-JIS characters
  CreateKey(HKEY_CURRENT_USER, "Software\\Varentel\\Engine\\" + wide + "\\Inner");
  EXPECT_TRUE(DeleteRegTree(HKEY_CURRENT_USER, "Software\\Varentel\\Engine"));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Software\\Varentel\\Engine"));
}

TEST(WriteProfileEntry, RefusedWriteRecordsTheErrorNamingTheFile) {
  TestMachine machine(kTemplate9x);
  const std::string file = winsim::Config().windowsDir + "\\SYSTEM.INI";
  ASSERT_TRUE(SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY));
  RefusedProfileWrite = ProfileWriteError();
  EXPECT_FALSE(WriteProfileEntry("System.ini", "VCache", "MinFileCache", "20480"));
  EXPECT_EQ("Unable to write to System.ini", RefusedProfileWrite.message);
  EXPECT_NE(nullptr, RefusedProfileWrite.address);
}

TEST(DisableDeviceLines, TurnsExactMatchesIntoComments) {
  std::string buffer = Section({"device=pulsario.vxd", "device=*vmm", "device=PULSARIO.VXD",
                                "device=pulsario.vxd2", "device=pulsario.vxd", "xdevice=pulsario.vxd"});
  const std::string expected = Section({";evice=pulsario.vxd", "device=*vmm", "device=PULSARIO.VXD",
                                        "device=pulsario.vxd2", ";evice=pulsario.vxd", "xdevice=pulsario.vxd"});
  DisableDeviceLines(&buffer[0], "pulsario.vxd");
  EXPECT_EQ(expected, buffer);
  DisableDeviceLines(&buffer[0], "pulsario.vxd");
  EXPECT_EQ(expected, buffer);
}

TEST(DisableDeviceLines, StopsAtTheFirstEmptyLine) {
  // Nothing after the end of the section is looked at, and an empty section
  // or a null buffer is left alone.
  std::string buffer = Section({"device=*vmm"}) + "device=pulsario.vxd" + '\0';
  const std::string before = buffer;
  DisableDeviceLines(&buffer[0], "pulsario.vxd");
  EXPECT_EQ(before, buffer);

  std::string empty = std::string("\0device=pulsario.vxd\0\0", 22);
  const std::string emptyBefore = empty;
  DisableDeviceLines(&empty[0], "pulsario.vxd");
  EXPECT_EQ(emptyBefore, empty);
  DisableDeviceLines(nullptr, "pulsario.vxd");
}
