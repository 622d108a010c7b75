// The distribution-disc extras: look-ups on the CD-ROM drives D to Z (lowest
// letter first, other drive types ignored, drives without a disc skipped)
// and silent copies into the application directory.
#include <sys/stat.h>

#include "components/components.h"
#include "installer_checks.h"

using namespace checks;

namespace {

const char kOem[] = "OEM\\KORVIXOEM.DLL";
const char kAppDir[] = "C:\\Program Files\\Korvix";

// A 98 machine (D: is a CD-ROM drive without a disc) with more drives.
class DiscMachine : public TestMachine {
 public:
  DiscMachine() : TestMachine("win98") { MakeDir(kAppDir); }
  // Adds drive `letter` of `kind`; `medium` gives it contents (a disc).
  void AddDrive(char letter, winsim::DriveKind kind, bool medium = true) const {
    winsim::Config().drives[letter] = kind;
    std::string error;
    ASSERT_TRUE(winsim::SaveConfig(&error)) << error;
    if (medium) {
      ASSERT_EQ(0, mkdir(winsim::DriveHostDir(letter).c_str(), 0755));
    }
  }
  std::string App(const std::string &name) const { return std::string(kAppDir) + "\\" + name; }
};

}  // namespace

// The type is asked per root as Windows answers it: a CD-ROM drive stays a
// CD-ROM drive without its disc, and a letter the machine lacks has no root.
TEST(DriveTypes, AnswerPerLetterAsTheMachineSays) {
  DiscMachine m;
  m.AddDrive('E', winsim::DriveKind::Remote);
  m.AddDrive('F', winsim::DriveKind::None, false);
  EXPECT_EQ(UINT(DRIVE_REMOVABLE), GetDriveTypeA("A:\\"));
  EXPECT_EQ(UINT(DRIVE_FIXED), GetDriveTypeA("C:\\"));
  EXPECT_EQ(UINT(DRIVE_CDROM), GetDriveTypeA("d:\\"));
  EXPECT_EQ(UINT(DRIVE_REMOTE), GetDriveTypeA("E:\\"));
  EXPECT_EQ(UINT(DRIVE_NO_ROOT_DIR), GetDriveTypeA("F:\\"));
  EXPECT_EQ(UINT(DRIVE_NO_ROOT_DIR), GetDriveTypeA("G:\\"));
  EXPECT_EQ(UINT(DRIVE_NO_ROOT_DIR), GetDriveTypeA("C:\\WINDOWS\\"));
  // The empty CD-ROM drive is not ready; the missing letter has no path.
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("D:\\OEM"));
  EXPECT_EQ(DWORD(ERROR_NOT_READY), GetLastError());
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("G:\\OEM"));
  EXPECT_EQ(DWORD(ERROR_PATH_NOT_FOUND), GetLastError());
  // In the default error mode the look-up on the empty drive, and only it,
  // brought up the system's box; with critical errors failed nothing does.
  SetErrorMode(SEM_FAILCRITICALERRORS);
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("D:\\OEM"));
  EXPECT_EQ(DWORD(ERROR_NOT_READY), GetLastError());
  EXPECT_EQ(std::vector<std::string>{"system-error-box " +
                                     winsim::QuoteText("There is no disk in the drive. Please "
                                                       "insert a disk into drive D:.")},
            winsim::ReadJournal());
}

TEST(DiscExtras, LowerCdromLetterWinsAndEmptyDrivesAreSkipped) {
  DiscMachine m;  // D: without a disc
  m.AddDrive('F', winsim::DriveKind::Cdrom);
  m.AddDrive('E', winsim::DriveKind::Cdrom);
  m.Write("F:\\OEM\\KORVIXOEM.DLL", "from F");
  m.Write("E:\\OEM\\KORVIXOEM.DLL", "from E");
  EXPECT_EQ("E:\\OEM\\KORVIXOEM.DLL", FindOnCdrom(kOem));
  CopyDiscExtras(kAppDir, "");
  EXPECT_EQ("from E", m.Read(m.App("KORVIXOEM.DLL")));
  EXPECT_TRUE(BoxTexts().empty());
}

// Hard disks and network drives are never searched, even before a CD-ROM
// drive that holds the file.
TEST(DiscExtras, FixedAndRemoteDrivesAreIgnored) {
  DiscMachine m;
  m.AddDrive('E', winsim::DriveKind::Fixed);
  m.AddDrive('F', winsim::DriveKind::Remote);
  m.Write("C:\\OEM\\KORVIXOEM.DLL", "from C");
  m.Write("E:\\OEM\\KORVIXOEM.DLL", "from E");
  m.Write("F:\\OEM\\KORVIXOEM.DLL", "from F");
  EXPECT_EQ("", FindOnCdrom(kOem));
  CopyDiscExtras(kAppDir, "korvix");
  EXPECT_FALSE(m.Exists(m.App("KORVIXOEM.DLL")));

  // Z: is the last letter searched; the caller's error mode is restored.
  m.AddDrive('Z', winsim::DriveKind::Cdrom);
  m.Write("Z:\\OEM\\KORVIXOEM.DLL", "from Z");
  SetErrorMode(SEM_NOOPENFILEERRORBOX);
  CopyDiscExtras(kAppDir, "korvix");
  EXPECT_EQ(UINT(SEM_NOOPENFILEERRORBOX), SetErrorMode(0));
  EXPECT_EQ("from Z", m.Read(m.App("KORVIXOEM.DLL")));
  EXPECT_TRUE(BoxTexts().empty());
}

// Nothing changes, not even the journal: the system never asks for a disc.
TEST(DiscExtras, NoDiscAnywhereCopiesNothing) {
  DiscMachine m;
  m.AddDrive('E', winsim::DriveKind::Cdrom, false);
  winsim::MachineSnapshot before = Snapshot();
  CopyDiscExtras(kAppDir, "korvix");
  EXPECT_EQ("", winsim::DiffDumps(before, Snapshot()));
}

// Each item is looked up from D: again, so the three may come from
// different discs; the manuals land in the application directory itself.
// The directory given with or without its trailing backslash is the same.
TEST(DiscExtras, ManualsAndModuleWithAndWithoutTrailingBackslash) {
  for (const std::string &dir : {std::string(kAppDir), std::string(kAppDir) + "\\"}) {
    DiscMachine m;
    m.AddDrive('E', winsim::DriveKind::Cdrom);
    m.AddDrive('F', winsim::DriveKind::Cdrom);
    m.Write("E:\\DATA\\DOC\\korvix-en.pdf", "en from E");
    m.Write("F:\\OEM\\KORVIXOEM.DLL", "oem from F");
    m.Write("F:\\DATA\\DOC\\korvix-de.pdf", "de from F");
    m.Write("F:\\DATA\\DOC\\korvix-en.pdf", "en from F");
    CopyDiscExtras(dir, "korvix");
    EXPECT_EQ("oem from F", m.Read(m.App("KORVIXOEM.DLL"))) << dir;
    EXPECT_EQ("de from F", m.Read(m.App("korvix-de.pdf"))) << dir;
    EXPECT_EQ("en from E", m.Read(m.App("korvix-en.pdf"))) << dir;
    EXPECT_FALSE(m.Exists(m.App("DATA"))) << dir;
    EXPECT_FALSE(m.Exists("C:\\Program Files\\KorvixKORVIXOEM.DLL")) << dir;
  }
}

TEST(DiscExtras, EmptyApplicationDirectoryCopiesNothing) {
  DiscMachine m;
  m.AddDrive('E', winsim::DriveKind::Cdrom);
  std::string error;
  ASSERT_TRUE(winsim::InsertDisc('E', &error)) << error;
  winsim::MachineSnapshot before = Snapshot();
  CopyDiscExtras("", "korvix");
  EXPECT_EQ("", winsim::DiffDumps(before, Snapshot()));
}

// A read-only copy (an earlier run's, from the read-only disc) is replaced,
// and every copy is left writable; a copy that fails is silent.
TEST(DiscExtras, ReadOnlyCopiesAreReplacedAndFailedCopiesAreSilent) {
  DiscMachine m;
  m.AddDrive('E', winsim::DriveKind::Cdrom);
  std::string error;
  ASSERT_TRUE(winsim::InsertDisc('E', &error)) << error;
  m.Write(m.App("KORVIXOEM.DLL"), "old");
  m.Write(m.App("korvix-de.pdf"), "old");
  ASSERT_TRUE(SetFileAttributesA(m.App("KORVIXOEM.DLL").c_str(), FILE_ATTRIBUTE_READONLY));
  CopyDiscExtras(kAppDir, "korvix");
  EXPECT_EQ(m.Read("E:\\OEM\\KORVIXOEM.DLL"), m.Read(m.App("KORVIXOEM.DLL")));
  for (const char *name : {"KORVIXOEM.DLL", "korvix-de.pdf", "korvix-en.pdf"})
    EXPECT_EQ(DWORD(FILE_ATTRIBUTE_ARCHIVE), GetFileAttributesA(m.App(name).c_str())) << name;

  m.Write(m.App("KORVIXOEM.DLL"), "old");
  FailCalls("CopyFileA", ERROR_DISK_FULL, 1);
  CopyDiscExtras(kAppDir, "korvix");
  EXPECT_EQ("old", m.Read(m.App("KORVIXOEM.DLL")));
  EXPECT_EQ(m.Read("E:\\DATA\\DOC\\korvix-de.pdf"), m.Read(m.App("korvix-de.pdf")));
  EXPECT_TRUE(BoxTexts().empty());
}

// The whole run on XP with both arguments: every installer has done its part
// and the extras come from the disc in D:.
TEST(DiscExtras, RunSetupCopiesTheExtrasNamedOnTheCommandLine) {
  PayloadMachine m("winxp");
  std::string error;
  ASSERT_TRUE(winsim::InsertDisc('D', &error)) << error;
  m.MakeDir(kAppDir);
  winsim::Config().commandLine = "C:\\VARSETUP\\VARSETUP.EXE \"" + std::string(kAppDir) + "\" korvix";
  ASSERT_TRUE(winsim::SaveConfig(&error)) << error;
  EXPECT_EQ(0, RunSetup());
  const std::string app = std::string(kAppDir) + "\\";
  EXPECT_TRUE(m.Exists(app + "KORVIXOEM.DLL"));
  EXPECT_TRUE(m.Exists(app + "korvix-de.pdf"));
  EXPECT_TRUE(m.Exists(app + "korvix-en.pdf"));
  EXPECT_TRUE(m.Exists(m.Sys("Drivers\\ASPI32.NT")));
  EXPECT_TRUE(m.Exists(m.Sys("drivers\\FTD2XX.SYS")));
  EXPECT_TRUE(m.Exists(m.Win("INF\\CX_USB.INF")));
  EXPECT_TRUE(BoxTexts().empty());
}
