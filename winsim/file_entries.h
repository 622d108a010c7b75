// The file area's primitives below the API (files.cpp): moving and removing
// an entry that is already resolved, without the API's checks, keeping the
// stored attributes with the names.  Shared with the restart.
#ifndef WINSIM_FILE_ENTRIES_H
#define WINSIM_FILE_ENTRIES_H

#include "paths.h"

namespace winsim {
namespace internal {

// Renames `src` over `dst` (which may exist); 0 or the Win32 error.
DWORD MoveEntry(const ResolvedPath &src, const ResolvedPath &dst);
// Removes a file or an empty directory; 0 or the Win32 error.
DWORD RemoveEntry(const ResolvedPath &r);

}  // namespace internal
}  // namespace winsim

#endif  // WINSIM_FILE_ENTRIES_H
