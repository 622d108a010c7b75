// Windows paths on the attached machine: resolution to the machine's drive
// folders and the keys under which paths are looked up.
#ifndef WINSIM_PATHS_H
#define WINSIM_PATHS_H

#include <windows.h>

#include <string>

namespace winsim {

struct ResolvedPath {
  std::string windows;  // normalised: "C:\DIR\NAME", stored case for existing parts
  std::string host;     // the Linux path inside drives/<x>/
  char drive = 0;       // upper-case letter
  bool exists = false;
  bool isDirectory = false;
  bool parentExists = false;  // the directory that holds it exists
  bool isRoot = false;
};

// Resolves a Windows path (absolute, drive-relative "C:NAME", or relative to
// the current directory; '/' accepted as a separator; "." and ".." applied
// lexically and never above the root) to the machine's file system.
// Names are matched case-insensitively.  Returns 0, or the error Windows
// gives: ERROR_PATH_NOT_FOUND for a missing drive or a missing directory on
// the way, ERROR_NOT_READY for a removable or CD-ROM drive without a medium,
// ERROR_INVALID_NAME for characters Windows refuses.
DWORD ResolvePath(const char* path, ResolvedPath* out);
// Upper-cased normalised Windows path: the key under which attributes, files
// in use and libraries are looked up.
std::string PathKey(const std::string& windowsPath);
// The Linux directory of drive `letter` inside the machine.
std::string DriveHostDir(char letter);


}  // namespace winsim

#endif  // WINSIM_PATHS_H
