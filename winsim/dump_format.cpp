// The canonical dump's format and its writer (see snapshot.h for the
// format): the data forms both ways, the lines of each section, the text.
// The reader is dump_reader.cpp, the diff dump_diff.cpp, the change report
// tools/common/changes.cpp.
#include "snapshot.h"

#include "ascii.h"
#include "dump_format.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>

namespace winsim {

namespace dump_internal {

const char *const kSectionNames[kSectionCount] = {"files",   "registry", "profiles",
                                                  "pending", "devices",  "journal"};

bool StartsWith(const std::string &s, const std::string &prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;  // upper case is not canonical
}

}  // namespace dump_internal

using namespace dump_internal;

namespace {

const char kEnumRootPrefix[] = "HKLM\\SYSTEM\\CURRENTCONTROLSET\\ENUM\\ROOT\\";

std::string Hex32(uint32_t v) {
  char buf[16];
  snprintf(buf, sizeof buf, "0x%08x", unsigned(v));
  return buf;
}

}  // namespace

// ---- helpers ----

uint64_t Fnv1a64(const void *data, size_t size, uint64_t hash) {
  const unsigned char *p = static_cast<const unsigned char *>(data);
  for (size_t i = 0; i < size; ++i) {
    hash ^= p[i];
    hash *= 0x100000001b3ull;
  }
  return hash;
}

std::string FormatHash(uint64_t hash) {
  // By hand: old C runtimes on Windows do not all know %llx.
  std::string out(16, '0');
  for (int i = 15; i >= 0; --i, hash >>= 4) out[i] = "0123456789abcdef"[hash & 15];
  return out;
}

namespace {
std::string QuoteBytes(const std::string &text, bool keepHighBytes) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
    } else if (c < 32 || c == 127 || (c > 127 && !keepHighBytes)) {
      char hex[8];
      snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    } else {
      out += char(c);
    }
  }
  return out + "\"";
}

}  // namespace

std::string QuoteText(const std::string &text) { return QuoteBytes(text, false); }

std::string QuoteUtf8Text(const std::string &utf8) { return QuoteBytes(utf8, true); }

bool UnquoteText(const std::string &text, size_t *pos, std::string *out) {
  size_t i = *pos;
  if (i >= text.size() || text[i] != '"') return false;
  std::string result;
  for (++i; i < text.size(); ++i) {
    unsigned char c = text[i];
    if (c == '"') {
      *pos = i + 1;
      *out = result;
      return true;
    }
    if (c < 32 || c >= 127) return false;  // must have been escaped
    if (c != '\\') {
      result += char(c);
      continue;
    }
    if (++i >= text.size()) return false;
    if (text[i] == '"' || text[i] == '\\') {
      result += text[i];
    } else if (text[i] == 'x' && i + 2 < text.size()) {
      int hi = HexDigit(text[i + 1]), lo = HexDigit(text[i + 2]);
      int value = hi * 16 + lo;
      // Only bytes that QuoteText escapes this way, so the form is unique.
      if (hi < 0 || lo < 0 || (value >= 32 && value < 127)) return false;
      result += char(value);
      i += 2;
    } else {
      return false;
    }
  }
  return false;
}

std::vector<std::string> SplitLines(const std::string &content) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < content.size()) {
    size_t nl = content.find('\n', start);
    size_t end = nl == std::string::npos ? content.size() : nl + 1;
    lines.push_back(content.substr(start, end - start));
    start = end;
  }
  return lines;
}

// ---- registry data ----

namespace dump_internal {

const struct {
  uint32_t type;
  const char *name;
} kTypeNames[] = {{1, "REG_SZ"},    {2, "REG_EXPAND_SZ"}, {3, "REG_BINARY"},
                  {4, "REG_DWORD"}, {7, "REG_MULTI_SZ"}};

std::string TypeName(uint32_t type) {
  for (const auto &t : kTypeNames)
    if (t.type == type) return t.name;
  return std::to_string(type);
}

bool ParseTypeName(const std::string &s, uint32_t *type) {
  for (const auto &t : kTypeNames)
    if (s == t.name) {
      *type = t.type;
      return true;
    }
  if (s.empty() || s.size() > 10 || s.find_first_not_of("0123456789") != std::string::npos ||
      (s.size() > 1 && s[0] == '0'))
    return false;
  unsigned long long v = std::stoull(s);
  if (v > 0xFFFFFFFFull || TypeName(uint32_t(v)) != s) return false;
  *type = uint32_t(v);
  return true;
}

namespace {

std::string HexBytes(const std::vector<uint8_t> &data) {
  std::string out = "hex:";
  char buf[4];
  for (size_t i = 0; i < data.size(); ++i) {
    snprintf(buf, sizeof buf, "%02x", data[i]);
    out += (i ? "," : "") + std::string(buf);
  }
  return out;
}

// The strings of a REG_MULTI_SZ when the data has the exact canonical shape.
bool MultiStrings(const std::vector<uint8_t> &data, std::vector<std::string> *out) {
  if (data.empty() || data.back() != 0) return false;
  out->clear();
  std::string current;
  for (size_t i = 0; i + 1 < data.size(); ++i) {
    if (data[i] == 0) {
      out->push_back(current);
      current.clear();
    } else {
      current += char(data[i]);
    }
  }
  return current.empty();  // the last string was terminated
}

}  // namespace

std::string FormatData(uint32_t type, const std::vector<uint8_t> &data) {
  if (type == 1 || type == 2) {
    if (!data.empty() && data.back() == 0)
      return QuoteText(std::string(data.begin(), data.end() - 1));
    return QuoteText(std::string(data.begin(), data.end())) + " unterminated";
  }
  if (type == 4 && data.size() == 4)
    return Hex32(uint32_t(data[0]) | uint32_t(data[1]) << 8 | uint32_t(data[2]) << 16 |
                 uint32_t(data[3]) << 24);
  std::vector<std::string> strings;
  if (type == 7 && MultiStrings(data, &strings)) {
    std::string out = "[";
    for (size_t i = 0; i < strings.size(); ++i) out += (i ? ", " : "") + QuoteText(strings[i]);
    return out + "]";
  }
  return HexBytes(data);
}

namespace {

bool ParseHexBytes(const std::string &s, std::vector<uint8_t> *out) {
  out->clear();
  if (!StartsWith(s, "hex:")) return false;
  size_t i = 4;
  if (i == s.size()) return true;
  for (;;) {
    if (i + 2 > s.size()) return false;
    int hi = HexDigit(s[i]), lo = HexDigit(s[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out->push_back(uint8_t(hi * 16 + lo));
    i += 2;
    if (i == s.size()) return true;
    if (s[i++] != ',') return false;
  }
}

}  // namespace

// Reads the data text of a value; the result must format back to the same
// text, so every state has exactly one dump.
bool ParseData(uint32_t type, const std::string &s, std::vector<uint8_t> *out) {
  out->clear();
  if (StartsWith(s, "hex:")) {
    if (!ParseHexBytes(s, out)) return false;
  } else if ((type == 1 || type == 2) && !s.empty() && s[0] == '"') {
    size_t pos = 0;
    std::string text;
    if (!UnquoteText(s, &pos, &text)) return false;
    out->assign(text.begin(), text.end());
    if (pos == s.size()) out->push_back(0);
    else if (s.substr(pos) != " unterminated") return false;
  } else if (type == 4 && s.size() == 10 && StartsWith(s, "0x")) {
    uint32_t v = 0;
    for (size_t i = 2; i < 10; ++i) {
      int d = HexDigit(s[i]);
      if (d < 0) return false;
      v = v * 16 + uint32_t(d);
    }
    *out = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
  } else if (type == 7 && !s.empty() && s[0] == '[') {
    size_t pos = 1;
    std::string item;
    while (pos < s.size() && s[pos] != ']') {
      if (pos > 1 && s.compare(pos, 2, ", ") != 0) return false;
      if (pos > 1) pos += 2;
      if (!UnquoteText(s, &pos, &item)) return false;
      out->insert(out->end(), item.begin(), item.end());
      out->push_back(0);
    }
    if (pos + 1 != s.size()) return false;
    out->push_back(0);
  } else {
    return false;
  }
  return FormatData(type, *out) == s;
}

namespace {

std::string ValueName(const std::string &name) { return name.empty() ? "@" : QuoteText(name); }

// ---- sections ----

std::string FileLine(const std::string &path, const FileState &f) {
  if (f.directory) return "dir  attr=" + Hex32(f.attributes) + " " + path;
  return "file attr=" + Hex32(f.attributes) + " size=" + std::to_string(f.size) +
         " fnv=" + f.hash + " " + path;
}

}  // namespace

std::string ProfileBody(const std::string &line) {
  bool crlf = line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0;
  std::string content = crlf ? line.substr(0, line.size() - 2) : line;
  bool plain = crlf;
  for (unsigned char c : content) plain = plain && c >= 32 && c < 127;
  if (plain && !content.empty())
    plain = content[0] != '"' && content[0] != ' ' && content.back() != ' ';
  if (!plain) return " " + QuoteText(line);
  return content.empty() ? "" : " " + content;
}

namespace {

std::string PendingLine(const std::pair<std::string, std::string> &move) {
  if (move.second.empty()) return "delete " + move.first;
  return "move " + move.first + " -> " + move.second;
}

// All keys: the listed ones and those that hold values.
std::set<std::string> AllKeys(const MachineSnapshot &s) {
  std::set<std::string> keys(s.keys.begin(), s.keys.end());
  for (const auto &v : s.values) keys.insert(v.first.substr(0, v.first.find("\\\\")));
  return keys;
}

// The values of `key`, in name order: (name, state).
std::vector<std::pair<std::string, const RegValueState *>> ValuesOf(const MachineSnapshot &s,
                                                                     const std::string &key) {
  std::vector<std::pair<std::string, const RegValueState *>> out;
  std::string prefix = key + "\\\\";
  for (auto it = s.values.lower_bound(prefix); it != s.values.end() && StartsWith(it->first, prefix);
       ++it)
    out.push_back({it->first.substr(prefix.size()), &it->second});
  return out;
}

std::string DeviceField(const MachineSnapshot &s, const std::string &key, const char *name) {
  // Value names are case-insensitive.
  for (const auto &v : ValuesOf(s, key))
    if (AsciiUpper(v.first) == AsciiUpper(name)) return FormatData(v.second->type, v.second->data);
  return "-";
}

}  // namespace

std::vector<std::string> DeviceLines(const MachineSnapshot &s) {
  std::vector<std::string> lines;
  size_t rootLength = strlen(kEnumRootPrefix) - 5;  // up to "Enum\"
  for (const std::string &key : AllKeys(s)) {
    if (!StartsWith(AsciiUpper(key), kEnumRootPrefix)) continue;
    std::string instance = key.substr(rootLength);  // "ROOT\MEDIA\0000"
    if (std::count(instance.begin(), instance.end(), '\\') != 2) continue;
    lines.push_back("device " + instance + " hardware=" + DeviceField(s, key, "HardwareID") +
                    " class=" + DeviceField(s, key, "Class") +
                    " driver=" + DeviceField(s, key, "Driver"));
  }
  return lines;
}

Sections MakeSections(const MachineSnapshot &s) {
  Sections out;
  for (const auto &f : s.files) out.lines[kFiles].push_back(FileLine(f.first, f.second));
  for (const std::string &key : AllKeys(s)) {
    out.lines[kRegistry].push_back("key " + key);
    for (const auto &v : ValuesOf(s, key))
      out.lines[kRegistry].push_back("value " + key + "\\\\" + ValueName(v.first) + " " +
                                     TypeName(v.second->type) + " " +
                                     FormatData(v.second->type, v.second->data));
  }
  for (const auto &p : s.profiles)
    for (const std::string &line : p.second)
      out.lines[kProfiles].push_back("profile " + p.first + " |" + ProfileBody(line));
  for (const auto &m : s.pendingMoves) out.lines[kPending].push_back(PendingLine(m));
  out.lines[kDevices] = DeviceLines(s);
  for (const std::string &line : s.journal) out.lines[kJournal].push_back("journal " + line);
  return out;
}

}  // namespace dump_internal

std::string FormatDump(const MachineSnapshot &snapshot) {
  Sections sections = MakeSections(snapshot);
  std::string out = "winsim-dump 1\n";
  for (int i = 0; i < kSectionCount; ++i) {
    out += "[" + std::string(kSectionNames[i]) + "]\n";
    for (const std::string &line : sections.lines[i]) out += line + "\n";
  }
  return out;
}


}  // namespace winsim
