// Text in the attached machine's ANSI code page: the functions of
// codepage.h with the code page of machine.ini (and, for lengths, the
// machine's family).  The API's implementations use these.
#ifndef WINSIM_MACHINE_TEXT_H
#define WINSIM_MACHINE_TEXT_H

#include <cstddef>
#include <string>
#include <vector>

namespace winsim {

size_t CharBytes(const std::string &text, size_t at);
std::vector<std::string> SplitChars(const std::string &text);
size_t FindFirstChar(const std::string &text, const char *set);
size_t FindLastChar(const std::string &text, const char *set);
std::vector<std::string> SplitAtChar(const std::string &text, char separator);
bool EndsWithChar(const std::string &text, char c);
std::string UpperText(const std::string &text);
int CompareNoCase(const std::string &a, const std::string &b);
inline bool EqualNoCase(const std::string &a, const std::string &b) { return CompareNoCase(a, b) == 0; }
size_t SystemLength(const std::string &text);

}  // namespace winsim

#endif  // WINSIM_MACHINE_TEXT_H
