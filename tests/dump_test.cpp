// The canonical dump, its reader, the diff and the change report.
#include <algorithm>
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "changes.h"
#include "report.h"
#include "test_machine.h"

namespace {

using winsim::MachineSnapshot;

// The bytes of a literal, inner zeros included.
#define BYTES(literal) std::string(literal, sizeof(literal) - 1)

void SetValue(const std::string &key, const std::string &name, DWORD type, const std::string &data) {
  winsim::reg::Key *k = winsim::reg::Create(winsim::reg::Root(HKEY_LOCAL_MACHINE), key, nullptr);
  winsim::reg::SetValue(k, name, type, reinterpret_cast<const BYTE *>(data.data()), DWORD(data.size()));
  winsim::reg::Save(k);
}

MachineSnapshot Snap(const TestMachine &m) {
  MachineSnapshot s;
  std::string error;
  EXPECT_TRUE(winsim::TakeSnapshot(m.Dir(), &s, &error)) << error;
  return s;
}

std::vector<std::string> SectionLines(const std::string &dump, const std::string &section) {
  std::istringstream in(dump);
  std::string line;
  std::vector<std::string> out;
  bool inside = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line[0] == '[') inside = line == "[" + section + "]";
    else if (inside) out.push_back(line);
  }
  return out;
}

// A machine holding every kind of state the dump shows, in awkward forms.
class DumpTest : public ::testing::Test {
 protected:
  DumpTest() : m_("winxp") {
    m_.Write("C:\\Data\\b.txt", "bee");
    m_.Write("C:\\Data\\A File.txt", BYTES("a\0b"));
    winsim::ResolvedPath r;
    winsim::ResolvePath("C:\\Data\\b.txt", &r);
    winsim::StoreAttributes(r, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    m_.Write("C:\\WINDOWS\\WININIT.INI", "[rename]\r\nNUL=C:\\OLD.TMP \r\n\"q\"\r\n\r\nlast\n tail");
    SetValue("SOFTWARE\\Dump", "", REG_SZ, BYTES("with\0zero\0"));
    SetValue("SOFTWARE\\Dump", "Raw", REG_SZ, "no terminator");
    SetValue("SOFTWARE\\Dump", "Multi", REG_MULTI_SZ, BYTES("a\0\0b\0\0"));
    SetValue("SOFTWARE\\Dump", "BadMulti", REG_MULTI_SZ, BYTES("a"));
    SetValue("SOFTWARE\\Dump", "Bin", REG_BINARY, BYTES("\x01\xff"));
    SetValue("SOFTWARE\\Dump", "Short", REG_DWORD, BYTES("\x01\x02"));
    SetValue("SOFTWARE\\Dump", "Odd", 11, "12345678");
    SetValue("SOFTWARE\\Dump", "\"@\"", REG_DWORD, BYTES("\x10\0\0\0"));
    SetValue(kSessionManager, kPendingValue,
             REG_MULTI_SZ, BYTES("\\??\\C:\\S.DL_\0!\\??\\C:\\S.DLL\0\\??\\C:\\GONE\0\0\0"));
    SetValue("SYSTEM\\CurrentControlSet\\Enum\\Root\\MEDIA\\0000", "HardwareID", REG_MULTI_SZ,
             BYTES("ROOT\\VAR1\0\0"));
    SetValue("SYSTEM\\CurrentControlSet\\Enum\\Root\\MEDIA\\0000", "Class", REG_SZ,
             BYTES("MEDIA\0"));
    winsim::JournalAppend("messagebox flags=0x00000010 caption=\"Setup\" text=\"x\"");
  }
  TestMachine m_;
};

TEST_F(DumpTest, IsSortedExactAndRoundTrips) {
  std::string dump = winsim::FormatDump(Snap(m_));
  EXPECT_EQ(dump, winsim::FormatDump(Snap(m_)));
  ASSERT_EQ(0u, dump.find("winsim-dump 1\n[files]\n"));

  std::vector<std::string> files = SectionLines(dump, "files");
  auto path = [](const std::string &l) { return l.substr(l.rfind(" C:\\") + 1); };
  for (size_t i = 1; i < files.size(); ++i) EXPECT_LT(path(files[i - 1]), path(files[i]));
  EXPECT_NE(dump.find("file attr=0x00000003 size=3 fnv=" +
                      winsim::FormatHash(winsim::Fnv1a64("bee", 3)) + " C:\\Data\\b.txt\n"),
            std::string::npos);
  EXPECT_NE(dump.find("dir  attr=0x00000010 C:\\Data\n"), std::string::npos);

  std::vector<std::string> expectedValues = {
      "value HKLM\\SOFTWARE\\Dump\\\\@ REG_SZ \"with\\x00zero\"",
      "value HKLM\\SOFTWARE\\Dump\\\\\"Raw\" REG_SZ \"no terminator\" unterminated",
      "value HKLM\\SOFTWARE\\Dump\\\\\"Multi\" REG_MULTI_SZ [\"a\", \"\", \"b\"]",
      "value HKLM\\SOFTWARE\\Dump\\\\\"BadMulti\" REG_MULTI_SZ hex:61",
      "value HKLM\\SOFTWARE\\Dump\\\\\"Bin\" REG_BINARY hex:01,ff",
      "value HKLM\\SOFTWARE\\Dump\\\\\"Short\" REG_DWORD hex:01,02",
      "value HKLM\\SOFTWARE\\Dump\\\\\"Odd\" 11 hex:31,32,33,34,35,36,37,38",
      "value HKLM\\SOFTWARE\\Dump\\\\\"\\\"@\\\"\" REG_DWORD 0x00000010",
  };
  for (const std::string &v : expectedValues) EXPECT_NE(dump.find(v + "\n"), std::string::npos) << v;

  std::vector<std::string> profiles = SectionLines(dump, "profiles");
  ASSERT_GE(profiles.size(), 6u);
  EXPECT_EQ((std::vector<std::string>{"profile WININIT.INI | [rename]",
                                      "profile WININIT.INI | \"NUL=C:\\\\OLD.TMP \\x0d\\x0a\"",
                                      "profile WININIT.INI | \"\\\"q\\\"\\x0d\\x0a\"",
                                      "profile WININIT.INI |",
                                      "profile WININIT.INI | \"last\\x0a\"",
                                      "profile WININIT.INI | \" tail\""}),
            std::vector<std::string>(profiles.end() - 6, profiles.end()));
  EXPECT_EQ((std::vector<std::string>{"move \\??\\C:\\S.DL_ -> !\\??\\C:\\S.DLL",
                                      "delete \\??\\C:\\GONE"}),
            SectionLines(dump, "pending"));
  // The template's own device nodes are listed too; the one made here is
  // among them with its hardware ID and class.
  std::vector<std::string> devices = SectionLines(dump, "devices");
  EXPECT_NE(std::find(devices.begin(), devices.end(),
                      "device Root\\MEDIA\\0000 hardware=[\"ROOT\\\\VAR1\"] class=\"MEDIA\" driver=-"),
            devices.end());
  EXPECT_TRUE(std::is_sorted(devices.begin(), devices.end()));

  MachineSnapshot parsed;
  std::string error;
  ASSERT_TRUE(winsim::ParseDump(dump, "d.txt", &parsed, &error)) << error;
  EXPECT_EQ(dump, winsim::FormatDump(parsed));
  MachineSnapshot original = Snap(m_);
  EXPECT_EQ(original.values.size(), parsed.values.size());
  for (const auto &v : original.values) {
    ASSERT_TRUE(parsed.values.count(v.first)) << v.first;
    EXPECT_EQ(v.second.data, parsed.values[v.first].data) << v.first;
    EXPECT_EQ(v.second.type, parsed.values[v.first].type) << v.first;
  }
  EXPECT_EQ(original.profiles, parsed.profiles);
  EXPECT_EQ(original.pendingMoves, parsed.pendingMoves);
}

TEST(DumpReader, RefusesMalformedDumpsWithFileAndLine) {
  const std::string sections = "[registry]\n[profiles]\n[pending]\n[devices]\n[journal]\n";
  const struct {
    std::string text, error;
  } cases[] = {
      {"winsim-dump 2\n", "d:1: expected \"winsim-dump 1\""},
      {"winsim-dump 1\n[registry]\n", "d:2: expected section [files]"},
      {"winsim-dump 1\n[files]\n", "d:3: missing section [registry]"},
      {"winsim-dump 1\n[files]\nfile attr=0x00000020 size=01 fnv=0000000000000000 C:\\A\n",
       "d:3: bad size"},
      {"winsim-dump 1\n[files]\ndir  attr=0x00000010 C:\\B\ndir  attr=0x00000010 C:\\A\n",
       "d:4: files out of order or repeated: C:\\A"},
      {"winsim-dump 1\n[files]\n[registry]\nvalue HKLM\\A\\\\@ REG_DWORD 0x00000001\n",
       "d:4: value outside its key"},
      {"winsim-dump 1\n[files]\n[registry]\nkey HKLM\\A\nvalue HKLM\\A\\\\\"x\" REG_SZ \"\\x41\"\n",
       "d:5: bad value data"},
      {"winsim-dump 1\n[files]\n[registry]\nkey HKLM\\A\nvalue HKLM\\A\\\\@ REG_BINARY hex:1\n",
       "d:5: bad value data"},
      {"winsim-dump 1\n[files]\n[registry]\nkey HKLM\\A\nvalue HKLM\\A\\\\@ REG_DWORD 0x00000001",
       "d:5: last line not terminated"},
      {"winsim-dump 1\n[files]\n[registry]\n[profiles]\n[pending]\n[devices]\n"
       "device ROOT\\X\\0 hardware=- class=- driver=-\n[journal]\n",
       "d:7: devices do not match the registry: expected no more devices"},
      {"winsim-dump 1\n[files]\n" + sections + "[extra]\n", "d:8: unexpected [extra] after the last section"},
  };
  for (const auto &c : cases) {
    MachineSnapshot s;
    s.journal.push_back("untouched");
    std::string error;
    EXPECT_FALSE(winsim::ParseDump(c.text, "d", &s, &error)) << c.text;
    EXPECT_EQ(c.error, error) << c.text;
    EXPECT_EQ(1u, s.journal.size());  // the output is left alone on failure
  }
}

TEST_F(DumpTest, DiffShowsExactlyTheChangedLines) {
  MachineSnapshot before = Snap(m_);
  EXPECT_EQ("", winsim::DiffDumps(before, before));
  m_.Write("C:\\Data\\b.txt", "bees");
  SetValue("SOFTWARE\\Dump", "Bin", REG_BINARY, BYTES("\x02"));
  MachineSnapshot after = Snap(m_);
  EXPECT_EQ("[files]\n"
            "- file attr=0x00000003 size=3 fnv=" + winsim::FormatHash(winsim::Fnv1a64("bee", 3)) +
                " C:\\Data\\b.txt\n"
            "+ file attr=0x00000003 size=4 fnv=" + winsim::FormatHash(winsim::Fnv1a64("bees", 4)) +
                " C:\\Data\\b.txt\n"
            "[registry]\n"
            "- value HKLM\\SOFTWARE\\Dump\\\\\"Bin\" REG_BINARY hex:01,ff\n"
            "+ value HKLM\\SOFTWARE\\Dump\\\\\"Bin\" REG_BINARY hex:02\n",
            winsim::DiffDumps(before, after));

  // Lines that only swap places still make the dumps differ.
  MachineSnapshot swapped = after;
  std::swap(swapped.journal[0], swapped.journal.back());
  swapped.journal.push_back("exit 0");
  MachineSnapshot reordered = swapped;
  std::swap(reordered.journal[0], reordered.journal[1]);
  EXPECT_NE("", winsim::DiffDumps(swapped, reordered));
}

// Checks JSON syntax strictly enough to catch a bad escape or a missing comma.
class JsonChecker {
 public:
  explicit JsonChecker(const std::string &s) : s_(s) {}
  bool Valid() {
    Blank();
    if (!Value()) return false;
    Blank();
    return i_ == s_.size();
  }

 private:
  void Blank() {
    while (i_ < s_.size() && strchr(" \n\r\t", s_[i_])) ++i_;
  }
  bool Eat(char c) {
    Blank();
    if (i_ < s_.size() && s_[i_] == c) return ++i_, true;
    return false;
  }
  bool String() {
    if (!Eat('"')) return false;
    while (i_ < s_.size() && s_[i_] != '"') {
      unsigned char c = s_[i_++];
      if (c < 32 || c == 127) return false;
      if (c > 127 && !Utf8Tail(c)) return false;
      if (c == '\\') {
        if (i_ >= s_.size()) return false;
        char e = s_[i_++];
        if (e == 'u') {
          for (int k = 0; k < 4; ++k)
            if (i_ >= s_.size() || !isxdigit((unsigned char)s_[i_++])) return false;
        } else if (!strchr("\"\\/bfnrt", e)) {
          return false;
        }
      }
    }
    return Eat('"');
  }
  // The continuation bytes of a UTF-8 character that starts with `lead`.
  bool Utf8Tail(unsigned char lead) {
    int more = lead >= 0xC2 && lead <= 0xDF ? 1 : lead >= 0xE0 && lead <= 0xEF ? 2
               : lead >= 0xF0 && lead <= 0xF4 ? 3 : -1;
    for (int k = 0; k < more; ++k)
      if (i_ >= s_.size() || (static_cast<unsigned char>(s_[i_++]) & 0xC0) != 0x80) return false;
    return more > 0;
  }
  template <typename F>
  bool List(char open, char close, F item) {
    if (!Eat(open)) return false;
    if (Eat(close)) return true;
    do {
      if (!item()) return false;
    } while (Eat(','));
    return Eat(close);
  }
  bool Value() {
    Blank();
    if (i_ >= s_.size()) return false;
    char c = s_[i_];
    if (c == '{') return List('{', '}', [&] { return String() && Eat(':') && Value(); });
    if (c == '[') return List('[', ']', [&] { return Value(); });
    if (c == '"') return String();
    for (const char *word : {"true", "false", "null"})
      if (s_.compare(i_, strlen(word), word) == 0) return i_ += strlen(word), true;
    size_t start = i_;
    if (s_[i_] == '-') ++i_;
    while (i_ < s_.size() && isdigit((unsigned char)s_[i_])) ++i_;
    return i_ > start && isdigit((unsigned char)s_[i_ - 1]);
  }
  const std::string &s_;
  size_t i_ = 0;
};

TEST(ChangeReport, ListsFilesValuesRestartMovesBoxesAndExitCode) {
  TestMachine m("win98");
  MachineSnapshot before = Snap(m);
  m.Write("C:\\WINDOWS\\SYSTEM\\NEW.DL_", "12345");
  m.Write("C:\\WINDOWS\\WININIT.INI", "[rename]\r\nC:\\WINDOWS\\SYSTEM\\NEW.DLL=C:\\WINDOWS\\SYSTEM\\NEW.DL_\r\n");
  SetValue("SOFTWARE\\Varentel\\Kernel", "Blob", REG_BINARY, BYTES("\x00\x9f"));
  MessageBoxA(nullptr, "Caf\xe9 \"done\"", "Setup", MB_OK | MB_ICONINFORMATION);
  winsim::JournalAppend("exit 3");
  MachineSnapshot after = Snap(m);

  std::string text = winsim::FormatChangesText(before, after);
  EXPECT_NE(text.find("Files\n  created  C:\\WINDOWS\\SYSTEM\\NEW.DL_ (5 bytes)\n"), std::string::npos)
      << text;
  EXPECT_NE(text.find("  created  C:\\WINDOWS\\WININIT.INI ("), std::string::npos) << text;
  EXPECT_NE(text.find("At the next restart\n  move    C:\\WINDOWS\\SYSTEM\\NEW.DLL <- "
                      "C:\\WINDOWS\\SYSTEM\\NEW.DL_ (staged, 5 bytes) [WININIT.INI]\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("  key created  HKLM\\SOFTWARE\\Varentel\\Kernel\n"), std::string::npos) << text;
  EXPECT_NE(text.find("  set          HKLM\\SOFTWARE\\Varentel\\Kernel \"Blob\" = REG_BINARY hex:00,9f\n"),
            std::string::npos)
      << text;
  // Texts in the machine's code page (1252 here) are shown as UTF-8.
  EXPECT_NE(text.find("Message boxes\n  \"Setup\": \"Caf\xc3\xa9 \\\"done\\\"\"\n"), std::string::npos)
      << text;
  EXPECT_NE(text.find("Exit code: 3\n"), std::string::npos) << text;
  EXPECT_EQ("No changes.\n", winsim::FormatChangesText(after, after));

  std::string json = winsim::FormatChangesJson(before, after);
  EXPECT_TRUE(JsonChecker(json).Valid()) << json;
  EXPECT_NE(json.find("{\"path\": \"C:\\\\WINDOWS\\\\SYSTEM\\\\NEW.DL_\", \"directory\": false, "
                      "\"sizeBefore\": 0, \"size\": 5}"),
            std::string::npos)
      << json;
  EXPECT_NE(json.find("{\"key\": \"HKLM\\\\SOFTWARE\\\\Varentel\\\\Kernel\", \"name\": \"Blob\", "
                      "\"type\": \"REG_BINARY\", \"data\": \"hex:00,9f\"}"),
            std::string::npos)
      << json;
  EXPECT_NE(json.find("{\"caption\": \"Setup\", \"text\": \"Caf\xc3\xa9 \\\"done\\\"\", \"flags\": "
                      "\"0x00000040\"}"),
            std::string::npos)
      << json;
  EXPECT_NE(json.find("\"exitCode\": 3\n"), std::string::npos) << json;
  EXPECT_TRUE(JsonChecker(winsim::FormatChangesJson(after, after)).Valid());
}

TEST(ChangeReport, PendingMovesAddedByTheRunAreTheRestartMoves) {
  TestMachine m("winxp");
  SetValue(kSessionManager, kPendingValue,
           REG_MULTI_SZ, BYTES("\\??\\C:\\OLD\0\0\0"));
  MachineSnapshot before = Snap(m);
  m.Write("C:\\WINDOWS\\system32\\X.DL_", "abc");
  SetValue(kSessionManager, kPendingValue,
           REG_MULTI_SZ,
           BYTES("\\??\\C:\\OLD\0\0\\??\\C:\\WINDOWS\\system32\\X.DL_\0!\\??\\C:\\X.DLL\0\0"));
  std::string text = winsim::FormatChangesText(before, Snap(m));
  EXPECT_NE(text.find("  replace C:\\X.DLL <- C:\\WINDOWS\\system32\\X.DL_ (staged, 3 bytes) [pending]\n"),
            std::string::npos)
      << text;
  EXPECT_EQ(std::string::npos, text.find("C:\\OLD [pending]")) << text;  // was there before
}

}  // namespace

namespace {

// The report's decoding of code-page bytes: whole characters, the lead byte
// whose second byte is a backslash, bytes that start no character.
TEST(ChangeReport, NamesAreDecodedThroughTheMachinesCodePage) {
  struct Case {
    unsigned codePage;
    const char *bytes, *utf8;
  } cases[] = {
      {1252, "Caf\xe9 \x80", "Caf\xc3\xa9 \xe2\x82\xac"},
      {1252, "\x81\x8d", "\xc2\x81\xc2\x8d"},                    // unassigned: the C1 controls
      {932, "C:\\\x83\x5c\x83\x74\x83\x67\\", "C:\\\xe3\x82\xbd\xe3\x83\x95\xe3\x83\x88\\"},
      {932, "A\x83", "A\xef\xbf\xbd"},                           // a lead byte at the end
      {936, "\xd6\xd0", "\xe4\xb8\xad"},
      {949, "\xc7\xd1", "\xed\x95\x9c"},
      {950, "\xa4\xa4", "\xe4\xb8\xad"},
      {65001, "\xe4\xb8\xad\xff!", "\xe4\xb8\xad\xef\xbf\xbd!"},  // a byte of no sequence
  };
  for (const Case &c : cases)
    EXPECT_EQ(c.utf8, winsim::AnsiToUtf8(c.bytes, c.codePage)) << c.codePage << " " << c.bytes;
}

}  // namespace
