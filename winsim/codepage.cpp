// The machine's ANSI code page (see codepage.h), and the code-page calls of
// the API: CharNextA and CharPrevA (USER32, Windows 95 and NT 3.1 on).
//
// Facts used (Microsoft's code page tables, "bestfit" files for 932, 936,
// 949 and 950, and the Unicode Character Database):
// - lead bytes: 932 81-9F and E0-FC; 936, 949, 950 81-FE (CPINFO.LeadByte);
//   a byte that follows a lead byte is that character's second byte, in
//   every one of these pages it is 0x40 or above, so it may be 0x5C ("\")
//   or 0x7C ("|") but never a dot, blank, colon, slash or wildcard;
// - the full-width Latin letters are characters of their own (never equal
//   to "A"), with upper-case forms like any letter (U+FF41..FF5A ->
//   U+FF21..FF3A): Shift-JIS 8281-829A -> 8260-8279; GBK and Unified Hangul
//   A3E1-A3FA -> A3C1-A3DA; Big5 A2E9-A2FE, A340-A343 -> A2CF-A2E8;
// - 1252 bytes 80-9F: 8A Š, 8C Œ, 8E Ž, 9A š, 9C œ, 9E ž, 9F Ÿ; A0-FF are
//   U+00A0-00FF;
// - upper case on the NT family follows Unicode's simple mapping (the
//   table the NT file systems and the registry use): Latin-1, Latin
//   Extended-A, Greek, Cyrillic and the full-width letters are folded here;
//   other scripts have no case or are left as they are.
// The half-width katakana of 932 (A1-DF) and the double-byte characters of
// other scripts have no case: they compare as their bytes.
#include "codepage.h"

#include <cstring>

namespace winsim {

namespace {

bool IsDoubleByte(UINT cp) { return cp == 932 || cp == 936 || cp == 949 || cp == 950; }

bool IsContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// Length of a valid UTF-8 sequence at text[at], 1 for an invalid byte
// (MultiByteToWideChar turns it into one U+FFFD).
size_t Utf8Length(const std::string &text, size_t at) {
  unsigned char b = (unsigned char)text[at];
  size_t need = b >= 0xC2 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xF0 && b <= 0xF4 ? 4 : 1;
  if (need == 1 || at + need > text.size()) return 1;
  for (size_t i = 1; i < need; ++i)
    if (!IsContinuation((unsigned char)text[at + i])) return 1;
  // No overlong forms, surrogates or code points above U+10FFFF (the
  // well-formed sequences of the Unicode standard, table 3-7).
  unsigned char second = (unsigned char)text[at + 1];
  if ((b == 0xE0 && second < 0xA0) || (b == 0xED && second > 0x9F) || (b == 0xF0 && second < 0x90) ||
      (b == 0xF4 && second > 0x8F))
    return 1;
  return need;
}

char32_t Utf8Decode(const std::string &ch) {
  unsigned char b = (unsigned char)ch[0];
  if (ch.size() == 1) return b;
  char32_t c = b & (ch.size() == 2 ? 0x1F : ch.size() == 3 ? 0x0F : 0x07);
  for (size_t i = 1; i < ch.size(); ++i) c = (c << 6) | ((unsigned char)ch[i] & 0x3F);
  return c;
}

std::string Utf8Encode(char32_t c) {
  std::string out;
  if (c < 0x80) {
    out += char(c);
  } else if (c < 0x800) {
    out += char(0xC0 | (c >> 6));
    out += char(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += char(0xE0 | (c >> 12));
    out += char(0x80 | ((c >> 6) & 0x3F));
    out += char(0x80 | (c & 0x3F));
  } else {
    out += char(0xF0 | (c >> 18));
    out += char(0x80 | ((c >> 12) & 0x3F));
    out += char(0x80 | ((c >> 6) & 0x3F));
    out += char(0x80 | (c & 0x3F));
  }
  return out;
}

// Unicode's simple upper case for the blocks listed above.
char32_t UpperCodePoint(char32_t c) {
  if (c >= 'a' && c <= 'z') return c - 0x20;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 0x20;
  if (c == 0xFF) return 0x178;
  bool evenUpper = (c >= 0x100 && c <= 0x12F) || (c >= 0x132 && c <= 0x137) || (c >= 0x14A && c <= 0x177);
  if (evenUpper) return c & ~char32_t(1);
  bool oddUpper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
  if (oddUpper) return (c & 1) ? c : c - 1;
  if ((c >= 0x3B1 && c <= 0x3C1) || (c >= 0x3C3 && c <= 0x3CB)) return c - 0x20;
  if (c >= 0x430 && c <= 0x44F) return c - 0x20;
  if (c >= 0x450 && c <= 0x45F) return c - 0x50;
  if (c >= 0xFF41 && c <= 0xFF5A) return c - 0x20;
  return c;
}

unsigned char Upper1252(unsigned char b) {
  if ((b >= 'a' && b <= 'z') || (b >= 0xE0 && b <= 0xFE && b != 0xF7)) return b - 0x20;
  switch (b) {
    case 0x9A: return 0x8A;
    case 0x9C: return 0x8C;
    case 0x9E: return 0x8E;
    case 0xFF: return 0x9F;
  }
  return b;
}

// A full-width small letter of a double-byte page as its capital.
std::string UpperDoubleByte(UINT cp, const std::string &ch) {
  unsigned char lead = (unsigned char)ch[0], trail = (unsigned char)ch[1];
  int letter = -1;  // 0 for a, 25 for z
  if (cp == 932 && lead == 0x82 && trail >= 0x81 && trail <= 0x9A) letter = trail - 0x81;
  if ((cp == 936 || cp == 949) && lead == 0xA3 && trail >= 0xE1 && trail <= 0xFA) letter = trail - 0xE1;
  if (cp == 950 && lead == 0xA2 && trail >= 0xE9 && trail <= 0xFE) letter = trail - 0xE9;
  if (cp == 950 && lead == 0xA3 && trail >= 0x40 && trail <= 0x43) letter = 22 + trail - 0x40;
  if (letter < 0) return ch;
  std::string upper(2, '\0');
  upper[0] = char(cp == 932 ? 0x82 : cp == 950 ? 0xA2 : 0xA3);
  upper[1] = char((cp == 932 ? 0x60 : cp == 950 ? 0xCF : 0xC1) + letter);
  return upper;
}

std::string UpperChar(UINT cp, const std::string &ch) {
  if (ch.size() == 1) {
    unsigned char b = (unsigned char)ch[0];
    if (cp == 1252) return std::string(1, char(Upper1252(b)));
    return std::string(1, b >= 'a' && b <= 'z' ? char(b - 0x20) : char(b));
  }
  if (IsDoubleByte(cp)) return UpperDoubleByte(cp, ch);
  return Utf8Encode(UpperCodePoint(Utf8Decode(ch)));
}

}  // namespace

bool CodePageSupported(UINT cp) { return cp == 1252 || IsDoubleByte(cp) || cp == CP_UTF8; }

bool CodePageLeadByte(UINT cp, BYTE b) {
  if (cp == 932) return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
  if (IsDoubleByte(cp)) return b >= 0x81 && b <= 0xFE;
  return false;
}

size_t CharBytes(const std::string &text, size_t at, UINT cp) {
  if (at >= text.size()) return 1;
  if (cp == CP_UTF8) return Utf8Length(text, at);
  if (CodePageLeadByte(cp, BYTE(text[at])) && at + 1 < text.size() && text[at + 1] != 0) return 2;
  return 1;
}

std::vector<std::string> SplitChars(const std::string &text, UINT cp) {
  std::vector<std::string> chars;
  for (size_t at = 0; at < text.size();) {
    size_t n = CharBytes(text, at, cp);
    chars.push_back(text.substr(at, n));
    at += n;
  }
  return chars;
}

size_t FindFirstChar(const std::string &text, const char *set, UINT cp) {
  for (size_t at = 0; at < text.size();) {
    size_t n = CharBytes(text, at, cp);
    if (n == 1 && text[at] && strchr(set, text[at])) return at;
    at += n;
  }
  return std::string::npos;
}

size_t FindLastChar(const std::string &text, const char *set, UINT cp) {
  size_t found = std::string::npos;
  for (size_t at = 0; at < text.size();) {
    size_t n = CharBytes(text, at, cp);
    if (n == 1 && text[at] && strchr(set, text[at])) found = at;
    at += n;
  }
  return found;
}

std::vector<std::string> SplitAtChar(const std::string &text, char separator, UINT cp) {
  std::vector<std::string> parts(1);
  for (size_t at = 0; at < text.size();) {
    size_t n = CharBytes(text, at, cp);
    if (n == 1 && text[at] == separator)
      parts.emplace_back();
    else
      parts.back() += text.substr(at, n);
    at += n;
  }
  return parts;
}

bool EndsWithChar(const std::string &text, char c, UINT cp) {
  size_t last = FindLastChar(text, std::string(1, c).c_str(), cp);
  return last != std::string::npos && last + 1 == text.size();
}

std::string UpperText(const std::string &text, UINT cp) {
  std::string out;
  out.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    size_t n = CharBytes(text, at, cp);
    out += UpperChar(cp, text.substr(at, n));
    at += n;
  }
  return out;
}

int CompareNoCase(const std::string &a, const std::string &b, UINT cp) {
  return UpperText(a, cp).compare(UpperText(b, cp));
}

size_t SystemLength(const std::string &text, UINT cp, bool countsBytes) {
  if (countsBytes) return text.size();
  size_t units = 0;
  for (size_t at = 0; at < text.size();) {
    size_t n = CharBytes(text, at, cp);
    units += n == 4 ? 2 : 1;  // outside the BMP: a surrogate pair
    at += n;
  }
  return units;
}

}  // namespace winsim

extern "C" {

// Both step over a lead byte and the byte after it, and never past the end
// of the text (Microsoft's CharNextA and CharPrevA pages; the lead bytes are
// those of the ANSI code page, so UTF-8 text is stepped byte by byte).
LPSTR WINAPI CharNextA(LPCSTR current) {
  if (!current || !*current) return const_cast<LPSTR>(current);
  if (IsDBCSLeadByte(BYTE(*current)) && current[1]) return const_cast<LPSTR>(current + 2);
  return const_cast<LPSTR>(current + 1);
}

LPSTR WINAPI CharPrevA(LPCSTR start, LPCSTR current) {
  if (!start || !current || current <= start) return const_cast<LPSTR>(start);
  const char *at = start;
  while (*at) {
    const char *next = CharNextA(at);
    if (next >= current) break;
    at = next;
  }
  return const_cast<LPSTR>(at);
}

}  // extern "C"
