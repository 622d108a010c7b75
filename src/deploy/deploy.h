// Deployment primitives: the file operations every installer is built from,
// and the registry and profile-file writers.
#ifndef VARSETUP_DEPLOY_DEPLOY_H
#define VARSETUP_DEPLOY_DEPLOY_H

#include <windows.h>

#include <string>

// The caption of every message box of the tool.
extern const char InstallerTitle[];

// ---- files ----

// Mode 1 adds one trailing backslash unless there is one; any other mode
// removes one trailing backslash if there is one.  An empty path stays empty.
std::string WithBackslash(std::string path, BYTE mode);
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
// the move of the previous file at that name to its backup).
[[nodiscard]] bool QueueRename9xLast(const std::string &target, const std::string &source);
// Registers a move of source over target at the next restart, by the names
// DelayedMoveName gives; false when it was not registered (nothing is
// queued when a name cannot be known).  The target is made writable first:
// a replacing move never supersedes a read-only file.
bool QueueReplaceNT(const std::string &source, const std::string &target);

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
// Turns every line of a section buffer (zero-terminated lines, ended by an
// empty line) that equals "device=" + name into ";evice=" + name, in place.
void DisableDeviceLines(char *buffer, const std::string &name);

#endif  // VARSETUP_DEPLOY_DEPLOY_H
