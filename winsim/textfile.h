// Whole-file reads and atomic writes of the machine's own files.
#ifndef WINSIM_TEXTFILE_H
#define WINSIM_TEXTFILE_H

#include <string>

namespace winsim {

// Reads a whole file as bytes; false when it cannot be opened.
bool ReadTextFile(const std::string &path, std::string *out);
// Writes `data` to a temporary file beside `path` and renames it over
// `path`, so that a reader sees the old or the new content, never a torn one.
bool WriteFileAtomically(const std::string &path, const std::string &data);

}  // namespace winsim

#endif  // WINSIM_TEXTFILE_H
