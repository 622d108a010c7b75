// The 32-bit program on 64-bit Windows: winsim's WOW64 (file system and
// registry redirectors, the WOW64 look-ups, what a 32-bit caller cannot do)
// and whole runs on the 64-bit templates, through the restart.
#include <gtest/gtest.h>
#include <windows.h>
#include <setupapi.h>
#include <newdev.h>

#include <strings.h>

#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "deploy/deploy.h"
#include "machine.h"
#include "payload.h"
#include "processes.h"
#include "report.h"
#include "setup/setup.h"
#include "test_machine.h"
#include "wow64.h"

namespace {

std::string Pending() {
  std::string out;
  for (const auto &move : QueuedMoves()) out += move.first + " -> " + move.second + "\n";
  return out;
}

// What a 32-bit caller reaches on a 64-bit machine, call by call, in one
// text; the same calls on the 32-bit Windows 10 reach the names as written.
std::string Reached(const char *templateName) {
  TestMachine machine(templateName);
  machine.Write("C:\\src.dll", "x");
  std::ostringstream out;
  for (const char *target : {"C:\\Windows\\System32\\a.dll", "C:\\WINDOWS\\system32\\drivers\\b.sys",
                             "C:\\Windows\\System32\\drivers\\etc\\c.txt", "C:\\Windows\\Sysnative\\d.dll",
                             "C:\\Windows\\system32\\spool\\e.dat"}) {
    machine.MakeDir("C:\\Windows\\System32\\drivers\\etc");
    machine.MakeDir("C:\\Windows\\System32\\spool");
    BOOL copied = CopyFileA("C:\\src.dll", target, FALSE);
    out << target << ": " << (copied ? "copied" : "failed " + std::to_string(GetLastError()));
    for (const char *where : {"C:\\Windows\\System32\\", "C:\\Windows\\SysWOW64\\"}) {
      std::string name = std::string(target).substr(std::string(target).rfind('\\') + 1);
      std::string sub = strstr(target, "etc") ? "drivers\\etc\\" : strstr(target, "drivers") ? "drivers\\"
                        : strstr(target, "spool") ? "spool\\" : "";
      if (machine.Exists(where + sub + name)) out << " in " << where;
    }
    out << "\n";
  }
  char dir[MAX_PATH];
  GetSystemDirectoryA(dir, MAX_PATH);
  out << "system directory " << dir << "\n";
  MoveFileExA("C:\\Windows\\System32\\a.dll", "C:\\Windows\\System32\\b.dll",
              MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT);
  out << Pending();
  HKEY key;
  RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Varentel", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                  nullptr);
  RegCloseKey(key);
  RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts\\X", 0,
                  nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  RegCloseKey(key);
  RegCreateKeyExA(HKEY_LOCAL_MACHINE, "System\\Varentel", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                  nullptr);
  RegCloseKey(key);
  winsim::MachineSnapshot s;
  std::string error;
  EXPECT_TRUE(winsim::TakeSnapshot(winsim::MachineDir(), &s, &error)) << error;
  for (const std::string &k : s.keys)
    if (k.rfind("HKLM", 0) == 0 && (k.find("\\X") != std::string::npos || k.find("Varentel") != std::string::npos))
      out << "key " << k << "\n";
  return out.str();
}

TEST(Wow64, TheRedirectorsSendA32BitCallerToThe32BitViewOnlyOn64BitWindows) {
  EXPECT_EQ(
      "C:\\Windows\\System32\\a.dll: copied in C:\\Windows\\SysWOW64\\\n"
      "C:\\WINDOWS\\system32\\drivers\\b.sys: copied in C:\\Windows\\SysWOW64\\\n"
      "C:\\Windows\\System32\\drivers\\etc\\c.txt: copied in C:\\Windows\\System32\\\n"
      "C:\\Windows\\Sysnative\\d.dll: copied in C:\\Windows\\System32\\\n"
      "C:\\Windows\\system32\\spool\\e.dat: copied in C:\\Windows\\System32\\\n"
      "system directory C:\\Windows\\System32\n"
      "\\??\\C:\\Windows\\System32\\a.dll -> !\\??\\C:\\Windows\\System32\\b.dll\n"
      "key HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts\\X\n"
      "key HKLM\\SOFTWARE\\Wow6432Node\\Varentel\n"
      "key HKLM\\SYSTEM\\Varentel\n",
      Reached("win10-64"));
  // The 32-bit Windows 10 has no SysWOW64 and no Sysnative alias.
  EXPECT_EQ(
      "C:\\Windows\\System32\\a.dll: copied in C:\\Windows\\System32\\\n"
      "C:\\WINDOWS\\system32\\drivers\\b.sys: copied in C:\\Windows\\System32\\\n"
      "C:\\Windows\\System32\\drivers\\etc\\c.txt: copied in C:\\Windows\\System32\\\n"
      "C:\\Windows\\Sysnative\\d.dll: failed 3\n"
      "C:\\Windows\\system32\\spool\\e.dat: copied in C:\\Windows\\System32\\\n"
      "system directory C:\\Windows\\System32\n"
      "\\??\\C:\\Windows\\System32\\a.dll -> !\\??\\C:\\Windows\\System32\\b.dll\n"
      "key HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts\\X\n"
      "key HKLM\\SOFTWARE\\Varentel\n"
      "key HKLM\\SYSTEM\\Varentel\n",
      Reached("win10"));
}

TEST(Wow64, LookUpsAndWhatA32BitCallerCannotDo) {
  TestMachine machine("win10-64");
  BOOL wow64 = FALSE;
  ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64));
  EXPECT_TRUE(wow64);
  char dir[MAX_PATH];
  EXPECT_EQ(strlen("C:\\Windows\\SysWOW64"), GetSystemWow64DirectoryA(dir, MAX_PATH));
  EXPECT_STREQ("C:\\Windows\\SysWOW64", dir);
  // With redirection off, System32 is the native folder.
  PVOID old = nullptr;
  ASSERT_TRUE(Wow64DisableWow64FsRedirection(&old));
  EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\Windows\\System32\\WNASPI32.DLL"));
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\Windows\\System32\\drivers\\..\\..\\SysWOW64\\nothere"));
  ASSERT_TRUE(Wow64RevertWow64FsRedirection(old));
  // No device installation from a 32-bit process.
  machine.Write("C:\\x.inf", ReadSourceFile("samples/payload/pulsario.inf"));
  EXPECT_FALSE(UpdateDriverForPlugAndPlayDevicesA(nullptr, "*varentel\\pulsario", "C:\\x.inf", 0, nullptr));
  EXPECT_EQ(DWORD(ERROR_IN_WOW64), GetLastError());
  // A 64-bit process: no modules, but its image path.
  HANDLE explorer = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, 3824);
  ASSERT_NE(nullptr, explorer);
  HMODULE module;
  DWORD needed = 0;
  EXPECT_FALSE(EnumProcessModules(explorer, &module, sizeof module, &needed));
  EXPECT_EQ(DWORD(ERROR_PARTIAL_COPY), GetLastError());
  EXPECT_TRUE(IsWow64Process(explorer, &wow64));
  EXPECT_FALSE(wow64);
  char image[MAX_PATH];
  DWORD size = 5;
  EXPECT_FALSE(QueryFullProcessImageNameA(explorer, 0, image, &size));
  EXPECT_EQ(DWORD(ERROR_INSUFFICIENT_BUFFER), GetLastError());
  size = MAX_PATH;
  ASSERT_TRUE(QueryFullProcessImageNameA(explorer, 0, image, &size));
  EXPECT_STREQ("C:\\Windows\\explorer.exe", image);
  EXPECT_EQ(strlen(image), size);
  CloseHandle(explorer);
}

// ---- whole runs on the 64-bit templates ----

bool EndsWithNoCase(const std::string &text, const char *tail) {
  size_t n = strlen(tail);
  return text.size() >= n && strcasecmp(text.c_str() + text.size() - n, tail) == 0;
}

bool StartsWithNoCase(const std::string &text, const char *head) {
  return strncasecmp(text.c_str(), head, strlen(head)) == 0;
}

std::string PayloadHash(const char *name) {
  std::ifstream in(winsim::SamplesDir() + "/payload/v2/" + name, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return winsim::FormatHash(winsim::Fnv1a64(bytes.data(), bytes.size()));
}

class Wow64Run : public ::testing::TestWithParam<std::string> {};

// A run with both arguments and the restart: the native System32 untouched,
// the 32-bit system folder holding the new engine, no staged file left
// anywhere, no device node, the engine in the 32-bit Run key, no box.
TEST_P(Wow64Run, FullRunAndRestartInstallInto32BitViewAndLeaveTheNativeOneAlone) {
  TestMachine machine(GetParam());
  std::string error;
  ASSERT_TRUE(winsim::InstallPayload("v2", &error)) << error;
  ASSERT_TRUE(winsim::InsertDisc('D', &error)) << error;
  machine.MakeDir("C:\\Program Files\\Korvix");
  winsim::Config().commandLine = "\"C:\\VARSETUP\\VARSETUP.EXE\" \"C:\\Program Files\\Korvix\" korvix";
  ASSERT_TRUE(winsim::SaveConfig(&error)) << error;
  winsim::MachineSnapshot before, after;
  ASSERT_TRUE(winsim::TakeSnapshot(machine.Dir(), &before, &error)) << error;

  char arguments[] = "";
  EXPECT_EQ(0, WinMain(nullptr, nullptr, arguments, 1));
  ASSERT_TRUE(winsim::RestartMachine(&error)) << error;
  ASSERT_TRUE(winsim::TakeSnapshot(machine.Dir(), &after, &error)) << error;

  std::map<std::string, std::string> nativeBefore, nativeAfter;
  std::string staged, engine;
  for (const auto &f : before.files)
    if (StartsWithNoCase(f.first, "C:\\Windows\\System32\\")) nativeBefore[f.first] = f.second.hash;
  for (const auto &f : after.files) {
    if (StartsWithNoCase(f.first, "C:\\Windows\\System32\\")) nativeAfter[f.first] = f.second.hash;
    for (const char *tail : {".DL", ".EX", ".NT"})
      if (StartsWithNoCase(f.first, "C:\\Windows\\") && EndsWithNoCase(f.first, tail))
        staged += f.first + "\n";
  }
  EXPECT_TRUE(nativeBefore == nativeAfter) << winsim::DiffDumps(before, after);
  EXPECT_EQ("", staged);
  EXPECT_TRUE(after.pendingMoves.empty());
  for (const char *name : {"PULSARIO.DLL", "PULSARIO.EXE"}) {
    std::string path = std::string("C:\\Windows\\SysWOW64\\") + name;
    ASSERT_TRUE(after.files.count(path)) << path << "\n" << winsim::DiffDumps(before, after);
    EXPECT_FALSE(before.files.count(path));
    EXPECT_EQ(PayloadHash(name), after.files.at(path).hash) << path;
  }
  for (const auto &v : after.values)
    if (v.first.find("Realtime Audio Engine") != std::string::npos) engine += v.first + "\n";
  EXPECT_EQ("HKLM\\SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run\\\\Realtime Audio Engine\n",
            engine);
  for (const std::string &k : after.keys) EXPECT_EQ(std::string::npos, k.find("REALTIME")) << k;
  EXPECT_EQ((std::vector<std::string>{"restart"}), after.journal);
}

// A second run before the restart finds the ASPI moves of the first one
// pending (they name SysWOW64 as queued) and queues none of them again.
TEST(Wow64, SecondRunBeforeTheRestartQueuesNoAspiMoveTwice) {
  TestMachine machine("win10-64");
  std::string error;
  ASSERT_TRUE(winsim::InstallPayload("v2", &error)) << error;
  char arguments[] = "";
  for (int run = 0; run < 2; ++run) EXPECT_EQ(0, WinMain(nullptr, nullptr, arguments, 1));
  std::string aspi;
  for (const std::string &line : TextLines(Pending()))
    if (line.find("ASPI") != std::string::npos) aspi += line + "\n";
  EXPECT_EQ(
      "\\??\\C:\\Windows\\SysWOW64\\Drivers\\ASPI32.SYS -> !\\??\\C:\\Windows\\SysWOW64\\Drivers\\ASPI32.OLD\n"
      "\\??\\C:\\Windows\\SysWOW64\\Drivers\\ASPI32.NT -> !\\??\\C:\\Windows\\SysWOW64\\Drivers\\ASPI32.SYS\n"
      "\\??\\C:\\Windows\\SysWOW64\\WNASPI32.DLL -> !\\??\\C:\\Windows\\SysWOW64\\WNASPI32.OLD\n"
      "\\??\\C:\\Windows\\SysWOW64\\WNASPI32.NT -> !\\??\\C:\\Windows\\SysWOW64\\WNASPI32.DLL\n"
      "\\??\\C:\\Windows\\SYSTEM\\WINASPI.DLL -> !\\??\\C:\\Windows\\SYSTEM\\WINASPI.OLD\n"
      "\\??\\C:\\Windows\\SYSTEM\\WINASPI.NT -> !\\??\\C:\\Windows\\SYSTEM\\WINASPI.DLL\n",
      aspi);
}

// Under WOW64 without the 32-bit folder's name, no move below the system
// directory can be named safely: none is queued (the moves in the Windows
// directory's SYSTEM folder still are), and the IsWow64Process look-up
// failing alone changes nothing.
TEST(Wow64, UnknownSystemFolderQueuesNoMoveBelowTheSystemDirectory) {
  for (const char *failing : {"GetSystemWow64DirectoryA", "IsWow64Process"}) {
    TestMachine machine("win10-64");
    std::string error;
    ASSERT_TRUE(winsim::InstallPayload("v2", &error)) << error;
    FailCalls(failing, ERROR_ACCESS_DENIED);
    EXPECT_EQ(0, RunSetup());
    winsim::ClearFaults();
    std::string below;
    for (const std::string &line : TextLines(Pending()))
      if (line.find("\\SYSTEM\\") == std::string::npos) below += line + "\n";
    if (std::string(failing) == "IsWow64Process")
      EXPECT_NE(std::string::npos, below.find("SysWOW64\\PULSARIO.DLL\n")) << below;
    else
      EXPECT_EQ("", below);
    EXPECT_NE(std::string::npos, Pending().find("SYSTEM\\WINASPI.DLL")) << failing;
  }
}

// The names delayed moves get, for the system directory as each system
// reports it: below it, SysWOW64 under WOW64 (letters compared without
// case), the exempt folders and everything else as written; a 32-bit
// system (with or without the WOW64 look-ups, either one failing) and the
// 9x family change nothing; with the folder unknown (on a system that has
// the look-ups, both failing) no move below the system directory is named.
TEST(Wow64, DelayedMoveNames) {
  const char *const tails[] = {"\\PULSARIO.DL", "\\drivers\\A.SYS", "\\Drivers\\Etc\\hosts", "\\catroot2\\x",
                               "\\Spool\\x", "\\DriverStore\\x", "\\LogFiles\\x", "\\CatRoot\\x", "x\\A.DLL", "\\spool"};
  std::string out, previous;
  for (const char *machineName : {"win10-64", "win10", "win2k", "win98"}) {
    for (const char *fail : {"", "IsWow64Process", "GetSystemWow64DirectoryA", "both"}) {
      TestMachine machine(machineName);
      for (const char *call : {"IsWow64Process", "GetSystemWow64DirectoryA"})
        if (!strcmp(fail, call) || !strcmp(fail, "both")) FailCalls(call, ERROR_ACCESS_DENIED);
      char dir[MAX_PATH];
      GetSystemDirectoryA(dir, MAX_PATH);
      DetectPlatformFamily();
      DetectWow64(dir);
      winsim::ClearFaults();
      std::vector<std::string> paths = {"C:\\Windows\\SYSTEM\\WINASPI.DLL", "C:\\System32\\A",
                                        "D:\\Windows\\System32\\A.DLL"};
      for (const char *tail : tails) paths.push_back(dir + std::string(tail));
      std::string names;
      bool asWritten = true;
      for (const std::string &path : paths) {
        std::string name;
        bool named = DelayedMoveName(path, &name);
        names += named ? "  " + name + "\n" : std::string("  (none)\n");
        asWritten = asWritten && named && name == path;
      }
      out += std::string(machineName) + (*fail ? std::string(" without ") + fail : "") + ":" +
             (asWritten ? " as written\n" : names == previous ? " as above\n" : "\n" + names);
      previous = names;
    }
  }
  EXPECT_EQ(R"(win10-64:
  C:\Windows\SYSTEM\WINASPI.DLL
  C:\System32\A
  D:\Windows\System32\A.DLL
  C:\Windows\SysWOW64\PULSARIO.DL
  C:\Windows\SysWOW64\drivers\A.SYS
  C:\Windows\System32\Drivers\Etc\hosts
  C:\Windows\System32\catroot2\x
  C:\Windows\System32\Spool\x
  C:\Windows\System32\DriverStore\x
  C:\Windows\System32\LogFiles\x
  C:\Windows\System32\CatRoot\x
  C:\Windows\System32x\A.DLL
  C:\Windows\System32\spool
win10-64 without IsWow64Process: as above
win10-64 without GetSystemWow64DirectoryA:
  C:\Windows\SYSTEM\WINASPI.DLL
  C:\System32\A
  D:\Windows\System32\A.DLL
  (none)
  (none)
  C:\Windows\System32\Drivers\Etc\hosts
  C:\Windows\System32\catroot2\x
  C:\Windows\System32\Spool\x
  C:\Windows\System32\DriverStore\x
  C:\Windows\System32\LogFiles\x
  C:\Windows\System32\CatRoot\x
  C:\Windows\System32x\A.DLL
  C:\Windows\System32\spool
win10-64 without both: as above
win10: as written
win10 without IsWow64Process: as written
win10 without GetSystemWow64DirectoryA: as written
win10 without both:
  C:\Windows\SYSTEM\WINASPI.DLL
  C:\System32\A
  D:\Windows\System32\A.DLL
  (none)
  (none)
  C:\Windows\System32\Drivers\Etc\hosts
  C:\Windows\System32\catroot2\x
  C:\Windows\System32\Spool\x
  C:\Windows\System32\DriverStore\x
  C:\Windows\System32\LogFiles\x
  C:\Windows\System32\CatRoot\x
  C:\Windows\System32x\A.DLL
  C:\Windows\System32\spool
win2k: as written
win2k without IsWow64Process: as written
win2k without GetSystemWow64DirectoryA: as written
win2k without both: as written
win98: as written
win98 without IsWow64Process: as written
win98 without GetSystemWow64DirectoryA: as written
win98 without both: as written
)",
            out);
  // Every letter of the alphabet is compared without case.
  TestMachine machine("win10-64");
  DetectPlatformFamily();
  DetectWow64("C:\\AZaz\\System32");
  std::string name;
  EXPECT_TRUE(DelayedMoveName("c:\\azAZ\\SYSTEM32\\A.DLL", &name));
  EXPECT_EQ("C:\\Windows\\SysWOW64\\A.DLL", name);
}

INSTANTIATE_TEST_SUITE_P(Templates, Wow64Run, ::testing::Values("win10-64", "win7-64"));

}  // namespace
