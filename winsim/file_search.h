// Searches of the file system (file_search.cpp).
#ifndef WINSIM_FILE_SEARCH_H
#define WINSIM_FILE_SEARCH_H

#include <windows.h>

#include <cstddef>

#include "paths.h"

namespace winsim {

// Attributes as GetFileAttributesA and a search report them: the directory bit from the
// file system, NORMAL for a file that has no other bit.
DWORD FileReportedAttributes(const ResolvedPath &r);
// Search handles not yet closed with FindClose; counted with the process
// handles, so that a search left open shows as a leak.
size_t OpenFindHandleCount();

}  // namespace winsim

#endif  // WINSIM_FILE_SEARCH_H
