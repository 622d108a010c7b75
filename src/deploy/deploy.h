// Deployment primitives: the file operations every installer is built from,
// and the registry and profile-file writers.
#ifndef VARSETUP_DEPLOY_DEPLOY_H
#define VARSETUP_DEPLOY_DEPLOY_H

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

// The caption of every message box of the tool.
extern const char InstallerTitle[];

// ---- paths and names (paths.cpp) ----

// Mode 1 adds one trailing backslash unless there is one; any other mode
// removes one trailing backslash if there is one.  An empty path stays empty.
std::string WithBackslash(std::string path, BYTE mode);
// An ASCII letter in upper case; every other byte as it is (file and key
// names are compared this way, not by the locale).
inline char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; }
// Names compared as the system compares file names: ASCII letters without
// case, both bytes of a double-byte character as they are.
bool SameName(const char *a, const char *b);
// Whether `name` begins with `prefix`, compared as SameName compares.
bool NameStartsWith(const char *name, const char *prefix);

// ---- files ----

// True when `path` names an existing file (a directory never counts).
bool FileIsPresent(const std::string &path);
// Clears the read-only attribute of an existing file, setting the archive
// bit and keeping every other bit.
void ClearReadOnly(const std::string &path);
// Copies `source` over `target`, silently; true when the copy succeeded.
// The target is made writable before and after: a copy takes the source's
// attributes, and a read-only copy (from a CD-ROM) would make every later
// copy or replacement of that name fail.
bool CopyWritable(const std::string &source, const std::string &target);
// Copies an existing `source` over `target` (CopyWritable); on a failed copy
// shows `message` in a box and returns after OK.
void DeployFile(const std::string &source, const std::string &target, const std::string &message);
// Writes target=source into [RENAME] of Wininit.ini (a key already there
// keeps its place); false when the system refuses it (see
// WriteProfileEntry).  The target is made writable first, so that the
// restart can replace it.
[[nodiscard]] bool QueueRename9x(const std::string &target, const std::string &source);
// The same, with the line for `target` moved to the end of [RENAME]: the
// file is put in place after every line that stood there before (among them
// the move of the previous file at that name to its backup).  Nothing is
// written when that line is pending already (MoveIsPending).
[[nodiscard]] bool QueueRename9xLast(const std::string &target, const std::string &source);
// Queues the move of `live` to `backup` and then of `staging` to `live`,
// after every line that stood in [RENAME] before: each earlier line for
// `live` (another program's, an earlier run's; a hand-edited file may hold
// several) is removed first, since it would keep its earlier place and the
// restart would put the new file in place and then move it away.  False
// when the system refuses a write; a refused line for `live` takes the
// backup line away again, so that the restart never leaves `live` empty.
// Nothing is written when both moves are pending already (MoveIsPending).
[[nodiscard]] bool QueueRename9xWithBackup(const std::string &live, const std::string &staging,
                                           const std::string &backup);
// Registers a move of source over target at the next restart, by the names
// DelayedMoveName gives; false when it was not registered (nothing is
// queued when a name cannot be known).  The target is made writable first:
// a replacing move never supersedes a read-only file.
bool QueueReplaceNT(const std::string &source, const std::string &target);

// ---- moves already queued ----

// The moves the next start of the system will make, in their order, as
// (source, target) pairs in the form the system keeps them: on the NT family
// the delayed moves ("\??\C:\..." and "!\??\C:\..." for a replacing move),
// on the 9x family the lines target=source of [RENAME] in Wininit.ini.  Empty
// when they cannot be read (whole).
typedef std::vector<std::pair<std::string, std::string>> MoveList;
MoveList ReadPendingMoves();
// Whether `moves` holds the move that QueueReplaceNT(source, target) or
// QueueRename9x(target, source) makes, with no later move that takes
// `target` away or puts another file there: a run started again before the
// restart finds its moves in place and queues none of them twice.
bool MoveIsPending(const MoveList &moves, const std::string &source, const std::string &target);
// QueueReplaceNT unless that move is pending already.
void QueueReplaceNTOnce(const std::string &source, const std::string &target);

// ---- delayed moves on 64-bit Windows (delayed_move_names.cpp) ----

// Finds out, once per run on the NT family, whether the program runs under
// WOW64 and where its copies below `systemDir` really go.  Until it is
// called every name stays as it is.
void DetectWow64(const std::string &systemDir);
// The name under which the system's start-up finds the file the program
// wrote as `path`: under WOW64 a path below the system directory names the
// 32-bit system folder (the redirector's exempt folders excepted).  False
// when that cannot be known: no move may then be queued for `path`.
bool DelayedMoveName(const std::string &path, std::string *name);

// ---- registry ----

void WriteRegValue(HKEY root, DWORD type, const std::string &keyPath, const std::string &valueName,
                   const std::string &text);
void WriteRegString(HKEY root, const std::string &keyPath, const std::string &valueName,
                    const std::string &text);
void WriteRegDword(HKEY root, const std::string &keyPath, const std::string &valueName, DWORD value);
void WriteRegBinary(HKEY root, const std::string &keyPath, const std::string &valueName,
                    const void *data, DWORD size);
bool RegValueExists(HKEY root, const std::string &keyPath, const std::string &valueName);
// Deletes a key with all its subkeys, depth first; true when the key itself
// was deleted.
bool DeleteRegTree(HKEY root, const std::string &keyPath);

// ---- profile files ----

// The one error of the tool: a profile-file line the system refused.  It
// ends the run: each routine on the way back to the run sequence returns
// false at once, skipping what it had left to do, and the run sequence
// shows the error.
struct ProfileWriteError {
  std::string message;  // "Unable to write to <file>"
  const void *address;  // where the write was refused
};
// The last write WriteProfileEntry saw refused.
extern ProfileWriteError RefusedProfileWrite;

// WritePrivateProfileStringA(section, key, value, file); false when the
// system refuses it, with RefusedProfileWrite naming `file`.
[[nodiscard]] bool WriteProfileEntry(const std::string &file, const std::string &section,
                                     const std::string &key, const std::string &value);
// Reads `section` of the profile file `file` whole into `buffer`
// (zero-terminated lines, ended by an empty line); false when it could not
// be read whole.
bool ReadWholeSection(const char *file, const char *section, std::vector<char> *buffer);
// Turns every line of a section buffer (zero-terminated lines, ended by an
// empty line) that equals "device=" + name into ";evice=" + name, in place.
void DisableDeviceLines(char *buffer, const std::string &name);

#endif  // VARSETUP_DEPLOY_DEPLOY_H
