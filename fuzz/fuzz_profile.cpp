// winsim's profile-file reader and writer over an arbitrary file: the
// section read stays inside its buffer and is terminated, and an entry
// written reads back as written.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <fstream>
#include <string>
#include <vector>

#include <windows.h>

#include "machine.h"
#include "paths.h"

namespace {

const char kFile[] = "C:\\WINDOWS\\FUZZ.INI";

std::string HostPath() {
  static std::string host;
  if (!host.empty()) return host;
  char pattern[] = "/tmp/fuzz-profile-XXXXXX";
  std::string dir = mkdtemp(pattern);
  std::string error;
  if (!winsim::CreateMachine(winsim::TemplateDir("win98"), dir + "/m", &error) ||
      !winsim::Attach(dir + "/m", &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    std::abort();
  }
  host = winsim::DriveHostDir('C') + "/WINDOWS/FUZZ.INI";
  return host;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string host = HostPath();
  std::ofstream(host, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char *>(data), std::streamsize(size));

  for (DWORD capacity : {DWORD(2), DWORD(17), DWORD(4096)}) {
    std::vector<char> buffer(capacity + 8, '\x7f');
    DWORD n = GetPrivateProfileSectionA("386Enh", buffer.data(), capacity, kFile);
    // The list's strings each end in a zero and the list in one more; it
    // fits in the buffer, cut to capacity - 2 characters when too long.
    if (n >= capacity) __builtin_trap();
    const bool cut = capacity >= 2 && n == capacity - 2 && buffer[n + 1] == '\0';
    if (buffer[n] != '\0' || (n > 0 && buffer[n - 1] != '\0' && !cut)) __builtin_trap();
    for (size_t i = capacity; i < buffer.size(); ++i)
      if (buffer[i] != '\x7f') __builtin_trap();
  }

  if (WritePrivateProfileStringA("386Enh", "device", "*fuzz", kFile)) {
    char value[64] = {};
    GetPrivateProfileStringA("386Enh", "device", "", value, sizeof value, kFile);
    if (std::string(value) != "*fuzz") __builtin_trap();
  }
  if (WritePrivateProfileStringA("VCache", "MinFileCache", "20480", kFile)) {
    char value[64] = {};
    GetPrivateProfileStringA("VCache", "MinFileCache", "", value, sizeof value, kFile);
    if (std::string(value) != "20480") __builtin_trap();
  }
  return 0;
}
