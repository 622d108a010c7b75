// The machine's ANSI code page: where a character of an "A" string begins
// and ends, its upper case, and its length as the system counts it.
//
// Windows NT converts every "A" string to Unicode with the ANSI code page
// before it looks at it; the Japanese, Chinese and Korean versions of
// Windows 95/98/Me parse the same strings character by character with the
// code page's lead bytes.  Either way a path is split at separator
// *characters*: the second byte of a double-byte character is never a
// separator, even when it has the value 0x5C (Shift-JIS "ソ" 83 5C, "表"
// 95 5C), and upper-casing works on characters, never on single bytes of a
// double-byte character (Shift-JIS "チ" 83 61 is not "ア" 83 41).
//
// Supported: 1252 (Western), 932 (Japanese Shift-JIS), 936 (Simplified
// Chinese GBK), 949 (Korean Unified Hangul), 950 (Traditional Chinese Big5)
// and 65001 (UTF-8, the ANSI code page of Windows 10 set to "Use Unicode
// UTF-8 for worldwide language support").  The decoding here is small and
// self-contained: it knows each page's lead bytes and the letters that have
// an upper-case form, and keeps every other character as the bytes it is.
#ifndef WINSIM_CODEPAGE_H
#define WINSIM_CODEPAGE_H

#include <windows.h>

#include <string>
#include <vector>

namespace winsim {

// True for the code pages a machine may have.
bool CodePageSupported(UINT codePage);
// Lead bytes of the double-byte code pages, as GetCPInfo reports them
// (CPINFO.LeadByte): 932 81-9F and E0-FC; 936, 949 and 950 81-FE.  UTF-8
// and 1252 have none.
bool CodePageLeadByte(UINT codePage, BYTE byte);

// Every function below works in the code page it is given; machine_text.h
// gives the same functions in the attached machine's code page.

// The number of bytes of the character that starts at text[at] (1 at the
// end of the text): 2 for a lead byte followed by another byte in a
// double-byte page, 1 to 4 for a UTF-8 sequence (1 for a byte that starts no
// valid one).
size_t CharBytes(const std::string &text, size_t at, UINT codePage);
// The text split into its characters.
std::vector<std::string> SplitChars(const std::string &text, UINT codePage);
// Position of the first character that is one of the single-byte
// characters in `set`, or npos.
size_t FindFirstChar(const std::string &text, const char *set, UINT codePage);
// Position of the last character that is one of the single-byte characters
// in `set` ("\\/" for path separators), or npos.
size_t FindLastChar(const std::string &text, const char *set, UINT codePage);
// Splits at the single-byte character `separator` (never inside a
// double-byte character); empty parts are kept.
std::vector<std::string> SplitAtChar(const std::string &text, char separator, UINT codePage);
// True when the text's last character is the single-byte character `c`.
bool EndsWithChar(const std::string &text, char c, UINT codePage);

// The text upper-cased character by character, in the same code page.
std::string UpperText(const std::string &text, UINT codePage);
// Case-insensitive comparison of two names (<0, 0, >0).
int CompareNoCase(const std::string &a, const std::string &b, UINT codePage);

// The length of the text as the system counts it: UTF-16 units on the NT
// family (a double-byte character is one, a UTF-8 sequence one or two),
// bytes on the 9x family (`countsBytes`), which keeps its strings in the
// ANSI code page.
size_t SystemLength(const std::string &text, UINT codePage, bool countsBytes);

}  // namespace winsim

#endif  // WINSIM_CODEPAGE_H
