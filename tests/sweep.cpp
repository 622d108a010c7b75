// The machinery of the fault and crash sweeps.
#include "sweep.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "payload.h"
#include "processes.h"

namespace fs = std::filesystem;

namespace sweep {

namespace {

const char kAppDir[] = "C:\\Program Files\\Korvix";

}  // namespace

void CopyTree(const std::string &from, const std::string &to) {
  fs::remove_all(to);
  fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
}

static std::string ReadAll(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// The hashes of every sample component file and disc file: the contents a
// file the run wrote may have.
static std::set<std::string> SampleHashes() {
  std::set<std::string> hashes;
  for (const char *sub : {"payload", "disc"})
    for (const auto &entry : fs::recursive_directory_iterator(winsim::SamplesDir() + "/" + sub))
      if (entry.is_regular_file()) {
        std::string bytes = ReadAll(entry.path());
        hashes.insert(winsim::FormatHash(winsim::Fnv1a64(bytes.data(), bytes.size())));
      }
  return hashes;
}

bool EndsWithNoCase(const std::string &text, const std::string &tail) {
  return text.size() >= tail.size() &&
         strcasecmp(text.c_str() + text.size() - tail.size(), tail.c_str()) == 0;
}

static bool IsProfile(const std::string &path) {
  return EndsWithNoCase(path, ".INI") || EndsWithNoCase(path, "\\WININIT.BAK");
}

// A profile file as the system and our readers take it: CR LF lines, no NUL,
// every line blank, a comment, a closed section header or a key line; no
// section header twice.
std::string ProfileProblem(const std::string &name, const std::vector<std::string> &lines) {
  std::set<std::string> sections;
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string line = lines[i];
    if (line.find('\0') != std::string::npos) return name + ": NUL in line " + std::to_string(i + 1);
    bool last = i + 1 == lines.size();
    if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0)
      line.resize(line.size() - 2);
    else if (!last)
      return name + ": line " + std::to_string(i + 1) + " not ended by CR LF";
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      if (line.back() != ']') return name + ": unclosed section header " + line;
      std::string upper = line;
      for (char &c : upper) c = char(toupper(static_cast<unsigned char>(c)));
      if (!sections.insert(upper).second) return name + ": section twice: " + line;
    }
  }
  return "";
}

static std::string ValueText(const winsim::RegValueState &v) {
  std::ostringstream out;
  out << "type " << v.type << " data";
  for (uint8_t b : v.data) out << ' ' << std::hex << int(b);
  return out.str();
}

// The calls whose failure may leave one file the run placed read-only: the
// look-up and the attribute change that make a copy writable.  A later run
// clears the attribute before it copies or replaces that file again.
static bool MayLeaveReadOnly(const std::string &call) {
  return call == "FindFirstFileA" || call == "GetFileAttributesA" || call == "SetFileAttributesA";
}

// The entries of [386Enh] in SYSTEM.INI's lines, without their line ends.
static std::vector<std::string> EnhEntries(const winsim::MachineSnapshot &s) {
  std::vector<std::string> entries;
  auto profile = s.profiles.find("SYSTEM.INI");
  if (profile == s.profiles.end()) return entries;
  bool inSection = false;
  for (std::string line : profile->second) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    if (!line.empty() && line[0] == '[') inSection = strcasecmp(line.c_str(), "[386Enh]") == 0;
    else if (inSection && !line.empty()) entries.push_back(line);
  }
  return entries;
}

std::string SweepDir(const std::string &kind, const std::string &name) {
  const char *binary = getenv("VARSETUP_BINARY_DIR");
  std::string base = binary ? binary : VARSETUP_BINARY_DIR;
  return base + "/" + kind + "/" + name;
}

void ReportFigures(const std::string &kind, const std::string &line) {
  std::printf("%s", line.c_str());
  std::ofstream(SweepDir(kind, "") + "figures.txt", std::ios::app) << line;
}

void Sweep::Prepare(const std::string &kind, const std::string &dirName) {
  base = SweepDir(kind, dirName);
  prepared = base + "/prepared";
  work = base + "/run";
  fs::remove_all(base);
  fs::create_directories(base);
  sampleHashes = SampleHashes();

  // The prepared machine: payload beside the program, the disc in the first
  // CD-ROM drive, an application directory, both arguments.
  std::string error;
  ASSERT_TRUE(winsim::CreateMachine(winsim::TemplateDir(templateName), prepared, &error))
      << error;
  ASSERT_TRUE(winsim::Attach(prepared, &error)) << error;
  char cdrom = 0;
  for (const auto &drive : winsim::Config().drives)
    if (drive.second == winsim::DriveKind::Cdrom && !cdrom) cdrom = drive.first;
  ASSERT_NE(0, cdrom) << "template without a CD-ROM drive";
  ASSERT_TRUE(winsim::InstallPayload("v2", &error)) << error;
  ASSERT_TRUE(winsim::InsertDisc(cdrom, &error)) << error;
  if (readOnlySources) {
    const std::string &program = winsim::Config().program;
    const std::string folder = program.substr(0, program.find_last_of('\\') + 1);
    for (const char *dir : {"/payload", "/payload/v2"})
      for (const auto &f : fs::directory_iterator(winsim::SamplesDir() + dir)) {
        if (!f.is_regular_file()) continue;
        ASSERT_TRUE(SetFileAttributesA((folder + f.path().filename().string()).c_str(),
                                       FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
      }
  }
  winsim::ResolvedPath app;
  ASSERT_EQ(0u, winsim::ResolvePath("C:\\Program Files", &app));
  fs::create_directories(app.host + "/Korvix");
  winsim::Config().commandLine = "\"" + winsim::Config().program + "\" \"" + kAppDir + "\" korvix";
  ASSERT_TRUE(winsim::SaveConfig(&error)) << error;
  before = Take();
  winsim::Detach();

}

void Sweep::RunClean(const std::function<void()> &checkRun) {
  ASSERT_TRUE(AttachCopy());
  winsim::EnableCallLog(true);
  ASSERT_EQ(0, Run());
  calls = winsim::CallLog();
  windowsDir = winsim::Config().windowsDir + "\\";
  for (char &c : windowsDir) c = char(toupper(static_cast<unsigned char>(c)));
  winsim::EnableCallLog(false);
  checkRun();
  std::string error;
  ASSERT_TRUE(winsim::RestartMachine(&error)) << error;
  reference = Take();
  CheckRestarted(0, "none");
  ASSERT_TRUE(failures.empty()) << failures.front();
  // The clean run did install: the engine is entered in the Run key.
  bool engine = false;
  for (const auto &v : reference.values)
    engine = engine || EndsWithNoCase(v.first, "\\CurrentVersion\\Run\\\\Realtime Audio Engine");
  EXPECT_TRUE(engine);
}

int Sweep::Run() {
  handlesBefore = winsim::OpenHandleCount();
  char arguments[] = "";  // the program reads its command line from the system
  return WinMain(nullptr, nullptr, arguments, 1);
}

bool Sweep::AttachCopy() {
  winsim::Detach();
  CopyTree(prepared, work);
  std::string error;
  if (!winsim::Attach(work, &error)) {
    ADD_FAILURE() << error;
    return false;
  }
  return true;
}

winsim::MachineSnapshot Sweep::Take() {
  winsim::MachineSnapshot s;
  std::string error;
  EXPECT_TRUE(winsim::TakeSnapshot(winsim::MachineDir(), &s, &error)) << error;
  return s;
}

void Sweep::Fail(unsigned long n, const std::string &call, const std::string &what) {
  failures.push_back("call " + std::to_string(n) + " (" + call + "): " + what);
}

std::string Sweep::CallName(unsigned long n) const {
  return calls[n - 1].substr(0, calls[n - 1].find(' '));
}

void Sweep::CheckRestarted(unsigned long n, const std::string &call) {
  const winsim::MachineSnapshot after = Take();
  std::set<std::string> beforeHashes;
  for (const auto &f : before.files) beforeHashes.insert(f.second.hash);
  for (const auto &f : before.files) {
    if (f.second.directory) continue;
    auto it = after.files.find(f.first);
    if (it == after.files.end()) {
      // WININIT.INI is consumed by the 9x start-up.
      if (!EndsWithNoCase(f.first, "\\WININIT.INI")) Fail(n, call, "file lost: " + f.first);
      continue;
    }
    if (IsProfile(f.first)) continue;
    if (it->second.hash != f.second.hash && !sampleHashes.count(it->second.hash))
      Fail(n, call, "file neither old nor new: " + f.first);
  }
  // What the run placed is writable, so that nothing it leaves blocks a
  // later run or another program's update.
  std::vector<std::string> readOnly;
  for (const auto &f : after.files) {
    auto old = before.files.find(f.first);
    if (!f.second.directory && (f.second.attributes & FILE_ATTRIBUTE_READONLY) &&
        (old == before.files.end() || old->second.hash != f.second.hash))
      readOnly.push_back(f.first);
  }
  if (readOnly.size() > (MayLeaveReadOnly(call) ? 1u : 0u))
    Fail(n, call, "read-only file placed: " + readOnly.front());
  for (const auto &f : after.files) {
    if (f.second.directory || before.files.count(f.first) || IsProfile(f.first)) continue;
    // A new file is a whole component file, or a live file moved aside.
    if (!sampleHashes.count(f.second.hash) && !beforeHashes.count(f.second.hash))
      Fail(n, call, "torn or foreign file: " + f.first);
    if (f.first.find(".tmp") != std::string::npos) Fail(n, call, "temporary file: " + f.first);
    std::string upper = f.first;
    for (char &c : upper) c = char(toupper(static_cast<unsigned char>(c)));
    if (upper.rfind(windowsDir, 0) != 0 && upper.rfind("C:\\PROGRAM FILES\\KORVIX\\", 0) != 0)
      Fail(n, call, "file written outside the system and application folders: " + f.first);
  }
  // Every value the run wrote holds what the clean run writes; nothing
  // else was removed.
  for (const auto &v : after.values) {
    auto old = before.values.find(v.first);
    if (old != before.values.end() && old->second.type == v.second.type &&
        old->second.data == v.second.data)
      continue;
    auto want = reference.values.find(v.first);
    if (want == reference.values.end())
      Fail(n, call, "value not written by a clean run: " + v.first + " " + ValueText(v.second));
    else if (want->second.type != v.second.type || want->second.data != v.second.data)
      Fail(n, call, "value " + v.first + " holds " + ValueText(v.second) + ", a clean run " +
                        ValueText(want->second));
  }
  for (const auto &v : before.values)
    if (!after.values.count(v.first) && reference.values.count(v.first))
      Fail(n, call, "value removed: " + v.first);
  for (const auto &profile : after.profiles) {
    std::string problem = ProfileProblem(profile.first, profile.second);
    if (!problem.empty()) Fail(n, call, "after the restart: " + problem);
  }
  // Every line of [386Enh] stays, as it was or disabled (";evice=...").
  const std::vector<std::string> enh = EnhEntries(after);
  for (const std::string &line : EnhEntries(before))
    if (std::find(enh.begin(), enh.end(), line) == enh.end() &&
        std::find(enh.begin(), enh.end(), ";" + line.substr(1)) == enh.end())
      Fail(n, call, "[386Enh] line lost: " + line);
}

}  // namespace sweep
