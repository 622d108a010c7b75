// Profile-file writers: one key=value line into a section, and the disabling
// of a driver's device lines in a section buffer.
#include <cstring>

#include "deploy/deploy.h"

ProfileWriteError RefusedProfileWrite;

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
