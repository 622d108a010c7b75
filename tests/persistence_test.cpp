// winsim's own files survive a process killed in the middle of a write: the
// registry hives and the profile files hold the old or the new content,
// never a torn one, whenever the writer dies.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "report.h"
#include "test_machine.h"

namespace {

// Runs `writes` in a child process attached to the machine and kills it
// `microseconds` after the child has attached; returns once it is gone.
template <typename Writes>
void KillWhileWriting(const std::string &dir, useconds_t microseconds, Writes writes) {
  int ready[2];
  ASSERT_EQ(0, pipe(ready));
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(ready[0]);
    std::string error;
    if (!winsim::Attach(dir, &error)) _exit(3);
    if (write(ready[1], "r", 1) != 1) _exit(4);
    writes();
    _exit(0);
  }
  close(ready[1]);
  char byte;
  ASSERT_EQ(1, read(ready[0], &byte, 1)) << "the writer could not attach the machine";
  close(ready[0]);
  usleep(microseconds);
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
}

// The values "N<i>" the registry writer left: a gap-free run 0..count-1,
// each holding its own number.
void ExpectWholeRun(HKEY root, const char *path, int *count) {
  HKEY key;
  *count = 0;
  if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  for (;; ++*count) {
    std::string name = "N" + std::to_string(*count);
    DWORD data = 0, size = sizeof data, type = 0;
    if (RegQueryValueExA(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE *>(&data),
                         &size) != ERROR_SUCCESS)
      break;
    EXPECT_EQ(DWORD(REG_DWORD), type);
    EXPECT_EQ(DWORD(*count), data);
  }
  RegCloseKey(key);
}

TEST(Persistence, RegistryHiveIsWholeWheneverTheWriterDies) {
  TestMachine machine("winxp");
  winsim::Detach();
  int lastCount = 0;
  for (int round = 0; round < 12; ++round) {
    KillWhileWriting(machine.Dir(), 3000 + round * 2500, [] {
      HKEY key;
      RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Persist", 0, nullptr, 0, KEY_ALL_ACCESS,
                      nullptr, &key, nullptr);
      // Continue after the values already there.
      DWORD n = 0;
      while (RegQueryValueExA(key, ("N" + std::to_string(n)).c_str(), nullptr, nullptr, nullptr,
                              nullptr) == ERROR_SUCCESS)
        ++n;
      for (;; ++n) {
        std::string name = "N" + std::to_string(n);
        RegSetValueExA(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE *>(&n), 4);
      }
    });
    // The strict REGEDIT4 reader accepts the hive, and it holds a whole run.
    std::string error;
    ASSERT_TRUE(winsim::Attach(machine.Dir(), &error)) << "round " << round << ": " << error;
    int count = 0;
    ExpectWholeRun(HKEY_LOCAL_MACHINE, "SOFTWARE\\Persist", &count);
    EXPECT_GE(count, lastCount) << "round " << round << ": values written before were lost";
    lastCount = count;
    winsim::Detach();
  }
  EXPECT_GT(lastCount, 0) << "the writer never got to write";
  std::string error;
  ASSERT_TRUE(winsim::Attach(machine.Dir(), &error)) << error;  // for the fixture's clean-up
}

TEST(Persistence, ProfileFileIsWholeWheneverTheWriterDies) {
  TestMachine machine("win98");
  const std::string original = machine.Read("C:\\WINDOWS\\SYSTEM.INI");
  winsim::Detach();
  for (int round = 0; round < 12; ++round) {
    KillWhileWriting(machine.Dir(), 3000 + round * 2500, [] {
      for (int n = 0;; ++n)
        WritePrivateProfileStringA("Persist", ("K" + std::to_string(n % 64)).c_str(),
                                   std::to_string(n).c_str(), "SYSTEM.INI");
    });
    // Every line of the file is one the writer meant: the original lines
    // stand unchanged before the [Persist] section, whose lines are whole.
    std::string error;
    ASSERT_TRUE(winsim::Attach(machine.Dir(), &error)) << error;
    std::string text = machine.Read("C:\\WINDOWS\\SYSTEM.INI");
    winsim::Detach();
    ASSERT_EQ(0u, text.compare(0, original.size(), original)) << "round " << round;
    std::vector<std::string> added = TextLines(text.substr(original.size()));
    if (added.empty()) continue;
    EXPECT_EQ("[Persist]", added[0]) << "round " << round;
    for (size_t i = 1; i < added.size(); ++i)
      EXPECT_EQ(0u, added[i].rfind("K" + std::to_string(i - 1) + "=", 0))
          << "round " << round << " line " << added[i];
    EXPECT_EQ('\n', text.back()) << "round " << round << ": last line cut";
  }
  std::string error;
  ASSERT_TRUE(winsim::Attach(machine.Dir(), &error)) << error;
}

}  // namespace
