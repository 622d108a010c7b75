// File attributes that POSIX cannot hold (the machine's attributes.txt), and
// the files machine.ini lists as held open.
#ifndef WINSIM_ATTRIBUTES_H
#define WINSIM_ATTRIBUTES_H

#include <windows.h>

#include "paths.h"

namespace winsim {

// The attributes of an existing file or directory (without the directory
// bit, which the caller adds from the file system).  Files not listed carry
// FILE_ATTRIBUTE_ARCHIVE, as freshly written files do.
DWORD StoredAttributes(const ResolvedPath& path);
void StoreAttributes(const ResolvedPath& path, DWORD attributes);
void ForgetAttributes(const ResolvedPath& path);
// True for a file machine.ini lists as held open without sharing.
bool IsInUse(const ResolvedPath& path);

}  // namespace winsim

#endif  // WINSIM_ATTRIBUTES_H
