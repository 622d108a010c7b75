// REGEDIT4 text: the format of the machine's hive files.
//
//   REGEDIT4
//
//   [HKEY_LOCAL_MACHINE\Software\Example]
//   "Text"="a \"quoted\" C:\\path"
//   @="default value"
//   "Count"=dword:0000002a
//   "Blob"=hex:01,02,ff
//   "List"=hex(7):6f,6e,65,00,00
//
// Long hex data is wrapped: the line ends in ",\" and the next line starts
// with blanks.  Every key is listed, also when it has no values.
#ifndef WINSIM_REGFILE_H
#define WINSIM_REGFILE_H

#include <string>
#include <vector>

#include "regstore.h"

namespace winsim {

// One [key] block of a REGEDIT4 file.
struct RegFileKey {
  std::string path;               // "HKEY_LOCAL_MACHINE\Software\Example"
  std::vector<reg::Value> values; // in file order
  int line = 0;                   // line of the [key] header (0 when written)
};

// Parses REGEDIT4 text.  Strict: a line that does not parse is refused with
// "file:line: message" in *error, and false is returned.  A key listed twice
// is merged; a value given twice in one key keeps the last data, as an
// import would.
bool ParseRegFile(const std::string &text, const std::string &file, std::vector<RegFileKey> *keys,
                  std::string *error);

// Writes keys in the given order as REGEDIT4 text (CRLF line ends).  Every
// value round-trips exactly: data that a "text" or dword: form cannot carry
// byte for byte is written as hex(N):.
std::string FormatRegFile(const std::vector<RegFileKey> &keys);

// One value line without its line end ("Name"=... or @=...), wrapped as
// regedit wraps it.
std::string FormatRegValue(const reg::Value &value);

namespace reg {
// Counts Load/Unload cycles: a handle that remembers the generation it was
// made in can tell that its key belongs to a machine no longer attached.
unsigned long Generation();
}  // namespace reg

}  // namespace winsim

#endif  // WINSIM_REGFILE_H
