// The memory and string functions of the C library that the product calls,
// and those the compiler may call on its own for copies and clears.
// Compiled without the compiler's built-in knowledge of them, so that it
// does not turn these loops back into calls of themselves.
#include <cstddef>

extern "C" {

void *memcpy(void *target, const void *source, std::size_t size) {
  unsigned char *t = static_cast<unsigned char *>(target);
  const unsigned char *s = static_cast<const unsigned char *>(source);
  while (size--) *t++ = *s++;
  return target;
}

void *memmove(void *target, const void *source, std::size_t size) {
  unsigned char *t = static_cast<unsigned char *>(target);
  const unsigned char *s = static_cast<const unsigned char *>(source);
  if (t < s) {
    while (size--) *t++ = *s++;
  } else {
    while (size--) t[size] = s[size];
  }
  return target;
}

void *memset(void *target, int value, std::size_t size) {
  unsigned char *t = static_cast<unsigned char *>(target);
  while (size--) *t++ = static_cast<unsigned char>(value);
  return target;
}

int memcmp(const void *a, const void *b, std::size_t size) {
  const unsigned char *x = static_cast<const unsigned char *>(a);
  const unsigned char *y = static_cast<const unsigned char *>(b);
  for (; size; --size, ++x, ++y)
    if (*x != *y) return *x < *y ? -1 : 1;
  return 0;
}

void *memchr(const void *data, int value, std::size_t size) {
  const unsigned char *p = static_cast<const unsigned char *>(data);
  for (; size; --size, ++p)
    if (*p == static_cast<unsigned char>(value)) return const_cast<unsigned char *>(p);
  return nullptr;
}

// The terminating zero counts as part of the string, as in the C library.
char *strchr(const char *text, int value) {
  for (;; ++text) {
    if (*text == static_cast<char>(value)) return const_cast<char *>(text);
    if (!*text) return nullptr;
  }
}

std::size_t strlen(const char *text) {
  const char *end = text;
  while (*end) ++end;
  return std::size_t(end - text);
}

std::size_t strnlen(const char *text, std::size_t limit) {
  std::size_t length = 0;
  while (length < limit && text[length]) ++length;
  return length;
}

// Compared as unsigned bytes, as the C library does.
int strcmp(const char *a, const char *b) {
  const unsigned char *x = reinterpret_cast<const unsigned char *>(a);
  const unsigned char *y = reinterpret_cast<const unsigned char *>(b);
  while (*x && *x == *y) ++x, ++y;
  return *x < *y ? -1 : *x > *y ? 1 : 0;
}

char *strcpy(char *target, const char *source) {
  char *t = target;
  while ((*t++ = *source++) != 0) {
  }
  return target;
}

}  // extern "C"
