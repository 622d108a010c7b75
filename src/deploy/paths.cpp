// Path building and name comparison: the helpers the deployment primitives,
// the delayed-move names and the running-application guard share.  They make
// no call but the code page's character steps.
#include <windows.h>

#include <cstring>

#include "deploy/deploy.h"

std::string WithBackslash(std::string path, BYTE mode) {
  // The last character is looked at, not the last byte: in a double-byte
  // code page a name may end in a character whose second byte is 0x5C
  // (Shift-JIS "\x83\x5C"), which is no backslash.
  if (path.empty()) return path;
  const char *end = path.c_str() + path.size();
  const char *last = CharPrevA(path.c_str(), end);
  bool trailing = last + 1 == end && *last == '\\';
  if (mode == 1) {
    if (!trailing) path += '\\';
  } else if (trailing) {
    path.pop_back();
  }
  return path;
}

namespace {

// Steps `a` and `b` on over the characters they have in common, up to the
// first that differs or the end of either.
void SkipSameCharacters(const char **a, const char **b) {
  while (**a && **b) {
    const char *nextA = CharNextA(*a), *nextB = CharNextA(*b);
    size_t length = size_t(nextA - *a);
    if (length != size_t(nextB - *b)) return;
    if (length > 1 ? memcmp(*a, *b, length) != 0 : UpperAscii(**a) != UpperAscii(**b)) return;
    *a = nextA;
    *b = nextB;
  }
}

}  // namespace

bool SameName(const char *a, const char *b) {
  SkipSameCharacters(&a, &b);
  return *a == 0 && *b == 0;
}

bool NameStartsWith(const char *name, const char *prefix) {
  SkipSameCharacters(&name, &prefix);
  return *prefix == 0;
}
