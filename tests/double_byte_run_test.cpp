// Whole runs on machines whose ANSI code page has characters of more than
// one byte: Japanese Windows 98 and XP (Shift-JIS, where "表" is 95 5C and
// "ソ" 83 5C) and Windows 10 with UTF-8 as the ANSI code page.  The program
// lives in a folder named with such characters, and so does the application
// directory; the engine's settings key has subkeys named with them.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "installer_checks.h"

namespace {

struct RunCase {
  const char *templateName;
  UINT codePage;
  std::string name;  // "表ソ": contains "表" and ends in "ソ"
};

void PrintTo(const RunCase &run, std::ostream *out) { *out << run.templateName << " " << run.codePage; }

const RunCase kRuns[] = {
    {"win98-ja", 932, "\x95\x5C\x83\x5C"},
    {"winxp-ja", 932, "\x95\x5C\x83\x5C"},
    {"win10-utf8", 65001, "\xE8\xA1\xA8\xE3\x82\xBD"},
};

std::string Swap(std::string text, const std::string &from, const std::string &to) {
  for (size_t at = 0; from != to && (at = text.find(from, at)) != std::string::npos; at += to.size())
    text.replace(at, from.size(), to);
  return text;
}

// The snapshot with `from` renamed `to` everywhere.  The content of
// WININIT.INI and WININIT.BAK names paths: it is compared through the
// profile lines instead of the hash.
winsim::MachineSnapshot Renamed(const winsim::MachineSnapshot &in, const std::string &from,
                                const std::string &to) {
  winsim::MachineSnapshot out;
  for (const auto &f : in.files) {
    winsim::FileState state = f.second;
    std::string path = Swap(f.first, from, to);
    std::string upper = path;
    for (char &c : upper) c = char(toupper(static_cast<unsigned char>(c)));
    if (upper.find("\\WININIT.") != std::string::npos) state = winsim::FileState();
    out.files[path] = state;
  }
  for (const std::string &key : in.keys) out.keys.push_back(Swap(key, from, to));
  std::sort(out.keys.begin(), out.keys.end());
  for (const auto &v : in.values) {
    winsim::RegValueState state = v.second;
    std::string data(state.data.begin(), state.data.end());
    data = Swap(data, from, to);
    state.data.assign(data.begin(), data.end());
    out.values[Swap(v.first, from, to)] = state;
  }
  for (const auto &p : in.profiles)
    for (const std::string &line : p.second) out.profiles[p.first].push_back(Swap(line, from, to));
  for (const auto &m : in.pendingMoves) out.pendingMoves.push_back({Swap(m.first, from, to), Swap(m.second, from, to)});
  for (const std::string &line : in.journal) out.journal.push_back(Swap(line, from, to));
  return out;
}

const char kEngine[] = "Software\\Varentel\\Engine";

struct RunResult {
  winsim::MachineSnapshot afterRun, afterRestart;
};

// A whole run with the program at C:\<name>\<name>.EXE, the application
// directory "C:\Program Files\<name>", and the engine settings key holding
// <name>\<name> and Plain.  `check` looks at the machine after the run.
template <class Check>
RunResult RunWithNames(const RunCase &run, const std::string &name, Check check) {
  TestMachine machine(run.templateName);
  winsim::MachineConfig &config = winsim::Config();
  config.codePage = run.codePage;
  const std::string folder = "C:\\" + name;
  const std::string appDir = "C:\\Program Files\\" + name;
  config.program = folder + "\\" + name + ".EXE";
  config.currentDir = folder;
  config.commandLine = "\"" + config.program + "\" \"" + appDir + "\" korvix";
  std::string error;
  EXPECT_TRUE(winsim::SaveConfig(&error)) << error;
  machine.Write(config.program, "MZ");
  machine.MakeDir(appDir);
  EXPECT_TRUE(winsim::InstallPayload("v2", &error)) << error;
  EXPECT_TRUE(winsim::InsertDisc('D', &error)) << error;
  for (const std::string &sub : {std::string(kEngine) + "\\" + name + "\\" + name, std::string(kEngine) + "\\Plain"}) {
    HKEY key;
    EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, sub.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &key, nullptr));
    RegCloseKey(key);
  }
  EXPECT_EQ(0, RunSetup());
  check(machine, appDir);
  RunResult result;
  result.afterRun = checks::Snapshot();
  EXPECT_TRUE(winsim::RestartMachine(&error)) << error;
  result.afterRestart = checks::Snapshot();
  return result;
}

class DoubleByteRun : public ::testing::TestWithParam<RunCase> {};

// Every file lands where it lands in the same run with plain ASCII names,
// and the settings key is gone with its subkeys: after the run and after
// the restart, the two machines differ only by the names.
TEST_P(DoubleByteRun, DeploysAsWithPlainNamesAndDeletesTheSettingsKey) {
  const RunCase &run = GetParam();
  const std::string plain(run.name.size(), 'Q');
  const RunResult named = RunWithNames(run, run.name, [&](const TestMachine &m, const std::string &appDir) {
    for (const char *file : {"KORVIXOEM.DLL", "korvix-de.pdf", "korvix-en.pdf"})
      EXPECT_TRUE(m.Exists(appDir + "\\" + file)) << file;
    EXPECT_TRUE(m.Exists(winsim::Config().systemDir + "\\FTD2XX.DLL"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kEngine));
    EXPECT_TRUE(checks::BoxTexts().empty());
  });
  const RunResult ascii = RunWithNames(run, plain, [](const TestMachine &, const std::string &) {});
  EXPECT_EQ("", winsim::DiffDumps(Renamed(ascii.afterRun, plain, plain), Renamed(named.afterRun, run.name, plain)));
  EXPECT_EQ("", winsim::DiffDumps(Renamed(ascii.afterRestart, plain, plain),
                                  Renamed(named.afterRestart, run.name, plain)));
}

INSTANTIATE_TEST_SUITE_P(Machines, DoubleByteRun, ::testing::ValuesIn(kRuns),
                         [](const ::testing::TestParamInfo<RunCase> &info) {
                           std::string name = info.param.templateName;
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name + "_" + std::to_string(info.param.codePage);
                         });

// WithBackslash looks at the last character: a name ending in "ソ" (83 5C)
// has no backslash on code page 932, while the same bytes end in one on code
// page 1252, where 5C is always a backslash.
TEST(WithBackslash, LooksAtTheLastCharacter) {
  TestMachine machine("winxp-ja");
  struct Row {
    UINT codePage;
    std::string path;
    BYTE mode;
    std::string result;
  };
  const Row rows[] = {
      {932, "C:\\\x95\x5C\x83\x5C", 1, "C:\\\x95\x5C\x83\x5C\\"},
      {932, "C:\\\x95\x5C\x83\x5C\\", 1, "C:\\\x95\x5C\x83\x5C\\"},
      {932, "C:\\\x95\x5C\x83\x5C", 2, "C:\\\x95\x5C\x83\x5C"},
      {932, "C:\\\x95\x5C\x83\x5C\\", 2, "C:\\\x95\x5C\x83\x5C"},
      {1252, "C:\\\x83\x5C", 1, "C:\\\x83\x5C"},
      {1252, "C:\\\x83\x5C", 2, "C:\\\x83"},
      {65001, "C:\\\xE3\x82\xBD", 1, "C:\\\xE3\x82\xBD\\"},
  };
  for (const Row &row : rows) {
    winsim::Config().codePage = row.codePage;
    EXPECT_EQ(row.result, WithBackslash(row.path, row.mode)) << row.codePage << " " << row.path;
  }
}

}  // namespace
