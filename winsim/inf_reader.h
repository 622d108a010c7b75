// The INF reader of the simulated SetupAPI: an INF file as sections of
// "key = field, field" lines, read once (the device installation, SetupAPI's
// INF calls and newdev read it from here).
#ifndef WINSIM_INF_READER_H
#define WINSIM_INF_READER_H

#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace winsim {
namespace devices {

// The subset of the INF syntax the device installation reads: sections
// (same-named sections merge), "key = field, field" lines, ';' comments,
// double quotes (with "" for a quote), '\' at the end of a line to continue
// it, %token% replaced from [Strings] and %% for a percent sign.  Section and
// key names are case-insensitive.

struct InfLine {
  std::string key;                  // "" for a line without '='
  std::vector<std::string> fields;  // raw, %tokens% not yet replaced
};

struct Inf {
  std::map<std::string, std::vector<InfLine>> sections;  // upper-cased names
  std::map<std::string, std::string> strings;            // upper-cased tokens
  // [Version] DriverVer = date, version (expanded), read once.
  bool hasDriverVer = false;
  std::string driverDate, driverVersion;

  const std::vector<InfLine> *Section(const std::string &name) const;
  // `raw` with %token% replaced from [Strings] (unknown tokens stay bare)
  // and %% as a percent sign.
  std::string Expand(const std::string &raw) const;
  // The first value of `key` in `section`, expanded; "" when absent.
  std::string Value(const std::string &section, const std::string &key, bool *found = nullptr) const;
};

Inf ParseInf(const std::string &text);
// Reads the INF at `path` (a caller's path).  0 on success, else the code a
// SetupAPI call gives (ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED).
DWORD LoadInf(const char *path, Inf *out);
// Signatures SetupAPI accepts for a device INF.
bool HasValidSignature(const Inf &inf);

}  // namespace devices
}  // namespace winsim

#endif  // WINSIM_INF_READER_H
