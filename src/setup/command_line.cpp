// The process command line, split into arguments.
#include "setup/setup.h"

namespace {

// Blanks and control characters separate arguments.  Compared unsigned, so
// that bytes from 0x80 up (accented letters, double-byte characters) stay
// part of an argument.
bool IsSeparator(char c) { return static_cast<unsigned char>(c) <= ' '; }

}  // namespace

std::vector<std::string> SplitCommandLine(const char *commandLine) {
  std::vector<std::string> arguments;
  const char *p = commandLine ? commandLine : "";
  for (;;) {
    // Skip separators and empty quote pairs that stand before an argument.
    for (;;) {
      while (*p && IsSeparator(*p)) ++p;
      if (p[0] == '"' && p[1] == '"')
        p += 2;
      else
        break;
    }
    if (!*p) break;
    std::string argument;
    while (*p && !IsSeparator(*p)) {
      if (*p == '"') {
        for (++p; *p && *p != '"'; ++p) argument += *p;
        if (*p) ++p;
      } else {
        argument += *p++;
      }
    }
    arguments.push_back(argument);
  }
  return arguments;
}

std::string CommandLineArgument(size_t index) {
  std::vector<std::string> arguments = SplitCommandLine(GetCommandLineA());
  return index < arguments.size() ? arguments[index] : std::string();
}
