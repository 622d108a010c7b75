// The ANSI code page of a machine: paths are split and names compared by
// characters, the ANSI file calls refuse paths longer than MAX_PATH, and
// the registry counts name lengths in characters.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "codepage.h"
#include "test_machine.h"

namespace {

struct PageCase {
  const char *templateName;
  UINT codePage;
  std::string endsIn5C;      // a character whose second byte is 0x5C ("" where none exists)
  std::string small, capital;  // two characters that differ only by 0x20 in their second byte
  std::string wideSmall, wideCapital;  // full-width "a" and "A"
};

void PrintTo(const PageCase &page, std::ostream *out) { *out << page.templateName << " " << page.codePage; }

const PageCase kPages[] = {
    {"winxp-ja", 932, "\x83\x5C", "\x83\x61", "\x83\x41", "\x82\x81", "\x82\x60"},
    {"win98-ja", 932, "\x95\x5C", "\x83\x61", "\x83\x41", "\x82\x81", "\x82\x60"},
    {"winxp", 936, "\x81\x5C", "\x81\x61", "\x81\x41", "\xA3\xE1", "\xA3\xC1"},
    {"winxp", 949, "", "\xB0\x61", "\xB0\x41", "\xA3\xE1", "\xA3\xC1"},
    {"winxp", 950, "\xA5\x5C", "\xA4\x61", "\xA4\x41", "\xA2\xE9", "\xA2\xCF"},
    {"win10", 65001, "\xE3\x82\xBD", "", "", "\xEF\xBD\x81", "\xEF\xBC\xA1"},
};

class PagePaths : public ::testing::TestWithParam<PageCase> {};

std::vector<std::string> Listing(const std::string &pattern) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA(pattern.c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return names;
  do names.push_back(fd.cFileName);
  while (FindNextFileA(h, &fd));
  FindClose(h);
  std::sort(names.begin(), names.end());
  return names;
}

// Content of `path` as read through CopyFileA, or the copy's error.
std::string ReadThroughCopy(const TestMachine &m, const std::string &path) {
  DeleteFileA("C:\\OUT.TXT");
  if (!CopyFileA(path.c_str(), "C:\\OUT.TXT", FALSE)) return "error " + std::to_string(GetLastError());
  return m.Read("C:\\OUT.TXT");
}

// A folder whose name ends in a character with a 0x5C second byte is a
// folder, not a name with a trailing backslash; characters that differ only
// in a second byte that looks like a letter are different names; full-width
// letters fold with their capitals and never with ASCII letters.
TEST_P(PagePaths, SplitAndFoldByCharacters) {
  const PageCase &page = GetParam();
  TestMachine m(page.templateName);
  winsim::Config().codePage = page.codePage;
  const std::string dir = "C:\\X" + page.endsIn5C + page.endsIn5C;
  std::vector<std::string> expected = {".", ".."};
  auto put = [&](const std::string &name, const std::string &content) {
    m.Write(dir + "\\" + name, content);
    expected.push_back(name);
  };
  if (!page.small.empty()) {
    put(page.small + ".TXT", "small");
    put(page.capital + ".TXT", "capital");
  }
  put(page.wideSmall + ".TXT", "wide");
  std::sort(expected.begin(), expected.end());

  EXPECT_EQ(expected, Listing(dir + "\\*"));
  EXPECT_EQ(expected, Listing(dir + "/*.*"));
  EXPECT_EQ(DWORD(FILE_ATTRIBUTE_DIRECTORY), GetFileAttributesA(dir.c_str()));
  EXPECT_EQ(std::vector<std::string>{dir.substr(3)}, Listing(dir));
  EXPECT_EQ("wide", ReadThroughCopy(m, dir + "\\" + page.wideCapital + ".txt"));
  EXPECT_EQ("error 2", ReadThroughCopy(m, dir + "\\a.txt"));
  if (!page.small.empty()) {
    EXPECT_EQ("small", ReadThroughCopy(m, dir + "\\" + page.small + ".txt"));
    EXPECT_EQ("capital", ReadThroughCopy(m, dir + "\\" + page.capital + ".TXT"));
    EXPECT_EQ(std::vector<std::string>{page.capital + ".TXT"}, Listing(dir + "\\" + page.capital + "*"));
  }
  // "?" stands for one character, also a double-byte one.
  EXPECT_EQ(std::vector<std::string>(expected.begin() + 2, expected.end()), Listing(dir + "\\?.TXT"));
}

INSTANTIATE_TEST_SUITE_P(CodePages, PagePaths, ::testing::ValuesIn(kPages),
                         [](const ::testing::TestParamInfo<PageCase> &info) {
                           return std::string(info.param.templateName).substr(0, 5) + "_" +
                                  std::to_string(info.param.codePage);
                         });

// The codes each ANSI file call gives for a missing path of 260 and of 261
// characters; the NT family counts a double-byte character as one, the 9x
// family counts bytes.
std::string CodesFor(const std::string &path) {
  std::string codes;
  auto note = [&](const char *call, bool ok) {
    codes += std::string(call) + "=" + (ok ? "ok" : std::to_string(GetLastError())) + " ";
  };
  WIN32_FIND_DATAA fd;
  SetLastError(0xdeadbeef);
  note("FindFirstFileA", FindFirstFileA(path.c_str(), &fd) != INVALID_HANDLE_VALUE);
  note("GetFileAttributesA", GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES);
  note("SetFileAttributesA", SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_ARCHIVE));
  note("DeleteFileA", DeleteFileA(path.c_str()));
  note("CopyFileA(src)", CopyFileA(path.c_str(), "C:\\T.TXT", FALSE));
  note("CopyFileA(dst)", CopyFileA("C:\\WINDOWS\\WIN.INI", path.c_str(), FALSE));
  note("MoveFileExA(delay)", MoveFileExA(path.c_str(), "C:\\T.TXT", MOVEFILE_DELAY_UNTIL_REBOOT));
  return codes;
}

TEST(MaxPath, AnsiFileCallsRefusePathsLongerThanMaxPath) {
  struct Row {
    const char *templateName;
    const char *folder;  // missing: an accepted path gives 3
    std::string unit;    // one character, repeated
    size_t count;
    std::string codes;
  };
  const std::string fits = "FindFirstFileA=3 GetFileAttributesA=3 SetFileAttributesA=3 DeleteFileA=3 "
                           "CopyFileA(src)=3 CopyFileA(dst)=3 ";
  const std::string refused = "FindFirstFileA=206 GetFileAttributesA=206 SetFileAttributesA=206 "
                              "DeleteFileA=206 CopyFileA(src)=206 CopyFileA(dst)=3 ";
  const std::string wide = "\x95\x5C";  // Shift-JIS, two bytes
  const Row rows[] = {
      {"winxp", "C:\\MISSING\\", "a", 249, fits + "MoveFileExA(delay)=ok "},         // 260 characters
      {"winxp", "C:\\MISSING\\", "a", 250, refused + "MoveFileExA(delay)=206 "},     // 261
      {"winxp-ja", "C:\\MISSING\\", wide, 249, fits + "MoveFileExA(delay)=ok "},     // 260 (509 bytes)
      {"winxp-ja", "C:\\MISSING\\", wide, 250, refused + "MoveFileExA(delay)=206 "}, // 261
      {"win98-ja", "C:\\MISSING\\", "a", 249, fits + "MoveFileExA(delay)=120 "},     // 260 bytes
      {"win98-ja", "C:\\MISSING\\", wide, 125, refused + "MoveFileExA(delay)=120 "}, // 261 bytes
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(std::string(row.templateName) + " " + std::to_string(row.count));
    TestMachine m(row.templateName);
    std::string path = row.folder;
    for (size_t i = 0; i < row.count; ++i) path += row.unit;
    EXPECT_EQ(row.codes, CodesFor(path));
  }
}

// RegQueryInfoKeyA counts the longest subkey name in characters on the NT
// family, so a UTF-8 or double-byte name needs more bytes in RegEnumKeyExA
// than that count plus one; 9x counts bytes.
TEST(RegistryNames, LongestSubkeyNameInCharacters) {
  struct Row {
    const char *templateName;
    UINT codePage;
    std::string name;  // "表ソ" in the code page
    DWORD longest;
    LONG enumWithLongestPlusOne;
  };
  const Row rows[] = {{"win10-utf8", 65001, "\xE8\xA1\xA8\xE3\x82\xBD", 2, ERROR_MORE_DATA},
                      {"winxp-ja", 932, "\x95\x5C\x83\x5C", 2, ERROR_MORE_DATA},
                      {"win98-ja", 932, "\x95\x5C\x83\x5C", 4, ERROR_SUCCESS}};
  for (const Row &row : rows) {
    SCOPED_TRACE(row.templateName);
    TestMachine m(row.templateName);
    winsim::Config().codePage = row.codePage;
    HKEY key, sub;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\T", 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &key, nullptr));
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(key, (row.name + "\\" + row.name).c_str(), 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &sub, nullptr));
    RegCloseKey(sub);
    DWORD count = 0, longest = 0;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &count, &longest, nullptr,
                                              nullptr, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(1u, count);
    EXPECT_EQ(row.longest, longest);
    char name[16];
    DWORD size = longest + 1;
    LONG status = RegEnumKeyExA(key, 0, name, &size, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(row.enumWithLongestPlusOne, status);
    // The key opens by its name in any letter case of the code page, and
    // its inner part was split at the real backslash only.
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(key, (row.name + "\\" + row.name).c_str(), 0, KEY_READ, &sub));
    RegCloseKey(sub);
    RegCloseKey(key);
  }
}

}  // namespace

namespace {

// A section name whose double-byte character ends in 0x5D ("]"): the
// second write finds the section the first one made.
TEST(ProfileNames, SectionNameWithA5DSecondByte) {
  TestMachine m("winxp-ja");
  const std::string section = "A\x81\x5D" "B";  // Shift-JIS "A‐B"
  ASSERT_TRUE(WritePrivateProfileStringA(section.c_str(), "k", "one", "test.ini"));
  ASSERT_TRUE(WritePrivateProfileStringA(section.c_str(), "k", "two", "test.ini"));
  EXPECT_EQ("[" + section + "]\r\nk=two\r\n", m.Read(winsim::Config().windowsDir + "\\test.ini"));
}

}  // namespace
