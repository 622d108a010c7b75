// The change report between two snapshots, for a packager to read at a
// glance: as text in a few headed sections, or as one JSON object.
#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <set>

#include "ascii.h"
#include "changes.h"
#include "dump_format.h"
#include "restart_queue.h"

namespace winsim {

namespace {

using namespace dump_internal;

struct FileChange {
  std::string path;
  bool directory = false;
  uint64_t before = 0, after = 0;
};

struct RestartMove {
  std::string source, target;  // target "" = delete
  bool replace = false;         // replaces an existing target
  const char *via = "";         // "WININIT.INI" or "pending"
  uint64_t size = 0;            // of the source, when it exists
  // What the source is now: "staged" (a file the run wrote), "live" (a file
  // that was there before the run, such as the live file a backup move
  // takes aside), "missing" (nothing there: the move will do nothing).
  const char *source_kind = "missing";
  std::string ignored;  // why the start passes over it ("" = it acts)
};

struct ValueChange {
  std::string key, name, type, data;
};

struct ProfileChange {
  std::string file;
  std::vector<std::string> added, removed;
  // The line diff in file order: "-" or "+" before each line, so that a
  // line that only moved shows as removed at one place, added at another.
  std::vector<std::pair<char, std::string>> diff;
};

struct DeviceChange {
  std::string line;  // "device ROOT\...", as in the dump
  bool created = false;
};

struct MessageBox {
  std::string caption, text, flags;
};

struct Changes {
  std::vector<FileChange> created, replaced, removed;
  std::vector<RestartMove> restart;
  std::vector<std::string> keysCreated, keysRemoved;
  std::vector<ValueChange> written, valuesRemoved;
  std::vector<ProfileChange> profiles;
  std::vector<DeviceChange> devices;
  std::vector<MessageBox> boxes;
  bool haveExit = false;
  long long exitCode = 0;
};

// Lines of `after` not matched by a line of `before` (multiset difference,
// order of `after` kept).
std::vector<std::string> Added(const std::vector<std::string> &before,
                               const std::vector<std::string> &after) {
  std::map<std::string, int> available;
  for (const std::string &line : before) ++available[line];
  std::vector<std::string> out;
  for (const std::string &line : after) {
    auto it = available.find(line);
    if (it != available.end() && it->second > 0) --it->second;
    else out.push_back(line);
  }
  return out;
}

// What the journal gained.  It only grows, so normally that is the tail;
// a journal that was rewritten falls back to the difference.
std::vector<std::string> NewJournalLines(const MachineSnapshot &before,
                                         const MachineSnapshot &after) {
  const std::vector<std::string> &b = before.journal, &a = after.journal;
  if (b.size() <= a.size() && std::equal(b.begin(), b.end(), a.begin()))
    return std::vector<std::string>(a.begin() + b.size(), a.end());
  return Added(b, a);
}

void CompareFiles(const MachineSnapshot &before, const MachineSnapshot &after, Changes *c) {
  for (const auto &f : after.files) {
    auto old = before.files.find(f.first);
    FileChange change{f.first, f.second.directory, 0, f.second.size};
    if (old == before.files.end()) {
      c->created.push_back(change);
    } else if (old->second.directory != f.second.directory || old->second.size != f.second.size ||
               old->second.hash != f.second.hash) {
      change.before = old->second.size;
      c->replaced.push_back(change);
    }
  }
  for (const auto &f : before.files)
    if (!after.files.count(f.first))
      c->removed.push_back({f.first, f.second.directory, f.second.size, 0});
}

// Finds a file by a Windows path, case-insensitively.
const FileState *FindFile(const MachineSnapshot &s, const std::string &path) {
  auto it = s.files.find(path);
  if (it != s.files.end()) return &it->second;
  std::string want = AsciiUpper(path);
  for (const auto &f : s.files)
    if (AsciiUpper(f.first) == want) return &f.second;
  return nullptr;
}

void AddRestartMove(const MachineSnapshot &before, const MachineSnapshot &after, RestartMove m,
                    Changes *c) {
  if (const FileState *f = FindFile(after, m.source)) {
    const FileState *old = FindFile(before, m.source);
    bool written = !old || old->size != f->size || old->hash != f->hash;
    m.source_kind = f->directory ? "folder" : written ? "staged" : "live";
    m.size = f->size;
  }
  c->restart.push_back(m);
}

// The restart steps the run added, read as the start reads them
// (restart_queue.h): WININIT.INI's [rename] lines, then the pending list.
// Only the list of the machine's family is read at its start.
void CompareRestart(const MachineSnapshot &before, const MachineSnapshot &after,
                    const ReportContext &context, Changes *c) {
  auto renames = [](const MachineSnapshot &s) {
    auto it = s.profiles.find("WININIT.INI");
    std::vector<std::string> keyed;
    if (it == s.profiles.end()) return keyed;
    for (const WininitLine &line : WininitRenames(it->second))
      keyed.push_back(line.target + '\n' + line.source + '\n' + line.ignored);
    return keyed;
  };
  for (const std::string &line : Added(renames(before), renames(after))) {
    RestartMove m;
    size_t first = line.find('\n'), second = line.find('\n', first + 1);
    m.target = line.substr(0, first);
    m.source = line.substr(first + 1, second - first - 1);
    m.ignored = line.substr(second + 1);
    if (m.ignored.empty() && context.restartReads == RestartReads::kPendingList)
      m.ignored = "WININIT.INI is not read at the start of the NT family";
    // WININIT replaces an existing target; say whether there is one.
    m.replace = !m.target.empty() && FindFile(after, m.target);
    m.via = "WININIT.INI";
    AddRestartMove(before, after, m, c);
  }
  std::vector<std::string> oldPairs, newPairs;
  for (const auto &p : before.pendingMoves) oldPairs.push_back(p.first + '\n' + p.second);
  for (const auto &p : after.pendingMoves) newPairs.push_back(p.first + '\n' + p.second);
  for (const std::string &pair : Added(oldPairs, newPairs)) {
    RestartMove m;
    m.source = StripNtPrefix(pair.substr(0, pair.find('\n')));
    std::string target = pair.substr(pair.find('\n') + 1);
    m.replace = !target.empty() && target[0] == '!';
    m.target = StripNtPrefix(m.replace ? target.substr(1) : target);
    m.via = "pending";
    if (context.restartReads == RestartReads::kWininit)
      m.ignored = "the pending list is not read at the start of the 9x family";
    AddRestartMove(before, after, m, c);
  }
}

// Splits "KEY\\NAME" at the first double backslash.
std::pair<std::string, std::string> SplitValue(const std::string &full) {
  size_t sep = full.find("\\\\");
  return {full.substr(0, sep), full.substr(sep + 2)};
}

void CompareRegistry(const MachineSnapshot &before, const MachineSnapshot &after, Changes *c) {
  std::set<std::string> oldKeys(before.keys.begin(), before.keys.end());
  std::set<std::string> newKeys(after.keys.begin(), after.keys.end());
  for (const std::string &k : newKeys)
    if (!oldKeys.count(k)) c->keysCreated.push_back(k);
  for (const std::string &k : oldKeys)
    if (!newKeys.count(k)) c->keysRemoved.push_back(k);
  for (const auto &v : after.values) {
    auto old = before.values.find(v.first);
    if (old != before.values.end() && old->second.type == v.second.type &&
        old->second.data == v.second.data)
      continue;
    auto kn = SplitValue(v.first);
    c->written.push_back({kn.first, kn.second, TypeName(v.second.type),
                          FormatData(v.second.type, v.second.data)});
  }
  for (const auto &v : before.values) {
    if (after.values.count(v.first)) continue;
    auto kn = SplitValue(v.first);
    if (!newKeys.count(kn.first)) continue;  // gone with its key
    c->valuesRemoved.push_back({kn.first, kn.second, TypeName(v.second.type),
                                FormatData(v.second.type, v.second.data)});
  }
}

// The lines removed from `a` and added to get `b`, in file order, around
// their longest common subsequence (profile files are a few hundred lines).
std::vector<std::pair<char, std::string>> LineDiff(const std::vector<std::string> &a,
                                                   const std::vector<std::string> &b) {
  size_t n = a.size(), m = b.size();
  std::vector<std::vector<uint32_t>> common(n + 1, std::vector<uint32_t>(m + 1, 0));
  for (size_t i = n; i-- > 0;)
    for (size_t j = m; j-- > 0;)
      common[i][j] = a[i] == b[j] ? common[i + 1][j + 1] + 1
                                  : std::max(common[i + 1][j], common[i][j + 1]);
  std::vector<std::pair<char, std::string>> out;
  size_t i = 0, j = 0;
  while (i < n || j < m) {
    if (i < n && j < m && a[i] == b[j]) {
      ++i, ++j;
    } else if (i < n && (j == m || common[i + 1][j] >= common[i][j + 1])) {
      out.push_back({'-', a[i++]});
    } else {
      out.push_back({'+', b[j++]});
    }
  }
  return out;
}

void CompareProfiles(const MachineSnapshot &before, const MachineSnapshot &after, Changes *c) {
  std::set<std::string> names;
  for (const auto &p : before.profiles) names.insert(p.first);
  for (const auto &p : after.profiles) names.insert(p.first);
  static const std::vector<std::string> none;
  for (const std::string &name : names) {
    auto b = before.profiles.find(name), a = after.profiles.find(name);
    const std::vector<std::string> &lb = b == before.profiles.end() ? none : b->second;
    const std::vector<std::string> &la = a == after.profiles.end() ? none : a->second;
    ProfileChange change{name, {}, {}, LineDiff(lb, la)};
    for (const auto &d : change.diff) (d.first == '+' ? change.added : change.removed).push_back(d.second);
    if (!change.diff.empty()) c->profiles.push_back(change);
  }
}

void CompareDevices(const MachineSnapshot &before, const MachineSnapshot &after, Changes *c) {
  std::map<std::string, std::string> old;  // instance -> line
  auto instance = [](const std::string &line) { return line.substr(7, line.find(' ', 7) - 7); };
  for (const std::string &line : DeviceLines(before)) old[instance(line)] = line;
  for (const std::string &line : DeviceLines(after)) {
    auto it = old.find(instance(line));
    if (it == old.end()) c->devices.push_back({line, true});
    else if (it->second != line) c->devices.push_back({line, false});
  }
}

// Reads `name="..."` out of a journal line; "" when absent.
std::string QuotedField(const std::string &line, const std::string &name) {
  size_t at = line.find(" " + name + "=\"");
  if (at == std::string::npos) return "";
  size_t pos = at + name.size() + 2;
  std::string text;
  return UnquoteText(line, &pos, &text) ? text : "";
}

void ReadJournal(const MachineSnapshot &before, const MachineSnapshot &after, Changes *c) {
  for (const std::string &line : NewJournalLines(before, after)) {
    if (line.compare(0, 11, "messagebox ") == 0) {
      size_t flags = line.find("flags=");
      c->boxes.push_back({QuotedField(line, "caption"), QuotedField(line, "text"),
                          flags == std::string::npos ? "" : line.substr(flags + 6, 10)});
    } else if (line.compare(0, 17, "system-error-box ") == 0) {
      size_t pos = 17;
      std::string text;
      UnquoteText(line, &pos, &text);
      c->boxes.push_back({"", text, "system"});
    } else if (line.compare(0, 5, "exit ") == 0) {
      char *end = nullptr;
      long long code = strtoll(line.c_str() + 5, &end, 10);
      if (end && *end == 0 && end != line.c_str() + 5) {
        c->haveExit = true;
        c->exitCode = code;
      }
    }
  }
}

Changes Compare(const MachineSnapshot &before, const MachineSnapshot &after,
                const ReportContext &context) {
  Changes c;
  CompareFiles(before, after, &c);
  CompareRestart(before, after, context, &c);
  CompareRegistry(before, after, &c);
  CompareProfiles(before, after, &c);
  CompareDevices(before, after, &c);
  ReadJournal(before, after, &c);
  return c;
}

std::string Bytes(uint64_t n) { return std::to_string(n) + " bytes"; }

// ---- names and texts as UTF-8 ----

const char *IconvName(unsigned codePage) {
  switch (codePage) {
    case 932: return "CP932";
    case 936: return "CP936";
    case 949: return "CP949";
    case 950: return "CP950";
    case 65001: return "UTF-8";
    default: return "CP1252";
  }
}

void AppendUtf8(uint32_t cp, std::string *out) {
  if (cp < 0x80) {
    *out += char(cp);
  } else if (cp < 0x800) {
    *out += char(0xC0 | (cp >> 6));
    *out += char(0x80 | (cp & 0x3F));
  } else {
    *out += char(0xE0 | (cp >> 12));
    *out += char(0x80 | ((cp >> 6) & 0x3F));
    *out += char(0x80 | (cp & 0x3F));
  }
}

// A text of the report: its quoted parts (QuoteText's form, whose \xNN are
// bytes of the code page) decoded and quoted again with only the quote, the
// backslash and control characters escaped; everything else is kept.
std::string Readable(const std::string &text, unsigned codePage) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    std::string raw;
    size_t end = i;
    if (text[i] == '"' && UnquoteText(text, &end, &raw)) {
      out += QuoteUtf8Text(AnsiToUtf8(raw, codePage));
      i = end;
    } else {
      out += text[i++];
    }
  }
  return out;
}

std::string NameText(const std::string &name, unsigned codePage) {
  return name.empty() ? "@" : Readable(QuoteText(name), codePage);
}

// ---- JSON ----

// A JSON string of UTF-8 text: the quote, the backslash and control
// characters escaped, every other character as its UTF-8 bytes.
std::string Json(const std::string &s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
    } else if (c < 32 || c == 127) {
      char buf[8];
      snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += char(c);
    }
  }
  return out + "\"";
}

template <typename T, typename F>
std::string JsonArray(const std::vector<T> &items, F item) {
  std::string out = "[";
  for (size_t i = 0; i < items.size(); ++i) out += (i ? ", " : "") + item(items[i]);
  return out + "]";
}

const char *JsonBool(bool b) { return b ? "true" : "false"; }

}  // namespace

const char kChangesFormatName[] = "winsim-changes";

std::string AnsiToUtf8(const std::string &text, unsigned codePage) {
  bool ascii = true;
  for (unsigned char c : text) ascii = ascii && c < 0x80;
  if (ascii) return text;
  // One converter per code page, kept for the process and closed at its end.
  static struct Converters {
    std::map<unsigned, iconv_t> open;
    ~Converters() {
      for (auto &c : open)
        if (c.second != iconv_t(-1)) iconv_close(c.second);
    }
  } converters;
  auto it = converters.open.find(codePage);
  if (it == converters.open.end())
    it = converters.open.emplace(codePage, iconv_open("UTF-8", IconvName(codePage))).first;
  iconv_t cd = it->second;
  std::string out;
  size_t at = 0;
  while (at < text.size()) {
    char buffer[256];
    char *in = const_cast<char *>(text.data()) + at, *outp = buffer;
    size_t inLeft = text.size() - at, outLeft = sizeof buffer;
    size_t result = cd == iconv_t(-1) ? size_t(-1) : iconv(cd, &in, &inLeft, &outp, &outLeft);
    int failure = result == size_t(-1) ? (cd == iconv_t(-1) ? EILSEQ : errno) : 0;
    out.append(buffer, size_t(outp - buffer));
    at = size_t(in - text.data());
    if (cd != iconv_t(-1)) iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (failure == E2BIG) continue;
    if (failure) {
      // One byte that starts no character: shown as itself in 1252, as the
      // replacement character elsewhere.
      unsigned char bad = text[at++];
      AppendUtf8(codePage == 1252 && bad >= 0x80 && bad < 0xA0 ? bad : 0xFFFD, &out);
    }
  }
  return out;
}

std::string FormatChangesText(const MachineSnapshot &before, const MachineSnapshot &after,
                              const ReportContext &context) {
  Changes c = Compare(before, after, context);
  unsigned cp = context.codePage;
  auto path = [&](const std::string &p) { return AnsiToUtf8(p, cp); };
  std::string out;
  auto section = [&](const char *title, const std::vector<std::string> &lines) {
    if (lines.empty()) return;
    out += std::string(title) + "\n";
    for (const std::string &line : lines) out += "  " + line + "\n";
  };
  std::vector<std::string> lines;
  for (const auto &f : c.created)
    lines.push_back("created  " + path(f.path) +
                    (f.directory ? " (folder)" : " (" + Bytes(f.after) + ")"));
  for (const auto &f : c.replaced)
    lines.push_back("replaced " + path(f.path) + " (" + Bytes(f.before) + " -> " +
                    Bytes(f.after) + ")");
  for (const auto &f : c.removed)
    lines.push_back("removed  " + path(f.path) +
                    (f.directory ? " (folder)" : " (" + Bytes(f.before) + ")"));
  section("Files", lines);
  lines.clear();
  for (const auto &m : c.restart) {
    std::string kind = m.source_kind;
    std::string source = kind == "missing" ? " (no file there now)"
                         : kind == "folder" ? " (a folder)"
                         : " (" + kind + (kind == "live" ? " file, " : ", ") + Bytes(m.size) + ")";
    if (!m.ignored.empty())
      lines.push_back("skip    " + path(RestartStepText(m.source, m.target)) + " [" + m.via +
                      "]: " + m.ignored);
    else if (m.target.empty())
      lines.push_back("delete  " + path(m.source) + (kind == "missing" ? source : "") + " [" +
                      m.via + "]");
    else
      lines.push_back((m.replace ? "replace " : "move    ") + path(m.target) + " <- " +
                      path(m.source) + source + " [" + m.via + "]");
  }
  section("At the next restart", lines);
  lines.clear();
  for (const auto &k : c.keysCreated) lines.push_back("key created  " + path(k));
  for (const auto &v : c.written)
    lines.push_back("set          " + path(v.key) + " " + NameText(v.name, cp) + " = " + v.type +
                    " " + Readable(v.data, cp));
  for (const auto &v : c.valuesRemoved)
    lines.push_back("value removed " + path(v.key) + " " + NameText(v.name, cp));
  for (const auto &k : c.keysRemoved) lines.push_back("key removed  " + path(k));
  section("Registry", lines);
  lines.clear();
  for (const auto &p : c.profiles)
    for (const auto &d : p.diff)
      lines.push_back(p.file + " " + d.first + Readable(ProfileBody(d.second), cp));
  section("Profile files", lines);
  lines.clear();
  for (const auto &d : c.devices)
    lines.push_back((d.created ? "created " : "updated ") + Readable(d.line.substr(7), cp));
  section("Devices", lines);
  lines.clear();
  for (const auto &b : c.boxes)
    lines.push_back(Readable(QuoteText(b.caption), cp) + ": " + Readable(QuoteText(b.text), cp));
  section("Message boxes", lines);
  lines.clear();
  for (const auto &n : context.notDone) lines.push_back(path(n.step) + ": " + path(n.reason));
  section("Not done", lines);
  if (out.empty()) out = "No changes.\n";
  if (c.haveExit) out += "Exit code: " + std::to_string(c.exitCode) + "\n";
  return out;
}

std::string FormatChangesJson(const MachineSnapshot &before, const MachineSnapshot &after,
                              const ReportContext &context) {
  Changes c = Compare(before, after, context);
  unsigned cp = context.codePage;
  auto text = [cp](const std::string &s) { return Json(AnsiToUtf8(s, cp)); };
  auto file = [&](const FileChange &f) {
    return "{\"path\": " + text(f.path) + ", \"directory\": " + JsonBool(f.directory) +
           ", \"sizeBefore\": " + std::to_string(f.before) + ", \"size\": " +
           std::to_string(f.after) + "}";
  };
  auto value = [&](const ValueChange &v) {
    return "{\"key\": " + text(v.key) + ", \"name\": " + text(v.name) + ", \"type\": " +
           Json(v.type) + ", \"data\": " + Json(Readable(v.data, cp)) + "}";
  };
  std::string out = "{\n";
  out += "  \"format\": {\"name\": " + Json(kChangesFormatName) +
         ", \"version\": " + std::to_string(kChangesFormatVersion) + "},\n";
  out += "  \"filesCreated\": " + JsonArray(c.created, file) + ",\n";
  out += "  \"filesReplaced\": " + JsonArray(c.replaced, file) + ",\n";
  out += "  \"filesRemoved\": " + JsonArray(c.removed, file) + ",\n";
  out += "  \"restart\": " + JsonArray(c.restart, [&](const RestartMove &m) {
           return "{\"source\": " + text(m.source) + ", \"target\": " +
                  (m.target.empty() ? std::string("null") : text(m.target)) +
                  ", \"replace\": " + JsonBool(m.replace) + ", \"via\": " + Json(m.via) +
                  ", \"sourceKind\": " + Json(m.source_kind) +
                  ", \"staged\": " + JsonBool(std::string(m.source_kind) == "staged") +
                  ", \"size\": " + std::to_string(m.size) + ", \"ignored\": " +
                  (m.ignored.empty() ? std::string("null") : text(m.ignored)) + "}";
         }) + ",\n";
  auto key = [&](const std::string &k) { return text(k); };
  out += "  \"keysCreated\": " + JsonArray(c.keysCreated, key) + ",\n";
  out += "  \"valuesWritten\": " + JsonArray(c.written, value) + ",\n";
  out += "  \"valuesRemoved\": " + JsonArray(c.valuesRemoved, value) + ",\n";
  out += "  \"keysRemoved\": " + JsonArray(c.keysRemoved, key) + ",\n";
  out += "  \"profiles\": " + JsonArray(c.profiles, [&](const ProfileChange &p) {
           return "{\"file\": " + Json(p.file) + ", \"added\": " + JsonArray(p.added, text) +
                  ", \"removed\": " + JsonArray(p.removed, text) + ", \"diff\": " +
                  JsonArray(p.diff, [&](const std::pair<char, std::string> &d) {
                    return text(std::string(1, d.first) + d.second);
                  }) + "}";
         }) + ",\n";
  out += "  \"devices\": " + JsonArray(c.devices, [&](const DeviceChange &d) {
           return "{\"device\": " + Json(Readable(d.line.substr(7), cp)) + ", \"created\": " +
                  JsonBool(d.created) + "}";
         }) + ",\n";
  out += "  \"messageBoxes\": " + JsonArray(c.boxes, [&](const MessageBox &b) {
           return "{\"caption\": " + text(b.caption) + ", \"text\": " + text(b.text) +
                  ", \"flags\": " + Json(b.flags) + "}";
         }) + ",\n";
  out += "  \"notDone\": " + JsonArray(context.notDone, [&](const NotDone &n) {
           return "{\"step\": " + text(n.step) + ", \"reason\": " + text(n.reason) + "}";
         }) + ",\n";
  out += "  \"exitCode\": " + (c.haveExit ? std::to_string(c.exitCode) : std::string("null")) + "\n";
  return out + "}\n";
}

}  // namespace winsim
