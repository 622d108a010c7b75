// The code-page functions in the attached machine's code page (machine_text.h).
#include "machine_text.h"

#include "codepage.h"
#include "machine.h"

namespace winsim {

namespace {

UINT CodePage() { return Config().codePage; }

}  // namespace

size_t CharBytes(const std::string &text, size_t at) { return CharBytes(text, at, CodePage()); }
std::vector<std::string> SplitChars(const std::string &text) { return SplitChars(text, CodePage()); }
size_t FindFirstChar(const std::string &text, const char *set) { return FindFirstChar(text, set, CodePage()); }
size_t FindLastChar(const std::string &text, const char *set) { return FindLastChar(text, set, CodePage()); }
std::vector<std::string> SplitAtChar(const std::string &text, char separator) {
  return SplitAtChar(text, separator, CodePage());
}
bool EndsWithChar(const std::string &text, char c) { return EndsWithChar(text, c, CodePage()); }
std::string UpperText(const std::string &text) { return UpperText(text, CodePage()); }
int CompareNoCase(const std::string &a, const std::string &b) { return CompareNoCase(a, b, CodePage()); }
size_t SystemLength(const std::string &text) { return SystemLength(text, CodePage(), Config().Is9x()); }

}  // namespace winsim
