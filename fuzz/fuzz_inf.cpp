// The INF reader over arbitrary text: every section and field it returns
// expands, and [Version] DriverVer, read once, is the line Value() finds.
#include <cstddef>
#include <cstdint>
#include <string>

#include "inf_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  using winsim::devices::Inf;
  using winsim::devices::InfLine;
  const Inf inf = winsim::devices::ParseInf(std::string(reinterpret_cast<const char *>(data), size));
  for (const auto &section : inf.sections) {
    if (inf.Section(section.first) != &section.second) __builtin_trap();
    for (const InfLine &line : section.second)
      for (const std::string &field : line.fields) inf.Expand(field);
  }
  bool found = false;
  std::string date = inf.Value("Version", "DriverVer", &found);
  if (found != inf.hasDriverVer || (found && date != inf.driverDate)) __builtin_trap();
  return 0;
}
