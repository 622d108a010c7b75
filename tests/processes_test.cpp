// The simulated machine's processes: Toolhelp, PSAPI, process handles.
#include <gtest/gtest.h>
#include <tlhelp32.h>
#include <windows.h>

#include <cstring>

#include "machine.h"
#include "processes.h"
#include "test_machine.h"

namespace {

template <typename Fn>
FARPROC AsFarProc(Fn *fn) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void *>(fn));
}

const DWORD kStale = 0xdeadbeef;

void SetProcesses(std::vector<winsim::SimProcess> list) { winsim::Config().processes = list; }

// A Windows 98 machine: Toolhelp snapshots report full image paths.
class ToolhelpTest : public ::testing::Test {
 protected:
  ToolhelpTest() : machine_("win98") {
    winsim::Config().platform = VER_PLATFORM_WIN32_WINDOWS;
    SetProcesses({{1, "C:\\WINDOWS\\SYSTEM\\KERNEL32.DLL", false},
                  {2, "C:\\WINDOWS\\EXPLORER.EXE", false},
                  {3, "C:\\PROGRAM FILES\\KORVIX\\KORVIX.EXE", false}});
  }
  ~ToolhelpTest() override { EXPECT_EQ(handles_, winsim::OpenHandleCount()); }
  TestMachine machine_;
  size_t handles_ = winsim::OpenHandleCount();
};

TEST_F(ToolhelpTest, WalksEverySnapshotEntryThenReportsNoMoreFiles) {
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  ASSERT_NE(INVALID_HANDLE_VALUE, snap);
  // The list is the one of the moment the snapshot was taken.
  SetProcesses({{9, "C:\\LATE.EXE", false}});
  PROCESSENTRY32 e;
  memset(&e, 0xAB, sizeof e);
  e.dwSize = sizeof e;
  ASSERT_EQ(296u, sizeof e);
  ASSERT_TRUE(Process32First(snap, &e));
  EXPECT_EQ(1u, e.th32ProcessID);
  EXPECT_STREQ("C:\\WINDOWS\\SYSTEM\\KERNEL32.DLL", e.szExeFile);
  EXPECT_EQ(296u, e.dwSize);
  ASSERT_TRUE(Process32Next(snap, &e));
  ASSERT_TRUE(Process32Next(snap, &e));
  EXPECT_EQ(3u, e.th32ProcessID);
  EXPECT_STREQ("C:\\PROGRAM FILES\\KORVIX\\KORVIX.EXE", e.szExeFile);
  for (int i = 0; i < 2; ++i) {
    SetLastError(kStale);
    EXPECT_FALSE(Process32Next(snap, &e));
    EXPECT_EQ(DWORD(ERROR_NO_MORE_FILES), GetLastError());
  }
  // First starts over.
  ASSERT_TRUE(Process32First(snap, &e));
  EXPECT_EQ(1u, e.th32ProcessID);
  EXPECT_TRUE(CloseHandle(snap));
  SetLastError(kStale);
  EXPECT_FALSE(CloseHandle(snap));
  EXPECT_EQ(DWORD(ERROR_INVALID_HANDLE), GetLastError());
}

TEST_F(ToolhelpTest, RecordSizeBelowTheStructureIsRefusedAboveIsAccepted) {
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  ASSERT_NE(INVALID_HANDLE_VALUE, snap);
  PROCESSENTRY32 e[2];
  memset(e, 0, sizeof e);
  e[0].dwSize = sizeof e[0] - 1;
  SetLastError(kStale);
  EXPECT_FALSE(Process32First(snap, &e[0]));
  EXPECT_EQ(DWORD(ERROR_INSUFFICIENT_BUFFER), GetLastError());
  EXPECT_FALSE(Process32Next(snap, &e[0]));
  e[0].dwSize = sizeof e[0] + 40;
  EXPECT_TRUE(Process32First(snap, &e[0]));
  EXPECT_EQ(DWORD(sizeof e[0] + 40), e[0].dwSize);
  CloseHandle(snap);
}

TEST_F(ToolhelpTest, NtFamilyReportsTheBareFileNameAndSnapshotWithoutProcessesIsEmpty) {
  winsim::Config().platform = VER_PLATFORM_WIN32_NT;
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32 e;
  e.dwSize = sizeof e;
  ASSERT_TRUE(Process32First(snap, &e));
  EXPECT_STREQ("KERNEL32.DLL", e.szExeFile);
  CloseHandle(snap);

  HANDLE threads = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  ASSERT_NE(INVALID_HANDLE_VALUE, threads);
  SetLastError(kStale);
  EXPECT_FALSE(Process32First(threads, &e));
  EXPECT_EQ(DWORD(ERROR_NO_MORE_FILES), GetLastError());
  CloseHandle(threads);
}

TEST_F(ToolhelpTest, FaultsAndBadHandles) {
  FailCalls("CreateToolhelp32Snapshot", ERROR_NOT_ENOUGH_MEMORY);
  SetLastError(kStale);
  EXPECT_EQ(INVALID_HANDLE_VALUE, CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  EXPECT_EQ(DWORD(ERROR_NOT_ENOUGH_MEMORY), GetLastError());
  winsim::ClearFaults();
  PROCESSENTRY32 e;
  e.dwSize = sizeof e;
  SetLastError(kStale);
  EXPECT_FALSE(Process32First(reinterpret_cast<HANDLE>(uintptr_t(0x1234)), &e));
  EXPECT_EQ(DWORD(ERROR_INVALID_HANDLE), GetLastError());
}

// An XP machine: PSAPI and process handles.
class PsapiTest : public ::testing::Test {
 protected:
  PsapiTest() : machine_("winxp") {
    winsim::Config().platform = VER_PLATFORM_WIN32_NT;
    SetProcesses({{0, "[System Process]", true},
                  {4, "System", true},
                  {376, "\\SystemRoot\\System32\\smss.exe", false},
                  {1512, "C:\\Program Files\\Korvix\\KorvixTavern.exe", false}});
  }
  ~PsapiTest() override { EXPECT_EQ(handles_, winsim::OpenHandleCount()); }
  TestMachine machine_;
  size_t handles_ = winsim::OpenHandleCount();
};

TEST_F(PsapiTest, EnumProcessesReportsBytesWrittenAndNeverFailsForASmallBuffer) {
  DWORD ids[8];
  DWORD returned = kStale;
  memset(ids, 0xAB, sizeof ids);
  EXPECT_TRUE(EnumProcesses(ids, sizeof ids, &returned));
  EXPECT_EQ(16u, returned);
  EXPECT_EQ(0u, ids[0]);
  EXPECT_EQ(1512u, ids[3]);
  EXPECT_EQ(0xABABABABu, ids[4]);

  memset(ids, 0xAB, sizeof ids);
  EXPECT_TRUE(EnumProcesses(ids, 8, &returned));  // two of four
  EXPECT_EQ(8u, returned);
  EXPECT_EQ(0xABABABABu, ids[2]);
  EXPECT_TRUE(EnumProcesses(ids, 6, &returned));  // rounded down to whole ids
  EXPECT_EQ(4u, returned);
  EXPECT_TRUE(EnumProcesses(ids, 0, &returned));
  EXPECT_EQ(0u, returned);
}

TEST_F(PsapiTest, OpenProcessRefusesIdleUnknownAndProtectedProcesses) {
  struct { DWORD id; DWORD error; } refused[] = {
      {0, ERROR_INVALID_PARAMETER}, {4, ERROR_ACCESS_DENIED}, {999, ERROR_INVALID_PARAMETER}};
  for (auto r : refused) {
    SetLastError(kStale);
    EXPECT_EQ(nullptr, OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, r.id)) << r.id;
    EXPECT_EQ(r.error, GetLastError()) << r.id;
  }
  FailCalls("OpenProcess", ERROR_NOT_ENOUGH_MEMORY, 1);
  SetLastError(kStale);
  EXPECT_EQ(nullptr, OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, 376));
  EXPECT_EQ(DWORD(ERROR_NOT_ENOUGH_MEMORY), GetLastError());
  HANDLE h = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, 376);
  ASSERT_NE(nullptr, h);
  EXPECT_TRUE(CloseHandle(h));
}

TEST_F(PsapiTest, FirstModuleIsTheExeAndTheCountCoversAllModules) {
  HANDLE h = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, 1512);
  ASSERT_NE(nullptr, h);
  HMODULE mods[2] = {nullptr, reinterpret_cast<HMODULE>(uintptr_t(0x55))};
  DWORD needed = 0;
  ASSERT_TRUE(EnumProcessModules(h, mods, sizeof(HMODULE), &needed));
  EXPECT_GT(needed, DWORD(sizeof(HMODULE)));  // exe, ntdll, kernel32 at least
  EXPECT_EQ(0u, needed % sizeof(HMODULE));
  EXPECT_EQ(reinterpret_cast<HMODULE>(uintptr_t(0x55)), mods[1]);
  char name[MAX_PATH];
  EXPECT_EQ(40u, GetModuleFileNameExA(h, mods[0], name, sizeof name));
  EXPECT_STREQ("C:\\Program Files\\Korvix\\KorvixTavern.exe", name);
  EXPECT_EQ(40u, GetModuleFileNameExA(h, nullptr, name, sizeof name));  // null = the exe
  CloseHandle(h);

  // Query access alone does not let the modules be read.
  h = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, 1512);
  SetLastError(kStale);
  EXPECT_FALSE(EnumProcessModules(h, mods, sizeof(HMODULE), &needed));
  EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), GetLastError());
  CloseHandle(h);
}

TEST_F(PsapiTest, ModuleFileNameIsCutAndTerminatedWhenTooLong) {
  HANDLE h = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, 376);
  ASSERT_NE(nullptr, h);
  const std::string full = "\\SystemRoot\\System32\\smss.exe";  // 29 characters
  char name[64];
  memset(name, 'x', sizeof name);
  EXPECT_EQ(8u, GetModuleFileNameExA(h, nullptr, name, 8));
  EXPECT_STREQ("\\System", name);
  EXPECT_EQ('x', name[8]);
  EXPECT_EQ(29u, GetModuleFileNameExA(h, nullptr, name, 29));  // no room for the zero
  EXPECT_EQ(full.substr(0, 28), name);
  EXPECT_EQ(29u, GetModuleFileNameExA(h, nullptr, name, 30));
  EXPECT_EQ(full, name);
  SetLastError(kStale);
  EXPECT_EQ(0u, GetModuleFileNameExA(h, reinterpret_cast<HMODULE>(uintptr_t(0x1000)), name, 64));
  EXPECT_EQ(DWORD(ERROR_INVALID_HANDLE), GetLastError());
  CloseHandle(h);
}

TEST_F(PsapiTest, GetProcAddressHandsOutOnlyWhatTheMachineListsForTheLibrary) {
  std::string psapi = winsim::Config().systemDir + "\\PSAPI.DLL";
  machine_.Write(psapi, "MZ");
  auto &libraries = winsim::Config().libraries;
  libraries[winsim::PathKey(psapi)] = {"EnumProcesses", "GetModuleFileNameExA"};
  HMODULE lib = LoadLibraryA(psapi.c_str());
  ASSERT_NE(nullptr, lib);
  EXPECT_EQ(AsFarProc(&EnumProcesses), GetProcAddress(lib, "EnumProcesses"));
  SetLastError(kStale);
  EXPECT_EQ(nullptr, GetProcAddress(lib, "EnumProcessModules"));
  EXPECT_EQ(DWORD(ERROR_PROC_NOT_FOUND), GetLastError());
  FreeLibrary(lib);

  // NT 4.0's kernel32 has no Toolhelp functions.
  std::string kernel = winsim::Config().systemDir + "\\KERNEL32.DLL";
  machine_.Write(kernel, "MZ");
  libraries[winsim::PathKey(kernel)] = {"LoadLibraryA"};
  lib = LoadLibraryA("KERNEL32.DLL");
  ASSERT_NE(nullptr, lib);
  EXPECT_EQ(nullptr, GetProcAddress(lib, "CreateToolhelp32Snapshot"));
  libraries[winsim::PathKey(kernel)] = {"CreateToolhelp32Snapshot"};
  EXPECT_EQ(AsFarProc(&CreateToolhelp32Snapshot),
            GetProcAddress(lib, "CreateToolhelp32Snapshot"));
  FreeLibrary(lib);
}

// Every process starts with kernel32 and the program's imports mapped: a
// bare name finds them, a load hands out the same handle and releasing it
// unmaps nothing, and the system copy exports the entry points winsim
// implements, where a planted copy of the same name exports nothing.
TEST(StartModules, KernelAndImportsAreThereFromTheStartOnEveryFamily) {
  for (const char *name : {"win95", "nt40", "winxp", "win7-64"}) {
    SCOPED_TRACE(name);
    TestMachine m(name);
    HMODULE k = GetModuleHandleA("kernel32");
    ASSERT_NE(nullptr, k);
    EXPECT_EQ(k, GetModuleHandleA("KERNEL32.DLL"));
    EXPECT_NE(nullptr, GetModuleHandleA("advapi32"));
    EXPECT_NE(nullptr, GetModuleHandleA("User32.dll"));
    SetLastError(kStale);
    EXPECT_EQ(nullptr, GetModuleHandleA("kernel32."));  // the dot: a name without extension
    EXPECT_EQ(DWORD(ERROR_MOD_NOT_FOUND), GetLastError());
    const winsim::MachineConfig &c = winsim::Config();
    char path[MAX_PATH];
    ASSERT_NE(0u, GetModuleFileNameA(k, path, sizeof path));
    EXPECT_EQ(winsim::PathKey((c.wow64 ? winsim::Wow64SystemDir() : c.systemDir) + "\\KERNEL32.DLL"),
              winsim::PathKey(path));
    EXPECT_EQ(AsFarProc(&GetDriveTypeA), GetProcAddress(k, "GetDriveTypeA"));
    EXPECT_EQ(AsFarProc(&RegOpenKeyExA), GetProcAddress(GetModuleHandleA("advapi32"), "RegOpenKeyExA"));
    EXPECT_EQ(k, LoadLibraryA("kernel32"));
    EXPECT_TRUE(FreeLibrary(k));
    EXPECT_TRUE(FreeLibrary(k));
    EXPECT_EQ(0u, winsim::LoadedModuleCount());
    EXPECT_EQ(k, GetModuleHandleA("kernel32"));

    std::string planted = c.program.substr(0, c.program.rfind('\\')) + "\\KERNEL32.DLL";
    m.Write(planted, "MZ");
    HMODULE copy = LoadLibraryA(planted.c_str());
    ASSERT_NE(nullptr, copy);
    EXPECT_NE(k, copy);
    SetLastError(kStale);
    EXPECT_EQ(nullptr, GetProcAddress(copy, "GetDriveTypeA"));
    EXPECT_EQ(DWORD(ERROR_PROC_NOT_FOUND), GetLastError());
    EXPECT_TRUE(FreeLibrary(copy));
    SetLastError(kStale);
    EXPECT_EQ(nullptr, GetProcAddress(copy, "GetDriveTypeA"));  // unmapped
    EXPECT_EQ(DWORD(ERROR_MOD_NOT_FOUND), GetLastError());
    SetLastError(kStale);
    EXPECT_EQ(0u, GetModuleFileNameA(copy, path, sizeof path));
    EXPECT_EQ(DWORD(ERROR_MOD_NOT_FOUND), GetLastError());
    EXPECT_EQ(nullptr, GetProcAddress(k, reinterpret_cast<LPCSTR>(uintptr_t(1))));  // an ordinal
  }
}

}  // namespace
