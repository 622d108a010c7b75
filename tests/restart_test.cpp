// The machine's next start: WININIT.INI on the 9x family, the pending
// rename list on the NT family.
#include <gtest/gtest.h>

#include <algorithm>

#include "changes.h"
#include "deploy/deploy.h"
#include "platform.h"
#include "report.h"
#include "restart_queue.h"
#include "test_machine.h"

namespace {

bool Restart() {
  std::string error;
  bool ok = winsim::RestartMachine(&error);
  EXPECT_TRUE(ok) << error;
  return ok;
}

// The bytes of a literal, its inner zeros included.
template <size_t N>
std::string Bytes(const char (&text)[N]) {
  return std::string(text, N - 1);
}

TEST(Restart9x, CarriesOutTheRenameSectionInFileOrder) {
  TestMachine m("win98");
  const std::string sys = "C:\\WINDOWS\\SYSTEM\\";
  m.Write(sys + "LIVE.DLL", "old live");
  m.Write(sys + "LIVE.OLD", "older backup");
  m.Write(sys + "LIVE.DL_", "new live");
  m.Write(sys + "GONE.DLL", "g");
  m.Write(sys + "STAGE.DL_", "s");
  m.Write("C:\\WINDOWS\\B.TXT", "b");
  ASSERT_TRUE(SetFileAttributesA((sys + "LIVE.DLL").c_str(), FILE_ATTRIBUTE_HIDDEN));
  const std::string ini =
      "; queued by setup\r\n"
      "[Other]\r\n"
      "C:\\WINDOWS\\A.TXT=C:\\WINDOWS\\B.TXT\r\n"
      "[Rename]\r\n"
      "C:\\WINDOWS\\SYSTEM\\LIVE.OLD=C:\\WINDOWS\\SYSTEM\\LIVE.DLL\r\n"
      "C:\\WINDOWS\\SYSTEM\\LIVE.DLL = C:\\WINDOWS\\SYSTEM\\LIVE.DL_\r\n"
      "nul=C:\\WINDOWS\\SYSTEM\\GONE.DLL\r\n"
      "C:\\WINDOWS\\SYSTEM\\LONGNAMED.DLL=C:\\WINDOWS\\SYSTEM\\STAGE.DL_\r\n"
      "C:\\WINDOWS\\SYSTEM\\X.DLL=C:\\WINDOWS\\SYSTEM\\MISSING.DLL\r\n";
  m.Write("C:\\WINDOWS\\WININIT.INI", ini);
  ASSERT_TRUE(Restart());
  // Backup first, then the replacement: the older backup is gone.
  EXPECT_EQ("old live", m.Read(sys + "LIVE.OLD"));
  EXPECT_EQ(DWORD(FILE_ATTRIBUTE_HIDDEN), GetFileAttributesA((sys + "LIVE.OLD").c_str()));
  EXPECT_EQ("new live", m.Read(sys + "LIVE.DLL"));
  EXPECT_EQ(DWORD(FILE_ATTRIBUTE_ARCHIVE), GetFileAttributesA((sys + "LIVE.DLL").c_str()));
  EXPECT_FALSE(m.Exists(sys + "LIVE.DL_"));
  EXPECT_FALSE(m.Exists(sys + "GONE.DLL"));
  // A long name is not a DOS name: the line is skipped.
  EXPECT_TRUE(m.Exists(sys + "STAGE.DL_"));
  EXPECT_FALSE(m.Exists(sys + "LONGNAMED.DLL"));
  // Other sections are not touched.
  EXPECT_TRUE(m.Exists("C:\\WINDOWS\\B.TXT"));
  EXPECT_FALSE(m.Exists("C:\\WINDOWS\\WININIT.INI"));
  EXPECT_EQ(ini, m.Read("C:\\WINDOWS\\WININIT.BAK"));
  EXPECT_EQ("restart", winsim::ReadJournal().back());
}

TEST(Restart9x, LeavesAFileWithoutRenameEntriesAndIgnoresPendingMoves) {
  TestMachine m("win95");
  m.Write("C:\\WINDOWS\\WININIT.INI", "[rename]\r\n; nothing queued\r\n");
  m.Write("C:\\A.DAT", "a");
  winsim::reg::Key *key = winsim::reg::Create(winsim::reg::Root(HKEY_LOCAL_MACHINE), kSessionManager, nullptr);
  std::string list("\\??\\C:\\A.DAT\0\0\0", 15);
  winsim::reg::SetValue(key, kPendingValue, REG_MULTI_SZ,
                        reinterpret_cast<const BYTE *>(list.data()), DWORD(list.size()));
  ASSERT_TRUE(Restart());
  EXPECT_TRUE(m.Exists("C:\\WINDOWS\\WININIT.INI"));
  EXPECT_FALSE(m.Exists("C:\\WINDOWS\\WININIT.BAK"));
  EXPECT_TRUE(m.Exists("C:\\A.DAT"));
  EXPECT_NE(nullptr, PendingValue());
}

TEST(RestartNT, CarriesOutThePendingMovesInOrderAndDeletesTheList) {
  TestMachine m("winxp");
  const std::string sys = "C:\\WINDOWS\\system32\\";
  m.Write(sys + "LIVE.DLL", "old live");
  m.Write(sys + "LIVE.OLD", "older backup");
  m.Write(sys + "LIVE.DL", "new live");
  m.Write("C:\\KEEP.DAT", "keep");
  m.Write("C:\\EXIST.DAT", "exist");
  m.Write("C:\\GONE.DAT", "g");
  m.Write("C:\\FULL\\F.DAT", "f");
  m.MakeDir("C:\\EMPTY");
  m.Write("C:\\WINDOWS\\WININIT.INI", "[rename]\r\nNUL=C:\\EXIST.DAT\r\n");
  const DWORD replace = MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT;
  ASSERT_TRUE(MoveFileExA((sys + "LIVE.DLL").c_str(), (sys + "LIVE.OLD").c_str(), replace));
  ASSERT_TRUE(MoveFileExA((sys + "LIVE.DL").c_str(), (sys + "LIVE.DLL").c_str(), replace));
  ASSERT_TRUE(MoveFileExA("C:\\KEEP.DAT", "C:\\EXIST.DAT", MOVEFILE_DELAY_UNTIL_REBOOT));
  ASSERT_TRUE(MoveFileExA("C:\\NOWHERE.DAT", "C:\\X.DAT", replace));
  for (const char *gone : {"C:\\GONE.DAT", "C:\\EMPTY", "C:\\FULL"})
    ASSERT_TRUE(MoveFileExA(gone, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
  // Nothing has moved yet.
  EXPECT_EQ("old live", m.Read(sys + "LIVE.DLL"));
  ASSERT_TRUE(Restart());
  EXPECT_EQ("old live", m.Read(sys + "LIVE.OLD"));
  EXPECT_EQ("new live", m.Read(sys + "LIVE.DLL"));
  EXPECT_FALSE(m.Exists(sys + "LIVE.DL"));
  // Without "!" an existing target stops the move, silently.
  EXPECT_EQ("keep", m.Read("C:\\KEEP.DAT"));
  EXPECT_EQ("exist", m.Read("C:\\EXIST.DAT"));
  EXPECT_FALSE(m.Exists("C:\\X.DAT"));
  EXPECT_FALSE(m.Exists("C:\\GONE.DAT"));
  EXPECT_FALSE(m.Exists("C:\\EMPTY"));
  EXPECT_TRUE(m.Exists("C:\\FULL\\F.DAT"));  // only empty folders are removed
  // WININIT.INI means nothing to the NT family.
  EXPECT_TRUE(m.Exists("C:\\WINDOWS\\WININIT.INI"));
  EXPECT_EQ(nullptr, PendingValue());
  m.Reattach();
  EXPECT_EQ(nullptr, PendingValue());
  EXPECT_EQ("restart", winsim::ReadJournal().back());
}

// A replacing move never supersedes a read-only file: that move fails,
// silently, and the moves after it are still made.
TEST(RestartNT, AReadOnlyTargetStopsItsMoveOnly) {
  TestMachine m("winxp");
  m.Write("C:\\RO.DLL", "old read-only");
  m.Write("C:\\RO.DL", "new");
  m.Write("C:\\RW.DL", "new too");
  ASSERT_TRUE(SetFileAttributesA("C:\\RO.DLL", FILE_ATTRIBUTE_READONLY));
  const DWORD replace = MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT;
  ASSERT_TRUE(MoveFileExA("C:\\RO.DL", "C:\\RO.DLL", replace));
  ASSERT_TRUE(MoveFileExA("C:\\RW.DL", "C:\\RW.DLL", replace));
  ASSERT_TRUE(Restart());
  EXPECT_EQ("old read-only", m.Read("C:\\RO.DLL"));
  EXPECT_EQ("new", m.Read("C:\\RO.DL"));
  EXPECT_EQ("new too", m.Read("C:\\RW.DLL"));
  EXPECT_EQ(nullptr, PendingValue());
}

TEST(RestartNT, AListWithoutItsFinalNulIsLeftAlone) {
  TestMachine m("win2k");
  m.Write("C:\\A.DAT", "a");
  winsim::reg::Key *key = winsim::reg::Create(winsim::reg::Root(HKEY_LOCAL_MACHINE), kSessionManager, nullptr);
  std::string list("\\??\\C:\\A.DAT\0", 13);
  winsim::reg::SetValue(key, kPendingValue, REG_MULTI_SZ,
                        reinterpret_cast<const BYTE *>(list.data()), DWORD(list.size()));
  ASSERT_TRUE(Restart());
  EXPECT_TRUE(m.Exists("C:\\A.DAT"));
  ASSERT_NE(nullptr, PendingValue());
  EXPECT_EQ(13u, PendingValue()->data.size());
}

// One restart queue, read the same way by the preview and by the restart:
// for each case the preview's "At the next restart" section says what the
// restart then does (its Files and Not done sections).  On the NT family the
// program's own reader of the list finds the same pairs.
TEST(Restart, ThePreviewSaysWhatTheRestartDoes) {
  struct Case {
    const char *machine, *wininit;
    std::string pending;  // the list's bytes; "" = no value
    const char *preview, *restart;
  } cases[] = {
      {"winxp", nullptr, Bytes("\\??\\C:\\OLD.TMP\0\0\0"),
       "  delete  C:\\OLD.TMP [pending]\n",
       "  removed  C:\\OLD.TMP (3 bytes)\n"},
      // A deletion entry goes on to the next pair.
      {"winxp", nullptr, Bytes("\\??\\C:\\OLD.TMP\0\0\\??\\C:\\A.DL_\0!\\??\\C:\\A.DLL\0\0"),
       "  delete  C:\\OLD.TMP [pending]\n  replace C:\\A.DLL <- C:\\A.DL_ (staged, 3 bytes) [pending]\n",
       "  created  C:\\A.DLL (3 bytes)\n  removed  C:\\A.DL_ (3 bytes)\n  removed  C:\\OLD.TMP (3 bytes)\n"},
      // Data that does not end in two zeros is no list.
      {"winxp", nullptr, Bytes("\\??\\C:\\OLD.TMP\0\0\\??\\C:\\A.DL_\0"), "", ""},
      // Nor is data with a byte after its two zeros.
      {"winxp", nullptr, Bytes("\\??\\C:\\A.DL_\0!\\??\\C:\\A.DLL\0\0X"), "", ""},
      {"win98", "[rename]\r\nNUL=C:\\OLD.TMP\r\nnul=C:\\GONE.TMP\r\n", "",
       "  delete  C:\\OLD.TMP [WININIT.INI]\n  delete  C:\\GONE.TMP (no file there now) [WININIT.INI]\n",
       "  removed  C:\\OLD.TMP (3 bytes)\n"
       "Not done\n  delete C:\\GONE.TMP [WININIT.INI]: file missing\n"},
      {"win98", "[rename]\r\nC:\\A.DLL=C:\\A.DL_\r\n[other]\r\n[Rename]\r\nC:\\B.DLL=C:\\B.DL_\r\n", "",
       "  move    C:\\A.DLL <- C:\\A.DL_ (staged, 3 bytes) [WININIT.INI]\n"
       "  skip    C:\\B.DLL <- C:\\B.DL_ [WININIT.INI]: after the first [rename] section "
       "(WININIT reads only that one)\n",
       "  created  C:\\A.DLL (3 bytes)\n  removed  C:\\A.DL_ (3 bytes)\n"
       "Not done\n  C:\\B.DLL <- C:\\B.DL_ [WININIT.INI]: after the first [rename] section "
       "(WININIT reads only that one)\n"},
      {"win98", "[rename]\r\nC:\\LONGNAMED.DLL=C:\\A.DL_\r\n", "",
       "  skip    C:\\LONGNAMED.DLL <- C:\\A.DL_ [WININIT.INI]: not an 8.3 name (WININIT runs under DOS)\n",
       "Not done\n  C:\\LONGNAMED.DLL <- C:\\A.DL_ [WININIT.INI]: not an 8.3 name (WININIT runs under "
       "DOS)\n"},
      // An odd number of strings: the last source pairs with the final
      // empty string and is deleted.
      {"winxp", nullptr, Bytes("\\??\\C:\\A.DL_\0!\\??\\C:\\A.DLL\0\\??\\C:\\B.DL_\0\0"),
       "  replace C:\\A.DLL <- C:\\A.DL_ (staged, 3 bytes) [pending]\n  delete  C:\\B.DL_ [pending]\n",
       "  created  C:\\A.DLL (3 bytes)\n  removed  C:\\A.DL_ (3 bytes)\n  removed  C:\\B.DL_ (3 bytes)\n"},
      {"winxp", nullptr, Bytes("\0\0"), "", ""},
      // An empty source ends the list.
      {"winxp", nullptr,
       Bytes("\\??\\C:\\A.DL_\0!\\??\\C:\\A.DLL\0\0\\??\\C:\\B.DL_\0!\\??\\C:\\B.DLL\0\0"),
       "  replace C:\\A.DLL <- C:\\A.DL_ (staged, 3 bytes) [pending]\n",
       "  created  C:\\A.DLL (3 bytes)\n  removed  C:\\A.DL_ (3 bytes)\n"},
      // Each family reads its own list only.
      {"winxp", "[rename]\r\nNUL=C:\\OLD.TMP\r\n", "",
       "  skip    delete C:\\OLD.TMP [WININIT.INI]: WININIT.INI is not read at the start of the NT "
       "family\n",
       ""},
  };
  // The lines of a report's sections `titles` ("Files", ...), under their
  // titles; the files only outside the Windows folder, where the profile
  // files come and go with WININIT.INI.
  auto sections = [](const std::string &report, std::vector<std::string> titles) {
    std::string title, out;
    for (const std::string &line : TextLines(report)) {
      if (line.compare(0, 2, "  ") != 0) {
        title = line;
      } else if (std::find(titles.begin(), titles.end(), title) != titles.end() &&
                 (title != "Files" || line.find("C:\\WINDOWS") == std::string::npos)) {
        if (title != "Files" && title != "At the next restart" &&
            out.find(title + "\n") == std::string::npos)
          out += title + "\n";
        out += line + "\n";
      }
    }
    return out;
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.machine) + " " + (c.wininit ? c.wininit : "") + c.preview);
    TestMachine m(c.machine);
    winsim::MachineSnapshot before, queued, restarted;
    std::string error;
    ASSERT_TRUE(winsim::TakeSnapshot(m.Dir(), &before, &error)) << error;
    for (const char *file : {"C:\\OLD.TMP", "C:\\A.DL_", "C:\\B.DL_"}) m.Write(file, "abc");
    if (c.wininit) m.Write("C:\\WINDOWS\\WININIT.INI", c.wininit);
    if (!c.pending.empty()) {
      winsim::reg::Key *key = winsim::reg::Create(winsim::reg::Root(HKEY_LOCAL_MACHINE), kSessionManager, nullptr);
      winsim::reg::SetValue(key, kPendingValue, REG_MULTI_SZ,
                            reinterpret_cast<const BYTE *>(c.pending.data()), DWORD(c.pending.size()));
    }
    ASSERT_TRUE(winsim::TakeSnapshot(m.Dir(), &queued, &error)) << error;
    if (!winsim::Config().Is9x()) {
      // The program's own reader, which keeps it from queueing a move twice.
      PlatformFamily = Family::WindowsNT;
      auto pairs = winsim::PendingPairs(std::vector<uint8_t>(c.pending.begin(), c.pending.end()));
      EXPECT_EQ(MoveList(pairs.begin(), pairs.end()), ReadPendingMoves());
    }
    winsim::ReportContext context;
    context.restartReads = winsim::Config().Is9x() ? winsim::RestartReads::kWininit
                                                   : winsim::RestartReads::kPendingList;
    EXPECT_EQ(c.preview,
              sections(winsim::FormatChangesText(before, queued, context), {"At the next restart"}));
    std::vector<winsim::RestartSkipped> skipped;
    ASSERT_TRUE(winsim::RestartMachine(&error, &skipped)) << error;
    ASSERT_TRUE(winsim::TakeSnapshot(m.Dir(), &restarted, &error)) << error;
    for (const winsim::RestartSkipped &s : skipped)
      context.notDone.push_back({s.what + " [" + s.via + "]", s.reason});
    // The restart's own report: the files it changed, what it did not do.
    EXPECT_EQ(c.restart, sections(winsim::FormatChangesText(queued, restarted, context),
                                  {"Files", "Not done"}));
  }
}

TEST(Restart, NeedsAnAttachedMachine) {
  winsim::Detach();
  std::string error;
  EXPECT_FALSE(winsim::RestartMachine(&error));
  EXPECT_FALSE(error.empty());
}

}  // namespace
