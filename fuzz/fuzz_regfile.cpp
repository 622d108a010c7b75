// winsim's REGEDIT4 reader over arbitrary text: whatever it accepts, it
// writes back in a form that reads back to the same keys and values.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "regfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string text(reinterpret_cast<const char *>(data), size);
  std::vector<winsim::RegFileKey> keys;
  std::string error;
  if (!winsim::ParseRegFile(text, "fuzz.reg", &keys, &error)) return 0;
  std::string written = winsim::FormatRegFile(keys);
  std::vector<winsim::RegFileKey> again;
  if (!winsim::ParseRegFile(written, "again.reg", &again, &error)) __builtin_trap();
  if (winsim::FormatRegFile(again) != written) __builtin_trap();
  return 0;
}
