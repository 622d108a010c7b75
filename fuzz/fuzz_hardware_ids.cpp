// The hardware-ID multi-string scan over arbitrary property buffers: the
// first four bytes give the size the read reported, the rest is the buffer,
// allocated to its exact size so that any read beyond it is caught.  The
// answer is checked against a plain reading of the entries.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include <windows.h>

#include "pnp/pnp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 4) return 0;
  DWORD reported = DWORD(data[0]) | DWORD(data[1]) << 8 | DWORD(data[2]) << 16 | DWORD(data[3]) << 24;
  const size_t length = size - 4;
  BYTE *buffer = static_cast<BYTE *>(std::malloc(length ? length : 1));
  if (length) std::memcpy(buffer, data + 4, length);
  const char id[] = "*varentel\\pulsario";
  bool found = ListsHardwareId(length ? buffer : nullptr, reported, DWORD(length), id);

  bool expected = false;
  size_t end = reported < length ? reported : length;
  for (size_t at = 0; length && at < end && buffer[at];) {
    size_t zero = at;
    while (zero < length && buffer[zero]) ++zero;
    if (zero < length && std::string(reinterpret_cast<char *>(buffer) + at, zero - at) == id) expected = true;
    at = zero + 1;
  }
  std::free(buffer);
  if (found != expected) __builtin_trap();
  return 0;
}
