// The change report between two snapshots, for a packager to read at a
// glance: as text in a few headed sections, or as one JSON object.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <set>

#include "changes.h"

namespace winsim {

namespace dump_internal {
std::string TypeNameOf(uint32_t type);
std::string DataText(uint32_t type, const std::vector<uint8_t> &data);
std::string ProfileLineText(const std::string &line);
std::vector<std::string> Devices(const MachineSnapshot &s);
}  // namespace dump_internal

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
  uint64_t size = 0;            // of the staged source, when it exists
  bool staged = false;          // the source exists now
};

struct ValueChange {
  std::string key, name, type, data;
};

struct ProfileChange {
  std::string file;
  std::vector<std::string> added, removed;
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

std::string Upper(std::string s) {
  for (char &c : s)
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  return s;
}

std::string Trim(const std::string &s) {
  size_t b = s.find_first_not_of(" \t\r\n"), e = s.find_last_not_of(" \t\r\n");
  return b == std::string::npos ? "" : s.substr(b, e - b + 1);
}

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
  std::string want = Upper(path);
  for (const auto &f : s.files)
    if (Upper(f.first) == want) return &f.second;
  return nullptr;
}

std::string StripNtPrefix(std::string name) {
  if (name.compare(0, 4, "\\??\\") == 0) name.erase(0, 4);
  return name;
}

void AddRestartMove(const MachineSnapshot &after, RestartMove m, Changes *c) {
  if (const FileState *f = FindFile(after, m.source)) {
    m.staged = !f->directory;
    m.size = f->size;
  }
  c->restart.push_back(m);
}

// WININIT.INI [rename] lines the run added ("TARGET=SOURCE", "NUL=SOURCE"),
// relative names meaning the Windows directory as WININIT does.
void CompareRestart(const MachineSnapshot &before, const MachineSnapshot &after, Changes *c) {
  auto lines = [](const MachineSnapshot &s) {
    auto it = s.profiles.find("WININIT.INI");
    std::vector<std::string> renames;
    if (it == s.profiles.end()) return renames;
    bool inRename = false;
    for (const std::string &raw : it->second) {
      std::string line = Trim(raw);
      if (!line.empty() && line[0] == '[') inRename = Upper(line) == "[RENAME]";
      else if (inRename && line.find('=') != std::string::npos && line[0] != ';')
        renames.push_back(line);
    }
    return renames;
  };
  for (const std::string &line : Added(lines(before), lines(after))) {
    RestartMove m;
    size_t eq = line.find('=');
    m.target = Trim(line.substr(0, eq));
    m.source = Trim(line.substr(eq + 1));
    if (Upper(m.target) == "NUL") m.target.clear();
    // WININIT replaces an existing target; say whether there is one.
    m.replace = !m.target.empty() && FindFile(after, m.target);
    m.via = "WININIT.INI";
    AddRestartMove(after, m, c);
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
    AddRestartMove(after, m, c);
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
    c->written.push_back({kn.first, kn.second, TypeNameOf(v.second.type),
                          DataText(v.second.type, v.second.data)});
  }
  for (const auto &v : before.values) {
    if (after.values.count(v.first)) continue;
    auto kn = SplitValue(v.first);
    if (!newKeys.count(kn.first)) continue;  // gone with its key
    c->valuesRemoved.push_back({kn.first, kn.second, TypeNameOf(v.second.type),
                                DataText(v.second.type, v.second.data)});
  }
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
    ProfileChange change{name, Added(lb, la), Added(la, lb)};
    if (!change.added.empty() || !change.removed.empty()) c->profiles.push_back(change);
  }
}

void CompareDevices(const MachineSnapshot &before, const MachineSnapshot &after, Changes *c) {
  std::map<std::string, std::string> old;  // instance -> line
  auto instance = [](const std::string &line) { return line.substr(7, line.find(' ', 7) - 7); };
  for (const std::string &line : Devices(before)) old[instance(line)] = line;
  for (const std::string &line : Devices(after)) {
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

Changes Compare(const MachineSnapshot &before, const MachineSnapshot &after) {
  Changes c;
  CompareFiles(before, after, &c);
  CompareRestart(before, after, &c);
  CompareRegistry(before, after, &c);
  CompareProfiles(before, after, &c);
  CompareDevices(before, after, &c);
  ReadJournal(before, after, &c);
  return c;
}

std::string Bytes(uint64_t n) { return std::to_string(n) + " bytes"; }

std::string NameText(const std::string &name) { return name.empty() ? "@" : QuoteText(name); }

// ---- JSON ----

std::string Json(const std::string &s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
    } else if (c < 32 || c >= 127) {
      // Bytes of the ANSI code page are shown as the code points of the same
      // number, so the output stays valid (ASCII) JSON.
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

std::string JsonFile(const FileChange &f) {
  return "{\"path\": " + Json(f.path) + ", \"directory\": " + (f.directory ? "true" : "false") +
         ", \"sizeBefore\": " + std::to_string(f.before) + ", \"size\": " + std::to_string(f.after) +
         "}";
}

std::string JsonValue(const ValueChange &v) {
  return "{\"key\": " + Json(v.key) + ", \"name\": " + Json(v.name) + ", \"type\": " + Json(v.type) +
         ", \"data\": " + Json(v.data) + "}";
}

}  // namespace

std::string FormatChangesText(const MachineSnapshot &before, const MachineSnapshot &after) {
  Changes c = Compare(before, after);
  std::string out;
  auto section = [&](const char *title, const std::vector<std::string> &lines) {
    if (lines.empty()) return;
    out += std::string(title) + "\n";
    for (const std::string &line : lines) out += "  " + line + "\n";
  };
  std::vector<std::string> lines;
  for (const auto &f : c.created)
    lines.push_back("created  " + f.path + (f.directory ? " (folder)" : " (" + Bytes(f.after) + ")"));
  for (const auto &f : c.replaced)
    lines.push_back("replaced " + f.path + " (" + Bytes(f.before) + " -> " + Bytes(f.after) + ")");
  for (const auto &f : c.removed)
    lines.push_back("removed  " + f.path + (f.directory ? " (folder)" : " (" + Bytes(f.before) + ")"));
  section("Files", lines);
  lines.clear();
  for (const auto &m : c.restart) {
    std::string staged = m.staged ? " (staged, " + Bytes(m.size) + ")" : " (source missing now)";
    if (m.target.empty())
      lines.push_back("delete  " + m.source + " [" + m.via + "]");
    else
      lines.push_back((m.replace ? "replace " : "move    ") + m.target + " <- " + m.source + staged +
                      " [" + m.via + "]");
  }
  section("At the next restart", lines);
  lines.clear();
  for (const auto &k : c.keysCreated) lines.push_back("key created  " + k);
  for (const auto &v : c.written)
    lines.push_back("set          " + v.key + " " + NameText(v.name) + " = " + v.type + " " + v.data);
  for (const auto &v : c.valuesRemoved)
    lines.push_back("value removed " + v.key + " " + NameText(v.name));
  for (const auto &k : c.keysRemoved) lines.push_back("key removed  " + k);
  section("Registry", lines);
  lines.clear();
  for (const auto &p : c.profiles) {
    for (const auto &l : p.removed) lines.push_back(p.file + " -" + ProfileLineText(l));
    for (const auto &l : p.added) lines.push_back(p.file + " +" + ProfileLineText(l));
  }
  section("Profile files", lines);
  lines.clear();
  for (const auto &d : c.devices)
    lines.push_back((d.created ? "created " : "updated ") + d.line.substr(7));
  section("Devices", lines);
  lines.clear();
  for (const auto &b : c.boxes)
    lines.push_back(QuoteText(b.caption) + ": " + QuoteText(b.text));
  section("Message boxes", lines);
  if (out.empty()) out = "No changes.\n";
  if (c.haveExit) out += "Exit code: " + std::to_string(c.exitCode) + "\n";
  return out;
}

std::string FormatChangesJson(const MachineSnapshot &before, const MachineSnapshot &after) {
  Changes c = Compare(before, after);
  std::string out = "{\n";
  out += "  \"filesCreated\": " + JsonArray(c.created, JsonFile) + ",\n";
  out += "  \"filesReplaced\": " + JsonArray(c.replaced, JsonFile) + ",\n";
  out += "  \"filesRemoved\": " + JsonArray(c.removed, JsonFile) + ",\n";
  out += "  \"restart\": " + JsonArray(c.restart, [](const RestartMove &m) {
           return "{\"source\": " + Json(m.source) + ", \"target\": " +
                  (m.target.empty() ? std::string("null") : Json(m.target)) +
                  ", \"replace\": " + (m.replace ? "true" : "false") + ", \"via\": " + Json(m.via) +
                  ", \"staged\": " + (m.staged ? "true" : "false") +
                  ", \"size\": " + std::to_string(m.size) + "}";
         }) + ",\n";
  out += "  \"keysCreated\": " + JsonArray(c.keysCreated, Json) + ",\n";
  out += "  \"valuesWritten\": " + JsonArray(c.written, JsonValue) + ",\n";
  out += "  \"valuesRemoved\": " + JsonArray(c.valuesRemoved, JsonValue) + ",\n";
  out += "  \"keysRemoved\": " + JsonArray(c.keysRemoved, Json) + ",\n";
  out += "  \"profiles\": " + JsonArray(c.profiles, [](const ProfileChange &p) {
           return "{\"file\": " + Json(p.file) + ", \"added\": " + JsonArray(p.added, Json) +
                  ", \"removed\": " + JsonArray(p.removed, Json) + "}";
         }) + ",\n";
  out += "  \"devices\": " + JsonArray(c.devices, [](const DeviceChange &d) {
           return "{\"device\": " + Json(d.line.substr(7)) + ", \"created\": " +
                  (d.created ? "true" : "false") + "}";
         }) + ",\n";
  out += "  \"messageBoxes\": " + JsonArray(c.boxes, [](const MessageBox &b) {
           return "{\"caption\": " + Json(b.caption) + ", \"text\": " + Json(b.text) +
                  ", \"flags\": " + Json(b.flags) + "}";
         }) + ",\n";
  out += "  \"exitCode\": " + (c.haveExit ? std::to_string(c.exitCode) : std::string("null")) + "\n";
  return out + "}\n";
}

}  // namespace winsim
