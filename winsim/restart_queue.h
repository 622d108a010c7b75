// The restart queue: what the machine's next start will do, read once by
// the start's own rules and used by the restart (restart.cpp), the dump
// (snapshot.h's [pending] section) and the change report alike.
//
// Plain C++17 with no Windows or winsim headers, like snapshot.h: the Win32
// dump program of the Wine tests compiles it too.
#ifndef WINSIM_RESTART_QUEUE_H
#define WINSIM_RESTART_QUEUE_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace winsim {

// Where the NT family keeps the list: this value of this key below
// HKEY_LOCAL_MACHINE.
const char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const char kPendingValue[] = "PendingFileRenameOperations";

// NT family: the (source, target) pairs of PendingFileRenameOperations, the
// names as stored ("\??\" and "!" kept; target "" = delete), in the order the
// Session Manager carries them out.  As wineboot reads the list:
// - data that does not end with two zeros is not trusted: no pairs (the
//   restart leaves the value alone);
// - the first empty source ends the list; what follows it is never read;
// - a source without a target string (an odd number of strings) pairs with
//   the list's final empty string: it is deleted.
std::vector<std::pair<std::string, std::string>> PendingPairs(const std::vector<uint8_t> &data);
// A name of the list without its "\??\" prefix (the NT object manager's name
// of the DOS drives), which every name MoveFileEx writes there carries.
std::string StripNtPrefix(const std::string &name);

// 9x family: one line of a [rename] section of WININIT.INI, as WININIT.EXE
// reads the file: "TARGET=SOURCE" moves SOURCE over TARGET, "NUL=SOURCE"
// deletes SOURCE.
struct WininitLine {
  std::string target;  // "" for NUL= (a deletion)
  std::string source;
  bool firstSection = false;  // in the first [rename] section, the only one read
  // Why WININIT passes over the line ("" when it acts on it).
  std::string ignored;
};
// Every "=" line of every [rename] section of the file's lines (each with or
// without its terminator); comment lines (";") and lines without "=" are no
// entries.
std::vector<WininitLine> WininitRenames(const std::vector<std::string> &lines);
// How the restart names a step: "TARGET <- SOURCE" or "delete SOURCE".
std::string RestartStepText(const std::string &source, const std::string &target);

}  // namespace winsim

#endif  // WINSIM_RESTART_QUEUE_H
