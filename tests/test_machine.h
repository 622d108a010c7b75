// A fresh simulated machine per test, made from a template and attached.
#ifndef TESTS_TEST_MACHINE_H
#define TESTS_TEST_MACHINE_H

#include <string>
#include <utility>
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
#include "restart_queue.h"
#include "snapshot.h"
#include "wow64.h"

class TestMachine {
 public:
  // Creates the machine from samples/machines/<templateName> in a new
  // temporary directory and attaches it; the test fails when that is
  // impossible.
  explicit TestMachine(const std::string &templateName);
  ~TestMachine();
  TestMachine(const TestMachine &) = delete;
  TestMachine &operator=(const TestMachine &) = delete;

  const std::string &Dir() const { return dir_; }
  // Host path of a Windows path on this machine ("C:\WINDOWS\X" ->
  // ".../drives/c/WINDOWS/X"), resolved case-insensitively; "" if missing.
  std::string Host(const std::string &windowsPath) const;
  bool Exists(const std::string &windowsPath) const;
  std::string Read(const std::string &windowsPath) const;
  // Writes a file (creating missing folders on the way, as a test set-up).
  void Write(const std::string &windowsPath, const std::string &content) const;
  void MakeDir(const std::string &windowsPath) const;
  void Remove(const std::string &windowsPath) const;
  // Detaches and attaches again, so that state is read back from disk.
  void Reattach() const;

 private:
  std::string dir_;
};

// The directory of the source tree (samples/ lives there).
std::string SourceTree();
// The content of a file of the source tree ("samples/payload/pulsario.inf").
std::string ReadSourceFile(const std::string &relativePath);
// The lines of a text, without their line ends (CR LF or LF).
std::vector<std::string> TextLines(const std::string &text);
// Makes the calls named `call` ("*": any call) fail with `error`: the `nth`
// one, or all (0); with `pathContains`, only calls naming such a path.
void FailCalls(const std::string &call, DWORD error, unsigned long nth = 0,
               const std::string &pathContains = "");

// ---- readers of the attached machine ----

// The key of the delayed moves, below HKEY_LOCAL_MACHINE, and its value.
using winsim::kPendingValue;
using winsim::kSessionManager;
// PendingFileRenameOperations as stored (type and bytes); nullptr when the
// value is missing.
const winsim::reg::Value *PendingValue();
// The moves the next start carries out, read by the restart's own rules
// (winsim::PendingPairs): (source, target) as stored, target "" = delete.
std::vector<std::pair<std::string, std::string>> QueuedMoves();
// The journal's lines of one kind ("messagebox", "system-error-box"), whole.
std::vector<std::string> JournalLines(const std::string &kind);
// Whether the key exists: it opens for reading (and is closed again).
bool KeyExists(HKEY root, const std::string &keyPath);

#endif  // TESTS_TEST_MACHINE_H
