// The file deployment primitives against the simulated machine.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "deploy/deploy.h"
#include "test_machine.h"

namespace {

const char kTemplate9x[] = "win98";
const char kTemplateNT[] = "winxp";

std::string Win(const std::string &relative) { return winsim::Config().windowsDir + "\\" + relative; }

}  // namespace

TEST(WithBackslash, AddsOneOrRemovesOne) {
  struct Case {
    const char *path;
    BYTE mode;
    const char *expected;
  } cases[] = {
      {"C:\\WINDOWS\\SYSTEM", 1, "C:\\WINDOWS\\SYSTEM\\"},
      {"C:\\WINDOWS\\SYSTEM\\", 1, "C:\\WINDOWS\\SYSTEM\\"},
      {"", 1, ""},
      {"", 0, ""},
      {"C:\\WINDOWS\\SYSTEM\\", 0, "C:\\WINDOWS\\SYSTEM"},
      {"C:\\WINDOWS\\SYSTEM\\\\", 0, "C:\\WINDOWS\\SYSTEM\\"},
      {"C:\\", 0, "C:"},
      {"\\", 0, ""},
      {"C:\\WINDOWS", 0, "C:\\WINDOWS"},
      {"C:\\WINDOWS\\", 2, "C:\\WINDOWS"},
      {"C:\\WINDOWS\\", 255, "C:\\WINDOWS"},
  };
  for (const Case &c : cases)
    EXPECT_EQ(c.expected, WithBackslash(c.path, c.mode)) << '"' << c.path << "\" mode " << int(c.mode);
}

// Names as the system compares file names: ASCII letters without case, a
// double-byte character whole and as it is (Shift-JIS here: 0x83 leads).
TEST(SameName, AsciiWithoutCaseDoubleByteCharactersWhole) {
  TestMachine machine(kTemplateNT);
  winsim::Config().codePage = 932;
  struct Case {
    const char *a, *b;
    bool same, startsWith;
  } cases[] = {
      {"C:\\Sys\\a.dll", "c:\\SYS\\A.DLL", true, true},
      {"C:\\SYS\\A.DLL", "C:\\SYS\\", false, true},
      {"C:\\SYS", "C:\\SYS\\A.DLL", false, false},
      {"\x83\x61.DLL", "\x83\x61.dll", true, true},
      {"\x83\x61.DLL", "\x83\x41.DLL", false, false},  // other characters, not other cases
      {"\x83\x5C\x83\x61", "\x83\x5C\x83\x62", false, false},
      {"\x83\x5CX", "\x83", false, false},  // a prefix never ends inside a character
      {"", "", true, true},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(c.same, SameName(c.a, c.b)) << c.a << " " << c.b;
    EXPECT_EQ(c.same, SameName(c.b, c.a)) << c.b << " " << c.a;
    EXPECT_EQ(c.startsWith, NameStartsWith(c.a, c.b)) << c.a << " " << c.b;
  }
  winsim::Config().codePage = 1252;
}

TEST(FileIsPresent, OnlyFilesCount) {
  TestMachine machine(kTemplateNT);
  machine.Write("C:\\SRC\\PULSARIO.INF", "inf");
  machine.MakeDir("C:\\SRC\\PULSARIO.VXD");
  EXPECT_TRUE(FileIsPresent("C:\\SRC\\PULSARIO.INF"));
  EXPECT_TRUE(FileIsPresent("c:\\src\\pulsario.inf"));
  EXPECT_FALSE(FileIsPresent("C:\\SRC\\PULSARIO.VXD"));  // a directory with a file's name
  EXPECT_FALSE(FileIsPresent("C:\\SRC"));
  EXPECT_FALSE(FileIsPresent("C:\\SRC\\MISSING.DLL"));
  EXPECT_FALSE(FileIsPresent("C:\\NODIR\\MISSING.DLL"));
}

TEST(ClearReadOnly, ClearsOnlyReadOnlyAndMarksArchive) {
  TestMachine machine(kTemplateNT);
  machine.Write("C:\\T\\HIDDEN.DLL", "x");
  machine.Write("C:\\T\\PLAIN.DLL", "x");
  ASSERT_TRUE(SetFileAttributesA("C:\\T\\HIDDEN.DLL", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  ASSERT_TRUE(SetFileAttributesA("C:\\T\\PLAIN.DLL", FILE_ATTRIBUTE_SYSTEM));

  ClearReadOnly("C:\\T\\HIDDEN.DLL");
  EXPECT_EQ(DWORD(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE), GetFileAttributesA("C:\\T\\HIDDEN.DLL"));

  // A writable file keeps its attributes exactly: no archive bit is added.
  ClearReadOnly("C:\\T\\PLAIN.DLL");
  EXPECT_EQ(DWORD(FILE_ATTRIBUTE_SYSTEM), GetFileAttributesA("C:\\T\\PLAIN.DLL"));

  ClearReadOnly("C:\\T\\MISSING.DLL");
  EXPECT_FALSE(FileIsPresent("C:\\T\\MISSING.DLL"));
}

TEST(DeployFile, ReplacesReadOnlyTargetSilently) {
  TestMachine machine(kTemplateNT);
  machine.Write("C:\\SRC\\PULSARIO.SYS", "new driver");
  machine.Write("C:\\DST\\PULSARIO.SYS", "old driver");
  ASSERT_TRUE(SetFileAttributesA("C:\\DST\\PULSARIO.SYS", FILE_ATTRIBUTE_READONLY));
  // A source copied from read-only media: its copy is left writable.
  ASSERT_TRUE(SetFileAttributesA("C:\\SRC\\PULSARIO.SYS", FILE_ATTRIBUTE_READONLY));

  DeployFile("C:\\SRC\\PULSARIO.SYS", "C:\\DST\\PULSARIO.SYS", "Unable to copy \"PULSARIO.SYS\" to Systemdirectory!");
  EXPECT_EQ("new driver", machine.Read("C:\\DST\\PULSARIO.SYS"));
  EXPECT_EQ(DWORD(FILE_ATTRIBUTE_ARCHIVE), GetFileAttributesA("C:\\DST\\PULSARIO.SYS"));
  EXPECT_TRUE(JournalLines("messagebox").empty());
}

TEST(DeployFile, MissingTargetDirectoryShowsTheMessageOnce) {
  TestMachine machine(kTemplateNT);
  machine.Write("C:\\SRC\\CX_USB.INF", "inf");
  const std::string message = "Unable to copy \"CX_USB.INF\" to INF!";

  DeployFile("C:\\SRC\\CX_USB.INF", "C:\\NOWHERE\\CX_USB.INF", message);
  std::vector<std::string> boxes = JournalLines("messagebox");
  ASSERT_EQ(1u, boxes.size());
  EXPECT_NE(std::string::npos, boxes[0].find("caption=" + winsim::QuoteText(InstallerTitle)));
  EXPECT_NE(std::string::npos, boxes[0].find("text=" + winsim::QuoteText(message)));
  EXPECT_NE(std::string::npos, boxes[0].find("flags=0x00000000"));
  EXPECT_FALSE(machine.Exists("C:\\NOWHERE"));
}

TEST(DeployFile, MissingSourceDoesNothing) {
  TestMachine machine(kTemplateNT);
  machine.Write("C:\\DST\\FTD2XX.DLL", "live");
  DeployFile("C:\\SRC\\FTD2XX.DLL", "C:\\DST\\FTD2XX.DLL", "Unable to copy \"FTD2XX.DLL\" to System32 directory!");
  EXPECT_EQ("live", machine.Read("C:\\DST\\FTD2XX.DLL"));
  EXPECT_TRUE(JournalLines("messagebox").empty());
}

TEST(QueueRename9x, OneLinePerTargetInWritingOrder) {
  TestMachine machine(kTemplate9x);
  EXPECT_TRUE(QueueRename9x("C:\\WINDOWS\\SYSTEM\\PULSARIO.DLL", "C:\\WINDOWS\\SYSTEM\\FIRST.DL"));
  EXPECT_TRUE(QueueRename9x("C:\\WINDOWS\\SYSTEM\\WNASPI32.OLD", "C:\\WINDOWS\\SYSTEM\\WNASPI32.DLL"));
  EXPECT_TRUE(QueueRename9x("C:\\WINDOWS\\SYSTEM\\WNASPI32.DLL", "C:\\WINDOWS\\SYSTEM\\WNASPI32.9x"));
  EXPECT_TRUE(QueueRename9x("C:\\WINDOWS\\SYSTEM\\PULSARIO.DLL", "C:\\WINDOWS\\SYSTEM\\PULSARIO.DL"));

  std::vector<std::string> lines = TextLines(machine.Read(Win("WININIT.INI")));
  std::vector<std::string> expected = {
      "[RENAME]",
      "C:\\WINDOWS\\SYSTEM\\PULSARIO.DLL=C:\\WINDOWS\\SYSTEM\\PULSARIO.DL",
      "C:\\WINDOWS\\SYSTEM\\WNASPI32.OLD=C:\\WINDOWS\\SYSTEM\\WNASPI32.DLL",
      "C:\\WINDOWS\\SYSTEM\\WNASPI32.DLL=C:\\WINDOWS\\SYSTEM\\WNASPI32.9x",
  };
  EXPECT_EQ(expected, lines);
}

TEST(QueueRename9x, RefusedWriteRecordsTheErrorNamingWininit) {
  TestMachine machine(kTemplate9x);
  machine.Write(Win("WININIT.INI"), "[RENAME]\r\n");
  ASSERT_TRUE(SetFileAttributesA(Win("WININIT.INI").c_str(), FILE_ATTRIBUTE_READONLY));
  RefusedProfileWrite = ProfileWriteError();
  EXPECT_FALSE(QueueRename9x("C:\\A.DLL", "C:\\A.DL"));
  EXPECT_EQ("Unable to write to Wininit.ini", RefusedProfileWrite.message);
  EXPECT_NE(nullptr, RefusedProfileWrite.address);
  EXPECT_EQ("[RENAME]\r\n", machine.Read(Win("WININIT.INI")));
}

// A line for the live name that stood in the section before (twice, in a
// hand-edited file) is moved to the end, after the backup line; the other
// lines stay where they were.  A refused removal reports the error.  A line
// already last is left where it is.
TEST(QueueRename9xLast, MovesEveryEarlierLineForTheKeyToTheEnd) {
  TestMachine machine(kTemplate9x);
  machine.Write(Win("WININIT.INI"),
                "[rename]\r\nC:\\A.DLL=C:\\OTHER.DLL\r\nNUL=C:\\X.TMP\r\nc:\\a.dll=C:\\AGAIN.DLL\r\n");
  EXPECT_TRUE(QueueRename9x("C:\\A.OLD", "C:\\A.DLL"));
  EXPECT_TRUE(QueueRename9xLast("C:\\A.DLL", "C:\\A.9x"));
  const std::vector<std::string> expected = {"[rename]", "NUL=C:\\X.TMP", "C:\\A.OLD=C:\\A.DLL",
                                             "C:\\A.DLL=C:\\A.9x"};
  EXPECT_EQ(expected, TextLines(machine.Read(Win("WININIT.INI"))));

  FailCalls("WritePrivateProfileStringA", ERROR_ACCESS_DENIED, 1);
  machine.Write(Win("WININIT.INI"), "[rename]\r\nC:\\A.DLL=C:\\OTHER.DLL\r\n");
  RefusedProfileWrite = ProfileWriteError();
  EXPECT_FALSE(QueueRename9xLast("C:\\A.DLL", "C:\\A.9x"));
  EXPECT_EQ("Unable to write to Wininit.ini", RefusedProfileWrite.message);
  EXPECT_EQ("[rename]\r\nC:\\A.DLL=C:\\OTHER.DLL\r\n", machine.Read(Win("WININIT.INI")));

  // Every line for the name goes, however many there are; the removals end
  // when none is left.
  std::string lines = "[rename]\r\n";
  for (int i = 0; i < 17; ++i) lines += "C:\\A.DLL=C:\\OTHER.DLL\r\nNUL=C:\\X.TMP\r\n";
  machine.Write(Win("WININIT.INI"), lines);
  EXPECT_TRUE(QueueRename9xLast("C:\\A.DLL", "C:\\A.9x"));
  std::vector<std::string> left(18, "NUL=C:\\X.TMP");
  left.front() = "[rename]";
  left.push_back("C:\\A.DLL=C:\\A.9x");
  EXPECT_EQ(left, TextLines(machine.Read(Win("WININIT.INI"))));
}

TEST(QueueReplaceNT, MissingSourceIsStillRegistered) {
  TestMachine machine(kTemplateNT);
  QueueReplaceNT("C:\\WINDOWS\\system32\\WNASPI32.DLL", "C:\\WINDOWS\\system32\\WNASPI32.OLD");
  QueueReplaceNT("C:\\WINDOWS\\system32\\WNASPI32.NT", "C:\\WINDOWS\\system32\\WNASPI32.DLL");

  const winsim::reg::Value *pending = PendingValue();
  ASSERT_NE(nullptr, pending);
  EXPECT_EQ(DWORD(REG_MULTI_SZ), pending->type);
  const char expected[] =
      "\\??\\C:\\WINDOWS\\system32\\WNASPI32.DLL\0!\\??\\C:\\WINDOWS\\system32\\WNASPI32.OLD\0"
      "\\??\\C:\\WINDOWS\\system32\\WNASPI32.NT\0!\\??\\C:\\WINDOWS\\system32\\WNASPI32.DLL\0";
  EXPECT_EQ(std::string(expected, sizeof expected), std::string(pending->data.begin(), pending->data.end()));
  EXPECT_TRUE(JournalLines("messagebox").empty());
}
