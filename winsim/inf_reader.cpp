// The INF reader of the simulated SetupAPI (inf_reader.h).
#include "inf_reader.h"

#include <sstream>

#include "ascii.h"
#include "device_nodes.h"
#include "paths.h"
#include "textfile.h"
#include "wow64.h"

namespace winsim {
namespace devices {

const std::vector<InfLine> *Inf::Section(const std::string &name) const {
  auto it = sections.find(AsciiUpper(name));
  return it == sections.end() ? nullptr : &it->second;
}

std::string Inf::Expand(const std::string &raw) const {
  std::string out;
  for (size_t i = 0; i < raw.size(); ++i) {
    size_t close = raw[i] == '%' ? raw.find('%', i + 1) : std::string::npos;
    if (close == std::string::npos) {
      out += raw[i];
      continue;
    }
    std::string token = raw.substr(i + 1, close - i - 1);
    if (token.empty()) {
      out += '%';
    } else {
      auto s = strings.find(AsciiUpper(token));
      out += s == strings.end() ? token : s->second;  // unknown tokens stay bare
    }
    i = close;
  }
  return out;
}

std::string Inf::Value(const std::string &section, const std::string &key, bool *found) const {
  if (found) *found = false;
  if (const std::vector<InfLine> *lines = Section(section))
    for (const InfLine &line : *lines)
      if (AsciiEqualNoCase(line.key, key)) {
        if (found) *found = true;
        return line.fields.empty() ? "" : Expand(line.fields[0]);
      }
  return "";
}

// Splits one logical line at commas outside quotes; `equals` receives the
// position of the first '=' outside quotes.
namespace {

std::vector<std::string> InfSplit(const std::string &text, std::string *key) {
  std::vector<std::string> fields;
  std::string current;
  bool quoted = false, haveKey = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '"') {
      if (quoted && i + 1 < text.size() && text[i + 1] == '"') {
        current += '"';
        ++i;
      } else {
        quoted = !quoted;
      }
    } else if (!quoted && c == '=' && !haveKey) {
      *key = Trim(current, kSpaceTabLineEnds);
      current.clear();
      haveKey = true;
    } else if (!quoted && c == ',') {
      fields.push_back(Trim(current, kSpaceTabLineEnds));
      current.clear();
    } else {
      current += c;
    }
  }
  fields.push_back(Trim(current, kSpaceTabLineEnds));
  if (!haveKey) key->clear();
  return fields;
}

}  // namespace

Inf ParseInf(const std::string &text) {
  Inf inf;
  std::vector<InfLine> *section = nullptr;
  std::istringstream in(text);
  std::string physical, logical;
  while (std::getline(in, physical)) {
    // Strip a comment outside quotes.
    bool quoted = false;
    std::string line;
    for (char c : physical) {
      if (c == '"') quoted = !quoted;
      if (c == ';' && !quoted) break;
      line += c;
    }
    line = Trim(line, kSpaceTabLineEnds);
    if (!line.empty() && line.back() == '\\') {
      logical += line.substr(0, line.size() - 1);
      continue;
    }
    logical += line;
    line = Trim(logical, kSpaceTabLineEnds);
    logical.clear();
    if (line.empty()) continue;
    if (line[0] == '[') {
      size_t close = line.find(']');
      std::string name = Trim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1), kSpaceTabLineEnds);
      section = &inf.sections[AsciiUpper(name)];
      continue;
    }
    if (!section) continue;  // lines before the first section are ignored
    InfLine entry;
    entry.fields = InfSplit(line, &entry.key);
    section->push_back(entry);
  }
  if (const std::vector<InfLine> *strings = inf.Section("Strings"))
    for (const InfLine &s : *strings)
      if (!s.key.empty() && !s.fields.empty()) inf.strings[AsciiUpper(s.key)] = s.fields[0];
  if (const std::vector<InfLine> *version = inf.Section("Version"))
    for (const InfLine &line : *version)
      if (AsciiEqualNoCase(line.key, "DriverVer")) {
        inf.hasDriverVer = true;
        inf.driverDate = line.fields.empty() ? "" : inf.Expand(line.fields[0]);
        inf.driverVersion = line.fields.size() < 2 ? "" : inf.Expand(line.fields[1]);
        break;
      }
  return inf;
}

// Reads the INF at `path`.  0 on success, else the code a SetupAPI call
// gives: a missing file (or directory on the way) is ERROR_FILE_NOT_FOUND,
// as Wine observed (reference 5.4; Windows may give 3 for a missing
// directory, unconfirmed); a directory is ERROR_ACCESS_DENIED.
DWORD LoadInf(const char *path, Inf *out) {
  ResolvedPath r;
  if (ResolveCallerPath(path, &r) != 0 || !r.exists) return ERROR_FILE_NOT_FOUND;
  if (r.isDirectory) return ERROR_ACCESS_DENIED;
  std::string text;
  if (!ReadTextFile(r.host, &text)) return ERROR_ACCESS_DENIED;
  *out = ParseInf(text);
  return 0;
}

// Signatures SetupAPI accepts for a device INF.
bool HasValidSignature(const Inf &inf) {
  std::string s = AsciiUpper(inf.Value("Version", "Signature"));
  return s == "$WINDOWS NT$" || s == "$CHICAGO$" || s == "$WINDOWS 95$";
}


}  // namespace devices
}  // namespace winsim
