// [386Enh] line disabling over arbitrary section buffers: the first byte
// gives the length of the device name taken from the input, the rest is the
// buffer (terminated the way GetPrivateProfileSectionA terminates it).  Only
// a 'd' may turn into a ';', and nothing beyond the buffer is touched.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "deploy/deploy.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  size_t nameLength = data[0] % 16;
  if (nameLength > size - 1) nameLength = size - 1;
  std::string name(reinterpret_cast<const char *>(data + 1), nameLength);
  name = name.c_str();
  std::vector<char> buffer(data + 1 + nameLength, data + size);
  buffer.push_back('\0');
  buffer.push_back('\0');
  std::vector<char> before = buffer;
  DisableDeviceLines(buffer.data(), name);
  for (size_t i = 0; i < buffer.size(); ++i)
    if (buffer[i] != before[i] && !(before[i] == 'd' && buffer[i] == ';')) __builtin_trap();
  return 0;
}
