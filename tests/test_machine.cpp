#include "test_machine.h"

#include "deploy/deploy.h"
#include "machine_text.h"
#include "setup/setup.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

std::string SourceTree() { return VARSETUP_SOURCE_DIR; }

std::string ReadSourceFile(const std::string &relativePath) {
  std::ifstream in(SourceTree() + "/" + relativePath, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

std::vector<std::string> TextLines(const std::string &text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

void FailCalls(const std::string &call, DWORD error, unsigned long nth, const std::string &pathContains) {
  winsim::FaultRule rule;
  rule.call = call;
  rule.error = error;
  rule.nth = nth;
  rule.pathContains = pathContains;
  winsim::AddFault(rule);
}

const winsim::reg::Value *PendingValue() {
  winsim::reg::Key *key = winsim::reg::Find(winsim::reg::Root(HKEY_LOCAL_MACHINE), kSessionManager);
  return key ? winsim::reg::FindValue(key, kPendingValue) : nullptr;
}

std::vector<std::pair<std::string, std::string>> QueuedMoves() {
  const winsim::reg::Value *value = PendingValue();
  if (!value) return {};
  return winsim::PendingPairs(std::vector<uint8_t>(value->data.begin(), value->data.end()));
}

std::vector<std::string> JournalLines(const std::string &kind) {
  std::vector<std::string> lines;
  for (const std::string &line : winsim::ReadJournal())
    if (line.rfind(kind + " ", 0) == 0) lines.push_back(line);
  return lines;
}

bool KeyExists(HKEY root, const std::string &keyPath) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, keyPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

TestMachine::TestMachine(const std::string &templateName) {
  char pattern[] = "/tmp/varsetup-test-XXXXXX";
  char *made = mkdtemp(pattern);
  if (!made) ADD_FAILURE() << "cannot make a temporary directory";
  dir_ = std::string(made ? made : "/tmp/varsetup-test-failed") + "/machine";
  std::string error;
  if (!winsim::CreateMachine(winsim::TemplateDir(templateName), dir_, &error))
    ADD_FAILURE() << "cannot create machine: " << error;
  if (!winsim::Attach(dir_, &error)) ADD_FAILURE() << "cannot attach machine: " << error;
  // A new machine is a new process of the program too: installers called
  // directly start from its state, not from what an earlier test's run found.
  ResetRunState();
}

TestMachine::~TestMachine() {
  // What the test opened it closed: a key handle left open is a leak of
  // the code under test (or of the test).
  EXPECT_EQ(0u, winsim::OpenKeyCount()) << "a registry key stayed open";
  winsim::Detach();
  std::string parent = dir_.substr(0, dir_.rfind('/'));
  if (!getenv("KEEP_TEST_MACHINES") && parent.rfind("/tmp/varsetup-test-", 0) == 0) {
    std::string command = "rm -rf '" + parent + "'";
    if (system(command.c_str()) != 0) ADD_FAILURE() << "cannot remove " << parent;
  }
}

std::string TestMachine::Host(const std::string &windowsPath) const {
  winsim::ResolvedPath r;
  if (winsim::ResolvePath(windowsPath.c_str(), &r) != 0 || !r.exists) return "";
  return r.host;
}

bool TestMachine::Exists(const std::string &windowsPath) const { return !Host(windowsPath).empty(); }

std::string TestMachine::Read(const std::string &windowsPath) const {
  std::ifstream in(Host(windowsPath), std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void TestMachine::MakeDir(const std::string &windowsPath) const {
  // Create each missing component in turn (a root needs nothing).
  if (windowsPath.size() <= 3) return;
  // Split by characters of the machine's code page (a double-byte name may
  // hold a 0x5C byte).
  std::string sofar = windowsPath.substr(0, 2);
  for (const std::string &part : winsim::SplitAtChar(windowsPath.substr(3), '\\')) {
    sofar += "\\" + part;
    winsim::ResolvedPath r;
    ASSERT_EQ(0u, winsim::ResolvePath(sofar.c_str(), &r)) << sofar;
    if (!r.exists) {
      ASSERT_EQ(0, mkdir(r.host.c_str(), 0755)) << r.host;
    }
  }
}

void TestMachine::Write(const std::string &windowsPath, const std::string &content) const {
  MakeDir(windowsPath.substr(0, winsim::FindLastChar(windowsPath, "\\")));
  winsim::ResolvedPath r;
  ASSERT_EQ(0u, winsim::ResolvePath(windowsPath.c_str(), &r)) << windowsPath;
  std::ofstream out(r.host, std::ios::binary | std::ios::trunc);
  out << content;
}

void TestMachine::Remove(const std::string &windowsPath) const {
  std::string host = Host(windowsPath);
  if (!host.empty()) {
    std::string command = "rm -rf '" + host + "'";
    ASSERT_EQ(0, system(command.c_str()));
  }
}

void TestMachine::Reattach() const {
  winsim::Detach();
  std::string error;
  if (!winsim::Attach(dir_, &error)) ADD_FAILURE() << "cannot attach machine: " << error;
}
