// Registry functions and the store under them, against Windows' documented
// and observed behaviour.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "bare_machine.h"
#include "machine.h"
#include "test_machine.h"

namespace {

std::string ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

HKEY Create(HKEY root, const char *path, REGSAM sam = KEY_ALL_ACCESS, DWORD *disposition = nullptr) {
  HKEY key = nullptr;
  EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root, path, 0, nullptr, 0, sam, nullptr, &key, disposition))
      << path;
  return key;
}

void SetString(HKEY key, const char *name, const char *text) {
  EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(key, name, 0, REG_SZ, (const BYTE *)text, DWORD(strlen(text) + 1)));
}

TEST(Registry, KeysAreCaseInsensitiveCasePreservingAndPersistedAsRegedit4) {
  BareMachine m;
  DWORD disposition = 0;
  HKEY a = Create(HKEY_LOCAL_MACHINE, "Software\\Vendor\\App\\", KEY_ALL_ACCESS, &disposition);
  EXPECT_EQ(DWORD(REG_CREATED_NEW_KEY), disposition);
  HKEY again = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\vendor\\APP", KEY_ALL_ACCESS, &disposition);
  EXPECT_EQ(DWORD(REG_OPENED_EXISTING_KEY), disposition);
  SetString(a, "Zeta", "z");
  SetString(again, "alpha", "a");
  SetString(a, "ZETA", "z2");  // replaces in place, keeps the first spelling
  DWORD one = 1;
  EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(a, nullptr, 0, REG_DWORD, (const BYTE *)&one, 4));
  RegCloseKey(Create(a, "sub b"));
  RegCloseKey(Create(a, "Sub A"));
  RegCloseKey(a);
  RegCloseKey(again);
  // Every key is listed, values in creation order, sub-keys sorted.
  EXPECT_EQ("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software]\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Vendor]\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Vendor\\App]\r\n\"Zeta\"=\"z2\"\r\n\"alpha\"=\"a\"\r\n"
            "@=dword:00000001\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Vendor\\App\\Sub A]\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Vendor\\App\\sub b]\r\n\r\n",
            ReadFile(m.Dir() + "/registry/HKLM.reg"));
  // Read back after a restart of the simulation.
  m.Attach();
  HKEY k = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "software\\VENDOR\\app", 0, KEY_READ, &k));
  char name[16];
  DWORD cch = sizeof name;
  ASSERT_EQ(ERROR_SUCCESS, RegEnumValueA(k, 1, name, &cch, nullptr, nullptr, nullptr, nullptr));
  EXPECT_STREQ("alpha", name);
  cch = sizeof name;
  ASSERT_EQ(ERROR_SUCCESS, RegEnumKeyExA(k, 0, name, &cch, nullptr, nullptr, nullptr, nullptr));
  EXPECT_STREQ("Sub A", name);
  EXPECT_EQ(5u, cch);
  RegCloseKey(k);
}

TEST(Registry, AMalformedHiveRefusesTheMachine) {
  BareMachine m;
  winsim::Detach();
  mkdir((m.Dir() + "/registry").c_str(), 0755);
  std::ofstream(m.Dir() + "/registry/HKCU.reg") << "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\A]\r\n\"x\"=dword:1\r\n";
  std::string error;
  EXPECT_FALSE(winsim::Attach(m.Dir(), &error));
  EXPECT_EQ(m.Dir() + "/registry/HKCU.reg:4: dword: needs exactly 8 hex digits", error);
  std::ofstream(m.Dir() + "/registry/HKCU.reg") << "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\A]\r\n";
  EXPECT_FALSE(winsim::Attach(m.Dir(), &error));
  EXPECT_EQ(m.Dir() + "/registry/HKCU.reg:3: key outside HKEY_CURRENT_USER", error);
}

TEST(Registry, PathRules) {
  BareMachine m;
  HKEY k = nullptr;
  EXPECT_EQ(ERROR_BAD_PATHNAME, RegCreateKeyExA(HKEY_LOCAL_MACHINE, "\\Lead", 0, nullptr, 0,
                                                KEY_ALL_ACCESS, nullptr, &k, nullptr));
  EXPECT_EQ(ERROR_BAD_PATHNAME, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "\\Software", 0, KEY_READ, &k));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Missing", 0, KEY_READ, &k));
  RegCloseKey(Create(HKEY_CURRENT_USER, "Trail2\\\\"));
  EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "trail2\\", 0, KEY_READ, &k));
  RegCloseKey(k);
  // An empty sub-key hands back the same handle.
  EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "", 0, KEY_READ, &k));
  EXPECT_EQ(HKEY_CURRENT_USER, k);
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegOpenKeyExA(HKEY_USERS, "X", 0, KEY_READ, &k));
}

TEST(Registry, StringSizesFollowTheFamily) {
  {
    BareMachine nt(2);
    HKEY k = Create(HKEY_LOCAL_MACHINE, "S");
    // NT counts a forgotten terminating zero; data after an embedded zero stays.
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(k, "a", 0, REG_SZ, (const BYTE *)"abc", 3));
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(k, "b", 0, REG_SZ, (const BYTE *)"abc\0def", 8));
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(k, "c", 0, REG_SZ, (const BYTE *)"", 0));
    DWORD size = 0;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(k, "a", nullptr, nullptr, nullptr, &size));
    EXPECT_EQ(4u, size);
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(k, "b", nullptr, nullptr, nullptr, &size));
    EXPECT_EQ(8u, size);
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(k, "c", nullptr, nullptr, nullptr, &size));
    EXPECT_EQ(0u, size);
    RegCloseKey(k);
  }
  BareMachine w98(1);
  HKEY k = Create(HKEY_LOCAL_MACHINE, "S");
  // 9x ignores the count for REG_SZ: the text and its zero are stored.
  EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(k, "b", 0, REG_SZ, (const BYTE *)"abc\0def", 8));
  EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(k, "c", 0, REG_SZ, (const BYTE *)"xy", 0));
  DWORD size = 0;
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(k, "b", nullptr, nullptr, nullptr, &size));
  EXPECT_EQ(4u, size);
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(k, "c", nullptr, nullptr, nullptr, &size));
  EXPECT_EQ(3u, size);
  RegCloseKey(k);
}

TEST(Registry, ReservedParameters) {
  BareMachine m;
  HKEY k = nullptr;
  EXPECT_EQ(ERROR_INVALID_PARAMETER, RegCreateKeyExA(HKEY_LOCAL_MACHINE, "R", 1, nullptr, 0,
                                                     KEY_ALL_ACCESS, nullptr, &k, nullptr));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "R", 0, KEY_READ, &k));
  k = Create(HKEY_LOCAL_MACHINE, "R");
  EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(k, "v", 1, REG_SZ, (const BYTE *)"x", 2));
  RegCloseKey(k);
  EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "R", 1, KEY_READ, &k));
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(k, "v", nullptr, nullptr, nullptr, nullptr));
  RegCloseKey(k);
}

TEST(Registry, QueryValueBuffers) {
  BareMachine m;
  HKEY k = Create(HKEY_LOCAL_MACHINE, "Q");
  SetString(k, "s", "hello");
  EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(k, "empty", 0, REG_BINARY, nullptr, 0));
  // Existence test: no buffer and no size.
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(k, "empty", nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(k, "nope", nullptr, nullptr, nullptr, nullptr));
  BYTE buffer[8];
  EXPECT_EQ(ERROR_INVALID_PARAMETER, RegQueryValueExA(k, "s", nullptr, nullptr, buffer, nullptr));
  // Too small: 234 with the size, the buffer untouched.
  memset(buffer, 0xcc, sizeof buffer);
  DWORD type = 0, size = 5;
  EXPECT_EQ(ERROR_MORE_DATA, RegQueryValueExA(k, "s", nullptr, &type, buffer, &size));
  EXPECT_EQ(6u, size);
  EXPECT_EQ(0xcc, buffer[0]);
  // Exact fit, and the byte after it untouched.
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(k, "s", nullptr, &type, buffer, &size));
  EXPECT_EQ(DWORD(REG_SZ), type);
  EXPECT_STREQ("hello", (char *)buffer);
  EXPECT_EQ(0xcc, buffer[6]);
  RegCloseKey(k);
}

TEST(Registry, EnumerationAndKeyInfo) {
  BareMachine m;
  HKEY k = Create(HKEY_LOCAL_MACHINE, "E");
  RegCloseKey(Create(k, "abcdefghij"));
  RegCloseKey(Create(k, "B"));
  SetString(k, "longer name", "0123456789");
  DWORD subkeys = 0, maxSub = 0, values = 0, maxName = 0, maxData = 0;
  EXPECT_EQ(ERROR_SUCCESS, RegQueryInfoKeyA(k, nullptr, nullptr, nullptr, &subkeys, &maxSub, nullptr,
                                            &values, &maxName, &maxData, nullptr, nullptr));
  EXPECT_EQ(2u, subkeys);
  EXPECT_EQ(10u, maxSub);  // characters, without the zero
  EXPECT_EQ(1u, values);
  EXPECT_EQ(11u, maxName);
  EXPECT_EQ(22u, maxData);  // NT stores the string in UTF-16
  char name[16];
  DWORD cch = 10;  // exactly the length: no room for the zero
  EXPECT_EQ(ERROR_MORE_DATA, RegEnumKeyExA(k, 0, name, &cch, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(10u, cch);
  cch = 11;
  EXPECT_EQ(ERROR_SUCCESS, RegEnumKeyExA(k, 0, name, &cch, nullptr, nullptr, nullptr, nullptr));
  EXPECT_STREQ("abcdefghij", name);
  cch = sizeof name;
  EXPECT_EQ(ERROR_SUCCESS, RegEnumKeyExA(k, 1, name, &cch, nullptr, nullptr, nullptr, nullptr));
  EXPECT_STREQ("B", name);
  cch = sizeof name;
  EXPECT_EQ(ERROR_NO_MORE_ITEMS, RegEnumKeyExA(k, 2, name, &cch, nullptr, nullptr, nullptr, nullptr));
  cch = sizeof name;
  EXPECT_EQ(ERROR_NO_MORE_ITEMS, RegEnumValueA(k, 1, name, &cch, nullptr, nullptr, nullptr, nullptr));
  RegCloseKey(k);
}

// What Wine's registry tests find on Windows: HKEY_CLASSES_ROOT is
// HKLM\SOFTWARE\Classes; an empty sub-key opens a new handle; a failed open
// gives NULL; classes and write times are kept; the type comes with 234.
TEST(Registry, HandlesClassesAndTypesAsWindowsReportsThem) {
  BareMachine m;
  RegCloseKey(Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\.wav"));
  HKEY k = nullptr, again = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CLASSES_ROOT, ".wav", 0, KEY_READ, &k));
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(k, "", 0, KEY_READ, &again));
  EXPECT_NE(k, again);
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(again));
  again = k;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(k, "missing", 0, KEY_READ, &again));
  EXPECT_EQ(nullptr, again);
  HKEY sub = nullptr;
  char cls[] = "subkey class";
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(k, "S", 0, cls, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr));
  SetString(sub, "name", "foobar");
  char buf[32];
  DWORD cch = sizeof buf, maxClass = 0;
  FILETIME written{0, 0};
  EXPECT_EQ(ERROR_SUCCESS, RegQueryInfoKeyA(sub, buf, &cch, nullptr, nullptr, nullptr, nullptr,
                                            nullptr, nullptr, nullptr, nullptr, &written));
  EXPECT_EQ(std::string("subkey class"), std::string(buf, cch));
  EXPECT_NE(0u, written.dwHighDateTime);
  EXPECT_EQ(ERROR_SUCCESS, RegQueryInfoKeyA(k, nullptr, nullptr, nullptr, nullptr, nullptr, &maxClass,
                                            nullptr, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(12u, maxClass);
  DWORD nameLen = 2, type = 1234, size = 20;
  EXPECT_EQ(ERROR_MORE_DATA, RegEnumValueA(sub, 0, buf, &nameLen, nullptr, &type, (BYTE *)buf, &size));
  EXPECT_EQ(DWORD(REG_SZ), type);
  EXPECT_EQ(7u, size);
  RegCloseKey(sub);
  RegCloseKey(k);
}

TEST(Registry, DeleteKeyFollowsTheFamilyAndInvalidatesHandles) {
  {
    BareMachine nt(2);
    HKEY parent = Create(HKEY_CURRENT_USER, "Software\\Varentel\\Engine");
    HKEY child = Create(parent, "Child");
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Varentel\\Engine"));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(parent, "child\\"));
    // The other handle now names a deleted key.
    EXPECT_EQ(ERROR_KEY_DELETED, RegSetValueExA(child, "x", 0, REG_SZ, (const BYTE *)"", 1));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(child));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Varentel\\Engine"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Varentel\\Engine"));
    EXPECT_EQ(ERROR_BAD_PATHNAME, RegDeleteKeyA(HKEY_CURRENT_USER, "\\Software"));
    RegCloseKey(parent);
  }
  BareMachine w98(1);
  RegCloseKey(Create(HKEY_CURRENT_USER, "Software\\Varentel\\Engine\\A\\B"));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Varentel\\Engine"));
  HKEY k;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Varentel\\Engine\\A", 0, KEY_READ, &k));
  EXPECT_EQ("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software]\r\n\r\n[HKEY_CURRENT_USER\\Software\\Varentel]\r\n\r\n",
            ReadFile(w98.Dir() + "/registry/HKCU.reg"));
}

TEST(Registry, DeniedKeysRefuseWritersButLetReadersIn) {
  BareMachine m(2, "[registry-denied]\r\nHKLM\\SYSTEM\\CurrentControlSet\\Enum\r\n");
  RegCloseKey(Create(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet"));
  // Seed the key as the machine's owner would, through the store.
  winsim::reg::Create(winsim::reg::Root(HKEY_LOCAL_MACHINE), "SYSTEM\\CurrentControlSet\\Enum\\Root", nullptr);
  HKEY k = nullptr;
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "system\\currentcontrolset\\enum", 0, KEY_ALL_ACCESS, &k));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Enum\\Root\\New", 0,
                                                 nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Enum\\Root"));
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Enum\\Root", 0, KEY_READ, &k));
  // A read-only handle cannot write.
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegSetValueExA(k, "x", 0, REG_SZ, (const BYTE *)"", 1));
  RegCloseKey(k);
  EXPECT_EQ(nullptr, winsim::reg::Find(winsim::reg::Root(HKEY_LOCAL_MACHINE), "SYSTEM\\CurrentControlSet\\Enum\\Root\\New"));
  // A sibling whose name merely starts the same is not protected.
  RegCloseKey(Create(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Enumerator"));
}

TEST(Registry, CallsEnterThroughFaultsWithTheKeyPath) {
  BareMachine m;
  HKEY k = Create(HKEY_LOCAL_MACHINE, "Software\\Target");
  FailCalls("RegSetValueExA", ERROR_ACCESS_DENIED, 0, "software\\target");
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegSetValueExA(k, "v", 0, REG_SZ, (const BYTE *)"x", 2));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(k, "v", nullptr, nullptr, nullptr, nullptr));
  HKEY other = Create(HKEY_LOCAL_MACHINE, "Software\\Other");
  EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(other, "v", 0, REG_SZ, (const BYTE *)"x", 2));
  RegCloseKey(other);
  RegCloseKey(k);
}

}  // namespace
