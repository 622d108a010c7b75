// The dump's text forms (dump_format.cpp), shared by its writer, its reader
// (dump_reader.cpp), its diff (dump_diff.cpp) and the change report
// (tools/common/changes.cpp).  Plain C++ like snapshot.h.
#ifndef WINSIM_DUMP_FORMAT_H
#define WINSIM_DUMP_FORMAT_H

#include <cstdint>
#include <string>
#include <vector>

#include "snapshot.h"

namespace winsim {
namespace dump_internal {

// The sections, in dump order.
const int kSectionCount = 6;
extern const char *const kSectionNames[kSectionCount];
enum Section { kFiles, kRegistry, kProfiles, kPending, kDevices, kJournal };
// A snapshot as the lines of each section, without the section headers.
struct Sections {
  std::vector<std::string> lines[kSectionCount];
};
Sections MakeSections(const MachineSnapshot &s);

bool StartsWith(const std::string &s, const std::string &prefix);
// A lower-case hex digit's value, -1 for anything else.
int HexDigit(char c);

// Registry data: "REG_SZ", ... or the decimal number, and back.
std::string TypeName(uint32_t type);
bool ParseTypeName(const std::string &s, uint32_t *type);
// A value's data as the dump shows it, and back (only the canonical form).
std::string FormatData(uint32_t type, const std::vector<uint8_t> &data);
bool ParseData(uint32_t type, const std::string &s, std::vector<uint8_t> *out);
// A profile line after "profile NAME |".
std::string ProfileBody(const std::string &line);
// The [devices] lines derived from the registry.
std::vector<std::string> DeviceLines(const MachineSnapshot &s);

}  // namespace dump_internal
}  // namespace winsim

#endif  // WINSIM_DUMP_FORMAT_H
