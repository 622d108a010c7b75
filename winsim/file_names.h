// The names the file calls are given (file_names.cpp).
#ifndef WINSIM_FILE_NAMES_H
#define WINSIM_FILE_NAMES_H

#include <windows.h>

#include <string>

namespace winsim {

// An absolute Windows path made from `path` without looking at the disk
// (the form the delayed-move list records); 0 or the Win32 error.
DWORD FileAbsolutePath(const char *path, std::string *out);
// True when the path ends with '\' or '/' (as a character, never the second
// byte of a double-byte one).
bool EndsWithSeparator(const char *path);
// The error a name too long for an ANSI file call gives (0 when it fits):
// ERROR_FILENAME_EXCED_RANGE for the call's first name, ERROR_PATH_NOT_FOUND
// for a second one.
DWORD FileNameLengthError(const char *path, bool firstName);

}  // namespace winsim

#endif  // WINSIM_FILE_NAMES_H
