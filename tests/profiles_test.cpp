// Profile files: Windows' in-place editing, section reads and rewrites, and
// the errors of the write calls, the 9x cache and section limit.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "bare_machine.h"
#include "machine.h"

namespace {

class Profiles : public ::testing::Test {
 protected:
  std::string Read(const std::string &relative) {
    std::ifstream in(m_.HostC(relative), std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
  }
  void Write(const std::string &relative, const std::string &text) {
    std::ofstream(m_.HostC(relative), std::ios::binary) << text;
  }
  BOOL Put(const char *section, const char *key, const char *value, const char *file = "SYSTEM.INI") {
    return WritePrivateProfileStringA(section, key, value, file);
  }
  BareMachine m_;
};

TEST_F(Profiles, NewFileInTheWindowsDirectoryIsExactlyOneSection) {
  SetLastError(0xdeadbeef);
  EXPECT_TRUE(Put("rename", "NUL", "C:\\WINDOWS\\X.DLL", "wininit.ini"));
  EXPECT_EQ(DWORD(ERROR_FILE_NOT_FOUND), GetLastError());  // as Windows leaves it after a create
  EXPECT_EQ("[rename]\r\nNUL=C:\\WINDOWS\\X.DLL\r\n", Read("WINDOWS/wininit.ini"));
  // Deleting from a missing file succeeds and leaves an empty file, as
  // Wine's profile tests find on Windows.
  EXPECT_TRUE(Put("s", "k", nullptr, "other.ini"));
  EXPECT_TRUE(Put("s", nullptr, nullptr, "other2.ini"));
  for (const char *name : {"WINDOWS/other.ini", "WINDOWS/other2.ini"}) {
    EXPECT_TRUE(std::ifstream(m_.HostC(name)).good()) << name;
    EXPECT_EQ("", Read(name));
  }
}

// Bare CR ends a line; a trailing NUL is no entry; a line without "=" is
// listed by the section read but is no key.
TEST_F(Profiles, ReadsCrLinesTrailingNulAndKeylessLines) {
  Write("WINDOWS/T.INI", std::string("[s]\rname1=val1\rname3\rname4=a\r[t]\r") + '\0');
  char buf[64];
  EXPECT_EQ(DWORD(12), GetPrivateProfileStringA("s", nullptr, "", buf, sizeof buf, "T.INI"));
  EXPECT_EQ(std::string("name1\0name4\0", 13), std::string(buf, 13));
  SetLastError(0xdeadbeef);
  EXPECT_EQ(DWORD(0), GetPrivateProfileSectionA("t", buf, sizeof buf, "T.INI"));
  EXPECT_EQ(DWORD(ERROR_SUCCESS), GetLastError());
  EXPECT_TRUE(Put("t", "k", "v", "T.INI"));
  EXPECT_EQ(DWORD(4), GetPrivateProfileSectionA("t", buf, sizeof buf, "T.INI"));
  EXPECT_EQ(DWORD(25), GetPrivateProfileSectionA("s", buf, sizeof buf, "T.INI"));
  EXPECT_EQ(std::string("name1=val1\0name3\0name4=a\0", 25), std::string(buf, 25));
}

TEST_F(Profiles, EditsInPlaceAndLeavesOtherLinesByteIdentical) {
  const std::string before =
      "; system file\n[boot]\r\nshell=Explorer.exe \r\n\r\n[386Enh]\r\n  device = *vmm  \r\n"
      "device=old.vxd\r\n;device=commented\r\n\r\n\r\n[Last]\r\nx=1";
  Write("WINDOWS/SYSTEM.INI", before);
  // Replaced in place with the file's spelling of the key.
  EXPECT_TRUE(Put(" 386enh ", "DEVICE", "*new"));
  // A missing key goes after the section's last non-blank line (the
  // comment), before the blank separators.
  EXPECT_TRUE(Put("386Enh", "added", "1"));
  EXPECT_TRUE(Put("386Enh", "added2", "2"));
  // New section at the end; the last line gets its line end first.
  EXPECT_TRUE(Put("New", "k", " v "));
  EXPECT_EQ("; system file\n[boot]\r\nshell=Explorer.exe \r\n\r\n[386Enh]\r\ndevice=*new\r\n"
            "device=old.vxd\r\n;device=commented\r\nadded=1\r\nadded2=2\r\n\r\n\r\n[Last]\r\nx=1\r\n"
            "[New]\r\nk= v \r\n",
            Read("WINDOWS/SYSTEM.INI"));
  // Deleting a key and a section; the section's comment stays.
  EXPECT_TRUE(Put("386ENH", "device", nullptr));
  EXPECT_TRUE(Put("last", nullptr, nullptr));
  EXPECT_EQ("; system file\n[boot]\r\nshell=Explorer.exe \r\n\r\n[386Enh]\r\n"
            "device=old.vxd\r\n;device=commented\r\nadded=1\r\nadded2=2\r\n\r\n\r\n"
            "[New]\r\nk= v \r\n",
            Read("WINDOWS/SYSTEM.INI"));
}

TEST_F(Profiles, FlushAndMissingSection) {
  SetLastError(1234);
  EXPECT_FALSE(Put(nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(1234u, GetLastError());
  EXPECT_FALSE(Put(nullptr, "k", "v"));
  EXPECT_EQ(DWORD(ERROR_FILE_NOT_FOUND), GetLastError());
}

TEST_F(Profiles, SectionReadTrimsSkipsCommentsAndCutsOnOverflow) {
  Write("WINDOWS/T.INI", "[s]\r\n name1 = val1 \r\nname2=\r\n;hidden=1\r\n\r\n  name3  \r\nname4=\"q\"\r\n[t]\r\nz=1\r\n");
  char buffer[64];
  memset(buffer, 'x', sizeof buffer);
  const char full[] = "name1=val1\0name2=\0name3\0name4=\"q\"\0";
  DWORD fullLength = sizeof full - 1;  // without the final zero
  EXPECT_EQ(fullLength, GetPrivateProfileSectionA("S", buffer, sizeof buffer, "T.INI"));
  EXPECT_EQ(0, memcmp(buffer, full, sizeof full));
  EXPECT_EQ('x', buffer[sizeof full]);
  // Overflow: the last entry is cut and two zeros end the buffer.
  memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(22u, GetPrivateProfileSectionA("s", buffer, 24, "T.INI"));
  EXPECT_EQ(0, memcmp(buffer, "name1=val1\0name2=\0name\0\0", 24));
  EXPECT_EQ('x', buffer[24]);
  // Exact fit is no overflow.
  EXPECT_EQ(fullLength, GetPrivateProfileSectionA("s", buffer, fullLength + 1, "T.INI"));
  EXPECT_EQ(0u, GetPrivateProfileSectionA("s", buffer, 2, "T.INI"));
  EXPECT_EQ(0, memcmp(buffer, "\0\0", 2));
  // Missing section and missing file.
  memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(0u, GetPrivateProfileSectionA("none", buffer, sizeof buffer, "T.INI"));
  EXPECT_EQ(0, memcmp(buffer, "\0\0", 2));
  SetLastError(0);
  EXPECT_EQ(0u, GetPrivateProfileSectionA("s", buffer, sizeof buffer, "MISSING.INI"));
  EXPECT_EQ(DWORD(ERROR_FILE_NOT_FOUND), GetLastError());
  // The single-value reader strips one pair of quotes.
  char value[8];
  EXPECT_EQ(1u, GetPrivateProfileStringA("s", "NAME4", "d", value, sizeof value, "T.INI"));
  EXPECT_STREQ("q", value);
  EXPECT_EQ(3u, GetPrivateProfileStringA("s", "nope", "def  ", value, sizeof value, "T.INI"));
  EXPECT_STREQ("def", value);
}

TEST_F(Profiles, SectionRewriteKeepsPositionAndComments) {
  Write("WINDOWS/T.INI", "[a]\r\nx=1\r\n[s]\r\n;note\r\nold1=1\r\nold2=2\r\n\r\n[z]\r\nq=1\r\n");
  EXPECT_TRUE(WritePrivateProfileSectionA("S", "n1=a\0n2=b\0", "T.INI"));
  EXPECT_EQ("[a]\r\nx=1\r\n[s]\r\n;note\r\nn1=a\r\nn2=b\r\n\r\n[z]\r\nq=1\r\n", Read("WINDOWS/T.INI"));
  // An empty list leaves the header; a missing section is appended.
  EXPECT_TRUE(WritePrivateProfileSectionA("s", "\0", "T.INI"));
  EXPECT_TRUE(WritePrivateProfileSectionA("new", "k=v\0", "T.INI"));
  EXPECT_EQ("[a]\r\nx=1\r\n[s]\r\n;note\r\n\r\n[z]\r\nq=1\r\n[new]\r\nk=v\r\n", Read("WINDOWS/T.INI"));
}

TEST_F(Profiles, WriteErrors) {
  Write("WINDOWS/RO.INI", "[s]\r\nk=v\r\n");
  winsim::ResolvedPath ro;
  ASSERT_EQ(0u, winsim::ResolvePath("C:\\WINDOWS\\RO.INI", &ro));
  winsim::StoreAttributes(ro, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
  // Read-only: refused, even when the value would not change.
  EXPECT_FALSE(Put("s", "k", "v", "RO.INI"));
  EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), GetLastError());
  EXPECT_FALSE(WritePrivateProfileSectionA("s", "a=b\0", "C:\\WINDOWS\\ro.ini"));
  EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), GetLastError());
  EXPECT_EQ("[s]\r\nk=v\r\n", Read("WINDOWS/RO.INI"));
  // Missing directory, a directory with the file's name, an empty name.
  EXPECT_FALSE(Put("s", "k", "v", "C:\\NODIR\\X.INI"));
  EXPECT_EQ(DWORD(ERROR_PATH_NOT_FOUND), GetLastError());
  mkdir(m_.HostC("WINDOWS/DIR.INI").c_str(), 0755);
  EXPECT_FALSE(Put("s", "k", "v", "DIR.INI"));
  EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), GetLastError());
  EXPECT_FALSE(Put("s", "k", "v", ""));
  EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), GetLastError());
  // A relative name with a separator resolves against the current directory.
  EXPECT_TRUE(Put("s", "k", "v", ".\\LOCAL.INI"));
  EXPECT_EQ("[s]\r\nk=v\r\n", Read("SETUP/LOCAL.INI"));
}

TEST(ProfilesInUse, AFileHeldOpenGivesSharingViolation) {
  BareMachine m(1, "[in-use]\r\nC:\\WINDOWS\\WININIT.INI\r\n");
  std::ofstream(m.HostC("WINDOWS/WININIT.INI"), std::ios::binary) << "[rename]\r\n";
  EXPECT_FALSE(WritePrivateProfileStringA("rename", "NUL", "C:\\X", "WININIT.INI"));
  EXPECT_EQ(DWORD(ERROR_SHARING_VIOLATION), GetLastError());
}

// 9x: the last file used stays cached while its time is unchanged, until
// the flush or the use of another file; a section read uses at most 32767
// characters of the buffer.
TEST(Profiles9x, CacheTheLastFileUsedAndLimitSectionReads) {
  BareMachine m(1);
  const std::string a = m.HostC("WINDOWS/A.INI");
  char v[8];
  auto value = [&v]() {
    GetPrivateProfileStringA("s", "k", "", v, sizeof v, "A.INI");
    return std::string(v);
  };
  std::ofstream(a, std::ios::binary) << "[s]\r\nk=old\r\n";
  EXPECT_EQ("old", value());
  struct stat loaded;
  ASSERT_EQ(0, stat(a.c_str(), &loaded));
  const struct timespec times[2] = {loaded.st_atim, loaded.st_mtim};
  auto changeKeepingTime = [&](const char *k) {
    std::ofstream(a, std::ios::binary) << "[s]\r\nk=" << k << "\r\n";
    ASSERT_EQ(0, utimensat(AT_FDCWD, a.c_str(), times, 0));
  };
  changeKeepingTime("new");
  EXPECT_EQ("old", value());
  EXPECT_FALSE(WritePrivateProfileStringA(nullptr, nullptr, nullptr, "A.INI"));
  EXPECT_EQ("new", value());

  changeKeepingTime("newer");
  std::string big = "[b]\r\n";
  for (int i = 10000; i < 14000; ++i) big += "k" + std::to_string(i) + "=v\r\n";
  std::ofstream(m.HostC("WINDOWS/B.INI"), std::ios::binary) << big;
  std::vector<char> buffer(40000, 'x');
  EXPECT_EQ(32765u, GetPrivateProfileSectionA("b", buffer.data(), DWORD(buffer.size()), "B.INI"));
  EXPECT_EQ(std::string("\0\0x", 3), std::string(&buffer[32765], 3));
  EXPECT_EQ("newer", value());
}

}  // namespace
