// File deployment primitives: the existence test, making a target writable, the copy with its failure message, and the two ways of
// queueing a replacement for the next start of the system.
#include "deploy/deploy.h"

#include <cstring>

#include "platform.h"

const char InstallerTitle[] = "Varentel Installation";

bool FileIsPresent(const std::string &path) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(path.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  // A plain directory path is found too, with the directory bit set.
  return (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

void ClearReadOnly(const std::string &path) {
  if (!FileIsPresent(path)) return;
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  if ((attributes & FILE_ATTRIBUTE_READONLY) == 0) return;
  SetFileAttributesA(path.c_str(), (attributes & ~DWORD(FILE_ATTRIBUTE_READONLY)) | FILE_ATTRIBUTE_ARCHIVE);
}

bool CopyWritable(const std::string &source, const std::string &target) {
  ClearReadOnly(target);
  if (!CopyFileA(source.c_str(), target.c_str(), FALSE)) return false;
  ClearReadOnly(target);
  return true;
}

void DeployFile(const std::string &source, const std::string &target, const std::string &message) {
  if (!FileIsPresent(source)) return;
  if (!CopyWritable(source, target)) MessageBoxA(nullptr, message.c_str(), InstallerTitle, MB_OK);
}

namespace {

const char kWininit[] = "Wininit.ini";
const char kRenameSection[] = "RENAME";
const char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const char kPendingMoves[] = "PendingFileRenameOperations";

// True when [RENAME] holds a line for `key`.  A failed read counts as
// absent: the line then keeps its place, as before.
bool RenameKeyPresent(const std::string &key) {
  static const char absent[] = "\001absent\001";
  char value[sizeof absent + 1];
  GetPrivateProfileStringA(kRenameSection, key.c_str(), absent, value, sizeof value, kWininit);
  return std::string(value) != absent;
}

// The delayed moves of the NT family, read as the system's start reads
// them: pairs of zero-terminated strings, an empty target deleting the
// source; the first empty source ends the list, a source without a target
// string pairs with the list's final empty string (a deletion), and data
// that does not end in two zeros is no list at all.
MoveList PendingMovesNT() {
  MoveList moves;
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_READ, &key) != ERROR_SUCCESS)
    return moves;
  std::vector<char> data;
  DWORD type = 0, size = 0;
  bool read = RegQueryValueExA(key, kPendingMoves, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
              type == REG_MULTI_SZ;
  if (read) {
    data.resize(size);
    read = RegQueryValueExA(key, kPendingMoves, nullptr, &type, reinterpret_cast<BYTE *>(data.data()),
                            &size) == ERROR_SUCCESS;
  }
  RegCloseKey(key);
  // `size` is what the read filled, never more than the buffer.
  if (!read || size < 2 || data[size - 1] != 0 || data[size - 2] != 0) return moves;
  // Every string ends within the data: its last byte is a zero.
  for (const char *at = data.data(), *end = at + size; at < end && *at;) {
    std::string source = at;
    at += source.size() + 1;
    std::string target = at;
    at += target.size() + 1;
    moves.emplace_back(source, target);
  }
  return moves;
}

// The lines target=source of [RENAME], in their order.
MoveList PendingMoves9x() {
  MoveList moves;
  std::vector<char> buffer;
  if (!ReadWholeSection(kWininit, kRenameSection, &buffer)) return moves;
  for (const char *line = buffer.data(); *line; line += strlen(line) + 1) {
    const char *equals = strchr(line, '=');
    if (equals) moves.emplace_back(std::string(equals + 1), std::string(line, equals));
  }
  return moves;
}

// A name as the system keeps it, without the replace mark and the NT prefix.
const char *BareName(const std::string &name) {
  const char *bare = name.c_str();
  if (*bare == '!') ++bare;
  if (bare[0] == '\\' && bare[1] == '?' && bare[2] == '?' && bare[3] == '\\') bare += 4;
  return bare;
}

// Removes every line for `target` from [RENAME]; false when the system
// refuses a removal, with RefusedProfileWrite naming the file.
bool RemoveRenameLines9x(const std::string &target) {
  // Each removal takes one line away, so the loop ends.
  while (RenameKeyPresent(target)) {
    if (WritePrivateProfileStringA(kRenameSection, target.c_str(), nullptr, kWininit)) continue;
    RefusedProfileWrite.message = std::string("Unable to write to ") + kWininit;
    RefusedProfileWrite.address = __builtin_return_address(0);
    return false;
  }
  return true;
}

}  // namespace

MoveList ReadPendingMoves() {
  return PlatformFamily == Family::Windows9x ? PendingMoves9x() : PendingMovesNT();
}

bool MoveIsPending(const MoveList &moves, const std::string &source, const std::string &target) {
  std::string wantSource = source, wantTarget = target;
  if (PlatformFamily != Family::Windows9x) {
    // The names QueueReplaceNT registers (a pair whose names cannot be known
    // is never queued).
    std::string from, to;
    if (!DelayedMoveName(source, &from) || !DelayedMoveName(target, &to)) return false;
    wantSource = "\\??\\" + from;
    wantTarget = "!\\??\\" + to;
  }
  bool pending = false;
  for (const auto &move : moves) {
    if (SameName(move.first.c_str(), wantSource.c_str()) &&
        SameName(move.second.c_str(), wantTarget.c_str()))
      pending = true;
    else if (SameName(BareName(move.first), BareName(wantTarget)) ||
             SameName(BareName(move.second), BareName(wantTarget)))
      pending = false;  // the target is taken away or replaced after it
  }
  return pending;
}

void QueueReplaceNTOnce(const std::string &source, const std::string &target) {
  if (!MoveIsPending(ReadPendingMoves(), source, target)) QueueReplaceNT(source, target);
}

bool QueueRename9x(const std::string &target, const std::string &source) {
  // The 9x start-up works through [RENAME] of WININIT.INI line by line.
  ClearReadOnly(target);
  return WriteProfileEntry(kWininit, kRenameSection, target, source);
}

bool QueueRename9xLast(const std::string &target, const std::string &source) {
  // A key written again keeps its earlier place: every line for it goes
  // first, so that the new line is added at the end.
  if (MoveIsPending(ReadPendingMoves(), source, target)) return true;
  return RemoveRenameLines9x(target) && QueueRename9x(target, source);
}

bool QueueRename9xWithBackup(const std::string &live, const std::string &staging,
                             const std::string &backup) {
  MoveList pending = ReadPendingMoves();
  if (MoveIsPending(pending, live, backup) && MoveIsPending(pending, staging, live)) return true;
  if (!RemoveRenameLines9x(live) || !QueueRename9x(backup, live)) return false;
  if (QueueRename9x(live, staging)) return true;
  // The refusal stays the error reported; the backup line goes whatever
  // the system answers.
  WritePrivateProfileStringA(kRenameSection, backup.c_str(), nullptr, kWininit);
  return false;
}

bool QueueReplaceNT(const std::string &source, const std::string &target) {
  // The source need not exist yet (a backup move of a live file that may be
  // absent).
  std::string from, to;
  if (!DelayedMoveName(source, &from) || !DelayedMoveName(target, &to)) return false;
  ClearReadOnly(target);
  return MoveFileExA(from.c_str(), to.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
}
