// The dump's text forms, shared by its writer, its reader, its diff and the
// change report (tools/common/changes.cpp).  Plain C++ like snapshot.h.
#ifndef WINSIM_DUMP_FORMAT_H
#define WINSIM_DUMP_FORMAT_H

#include <cstdint>
#include <string>
#include <vector>

#include "snapshot.h"

namespace winsim {
namespace dump_internal {

// "REG_SZ", ... or the decimal number.
std::string TypeNameOf(uint32_t type);
// A value's data as the dump shows it.
std::string DataText(uint32_t type, const std::vector<uint8_t> &data);
// A profile line after "profile NAME |".
std::string ProfileLineText(const std::string &line);
// The [devices] lines derived from the registry.
std::vector<std::string> Devices(const MachineSnapshot &s);

}  // namespace dump_internal
}  // namespace winsim

#endif  // WINSIM_DUMP_FORMAT_H
