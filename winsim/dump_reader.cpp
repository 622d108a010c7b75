// The dump's reader: strict, so that every state has exactly one dump and
// anything out of place fails with "file:line: ...".
#include "snapshot.h"

#include <algorithm>
#include <map>

#include "dump_format.h"

namespace winsim {

using namespace dump_internal;

namespace {

// Reads a dump line by line: the header, then each section in order, its
// entries checked against the canonical form; at the end the devices are
// checked against the registry they derive from.
class DumpReader {
 public:
  DumpReader(const std::string &file, MachineSnapshot *out, std::string *error)
      : file_(file), out_(out), error_(error) {}

  bool Fail(const std::string &message) {
    *error_ = file_ + ":" + std::to_string(number_) + ": " + message;
    return false;
  }

  bool Read(const std::string &text) {
    if (!text.empty() && text.back() != '\n') {
      number_ = int(std::count(text.begin(), text.end(), '\n')) + 1;
      return Fail("last line not terminated");
    }
    for (std::string line : SplitLines(text)) {
      ++number_;
      line.pop_back();
      if (!ReadLine(line)) return false;
    }
    return Finish();
  }

 private:
  // One line: the header, a section header or an entry of the section.
  bool ReadLine(const std::string &line) {
    if (number_ == 1)
      return line == "winsim-dump 1" || Fail("expected \"winsim-dump 1\"");
    if (!line.empty() && line[0] == '[') return ReadSectionHeader(line);
    switch (section_) {
      case -1: return Fail("line outside a section");
      case kFiles: return ReadFile(line);
      case kRegistry: return ReadRegistry(line);
      case kProfiles: return ReadProfile(line);
      case kPending: return ReadPending(line);
      case kDevices: devices_.push_back({number_, line}); return true;
      default: return ReadJournal(line);
    }
  }

  // Every section comes, in the fixed order.
  bool ReadSectionHeader(const std::string &line) {
    if (section_ + 1 >= kSectionCount) return Fail("unexpected " + line + " after the last section");
    std::string expected = "[" + std::string(kSectionNames[section_ + 1]) + "]";
    if (line != expected) return Fail("expected section " + expected);
    ++section_;
    return true;
  }

  bool Finish() {
    if (number_ == 0) return Fail("empty dump");
    if (section_ != kSectionCount - 1) {
      ++number_;
      return Fail("missing section [" + std::string(kSectionNames[section_ + 1]) + "]");
    }
    return CheckDevices(devices_);
  }

  // "file attr=0x... size=N fnv=HASH PATH" or "dir  attr=0x... PATH".
  bool ReadFile(const std::string &line) {
    FileState f;
    f.directory = StartsWith(line, "dir  attr=");
    if (!f.directory && !StartsWith(line, "file attr=")) return Fail("expected \"file\" or \"dir\"");
    size_t pos = 10;
    if (!ReadAttributes(line, &pos, &f.attributes)) return Fail("bad attr");
    if (!f.directory && !ReadSizeAndHash(line, &pos, &f)) return false;
    std::string path = line.substr(pos);
    if (path.empty()) return Fail("missing path");
    if (!out_->files.empty() && out_->files.rbegin()->first >= path)
      return Fail("files out of order or repeated: " + path);
    out_->files[path] = f;
    return true;
  }

  // "0x%08x " at *pos.
  bool ReadAttributes(const std::string &line, size_t *pos, uint32_t *attributes) {
    std::vector<uint8_t> bytes;
    if (!ParseData(4, line.substr(*pos, 10), &bytes) || line.size() < *pos + 11 ||
        line[*pos + 10] != ' ')
      return false;
    *attributes = uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
                  uint32_t(bytes[3]) << 24;
    *pos += 11;
    return true;
  }

  // "size=N fnv=HASH " at *pos: a decimal without leading zeros, 16 digits.
  bool ReadSizeAndHash(const std::string &line, size_t *pos, FileState *f) {
    size_t space = line.find(' ', *pos);
    std::string size = space == std::string::npos ? "" : line.substr(*pos, space - *pos);
    if (!StartsWith(size, "size=") || size.size() < 6 || size.size() > 25 ||
        size.find_first_not_of("0123456789", 5) != std::string::npos ||
        (size.size() > 6 && size[5] == '0'))
      return Fail("bad size");
    f->size = std::stoull(size.substr(5));
    *pos = space + 1;
    std::string hash = line.substr(*pos, 20);  // "fnv=" and 16 digits
    if (!StartsWith(hash, "fnv=") || hash.size() != 20 || line.size() < *pos + 21 ||
        line[*pos + 20] != ' ')
      return Fail("bad fnv");
    f->hash = hash.substr(4);
    for (char c : f->hash)
      if (HexDigit(c) < 0) return Fail("bad fnv");
    *pos += 21;
    return true;
  }

  bool ReadRegistry(const std::string &line) {
    if (StartsWith(line, "key ")) {
      std::string key = line.substr(4);
      if (key.empty() || key.find("\\\\") != std::string::npos || key.back() == '\\')
        return Fail("bad key path");
      if (!out_->keys.empty() && out_->keys.back() >= key)
        return Fail("keys out of order or repeated: " + key);
      out_->keys.push_back(key);
      lastValue_.clear();
      return true;
    }
    if (!StartsWith(line, "value ")) return Fail("expected \"key\" or \"value\"");
    size_t sep = line.find("\\\\", 6);
    if (sep == std::string::npos || out_->keys.empty() || line.substr(6, sep - 6) != out_->keys.back())
      return Fail("value outside its key");
    size_t pos = sep + 2;
    std::string name;
    if (line.compare(pos, 1, "@") == 0) {
      ++pos;
    } else if (!UnquoteText(line, &pos, &name) || name.empty()) {
      return Fail("bad value name");
    }
    if (pos >= line.size() || line[pos] != ' ') return Fail("expected a type after the name");
    size_t typeEnd = line.find(' ', pos + 1);
    RegValueState v;
    if (typeEnd == std::string::npos || !ParseTypeName(line.substr(pos + 1, typeEnd - pos - 1), &v.type))
      return Fail("bad value type");
    if (!ParseData(v.type, line.substr(typeEnd + 1), &v.data)) return Fail("bad value data");
    std::string full = out_->keys.back() + "\\\\" + name;
    if (!lastValue_.empty() && lastValue_ >= full) return Fail("values out of order or repeated");
    lastValue_ = full;
    out_->values[full] = v;
    return true;
  }

  bool ReadProfile(const std::string &line) {
    size_t bar = line.find(" |");
    if (!StartsWith(line, "profile ") || bar == std::string::npos || bar <= 8)
      return Fail("expected \"profile NAME | LINE\"");
    std::string name = line.substr(8, bar - 8), body = line.substr(bar + 2), content;
    if (name.find(' ') != std::string::npos) return Fail("bad profile name");
    if (!out_->profiles.empty() && out_->profiles.rbegin()->first > name)
      return Fail("profiles out of order");
    if (body.empty()) {
      content = "\r\n";
    } else if (body[0] != ' ') {
      return Fail("expected a blank after |");
    } else if (body.size() > 1 && body[1] == '"') {
      size_t pos = 1;
      if (!UnquoteText(body, &pos, &content) || pos != body.size()) return Fail("bad quoted line");
    } else {
      content = body.substr(1) + "\r\n";
    }
    if (ProfileBody(content) != body) return Fail("line not in canonical form");
    std::vector<std::string> &lines = out_->profiles[name];
    if (!lines.empty() && lines.back().back() != '\n') return Fail("line after the last line");
    lines.push_back(content);
    return true;
  }

  bool ReadPending(const std::string &line) {
    std::pair<std::string, std::string> move;
    if (StartsWith(line, "delete ")) {
      move.first = line.substr(7);
    } else if (StartsWith(line, "move ") && line.find(" -> ") != std::string::npos) {
      size_t arrow = line.find(" -> ");
      move = {line.substr(5, arrow - 5), line.substr(arrow + 4)};
      if (move.second.empty()) return Fail("move without a target");
    } else {
      return Fail("expected \"move SOURCE -> TARGET\" or \"delete SOURCE\"");
    }
    if (move.first.empty()) return Fail("missing source");
    out_->pendingMoves.push_back(move);
    return true;
  }

  bool ReadJournal(const std::string &line) {
    if (!StartsWith(line, "journal ")) return Fail("expected \"journal LINE\"");
    out_->journal.push_back(line.substr(8));
    return true;
  }

  // Devices are derived from the registry; the listed ones must match.
  bool CheckDevices(const std::vector<std::pair<int, std::string>> &listed) {
    std::vector<std::string> derived = DeviceLines(*out_);
    for (size_t i = 0; i < std::max(listed.size(), derived.size()); ++i) {
      if (i < listed.size() && i < derived.size() && listed[i].second == derived[i]) continue;
      number_ = i < listed.size() ? listed[i].first : number_;
      return Fail("devices do not match the registry: expected " +
                  (i < derived.size() ? derived[i] : std::string("no more devices")));
    }
    return true;
  }

  std::string file_;
  MachineSnapshot *out_;
  std::string *error_;
  int number_ = 0;
  int section_ = -1;  // the section being read, -1 before the first
  std::vector<std::pair<int, std::string>> devices_;  // (line number, line)
  std::string lastValue_;
};

}  // namespace

bool ParseDump(const std::string &text, const std::string &file, MachineSnapshot *out,
               std::string *error) {
  MachineSnapshot parsed;
  DumpReader reader(file, &parsed, error);
  if (!reader.Read(text)) return false;
  *out = parsed;
  return true;
}

}  // namespace winsim
