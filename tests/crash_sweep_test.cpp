// A run ended at every point: for each machine template the calls of a clean
// run are counted, then for every N the program runs in a child process that
// ends right after call N returns (winsim ends it on entering call N + 1,
// before that call does anything; no code of the program runs after it).
// On a copy of what it left, the machine restarts: nothing is lost.  On a
// second copy, setup runs again to its end and the machine restarts: the
// machine equals that of one clean run and its restart, apart from the
// journal, which also holds the boxes the ended run showed.
#include <windows.h>

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "sweep.h"

namespace fs = std::filesystem;

namespace {

// The status the ended child exits with, and the one of a child whose run
// came to its end (when N is the last call).
const int kEndedStatus = 86;
const int kFinishedStatus = 87;

// Runs the program on `machine` in a child process that ends on entering
// call n + 1; the child's exit status, or -1.
int RunEndedAfter(sweep::Sweep &sweep, const std::string &machine, unsigned long n) {
  winsim::Detach();
  std::fflush(nullptr);
  pid_t child = fork();
  if (child == 0) {
    std::string error;
    if (!winsim::Attach(machine, &error)) _exit(2);
    winsim::FaultRule end;
    end.call = "*";
    end.nth = n + 1;
    end.endProcessStatus = kEndedStatus;
    winsim::AddFault(end);
    sweep.Run();
    _exit(kFinishedStatus);
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// The one loss a restart right after an ended run may show: the ASPI row
// queues the move of a live file to its backup name and then the move of
// the staged file to the live name, and a run ended between the two leaves
// the live name empty at the restart (the file is at its backup name).
// Delayed moves are registered one at a time, so no order of them closes
// that window; setup started again queues the replacement.
bool EndedBetweenBackupAndReplacement(const winsim::MachineSnapshot &ended, const std::string &failure) {
  const std::string lost = "file lost: ";
  if (failure.rfind(lost, 0) != 0 || ended.pendingMoves.empty()) return false;
  const auto &last = ended.pendingMoves.back();
  const std::string path = failure.substr(lost.size());
  return last.first == "\\??\\" + path && sweep::EndsWithNoCase(last.second, ".OLD");
}

// Attaches `machine`; false (and a failure) when it cannot be.
bool AttachMachine(sweep::Sweep &sweep, unsigned long n, const std::string &machine) {
  std::string error;
  if (winsim::Attach(machine, &error)) return true;
  sweep.Fail(n, "attach", error);
  return false;
}

// The machine of setup started again after run n ended equals `clean`, the
// machine of one clean run at the same stage; its journal holds the ended
// run's boxes (`endedJournal`), then those of the clean run.
void CompareWithCleanRun(sweep::Sweep &sweep, unsigned long n, const std::string &stage,
                         const std::vector<std::string> &endedJournal,
                         const winsim::MachineSnapshot &clean, winsim::MachineSnapshot result) {
  std::vector<std::string> journal = endedJournal;
  journal.insert(journal.end(), clean.journal.begin(), clean.journal.end());
  if (result.journal != journal)
    sweep.Fail(n, sweep.CallName(n), stage + ": the journal is not the ended run's and a clean run's");
  result.journal = clean.journal;
  std::string diff = winsim::DiffDumps(clean, result);
  if (!diff.empty()) sweep.Fail(n, sweep.CallName(n), stage + ", not one clean run's machine:\n" + diff);
}

class CrashSweep : public ::testing::TestWithParam<std::string> {};

TEST_P(CrashSweep, EveryRunEndedAtAnyCallThenStartedAgainLeavesOneCleanRun) {
  sweep::Sweep sweep;
  sweep.templateName = GetParam();
  sweep.Prepare("crash_sweep", sweep.templateName);
  if (HasFatalFailure()) return;
  winsim::MachineSnapshot cleanRun;  // before its restart
  sweep.RunClean([&] { cleanRun = sweep.Take(); });
  if (HasFatalFailure()) return;
  winsim::Detach();

  const std::string again = sweep.base + "/again";
  unsigned long runs = 0, accepted = 0;
  std::string error;
  for (unsigned long n = 1; n <= sweep.calls.size(); ++n) {
    const std::string call = sweep.CallName(n);
    sweep::CopyTree(sweep.prepared, sweep.work);
    int status = RunEndedAfter(sweep, sweep.work, n);
    ++runs;
    if (status != (n < sweep.calls.size() ? kEndedStatus : kFinishedStatus)) {
      sweep.Fail(n, call, "the run did not end there: status " + std::to_string(status));
      continue;
    }
    sweep::CopyTree(sweep.work, again);

    // The restart after the ended run: nothing lost, nothing torn.
    if (!AttachMachine(sweep, n, sweep.work)) continue;
    const winsim::MachineSnapshot ended = sweep.Take();
    if (!winsim::RestartMachine(&error)) sweep.Fail(n, call, "restart: " + error);
    const size_t failuresBefore = sweep.failures.size();
    sweep.CheckRestarted(n, call);
    for (size_t i = sweep.failures.size(); i-- > failuresBefore;) {
      const std::string &failure = sweep.failures[i];
      if (!EndedBetweenBackupAndReplacement(ended, failure.substr(failure.find("): ") + 3))) continue;
      sweep.failures.erase(sweep.failures.begin() + long(i));
      ++accepted;
    }

    // Setup started again to its end, then the restart: one clean run.
    if (!AttachMachine(sweep, n, again)) continue;
    int code = sweep.Run();
    ++runs;
    if (code != 0) sweep.Fail(n, call, "the run started again exits with " + std::to_string(code));
    CompareWithCleanRun(sweep, n, "before the restart", ended.journal, cleanRun, sweep.Take());
    if (!winsim::RestartMachine(&error)) sweep.Fail(n, call, "restart: " + error);
    CompareWithCleanRun(sweep, n, "after the restart", ended.journal, sweep.reference, sweep.Take());
    winsim::Detach();
  }

  char line[200];
  std::snprintf(line, sizeof line, "crash sweep %s: %zu points, %lu runs, %zu divergences\n",
                sweep.templateName.c_str(), sweep.calls.size(), runs, sweep.failures.size());
  sweep::ReportFigures("crash_sweep", line);
  if (accepted > 0) {
    std::snprintf(line, sizeof line,
                  "  accepted: %lu points ended between a backup move and its replacement\n", accepted);
    sweep::ReportFigures("crash_sweep", line);
  }
  for (size_t i = 0; i < sweep.failures.size() && i < 40; ++i)
    ADD_FAILURE() << sweep.templateName << ": " << sweep.failures[i];
  EXPECT_EQ(2 * sweep.calls.size(), runs);
  fs::remove_all(sweep.base);
}

INSTANTIATE_TEST_SUITE_P(Templates, CrashSweep,
                         ::testing::Values("win95", "win98", "winme", "nt40", "win2k", "winxp",
                                           "win10", "win10-64", "win7-64", "win98-ja", "winxp-ja",
                                           "win10-utf8"),
                         [](const ::testing::TestParamInfo<std::string> &info) {
                           std::string name = info.param;
                           for (char &c : name)
                             if (c == '-') c = '_';
                           return name;
                         });

}  // namespace
