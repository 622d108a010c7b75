// The diff of two dumps: the differing lines under their section headers.
#include "snapshot.h"

#include <map>

#include "dump_format.h"

namespace winsim {

using namespace dump_internal;

namespace {

// Marks which lines of `a` also occur in `b`, first occurrences first.
std::vector<bool> Common(const std::vector<std::string> &a, const std::vector<std::string> &b) {
  std::map<std::string, int> available;
  for (const std::string &line : b) ++available[line];
  std::vector<bool> common(a.size());
  for (size_t i = 0; i < a.size(); ++i) {
    auto it = available.find(a[i]);
    if (it != available.end() && it->second > 0) {
      --it->second;
      common[i] = true;
    }
  }
  return common;
}

}  // namespace

std::string DiffDumps(const MachineSnapshot &a, const MachineSnapshot &b) {
  Sections sa = MakeSections(a), sb = MakeSections(b);
  std::string out;
  for (int s = 0; s < kSectionCount; ++s) {
    const std::vector<std::string> &la = sa.lines[s], &lb = sb.lines[s];
    std::vector<bool> ca = Common(la, lb), cb = Common(lb, la);
    std::string body;
    // Walk both lists: the lines that are only on one side come out in
    // place, between the lines both share.
    size_t i = 0, j = 0;
    while (i < la.size() || j < lb.size()) {
      while (i < la.size() && !ca[i]) body += "- " + la[i++] + "\n";
      while (j < lb.size() && !cb[j]) body += "+ " + lb[j++] + "\n";
      if (i < la.size() && j < lb.size() && la[i] != lb[j]) {
        // Shared lines in a different order: show the move.
        body += "- " + la[i] + "\n+ " + lb[j] + "\n";
      }
      if (i < la.size()) ++i;
      if (j < lb.size()) ++j;
    }
    if (!body.empty()) out += "[" + std::string(kSectionNames[s]) + "]\n" + body;
  }
  return out;
}

}  // namespace winsim
