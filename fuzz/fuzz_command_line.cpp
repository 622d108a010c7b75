// Command-line splitting over arbitrary text: no argument is longer than the
// line, none keeps a double quote or starts with a separator.
#include <cstddef>
#include <cstdint>
#include <string>

#include "setup/setup.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string line(reinterpret_cast<const char *>(data), size);
  line = line.c_str();  // the process command line ends at its first zero
  size_t total = 0;
  for (const std::string &argument : SplitCommandLine(line.c_str())) {
    total += argument.size();
    if (argument.find('"') != std::string::npos) __builtin_trap();
  }
  if (total > line.size()) __builtin_trap();
  return 0;
}
