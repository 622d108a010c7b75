// Text helpers for what is ASCII by definition: device and hardware IDs, INF
// keys, the machine's own files, the dump's keywords.  Names of files and
// keys go by the machine's code page instead (machine_text.h).
//
// Plain C++ with no Windows or winsim headers, like snapshot.h: the Win32
// tools of the Wine tests include it too.
#ifndef WINSIM_ASCII_H
#define WINSIM_ASCII_H

#include <string>

namespace winsim {

// The blanks a format trims around its names and values.
const char kSpaceTab[] = " \t";
const char kSpaceTabLineEnds[] = " \t\r\n";

// `s` with a-z upper-cased; every other byte is kept.
inline std::string AsciiUpper(std::string s) {
  for (char &c : s)
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  return s;
}

inline bool AsciiEqualNoCase(const std::string &a, const std::string &b) {
  return AsciiUpper(a) == AsciiUpper(b);
}

// `s` without the bytes of `blanks` at either end (a set given as a
// std::string may hold NUL).
inline std::string Trim(const std::string &s, const std::string &blanks) {
  size_t begin = s.find_first_not_of(blanks);
  if (begin == std::string::npos) return "";
  return s.substr(begin, s.find_last_not_of(blanks) - begin + 1);
}

}  // namespace winsim

#endif  // WINSIM_ASCII_H
