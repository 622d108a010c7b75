// The restart queue's readers (see restart_queue.h).
#include "restart_queue.h"

#include "ascii.h"

namespace winsim {

std::string StripNtPrefix(const std::string &name) {
  return name.compare(0, 4, "\\??\\") == 0 ? name.substr(4) : name;
}

std::vector<std::pair<std::string, std::string>> PendingPairs(const std::vector<uint8_t> &data) {
  std::vector<std::pair<std::string, std::string>> pairs;
  if (data.size() < 2 || data[data.size() - 1] != 0 || data[data.size() - 2] != 0) return pairs;
  size_t i = 0;
  auto next = [&](std::string *s) {
    s->clear();
    while (i < data.size() && data[i] != 0) *s += char(data[i++]);
    if (i < data.size()) ++i;  // the zero
  };
  while (i < data.size() && data[i] != 0) {  // an empty source ends the list
    std::string source, target;
    next(&source);
    next(&target);
    pairs.push_back({source, target});
  }
  return pairs;
}

namespace {

// A DOS name: up to 8 characters, optionally a dot and up to 3 more, none
// of the characters FAT short names exclude.
bool IsShortComponent(const std::string &part) {
  size_t dot = part.find('.');
  std::string base = part.substr(0, dot);
  std::string ext = dot == std::string::npos ? "" : part.substr(dot + 1);
  if (base.empty() || base.size() > 8 || ext.size() > 3) return false;
  if (dot != std::string::npos && (ext.empty() || ext.find('.') != std::string::npos)) return false;
  for (unsigned char c : part)
    if (c <= ' ' || std::string("+,;=[]\"*?<>|").find(char(c)) != std::string::npos) return false;
  return true;
}

// A full path of DOS names: "X:\" and short components.
bool IsShortPath(const std::string &path) {
  if (path.size() < 3 || path[1] != ':' || path[2] != '\\') return false;
  size_t start = 3;
  for (;;) {
    size_t end = path.find('\\', start);
    if (!IsShortComponent(path.substr(start, end == std::string::npos ? end : end - start)))
      return false;
    if (end == std::string::npos) return true;
    start = end + 1;
  }
}

}  // namespace

std::vector<WininitLine> WininitRenames(const std::vector<std::string> &lines) {
  std::vector<WininitLine> out;
  bool inRename = false, seenRename = false, first = false;
  for (std::string line : lines) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    line = Trim(line, kSpaceTab);
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      // The name ends at the first "]".  A "]" that is the trail byte of a
      // double-byte character can cut the name short, but never into
      // "rename": every byte before it would have to be ASCII.
      size_t close = line.find(']');
      std::string name = Trim(line.substr(1, close == std::string::npos ? close : close - 1), kSpaceTab);
      inRename = AsciiUpper(name) == "RENAME";
      first = inRename && !seenRename;
      seenRename = seenRename || inRename;
      continue;
    }
    size_t eq = line.find('=');
    if (!inRename || eq == std::string::npos) continue;
    WininitLine entry;
    entry.target = Trim(line.substr(0, eq), kSpaceTab);
    entry.source = Trim(line.substr(eq + 1), kSpaceTab);
    if (AsciiUpper(entry.target) == "NUL") entry.target.clear();
    entry.firstSection = first;
    if (!first)
      entry.ignored = "after the first [rename] section (WININIT reads only that one)";
    else if (!IsShortPath(entry.source) || (!entry.target.empty() && !IsShortPath(entry.target)))
      entry.ignored = "not an 8.3 name (WININIT runs under DOS)";
    out.push_back(entry);
  }
  return out;
}

std::string RestartStepText(const std::string &source, const std::string &target) {
  return target.empty() ? "delete " + source : target + " <- " + source;
}

}  // namespace winsim
