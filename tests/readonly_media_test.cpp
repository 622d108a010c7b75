// Runs from read-only media, and earlier restart entries: whatever sequence
// of runs and restarts, the live files end as the newest version and no
// file the tool placed stays read-only to block a later run.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "installer_checks.h"

using namespace checks;

namespace {

const char kAppDir[] = "C:\\Program Files\\Korvix";

// A machine whose payload and disc come from read-only media: the component
// files beside the program carry the read-only attribute (copied from a
// CD-ROM), and the disc in D: is read-only by nature.
class ReadOnlyMachine : public PayloadMachine {
 public:
  explicit ReadOnlyMachine(const std::string &name) : PayloadMachine(name, "v1") {
    MakeDir(kAppDir);
    winsim::Config().commandLine =
        "\"" + winsim::Config().program + "\" \"" + kAppDir + "\" korvix";
    std::string error;
    EXPECT_TRUE(winsim::SaveConfig(&error)) << error;
    EXPECT_TRUE(winsim::InsertDisc('D', &error)) << error;
    initial_ = Snapshot();
  }
  // Puts payload `version` beside the program, read-only, and a disc whose
  // files are marked with the version.
  void Load(const std::string &version) const {
    LoadPayload(version);
    for (const auto &f : std::filesystem::directory_iterator(winsim::SamplesDir() + "/payload/" + version))
      EXPECT_TRUE(SetFileAttributesA((Source() + f.path().filename().string()).c_str(),
                                     FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
    for (const char *name : {"OEM\\KORVIXOEM.DLL", "DATA\\DOC\\korvix-de.pdf", "DATA\\DOC\\korvix-en.pdf"})
      Write(std::string("D:\\") + name, "disc " + version);
  }
  // Marks every file the runs placed read-only, as a run of a version that
  // left its copies from read-only media as they came.
  void MarkPlacedReadOnly() const {
    for (const std::string &path : Placed(initial_))
      EXPECT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
  }
  // Files created or changed since `since`, outside the disc, the program's
  // folder and the profile files.
  std::vector<std::string> Placed(const winsim::MachineSnapshot &since) const {
    std::vector<std::string> out;
    for (const auto &f : Snapshot().files) {
      auto old = since.files.find(f.first);
      bool changed = old == since.files.end() || old->second.hash != f.second.hash ||
                     old->second.attributes != f.second.attributes;
      std::string upper = f.first;
      for (char &c : upper) c = char(toupper(static_cast<unsigned char>(c)));
      bool profile = upper.find("\\WININIT.") != std::string::npos ||
                     upper.find("\\SYSTEM.INI") != std::string::npos;
      if (changed && !f.second.directory && !profile && upper.rfind("D:", 0) != 0 &&
          f.first.rfind(Source(), 0) != 0)
        out.push_back(f.first);
    }
    return out;
  }
  std::vector<std::string> ReadOnly(const std::vector<std::string> &paths) const {
    std::vector<std::string> out;
    const winsim::MachineSnapshot now = Snapshot();  // native paths, as the dump names them
    for (const std::string &path : paths)
      if (now.files.at(path).attributes & FILE_ATTRIBUTE_READONLY) out.push_back(path);
    return out;
  }

 private:
  winsim::MachineSnapshot initial_;
};

struct Sequence {
  const char *machine;
  const char *steps;  // 1, 2: a run from read-only media with that version; r: restart;
                      // p: the placed files made read-only (an older run's leftovers)
};

class ReadOnlyMedia : public ::testing::TestWithParam<Sequence> {};

TEST_P(ReadOnlyMedia, LiveFilesEndNewestAndNothingPlacedIsReadOnly) {
  ReadOnlyMachine m(GetParam().machine);
  const std::string steps = GetParam().steps;
  bool aspiRerun = false;  // the layer is installed again only while its live file is absent
  winsim::MachineSnapshot beforeLastRun;
  for (size_t i = 0; i < steps.size(); ++i) {
    if (steps[i] == 'r') m.Restart();
    if (steps[i] == 'p') m.MarkPlacedReadOnly();
    if (steps[i] == '1' || steps[i] == '2') {
      m.Load(std::string("v") + steps[i]);
      beforeLastRun = Snapshot();
      ASSERT_EQ(0, RunSetup());
      aspiRerun = steps[i] == '2' && steps.find('r') > i;
    }
  }
  const bool nt = PlatformFamily == Family::WindowsNT;
  std::map<std::string, std::string> live = {
      {m.Sys("PULSARIO.DLL"), "PULSARIO.DLL"},
      {m.Sys("PULSARIO.EXE"), "PULSARIO.EXE"},
      {m.Sys(nt ? "DRIVERS\\PULSARIO.SYS" : "PULSARIO.VXD"), nt ? "PULSARIO.SYS" : "PULSARIO.VXD"},
      {m.Sys("FTD2XX.DLL"), "FTD2XX.DLL"},
      {m.Win("INF\\MAYA51USB.INF"), "MAYA51USB.INF"},
  };
  if (aspiRerun) live[m.Sys(nt ? "Drivers\\ASPI32.SYS" : "WNASPI32.DLL")] = nt ? "ASPI32.NT" : "WNASPI32.9x";
  // Read where the program reached (a 64-bit machine redirects its system folder).
  for (const auto &f : live)
    EXPECT_EQ(PayloadMachine::Payload("v2", f.second), m.Read(winsim::RedirectedPath(f.first.c_str()))) << f.first;
  EXPECT_EQ("disc v2", m.Read(std::string(kAppDir) + "\\KORVIXOEM.DLL"));
  EXPECT_EQ("disc v2", m.Read(std::string(kAppDir) + "\\korvix-en.pdf"));
  // What the last run and the restart placed is writable.
  const std::vector<std::string> placed = m.Placed(beforeLastRun);
  EXPECT_LT(5u, placed.size());
  EXPECT_EQ(std::vector<std::string>{}, m.ReadOnly(placed));
  EXPECT_EQ(std::vector<std::string>{}, BoxTexts());
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, ReadOnlyMedia,
    ::testing::Values(Sequence{"win98", "12r"}, Sequence{"win98", "1r2r"},
                      Sequence{"win98", "1p2r"}, Sequence{"win98", "1rp2r"},
                      Sequence{"winxp", "12r"}, Sequence{"winxp", "1r2r"},
                      Sequence{"winxp", "1p2r"}, Sequence{"winxp", "1rp2r"},
                      Sequence{"win10", "1rp2r"}, Sequence{"win2k", "1p2r"},
                      Sequence{"win10-64", "12r"}, Sequence{"win10-64", "1rp2r"}),
    [](const ::testing::TestParamInfo<Sequence> &info) {
      std::string name = std::string(info.param.machine) + "_" + info.param.steps;
      for (char &c : name)
        if (c == '-') c = '_';
      return name;
    });

// On the 9x family another program (or an earlier run) may have queued a
// line for a live name before the run.  Such a line keeps its place when
// written again; the tool's own line for that name must still come after
// every earlier line that moves the name away (the ASPI backup line, or
// another program's), or the restart would move the new file off again.
TEST(EarlierRenameKeys, EveryLiveNameEndsWithTheNewFile) {
  PayloadMachine m("win98");
  const std::string sys = m.SystemDir() + "\\";
  m.Write(sys + "OTHER.DLL", "another program's update");
  m.Write(sys + "PULSARIO.DLL", "old kernel dll");
  m.Write(sys + "PULSARIO.EXE", "old engine");
  std::string ini = "[rename]\r\n";
  for (const char *live : {"WNASPI32.DLL", "WINASPI.DLL", "ASPIENUM.VXD", "IOSUBSYS\\APIX.VXD"})
    ini += sys + live + "=" + sys + "OTHER.DLL\r\n";
  // The kernel's live names: another program's update, then its own backup
  // of the live file, queued in this order before our run.
  for (std::string live : {"PULSARIO.DLL", "PULSARIO.EXE"})
    ini += sys + live + "=" + sys + "OTHER.DLL\r\n" + sys + live.substr(0, 11) + "_=" + sys + live + "\r\n";
  m.Write(m.Win("WININIT.INI"), ini);

  ASSERT_EQ(0, RunSetup());
  m.Restart();
  const std::map<std::string, std::string> live = {
      {"WNASPI32.DLL", "WNASPI32.9x"}, {"WINASPI.DLL", "WINASPI.9x"},
      {"ASPIENUM.VXD", "ASPIENUM.9x"}, {"IOSUBSYS\\APIX.VXD", "APIX.9x"},
      {"PULSARIO.DLL", "PULSARIO.DLL"}, {"PULSARIO.EXE", "PULSARIO.EXE"}};
  for (const auto &f : live)
    EXPECT_EQ(PayloadMachine::Payload("v2", f.second), m.Read(sys + f.first)) << f.first;
  // Each line appears once: the old line was moved, not copied.
  const std::vector<std::string> lines = SectionLines(m.Read(m.Win("WININIT.BAK")), "rename");
  EXPECT_EQ(12u, lines.size());
}

}  // namespace
