// REGEDIT4 reader and writer for the hive files.
#include "regfile.h"

#include <cstdio>
#include <map>

#include "machine_text.h"

namespace winsim {

namespace {

const char kHeader[] = "REGEDIT4";

std::string Quote(const std::string &s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

// A REG_SZ whose bytes are a text of printable characters followed by one
// zero can be written as "text"; anything else (no terminator, embedded
// zeros, line breaks, size 0) only survives as hex(1):.
bool PlainText(const reg::Value &v) {
  if (v.type != REG_SZ || v.data.empty() || v.data.back() != 0) return false;
  for (size_t i = 0; i + 1 < v.data.size(); ++i)
    if (v.data[i] < 0x20 || v.data[i] == 0x7f) return false;
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Parses a quoted string at text[*pos] (which is '"'); *pos ends after the
// closing quote.  Only \\ and \" are escapes.
bool ParseQuoted(const std::string &text, size_t *pos, std::string *out, std::string *message) {
  out->clear();
  for (size_t i = *pos + 1; i < text.size(); ++i) {
    char c = text[i];
    if (c == '"') {
      *pos = i + 1;
      return true;
    }
    if (c == '\\') {
      if (i + 1 >= text.size() || (text[i + 1] != '\\' && text[i + 1] != '"')) {
        *message = "unknown escape in quoted text (only \\\\ and \\\" are allowed)";
        return false;
      }
      c = text[++i];
    }
    *out += c;
  }
  *message = "missing closing quote";
  return false;
}

bool ParseHexBytes(const std::string &text, std::vector<BYTE> *out, std::string *message) {
  out->clear();
  size_t i = 0;
  auto skipBlanks = [&] {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  };
  skipBlanks();
  if (i == text.size()) return true;
  for (;;) {
    skipBlanks();
    int high = i < text.size() ? HexDigit(text[i]) : -1;
    int low = i + 1 < text.size() ? HexDigit(text[i + 1]) : -1;
    if (high < 0 || low < 0) {
      *message = "expected two hex digits at column " + std::to_string(i + 1) + " of the data";
      return false;
    }
    out->push_back(BYTE(high * 16 + low));
    i += 2;
    skipBlanks();
    if (i == text.size()) return true;
    if (text[i] != ',') {
      *message = "expected ',' between hex bytes";
      return false;
    }
    ++i;
  }
}

// Parses the data after '=': "text", dword:xxxxxxxx, hex:..., hex(N):...
bool ParseData(const std::string &data, reg::Value *v, std::string *message) {
  if (data == "-") {
    *message = "value deletion (=-) is not allowed in a hive file";
    return false;
  }
  if (!data.empty() && data[0] == '"') {
    size_t pos = 0;
    std::string text;
    if (!ParseQuoted(data, &pos, &text, message)) return false;
    if (pos != data.size()) {
      *message = "unexpected text after the closing quote";
      return false;
    }
    v->type = REG_SZ;
    v->data.assign(text.begin(), text.end());
    v->data.push_back(0);
    return true;
  }
  if (data.compare(0, 6, "dword:") == 0) {
    std::string digits = data.substr(6);
    if (digits.size() != 8) {
      *message = "dword: needs exactly 8 hex digits";
      return false;
    }
    DWORD value = 0;
    for (char c : digits) {
      int d = HexDigit(c);
      if (d < 0) {
        *message = "dword: needs exactly 8 hex digits";
        return false;
      }
      value = value * 16 + DWORD(d);
    }
    v->type = REG_DWORD;
    v->data = {BYTE(value), BYTE(value >> 8), BYTE(value >> 16), BYTE(value >> 24)};
    return true;
  }
  size_t colon;
  if (data.compare(0, 4, "hex:") == 0) {
    v->type = REG_BINARY;
    colon = 3;
  } else if (data.compare(0, 4, "hex(") == 0) {
    size_t close = data.find(')');
    std::string digits = close == std::string::npos ? "" : data.substr(4, close - 4);
    if (close == std::string::npos || digits.empty() || digits.size() > 8 ||
        close + 1 >= data.size() || data[close + 1] != ':') {
      *message = "expected hex(N): with N in hex";
      return false;
    }
    DWORD type = 0;
    for (char c : digits) {
      int d = HexDigit(c);
      if (d < 0) {
        *message = "expected hex(N): with N in hex";
        return false;
      }
      type = type * 16 + DWORD(d);
    }
    v->type = type;
    colon = close + 1;
  } else {
    *message = "unknown value data (expected \"text\", dword:, hex: or hex(N):)";
    return false;
  }
  return ParseHexBytes(data.substr(colon + 1), &v->data, message);
}

bool ParseValueLine(const std::string &line, reg::Value *v, std::string *message) {
  size_t pos;
  if (line[0] == '@') {
    v->name.clear();
    pos = 1;
  } else {
    pos = 0;
    if (!ParseQuoted(line, &pos, &v->name, message)) return false;
    if (v->name.empty()) {
      *message = "the default value is written @=, not \"\"=";
      return false;
    }
  }
  if (pos >= line.size() || line[pos] != '=') {
    *message = "expected '=' after the value name";
    return false;
  }
  return ParseData(line.substr(pos + 1), v, message);
}

bool ValidKeyPath(const std::string &path) {
  if (path.empty() || path[0] == '-') return false;
  size_t start = 0;
  for (;;) {
    size_t end = path.find('\\', start);
    if (end == start) return false;  // empty part
    if (end == std::string::npos) return start < path.size();
    start = end + 1;
  }
}

std::string RightTrimmed(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.pop_back();
  return s;
}

}  // namespace

bool ParseRegFile(const std::string &text, const std::string &file, std::vector<RegFileKey> *keys,
                  std::string *error) {
  keys->clear();
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
  auto fail = [&](size_t index, const std::string &message) {
    *error = file + ":" + std::to_string(index + 1) + ": " + message;
    keys->clear();
    return false;
  };
  if (lines.empty() || lines[0] != kHeader) return fail(0, "expected the header line REGEDIT4");
  std::map<std::string, size_t> byPath;  // upper-cased path -> index in keys
  RegFileKey *current = nullptr;
  for (size_t i = 1; i < lines.size(); ++i) {
    std::string line = RightTrimmed(lines[i]);
    size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == ';') continue;
    if (first != 0) return fail(i, "unexpected leading blanks");
    if (line[0] == '[') {
      if (line.back() != ']') return fail(i, "expected ']' at the end of the key line");
      std::string path = line.substr(1, line.size() - 2);
      if (!ValidKeyPath(path)) return fail(i, "invalid key path \"" + path + "\"");
      auto found = byPath.find(UpperText(path));
      if (found == byPath.end()) {
        byPath[UpperText(path)] = keys->size();
        keys->push_back(RegFileKey{path, {}, int(i + 1)});
        current = &keys->back();
      } else {
        current = &(*keys)[found->second];
      }
      continue;
    }
    if (line[0] != '"' && line[0] != '@') return fail(i, "expected a [key] line or a value line");
    if (!current) return fail(i, "value before the first [key] line");
    // Hex data may go on over several lines: ",\" at the end, blanks before
    // the continuation.
    size_t startLine = i;
    size_t equals = line[0] == '@' ? 1 : std::string::npos;
    if (equals == std::string::npos) {
      std::string name, message;
      size_t pos = 0;
      if (ParseQuoted(line, &pos, &name, &message)) equals = pos;
    }
    bool hex = equals != std::string::npos && line.compare(equals, 4, "=hex") == 0;
    while (hex && line.back() == '\\') {
      line.pop_back();
      if (line.empty() || line.back() != ',')
        return fail(i, "a continued line must end in \",\\\"");
      if (++i >= lines.size()) return fail(i - 1, "continuation line missing at the end of the file");
      std::string next = RightTrimmed(lines[i]);
      size_t lead = next.find_first_not_of(" \t");
      if (lead == 0 || lead == std::string::npos)
        return fail(i, "a continuation line must start with blanks");
      line += next.substr(lead);
    }
    reg::Value value;
    std::string message;
    if (!ParseValueLine(line, &value, &message)) return fail(startLine, message);
    bool replaced = false;
    for (reg::Value &v : current->values) {
      if (UpperText(v.name) == UpperText(value.name)) {
        v.type = value.type;  // the stored name keeps its first spelling
        v.data = value.data;
        replaced = true;
        break;
      }
    }
    if (!replaced) current->values.push_back(value);
  }
  return true;
}

std::string FormatRegValue(const reg::Value &v) {
  std::string line = v.name.empty() ? "@=" : Quote(v.name) + "=";
  if (PlainText(v)) {
    return line + Quote(std::string(v.data.begin(), v.data.end() - 1));
  }
  char buffer[32];
  if (v.type == REG_DWORD && v.data.size() == 4) {
    DWORD d = DWORD(v.data[0]) | DWORD(v.data[1]) << 8 | DWORD(v.data[2]) << 16 |
              DWORD(v.data[3]) << 24;
    snprintf(buffer, sizeof buffer, "dword:%08lx", (unsigned long)d);
    return line + buffer;
  }
  if (v.type == REG_BINARY) {
    line += "hex:";
  } else {
    snprintf(buffer, sizeof buffer, "hex(%lx):", (unsigned long)v.type);
    line += buffer;
  }
  // Wrapped as regedit does: lines stay under 80 columns, continuation
  // lines start with two blanks.
  size_t lineStart = 0;
  for (size_t i = 0; i < v.data.size(); ++i) {
    bool last = i + 1 == v.data.size();
    snprintf(buffer, sizeof buffer, last ? "%02x" : "%02x,", unsigned(v.data[i]));
    line += buffer;
    if (!last && line.size() - lineStart >= 76) {
      line += "\\\r\n  ";
      lineStart = line.size() - 2;
    }
  }
  return line;
}

std::string FormatRegFile(const std::vector<RegFileKey> &keys) {
  std::string out = std::string(kHeader) + "\r\n\r\n";
  for (const RegFileKey &key : keys) {
    out += "[" + key.path + "]\r\n";
    for (const reg::Value &v : key.values) out += FormatRegValue(v) + "\r\n";
    out += "\r\n";
  }
  return out;
}

}  // namespace winsim
