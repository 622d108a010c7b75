// Small readers shared by the component installer tests: registry values,
// profile sections, pending moves, message boxes, and a machine carrying a
// payload beside its program.
#ifndef TESTS_INSTALLER_CHECKS_H
#define TESTS_INSTALLER_CHECKS_H

#include <windows.h>

#include <gtest/gtest.h>

#include <strings.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "deploy/deploy.h"
#include "machine.h"
#include "payload.h"
#include "report.h"
#include "setup/setup.h"
#include "test_machine.h"

namespace checks {

struct RegRead {
  bool found = false;
  DWORD type = 0;
  std::vector<BYTE> data;
};

inline RegRead ReadValue(const std::string &key, const std::string &name) {
  RegRead out;
  HKEY h;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return out;
  DWORD size = 0;
  if (RegQueryValueExA(h, name.c_str(), nullptr, &out.type, nullptr, &size) == ERROR_SUCCESS) {
    out.data.resize(size);
    out.found = RegQueryValueExA(h, name.c_str(), nullptr, &out.type, out.data.data(), &size) ==
                ERROR_SUCCESS;
    out.data.resize(size);
  }
  RegCloseKey(h);
  return out;
}

inline std::vector<BYTE> Sz(const std::string &text) {
  std::vector<BYTE> bytes(text.begin(), text.end());
  bytes.push_back(0);
  return bytes;
}

inline std::vector<BYTE> Dword(DWORD v) {
  return {BYTE(v), BYTE(v >> 8), BYTE(v >> 16), BYTE(v >> 24)};
}

// Lines of one section of a profile file's text (blank lines left out).
inline std::vector<std::string> SectionLines(const std::string &text, const std::string &section) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  bool inside = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] == '[') {
      inside = strcasecmp(line.c_str(), ("[" + section + "]").c_str()) == 0;
      continue;
    }
    if (inside && !line.empty()) lines.push_back(line);
  }
  return lines;
}

// The texts of the installer's message boxes, in the order they were shown.
inline std::vector<std::string> BoxTexts() {
  std::vector<std::string> texts;
  const std::string caption = "caption=" + winsim::QuoteText(InstallerTitle) + " text=";
  for (const std::string &line : JournalLines("messagebox")) {
    size_t at = line.find(caption);
    if (at != std::string::npos) texts.push_back(line.substr(at + caption.size()));
  }
  return texts;
}

// The delayed moves the next start carries out: source, target, source,
// target... as stored (a deletion's target is "").
inline std::vector<std::string> PendingMoves() {
  std::vector<std::string> out;
  for (const auto &move : QueuedMoves()) {
    out.push_back(move.first);
    out.push_back(move.second);
  }
  return out;
}

inline winsim::MachineSnapshot Snapshot() {
  winsim::MachineSnapshot s;
  std::string error;
  EXPECT_TRUE(winsim::TakeSnapshot(winsim::MachineDir(), &s, &error)) << error;
  return s;
}

// The [registry] lines of the attached machine's dump for `path` below
// HKEY_LOCAL_MACHINE (a key, or a value as the dump names it: KEY\\"NAME")
// and all below it, `path` itself cut off the front: "key ", "key \SUB",
// "value \\@ REG_SZ \"text\"".  The whole of what a writer left there, in
// the dump's order, for one comparison with the lines expected.
inline std::vector<std::string> RegistryDumpLines(const std::string &path) {
  const std::string prefix = "HKLM\\" + path;
  std::vector<std::string> out;
  std::istringstream dump(winsim::FormatDump(Snapshot()));
  std::string line;
  bool inRegistry = false;
  while (std::getline(dump, line)) {
    if (!line.empty() && line[0] == '[') inRegistry = line == "[registry]";
    size_t space = line.find(' ');
    if (!inRegistry || space == std::string::npos) continue;
    std::string rest = line.substr(space + 1);
    if (rest.size() >= prefix.size() && strncasecmp(rest.c_str(), prefix.c_str(), prefix.size()) == 0 &&
        (rest.size() == prefix.size() || rest[prefix.size()] == '\\' || rest[prefix.size()] == ' '))
      out.push_back(line.substr(0, space + 1) + rest.substr(prefix.size()));
  }
  return out;
}

// A machine from a template with payload `version` beside the program, and
// the product's platform family set from it.
class PayloadMachine : public TestMachine {
 public:
  explicit PayloadMachine(const std::string &templateName, const std::string &version = "v2")
      : TestMachine(templateName) {
    LoadPayload(version);
    PlatformFamily = winsim::Config().Is9x() ? Family::Windows9x : Family::WindowsNT;
    const std::string &program = winsim::Config().program;
    source_ = program.substr(0, program.find_last_of('\\') + 1);
  }
  void LoadPayload(const std::string &version) const {
    std::string error;
    EXPECT_TRUE(winsim::InstallPayload(version, &error)) << error;
  }
  const std::string &Source() const { return source_; }
  std::string WindowsDir() const { return winsim::Config().windowsDir; }
  std::string SystemDir() const { return winsim::Config().systemDir; }
  std::string Sys(const std::string &name) const { return SystemDir() + "\\" + name; }
  std::string Win(const std::string &name) const { return WindowsDir() + "\\" + name; }
  static std::string Payload(const std::string &version, const std::string &name) {
    std::ifstream in(winsim::SamplesDir() + "/payload/" + version + "/" + name, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
  }
  void Restart() const {
    std::string error;
    EXPECT_TRUE(winsim::RestartMachine(&error)) << error;
  }

 private:
  std::string source_;
};

}  // namespace checks

#endif  // TESTS_INSTALLER_CHECKS_H
