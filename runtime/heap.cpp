// The C++ allocation functions over the process heap.  An allocation the
// heap cannot satisfy ends the process: without exceptions nobody could be
// told.
#include <windows.h>

#include <cstddef>
#include <new>

#include "runtime.h"

namespace {

void *Allocate(std::size_t size) {
  // A request for zero bytes must still give a distinct pointer.
  void *block = HeapAlloc(GetProcessHeap(), 0, size ? size : 1);
  if (!block) RuntimeAbort();
  return block;
}

void Release(void *block) {
  if (block) HeapFree(GetProcessHeap(), 0, block);
}

}  // namespace

void *operator new(std::size_t size) { return Allocate(size); }
void *operator new[](std::size_t size) { return Allocate(size); }
void operator delete(void *block) noexcept { Release(block); }
void operator delete[](void *block) noexcept { Release(block); }
void operator delete(void *block, std::size_t) noexcept { Release(block); }
void operator delete[](void *block, std::size_t) noexcept { Release(block); }
