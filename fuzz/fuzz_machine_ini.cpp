// The machine.ini reader over arbitrary text: what it accepts is written
// back by FormatMachineIni into a text that reads to the same machine.
#include <cstddef>
#include <cstdint>
#include <string>

#include "machine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string text(reinterpret_cast<const char *>(data), size);
  winsim::MachineConfig config;
  std::string error;
  if (!winsim::ParseMachineIni(text, "fuzz", &config, &error)) return 0;
  const std::string formatted = winsim::FormatMachineIni(config);
  winsim::MachineConfig again;
  if (!winsim::ParseMachineIni(formatted, "formatted", &again, &error)) __builtin_trap();
  if (winsim::FormatMachineIni(again) != formatted) __builtin_trap();
  return 0;
}
