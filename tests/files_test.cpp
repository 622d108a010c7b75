// Files: search, attributes, copy, moves, delete, drive types.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "payload.h"
#include "processes.h"
#include "test_machine.h"

namespace {

const DWORD kStale = 0xdeadbeef;

std::vector<std::string> FindAll(const char *pattern, DWORD *error = nullptr) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA fd;
  SetLastError(kStale);
  HANDLE h = FindFirstFileA(pattern, &fd);
  if (error) *error = GetLastError();
  if (h == INVALID_HANDLE_VALUE) return names;
  do names.push_back(fd.cFileName);
  while (FindNextFileA(h, &fd));
  EXPECT_EQ(DWORD(ERROR_NO_MORE_FILES), GetLastError());
  EXPECT_TRUE(FindClose(h));
  return names;
}

// A search handle is open until FindClose, and counted as a leak until then.
TEST(FindFirstFile, HandlesCountUntilFindClose) {
  TestMachine m("winxp");
  size_t before = winsim::OpenHandleCount();
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA("C:\\*", &fd);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  EXPECT_EQ(before + 1, winsim::OpenHandleCount());
  EXPECT_TRUE(FindClose(h));
  EXPECT_EQ(before, winsim::OpenHandleCount());
}

TEST(FindFirstFile, PlainNamesWildcardsAndFailures) {
  TestMachine m("winxp");
  m.Write("C:\\T\\Src.Dat", "x");
  m.Write("C:\\T\\b.txt", "yy");
  m.Write("C:\\T\\noext", "");
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA("c:\\t\\SRC.DAT", &fd);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  EXPECT_STREQ("Src.Dat", fd.cFileName);  // stored case, not the query's
  EXPECT_EQ(DWORD(FILE_ATTRIBUTE_ARCHIVE), fd.dwFileAttributes);
  EXPECT_EQ(1u, fd.nFileSizeLow);
  SetLastError(kStale);
  EXPECT_FALSE(FindNextFileA(h, &fd));
  EXPECT_EQ(DWORD(ERROR_NO_MORE_FILES), GetLastError());
  FindClose(h);

  // A directory without a trailing backslash is found, with its bit.
  h = FindFirstFileA("C:\\t", &fd);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  EXPECT_STREQ("T", fd.cFileName);
  EXPECT_EQ(DWORD(FILE_ATTRIBUTE_DIRECTORY), fd.dwFileAttributes);
  FindClose(h);

  EXPECT_EQ((std::vector<std::string>{".", "..", "b.txt", "noext", "Src.Dat"}), FindAll("C:\\T\\*"));
  EXPECT_EQ((std::vector<std::string>{".", "..", "b.txt", "noext", "Src.Dat"}), FindAll("C:\\T\\*.*"));
  EXPECT_EQ((std::vector<std::string>{"Src.Dat"}), FindAll("C:\\T\\s?c.*"));
  EXPECT_EQ((std::vector<std::string>{"b.txt"}), FindAll("C:\\T\\*.TXT"));
  std::vector<std::string> root = FindAll("C:\\*");
  // No "." or ".." in a root.
  EXPECT_EQ((std::vector<std::string>{"Program Files", "T", "VARSETUP", "WINDOWS"}), root);

  struct Failure {
    const char *pattern;
    DWORD error;
  } failures[] = {
      {"C:\\T\\", ERROR_FILE_NOT_FOUND},        // trailing backslash, existing dir
      {"C:\\NOPE\\", ERROR_PATH_NOT_FOUND},     // trailing backslash, missing dir
      {"C:\\", ERROR_FILE_NOT_FOUND},           // a root
      {"C:\\T\\missing.dat", ERROR_FILE_NOT_FOUND},
      {"C:\\T\\*.xyz", ERROR_FILE_NOT_FOUND},
      {"C:\\NOPE\\x.dat", ERROR_PATH_NOT_FOUND},
      {"C:\\NOPE\\*", ERROR_PATH_NOT_FOUND},
      {"D:\\OEM\\*", ERROR_NOT_READY},         // CD-ROM drive, no disc
      {"C:\\T*\\x", ERROR_INVALID_NAME},
  };
  for (const Failure &f : failures) {
    DWORD error = 0;
    EXPECT_TRUE(FindAll(f.pattern, &error).empty()) << f.pattern;
    EXPECT_EQ(f.error, error) << f.pattern;
  }
  SetLastError(kStale);
  EXPECT_FALSE(FindClose(reinterpret_cast<HANDLE>(uintptr_t(12345))));
  EXPECT_EQ(DWORD(ERROR_INVALID_HANDLE), GetLastError());
}

TEST(FileAttributes, KeptByTheMachineAndReportedAsWindowsDoes) {
  TestMachine m("winxp");
  m.Write("C:\\T\\A.DAT", "a");
  EXPECT_EQ(DWORD(FILE_ATTRIBUTE_ARCHIVE), GetFileAttributesA("C:\\T\\A.DAT"));
  EXPECT_EQ(DWORD(FILE_ATTRIBUTE_DIRECTORY), GetFileAttributesA("C:\\T\\"));
  SetLastError(kStale);
  EXPECT_TRUE(SetFileAttributesA("c:\\t\\a.dat", 0));
  EXPECT_EQ(kStale, GetLastError());
  EXPECT_EQ(DWORD(FILE_ATTRIBUTE_NORMAL), GetFileAttributesA("C:\\T\\A.DAT"));
  // Only settable bits are kept; NORMAL counts only alone.
  EXPECT_TRUE(SetFileAttributesA("C:\\T\\A.DAT", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                                     FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_NORMAL |
                                                     0x800));
  EXPECT_EQ(DWORD(0x03), GetFileAttributesA("C:\\T\\A.DAT"));
  // They survive a new attachment (read back from the machine directory),
  // although root ignores POSIX write bits.
  m.Reattach();
  EXPECT_EQ(DWORD(0x03), GetFileAttributesA("C:\\T\\A.DAT"));
  EXPECT_TRUE(SetFileAttributesA("C:\\T", FILE_ATTRIBUTE_HIDDEN));
  EXPECT_EQ(DWORD(0x12), GetFileAttributesA("C:\\T"));

  struct Failure {
    const char *path;
    DWORD error;
  } failures[] = {
      {"C:\\T\\NONE.DAT", ERROR_FILE_NOT_FOUND},
      {"C:\\NOPE\\A.DAT", ERROR_PATH_NOT_FOUND},
      {"C:\\T\\A.DAT\\", ERROR_INVALID_NAME},
  };
  for (const Failure &f : failures) {
    SetLastError(kStale);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(f.path)) << f.path;
    EXPECT_EQ(f.error, GetLastError()) << f.path;
  }
  SetLastError(kStale);
  EXPECT_FALSE(SetFileAttributesA("C:\\T\\NONE.DAT", 0));
  EXPECT_EQ(DWORD(ERROR_FILE_NOT_FOUND), GetLastError());
}

struct CopyCase {
  const char *label;
  const char *source, *target;
  BOOL failIfExists;
  DWORD error;
};

TEST(CopyFile, ErrorCodesInTheOrderWindowsChecks) {
  TestMachine m("winxp");
  m.Write("C:\\S\\NEW.DLL", "new content");
  m.Write("C:\\T\\RO.DLL", "old");
  m.Write("C:\\T\\HIDDEN.DLL", "old");
  m.Write("C:\\T\\BUSY.DLL", "old");
  m.Write("C:\\T\\PLAIN.DLL", "old");
  m.MakeDir("C:\\T\\DIR.DLL");
  ASSERT_TRUE(SetFileAttributesA("C:\\T\\RO.DLL", FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(SetFileAttributesA("C:\\T\\HIDDEN.DLL", FILE_ATTRIBUTE_HIDDEN));
  winsim::Config().inUse.push_back("C:\\T\\BUSY.DLL");
  const CopyCase cases[] = {
      {"missing source beats a missing target dir", "C:\\S\\NONE.DLL", "C:\\NOPE\\X.DLL", FALSE, ERROR_FILE_NOT_FOUND},
      {"missing source dir", "C:\\NOPE\\NEW.DLL", "C:\\T\\X.DLL", FALSE, ERROR_PATH_NOT_FOUND},
      {"missing target dir", "C:\\S\\NEW.DLL", "C:\\NOPE\\X.DLL", FALSE, ERROR_PATH_NOT_FOUND},
      {"target is a directory", "C:\\S\\NEW.DLL", "C:\\T\\DIR.DLL", FALSE, ERROR_ACCESS_DENIED},
      {"read-only target", "C:\\S\\NEW.DLL", "C:\\T\\RO.DLL", FALSE, ERROR_ACCESS_DENIED},
      {"hidden target, source not hidden", "C:\\S\\NEW.DLL", "C:\\T\\HIDDEN.DLL", FALSE, ERROR_ACCESS_DENIED},
      {"target in use", "C:\\S\\NEW.DLL", "C:\\T\\BUSY.DLL", FALSE, ERROR_SHARING_VIOLATION},
      {"fail if exists", "C:\\S\\NEW.DLL", "C:\\T\\PLAIN.DLL", TRUE, ERROR_FILE_EXISTS},
      {"fail if exists before read-only", "C:\\S\\NEW.DLL", "C:\\T\\RO.DLL", TRUE, ERROR_FILE_EXISTS},
      {"onto itself", "C:\\S\\NEW.DLL", "c:\\s\\new.dll", FALSE, ERROR_SHARING_VIOLATION},
      {"CD-ROM without disc", "C:\\S\\NEW.DLL", "D:\\X.DLL", FALSE, ERROR_NOT_READY},
  };
  for (const CopyCase &c : cases) {
    SetLastError(kStale);
    EXPECT_FALSE(CopyFileA(c.source, c.target, c.failIfExists)) << c.label;
    EXPECT_EQ(c.error, GetLastError()) << c.label;
  }
  // With a disc in the CD-ROM drive, the disc still cannot be written.
  m.MakeDir("C:\\DISC");
  ASSERT_EQ(0, symlink(m.Host("C:\\DISC").c_str(), (m.Dir() + "/drives/d").c_str()));
  SetLastError(kStale);
  EXPECT_FALSE(CopyFileA("C:\\S\\NEW.DLL", "D:\\X.DLL", FALSE));
  EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), GetLastError());
  m.Write("D:\\OEM\\K.DLL", "k");
  EXPECT_TRUE(CopyFileA("d:\\oem\\k.dll", "C:\\T\\X.DLL", FALSE)) << "reading a disc";
  ASSERT_TRUE(SetFileAttributesA("C:\\T\\X.DLL", 0));  // the copy came read-only
  ASSERT_TRUE(DeleteFileA("C:\\T\\X.DLL"));
  // Every refused target still holds its old content, whole.
  for (const char *t : {"C:\\T\\RO.DLL", "C:\\T\\HIDDEN.DLL", "C:\\T\\BUSY.DLL", "C:\\T\\PLAIN.DLL"})
    EXPECT_EQ("old", m.Read(t)) << t;
  EXPECT_FALSE(m.Exists("C:\\T\\X.DLL"));
}

TEST(CopyFile, HiddenTargetIsOverwrittenOnThe9xFamily) {
  TestMachine m("win98");
  m.Write("C:\\S\\NEW.DLL", "new");
  m.Write("C:\\T\\HIDDEN.DLL", "old");
  ASSERT_TRUE(SetFileAttributesA("C:\\T\\HIDDEN.DLL", FILE_ATTRIBUTE_HIDDEN));
  EXPECT_TRUE(CopyFileA("C:\\S\\NEW.DLL", "C:\\T\\HIDDEN.DLL", FALSE));
  EXPECT_EQ("new", m.Read("C:\\T\\HIDDEN.DLL"));
}

TEST(CopyFile, ContentAttributesAndNameCase) {
  TestMachine m("winxp");
  m.Write("C:\\S\\Ro.Dll", "payload");
  ASSERT_TRUE(SetFileAttributesA("C:\\S\\Ro.Dll", FILE_ATTRIBUTE_READONLY));
  SetLastError(kStale);
  ASSERT_TRUE(CopyFileA("c:\\s\\ro.dll", "C:\\T\\..\\New.DLL", FALSE));
  EXPECT_EQ("payload", m.Read("C:\\NEW.DLL"));
  EXPECT_EQ((std::vector<std::string>{"New.DLL"}), FindAll("C:\\NEW.DLL"));  // the case given
  // A new target takes the source's attributes...
  EXPECT_EQ(DWORD(FILE_ATTRIBUTE_READONLY), GetFileAttributesA("C:\\New.DLL"));
  // ...an overwritten one the source's plus archive.
  m.Write("C:\\OLD.DLL", "old");
  ASSERT_TRUE(SetFileAttributesA("C:\\OLD.DLL", 0));
  ASSERT_TRUE(CopyFileA("C:\\S\\RO.DLL", "C:\\OLD.DLL", FALSE));
  EXPECT_EQ(DWORD(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE), GetFileAttributesA("C:\\OLD.DLL"));
  EXPECT_EQ("payload", m.Read("C:\\OLD.DLL"));
  // No temporary file is left beside the target.
  EXPECT_EQ((std::vector<std::string>{"New.DLL", "OLD.DLL"}), FindAll("C:\\*.DLL"));
}

// Every file on a CD-ROM is read-only, and a copy of it is read-only too:
// copying onto that copy again fails until the attribute is cleared.
TEST(CopyFile, FilesFromACdromAreReadOnlyAndSoAreTheirCopies) {
  TestMachine m("win98");
  std::string error;
  ASSERT_TRUE(winsim::InsertDisc('D', &error)) << error;
  EXPECT_EQ(DWORD(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE), GetFileAttributesA("D:\\OEM\\KORVIXOEM.DLL"));
  EXPECT_EQ(DWORD(FILE_ATTRIBUTE_DIRECTORY), GetFileAttributesA("D:\\OEM"));
  SetLastError(kStale);
  EXPECT_FALSE(SetFileAttributesA("D:\\OEM\\KORVIXOEM.DLL", FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), GetLastError());
  ASSERT_TRUE(CopyFileA("D:\\OEM\\KORVIXOEM.DLL", "C:\\OEM.DLL", FALSE));
  EXPECT_EQ(DWORD(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE), GetFileAttributesA("C:\\OEM.DLL"));
  SetLastError(kStale);
  EXPECT_FALSE(CopyFileA("D:\\OEM\\KORVIXOEM.DLL", "C:\\OEM.DLL", FALSE));
  EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), GetLastError());
  ASSERT_TRUE(SetFileAttributesA("C:\\OEM.DLL", FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_TRUE(CopyFileA("D:\\OEM\\KORVIXOEM.DLL", "C:\\OEM.DLL", FALSE));
}

// A REG_MULTI_SZ list: each string with its NUL, then the final NUL.
std::string Strings(std::initializer_list<std::string> strings) {
  std::string out;
  for (const std::string &s : strings) out += s + '\0';
  return out + '\0';
}

std::string PendingList() {
  const winsim::reg::Value *v = PendingValue();
  if (!v) return "<none>";
  EXPECT_EQ(DWORD(REG_MULTI_SZ), v->type);
  return std::string(v->data.begin(), v->data.end());
}

TEST(MoveFileEx, DelayedMovesAreAppendedInTheSessionManagersFormat) {
  TestMachine m("winxp");
  SetLastError(kStale);
  // The source need not exist, nor the target's folder.
  ASSERT_TRUE(MoveFileExA("C:\\ftest\\stage.dl", "C:\\ftest\\LIVE.DLL",
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT));
  EXPECT_EQ(kStale, GetLastError());
  std::string expected = Strings({"\\??\\C:\\ftest\\stage.dl", "!\\??\\C:\\ftest\\LIVE.DLL"});
  EXPECT_EQ(46u, expected.size());
  EXPECT_EQ(expected, PendingList());
  ASSERT_TRUE(MoveFileExA("rel.tmp", "C:/a/./b/../T.DLL", MOVEFILE_DELAY_UNTIL_REBOOT));
  ASSERT_TRUE(MoveFileExA("C:\\GONE.TMP", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
  ASSERT_TRUE(MoveFileExA("C:\\GONE.TMP", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
  expected = Strings({"\\??\\C:\\ftest\\stage.dl", "!\\??\\C:\\ftest\\LIVE.DLL",
                      "\\??\\C:\\VARSETUP\\rel.tmp", "\\??\\C:\\a\\T.DLL",
                      "\\??\\C:\\GONE.TMP", "", "\\??\\C:\\GONE.TMP", ""});
  EXPECT_EQ(expected, PendingList());
  // The list is in the hive file, not only in memory.
  m.Reattach();
  EXPECT_EQ(expected, PendingList());

  SetLastError(kStale);
  EXPECT_FALSE(MoveFileExA("C:\\A", "C:\\B", MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_COPY_ALLOWED));
  EXPECT_EQ(DWORD(ERROR_INVALID_PARAMETER), GetLastError());
  EXPECT_EQ(expected, PendingList());

  // A list stored with another type is left alone: the move is refused and
  // the last error kept.
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_ALL_ACCESS, &key));
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, kPendingValue, 0, REG_BINARY,
                                          reinterpret_cast<const BYTE *>(expected.data()), DWORD(expected.size())));
  RegCloseKey(key);
  SetLastError(kStale);
  EXPECT_FALSE(MoveFileExA("C:\\A", "C:\\B", MOVEFILE_DELAY_UNTIL_REBOOT));
  EXPECT_EQ(kStale, GetLastError());
  const winsim::reg::Value *v = PendingValue();
  ASSERT_NE(nullptr, v);
  EXPECT_EQ(DWORD(REG_BINARY), v->type);
  EXPECT_EQ(expected, std::string(v->data.begin(), v->data.end()));
}

TEST(MoveFileEx, NotImplementedOnThe9xFamily) {
  TestMachine m("win98");
  m.Write("C:\\A.TXT", "a");
  for (DWORD flags : {DWORD(0), DWORD(MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING)}) {
    SetLastError(kStale);
    EXPECT_FALSE(MoveFileExA("C:\\A.TXT", "C:\\B.TXT", flags));
    EXPECT_EQ(DWORD(ERROR_CALL_NOT_IMPLEMENTED), GetLastError());
  }
  EXPECT_TRUE(m.Exists("C:\\A.TXT"));
  EXPECT_EQ("<none>", PendingList());
}

TEST(MoveFileEx, ImmediateMovesCarryAttributes) {
  TestMachine m("winxp");
  m.Write("C:\\D\\SUB\\F.DAT", "f");
  m.Write("C:\\A.DAT", "a");
  m.Write("C:\\B.DAT", "b");
  ASSERT_TRUE(SetFileAttributesA("C:\\D\\SUB\\F.DAT", FILE_ATTRIBUTE_HIDDEN));
  ASSERT_TRUE(SetFileAttributesA("C:\\A.DAT", FILE_ATTRIBUTE_SYSTEM));
  SetLastError(kStale);
  EXPECT_FALSE(MoveFileExA("C:\\A.DAT", "C:\\B.DAT", 0));
  EXPECT_EQ(DWORD(ERROR_ALREADY_EXISTS), GetLastError());
  ASSERT_TRUE(MoveFileExA("C:\\A.DAT", "C:\\B.DAT", MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ("a", m.Read("C:\\B.DAT"));
  EXPECT_EQ(DWORD(FILE_ATTRIBUTE_SYSTEM), GetFileAttributesA("C:\\B.DAT"));
  // A moved folder takes the attributes of what it holds along.
  ASSERT_TRUE(MoveFileExA("C:\\D", "C:\\E", 0));
  EXPECT_EQ(DWORD(FILE_ATTRIBUTE_HIDDEN), GetFileAttributesA("C:\\E\\SUB\\F.DAT"));
  // The old names leave no attributes behind for a new file there.
  m.Write("C:\\A.DAT", "again");
  m.Write("C:\\D\\SUB\\F.DAT", "again");
  EXPECT_EQ(DWORD(FILE_ATTRIBUTE_ARCHIVE), GetFileAttributesA("C:\\A.DAT"));
  EXPECT_EQ(DWORD(FILE_ATTRIBUTE_ARCHIVE), GetFileAttributesA("C:\\D\\SUB\\F.DAT"));
  SetLastError(kStale);
  EXPECT_FALSE(MoveFileExA("C:\\A.DAT", nullptr, 0));
  EXPECT_EQ(DWORD(ERROR_INVALID_PARAMETER), GetLastError());
  // A folder may replace a file, never a file a folder (Wine's file tests).
  EXPECT_FALSE(MoveFileExA("C:\\A.DAT", "C:\\E", MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), GetLastError());
  ASSERT_TRUE(MoveFileExA("C:\\E", "C:\\A.DAT", MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(DWORD(FILE_ATTRIBUTE_HIDDEN), GetFileAttributesA("C:\\A.DAT\\SUB\\F.DAT"));
  SetLastError(kStale);
  EXPECT_FALSE(CopyFileA(nullptr, "C:\\X.DAT", FALSE));
  EXPECT_EQ(DWORD(ERROR_PATH_NOT_FOUND), GetLastError());
}

TEST(DeleteFile, RefusesReadOnlyBusyAndFoldersAndForgetsAttributes) {
  TestMachine m("winxp");
  m.Write("C:\\RO.DAT", "r");
  m.Write("C:\\H.DAT", "h");
  ASSERT_TRUE(SetFileAttributesA("C:\\RO.DAT", FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(SetFileAttributesA("C:\\H.DAT", FILE_ATTRIBUTE_HIDDEN));
  winsim::Config().inUse.push_back("C:\\WINDOWS\\system32\\kernel32.dll");
  struct Failure {
    const char *path;
    DWORD error;
  } failures[] = {{"C:\\RO.DAT", ERROR_ACCESS_DENIED},
                  {"C:\\WINDOWS", ERROR_ACCESS_DENIED},
                  {"C:\\WINDOWS\\SYSTEM32\\KERNEL32.DLL", ERROR_SHARING_VIOLATION},
                  {"C:\\NONE.DAT", ERROR_FILE_NOT_FOUND},
                  {"C:\\NOPE\\NONE.DAT", ERROR_PATH_NOT_FOUND}};
  for (const Failure &f : failures) {
    SetLastError(kStale);
    EXPECT_FALSE(DeleteFileA(f.path)) << f.path;
    EXPECT_EQ(f.error, GetLastError()) << f.path;
  }
  EXPECT_TRUE(DeleteFileA("c:\\h.dat"));
  EXPECT_FALSE(m.Exists("C:\\H.DAT"));
  m.Write("C:\\H.DAT", "new");
  EXPECT_EQ(DWORD(FILE_ATTRIBUTE_ARCHIVE), GetFileAttributesA("C:\\H.DAT"));
}

TEST(GetDriveType, FollowsTheMachineAndWantsARoot) {
  TestMachine m("winxp");
  EXPECT_EQ(UINT(DRIVE_FIXED), GetDriveTypeA("C:\\"));
  EXPECT_EQ(UINT(DRIVE_FIXED), GetDriveTypeA("c:\\"));
  EXPECT_EQ(UINT(DRIVE_FIXED), GetDriveTypeA(nullptr));
  EXPECT_EQ(UINT(DRIVE_CDROM), GetDriveTypeA("D:\\"));  // also without a disc
  EXPECT_EQ(UINT(DRIVE_REMOVABLE), GetDriveTypeA("A:\\"));
  EXPECT_EQ(UINT(DRIVE_NO_ROOT_DIR), GetDriveTypeA("Q:\\"));
  EXPECT_EQ(UINT(DRIVE_FIXED), GetDriveTypeA("C:"));  // the backslash is not needed
  EXPECT_EQ(UINT(DRIVE_NO_ROOT_DIR), GetDriveTypeA("Q:"));
  EXPECT_EQ(UINT(DRIVE_NO_ROOT_DIR), GetDriveTypeA("C:\\WINDOWS\\"));
}

TEST(Faults, FileCallsFailWithTheInjectedError) {
  TestMachine m("winxp");
  m.Write("C:\\S.DAT", "s");
  FailCalls("CopyFileA", ERROR_DISK_FULL, 2);
  EXPECT_TRUE(CopyFileA("C:\\S.DAT", "C:\\1.DAT", FALSE));
  SetLastError(kStale);
  EXPECT_FALSE(CopyFileA("C:\\S.DAT", "C:\\2.DAT", FALSE));
  EXPECT_EQ(DWORD(ERROR_DISK_FULL), GetLastError());
  EXPECT_FALSE(m.Exists("C:\\2.DAT"));
  EXPECT_TRUE(CopyFileA("C:\\S.DAT", "C:\\3.DAT", FALSE));
}

}  // namespace
