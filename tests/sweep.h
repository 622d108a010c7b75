// What the fault sweep and the crash sweep share: for one machine template,
// the prepared machine every run starts from (payload beside the program,
// the disc in the first CD-ROM drive, an application directory, both
// arguments), the clean run's call log and what it leaves after the
// restart, fresh copies of the machine per run, and the checks of a machine
// after the restart that completes a run.
#ifndef TESTS_SWEEP_H
#define TESTS_SWEEP_H

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "attributes.h"
#include "faults.h"
#include "journal.h"
#include "libraries.h"
#include "machine.h"
#include "paths.h"
#include "profiles.h"
#include "registry.h"
#include "regstore.h"
#include "restart.h"
#include "snapshot.h"
#include "wow64.h"
#include "report.h"

namespace sweep {

void CopyTree(const std::string &from, const std::string &to);
bool EndsWithNoCase(const std::string &text, const std::string &tail);
// What is wrong with a profile file's lines as the system and our readers
// take them, "" when nothing is.
std::string ProfileProblem(const std::string &name, const std::vector<std::string> &lines);
// build/host/<kind>/<name>: where a sweep keeps its machines and figures.
std::string SweepDir(const std::string &kind, const std::string &name);
// Prints a figures line and appends it to <kind>/figures.txt.
void ReportFigures(const std::string &kind, const std::string &line);

struct Sweep {
  std::string templateName;
  bool readOnlySources = false;  // payload and disc from read-only media
  std::string base;      // the sweep's directory
  std::string prepared;  // the machine every run starts from
  std::string work;      // the machine of the current run
  winsim::MachineSnapshot before;
  winsim::MachineSnapshot reference;  // after a clean run and the restart
  std::set<std::string> sampleHashes;
  std::vector<std::string> failures;
  std::vector<std::string> calls;  // the clean run's call log
  std::string windowsDir;          // upper-cased, with a trailing backslash
  size_t handlesBefore = 0;

  // Makes the prepared machine of `templateName` below SweepDir(kind, dirName);
  // a fatal test failure when that is impossible.
  void Prepare(const std::string &kind, const std::string &dirName);
  // The clean run on a fresh copy, with its call log; `checkRun` looks at the
  // machine before the restart.  Then the reference and its checks.
  void RunClean(const std::function<void()> &checkRun);
  // Runs the program as its process would: binding, run, release.
  int Run();
  // Attaches a fresh copy of the prepared machine as `work`.
  bool AttachCopy();
  winsim::MachineSnapshot Take();
  void Fail(unsigned long n, const std::string &call, const std::string &what);
  // The machine after the restart that completes the run: nothing lost,
  // nothing torn, nothing the run should not have written.
  void CheckRestarted(unsigned long n, const std::string &call);
  // The name of call n of the clean run (1 = the first).
  std::string CallName(unsigned long n) const;
};

}  // namespace sweep

#endif  // TESTS_SWEEP_H
