// The canonical dump of a machine's state (written by dump_format.cpp), its
// reader (dump_reader.cpp) and the diff of two dumps (dump_diff.cpp).
//
// Plain C++17 with no Windows or winsim headers: it sits below both the
// simulated machine and the Win32 dump program of the Wine tests, which
// compile this same code, so the same state gives byte-identical dumps on
// both sides.  The change report built on it is tools/common/changes.h.
//
// Dump format (version 1).  Lines end with "\n"; every section header is
// always present, in this order; entries within a section are sorted
// byte-wise by their path (profile and journal lines keep their file order):
//
//   winsim-dump 1
//   [files]
//   dir  attr=0x00000010 C:\WINDOWS
//   file attr=0x00000020 size=1234 fnv=cbf29ce484222325 C:\WINDOWS\SYSTEM.INI
//       Every file and directory of every drive below its root, the Windows
//       path as stored last (paths cannot hold control characters).  attr is
//       what GetFileAttributesA reports; fnv the FNV-1a 64 hash of the bytes.
//   [registry]
//   key HKLM\SOFTWARE\Varentel
//   value HKLM\SOFTWARE\Varentel\\"Path" REG_SZ "C:\\PROGRAM FILES"
//   value HKLM\SOFTWARE\Varentel\\@ REG_DWORD 0x00000001
//       Every key, then its values by name (@ = the default value).  The key
//       ends at the first "\\" (a key path never holds an empty part); the
//       name is @ or quoted text.  Type: REG_SZ, REG_EXPAND_SZ, REG_BINARY,
//       REG_DWORD, REG_MULTI_SZ or the decimal number.  Data, exact:
//         REG_SZ, REG_EXPAND_SZ  "text" = the bytes followed by one stored
//                                terminating zero; "text" unterminated = the
//                                bytes without one (inner zeros show as \x00)
//         REG_DWORD              0x%08x when the data is 4 bytes
//         REG_MULTI_SZ           ["a", "", "b"]: each string with its zero,
//                                then the final extra zero
//         anything else          hex:01,02,ff (hex: when empty), also for
//                                data that the forms above cannot show
//       Quoted text: "..." with \" \\ and \xNN for bytes below 32 or above 126.
//   [profiles]
//   profile SYSTEM.INI | [boot]
//   profile WININIT.INI | "NUL=C:\\X \x0a"
//       The lines of SYSTEM.INI, WININIT.INI and WININIT.BAK of the Windows
//       directory.  After "| ": a line ended by CR LF whose content is
//       printable ASCII, does not start with a quote and has no blank at
//       either end, shown as is (the CR LF implied); any other line quoted
//       with its exact bytes, its terminator included (the last line of a
//       file may have none).
//   [pending]
//   move \??\C:\WINDOWS\SYSTEM\X.DL_ -> !\??\C:\WINDOWS\SYSTEM\X.DLL
//   delete \??\C:\TEMP\OLD.TMP
//       PendingFileRenameOperations, pair by pair, names as stored: the
//       pairs the next start carries out (restart_queue.h's PendingPairs).
//   [devices]
//   device ROOT\MEDIA\0000 hardware=["ROOT\\VAR1"] class="MEDIA" driver=-
//       Each device node two levels below the key
//       HKLM\SYSTEM\CurrentControlSet\Enum\ROOT (matched case-insensitively),
//       with its HardwareID, Class and Driver values in the data form above
//       (- when missing); derived from [registry] and checked against it on
//       reading.
//   [journal]
//   journal messagebox flags=0x00000010 caption="Setup" text="..."
//   journal exit 0
//       journal.txt, line by line.
#ifndef WINSIM_SNAPSHOT_H
#define WINSIM_SNAPSHOT_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "restart_queue.h"  // PendingPairs

namespace winsim {

struct FileState {
  uint64_t size = 0;
  std::string hash;         // FNV-1a 64 of the content, 16 hex digits
  uint32_t attributes = 0;  // as GetFileAttributesA reports them
  bool directory = false;
};

struct RegValueState {
  uint32_t type = 0;
  std::vector<uint8_t> data;
};

// Everything a test or a packager compares, keyed canonically (Windows paths
// as stored; registry "HKLM\Key\Path" and "HKLM\Key\Path\\<value name>").
struct MachineSnapshot {
  std::map<std::string, FileState> files;              // "C:\WINDOWS\SYSTEM.INI"
  std::vector<std::string> keys;                       // every registry key, sorted
  std::map<std::string, RegValueState> values;         // key + "\\\\" + value name ("" default)
  // "SYSTEM.INI", "WININIT.INI", "WININIT.BAK": the lines, each with its
  // terminator as in the file.
  std::map<std::string, std::vector<std::string>> profiles;
  std::vector<std::pair<std::string, std::string>> pendingMoves;  // (source, target as stored)
  std::vector<std::string> journal;                    // message boxes, exit codes
};

// The canonical dump text, and its reader (so that dumps can be diffed).
// ParseDump is strict: anything out of place fails with "file:line: ...".
std::string FormatDump(const MachineSnapshot &snapshot);
bool ParseDump(const std::string &text, const std::string &file, MachineSnapshot *out,
               std::string *error);
// The differing lines of two dumps, under their section headers: "- " for a
// line only in `a`, "+ " for a line only in `b`; "" when equal.
std::string DiffDumps(const MachineSnapshot &a, const MachineSnapshot &b);

// ---- helpers shared with the snapshot takers ----

// FNV-1a 64; pass the previous result as `hash` to continue over more bytes.
const uint64_t kFnvOffsetBasis = 0xcbf29ce484222325ull;
uint64_t Fnv1a64(const void *data, size_t size, uint64_t hash = kFnvOffsetBasis);
std::string FormatHash(uint64_t hash);  // 16 lower-case hex digits
// Quotes a text for the journal and the dump: "..." with \" \\ and \xNN.
std::string QuoteText(const std::string &text);
// The same for UTF-8 text: bytes of 0x80 and above are kept as they are.
std::string QuoteUtf8Text(const std::string &utf8);
// Reads quoted text at text[*pos] (the opening quote); on success *pos is
// just past the closing quote.
bool UnquoteText(const std::string &text, size_t *pos, std::string *out);
// Splits file content into lines, each keeping its "\n" (the last one may
// have none).
std::vector<std::string> SplitLines(const std::string &content);

}  // namespace winsim

#endif  // WINSIM_SNAPSHOT_H
