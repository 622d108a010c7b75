// The dump reader over arbitrary text: what it accepts is the one canonical
// dump of what it read (written back byte for byte), and the restart queue's
// readers take any bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "restart_queue.h"
#include "snapshot.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string text(reinterpret_cast<const char *>(data), size);
  winsim::MachineSnapshot snapshot;
  std::string error;
  if (winsim::ParseDump(text, "fuzz", &snapshot, &error)) {
    if (winsim::FormatDump(snapshot) != text) __builtin_trap();
    if (!winsim::DiffDumps(snapshot, snapshot).empty()) __builtin_trap();
  } else if (error.compare(0, 5, "fuzz:") != 0) {
    __builtin_trap();  // every refusal names the line
  }
  for (const auto &pair : winsim::PendingPairs(std::vector<uint8_t>(data, data + size)))
    if (pair.first.empty()) __builtin_trap();  // an empty source ends the list
  for (const winsim::WininitLine &line : winsim::WininitRenames(winsim::SplitLines(text)))
    if (!line.firstSection && line.ignored.empty()) __builtin_trap();
  return 0;
}
