// The state winedump collects, and its text form.
//
// The fields mirror winsim's MachineSnapshot (winsim/report.h) one for one,
// so that the collection code stays as it is when the shared, platform-
// neutral dump formatter takes over the text form.  Until then this writes
// a plain sectioned listing of the same facts.
#ifndef TOOLS_WIN32_WINE_SNAPSHOT_H
#define TOOLS_WIN32_WINE_SNAPSHOT_H

#include <windows.h>

#include <stdio.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

struct FileEntry {
  unsigned long long size = 0;
  std::string hash;
  DWORD attributes = 0;
  bool directory = false;
};

struct RegValueEntry {
  DWORD type = 0;
  std::vector<BYTE> data;
};

struct Snapshot {
  std::map<std::string, FileEntry> files;
  std::vector<std::string> keys;
  std::map<std::string, RegValueEntry> values;  // key + "\\\\" + value name
  std::map<std::string, std::vector<std::string>> profiles;
  std::vector<std::pair<std::string, std::string>> pendingMoves;
  std::vector<std::string> journal;
};

inline std::string QuoteDumpText(const std::string &text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
    } else if (c < 32 || c >= 127) {
      char hex[8];
      snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    } else {
      out += char(c);
    }
  }
  return out + "\"";
}

inline std::string FormatSnapshot(const Snapshot &s) {
  std::string out;
  char buffer[64];
  out += "[files]\n";
  for (const auto &f : s.files) {
    if (f.second.directory) {
      snprintf(buffer, sizeof buffer, " dir attr=0x%lx", (unsigned long)f.second.attributes);
    } else {
      snprintf(buffer, sizeof buffer, " size=%llu attr=0x%lx hash=", f.second.size,
               (unsigned long)f.second.attributes);
    }
    out += QuoteDumpText(f.first) + buffer + (f.second.directory ? "" : f.second.hash) + "\n";
  }
  out += "[registry]\n";
  for (const std::string &key : s.keys) {
    out += QuoteDumpText(key) + "\n";
    std::string prefix = key + "\\\\";
    for (auto it = s.values.lower_bound(prefix);
         it != s.values.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it) {
      std::string name = it->first.substr(prefix.size());
      if (name.find("\\\\") != std::string::npos) continue;  // a deeper key's value
      snprintf(buffer, sizeof buffer, " type=%lu data=", (unsigned long)it->second.type);
      out += "  " + QuoteDumpText(name) + buffer;
      for (BYTE b : it->second.data) {
        snprintf(buffer, sizeof buffer, "%02x", b);
        out += buffer;
      }
      out += "\n";
    }
  }
  for (const auto &p : s.profiles) {
    out += "[profile " + p.first + "]\n";
    for (const std::string &line : p.second) out += "  " + QuoteDumpText(line) + "\n";
  }
  out += "[pending]\n";
  for (const auto &m : s.pendingMoves)
    out += QuoteDumpText(m.first) + " -> " + QuoteDumpText(m.second) + "\n";
  out += "[journal]\n";
  for (const std::string &line : s.journal) out += line + "\n";
  return out;
}

#endif  // TOOLS_WIN32_WINE_SNAPSHOT_H
