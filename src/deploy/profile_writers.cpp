// Profile-file writers: one key=value line into a section, the reading of a
// whole section, and the disabling of a driver's device lines in a section
// buffer.
#include <cstring>

#include "deploy/deploy.h"

ProfileWriteError RefusedProfileWrite;

namespace {

// The section buffer the system fills first; a section that does not fit is
// read again with a buffer twice as large, up to kMaxSectionBuffer.
const DWORD kSectionBuffer = 8192;
const DWORD kMaxSectionBuffer = 16u * 1024 * 1024;

}  // namespace

bool ReadWholeSection(const char *file, const char *section, std::vector<char> *buffer) {
  // GetPrivateProfileSectionA reports a section cut short by returning the
  // buffer size less two; Wine says the same for an exact fit, so that
  // answer always means "read again with more room".
  for (DWORD size = kSectionBuffer; size <= kMaxSectionBuffer; size *= 2) {
    buffer->assign(size, 0);
    DWORD length = GetPrivateProfileSectionA(section, buffer->data(), size, file);
    // Windows 95 limits a section buffer to 32767 characters: a system that
    // quietly uses that much of a larger buffer reports a cut section as
    // 32765, which is therefore never taken for a whole one.
    if (length != size - 2 && length != 32767 - 2) return true;
  }
  return false;
}

bool WriteProfileEntry(const std::string &file, const std::string &section, const std::string &key,
                       const std::string &value) {
  // Never judge by the last error: a successful write may leave any code.
  if (WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), file.c_str()))
    return true;
  RefusedProfileWrite.message = "Unable to write to " + file;
  RefusedProfileWrite.address = __builtin_return_address(0);
  return false;
}

void DisableDeviceLines(char *buffer, const std::string &name) {
  if (!buffer) return;
  const std::string line = "device=" + name;
  for (char *p = buffer; *p; p += std::strlen(p) + 1)
    if (line == p) *p = ';';
}
