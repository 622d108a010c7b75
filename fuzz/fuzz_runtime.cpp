// The runtime of VARSETUP.EXE (runtime/), compiled for the host and compared
// with the C library on generated inputs: the memory and string functions
// (renamed rt_*) over lengths 0..N, overlapping moves both ways, bytes above
// 0x7F and strchr of 0; the allocation functions (they replace the
// harness's own operator new) at size 0 and when the heap refuses; and the
// start-up's cut of the command line before WinMain.
//
// The kernel32 functions the runtime calls are this file's (runtime_host/
// windows.h declares them).  Built without the compiler's knowledge of the
// memory functions, as the Windows build is, so that the loops are tested
// and not calls the compiler put in their place.
#include <csetjmp>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "windows.h"

#define memcpy rt_memcpy
#define memmove rt_memmove
#define memset rt_memset
#define memcmp rt_memcmp
#define memchr rt_memchr
#define strchr rt_strchr
#define strlen rt_strlen
#define strnlen rt_strnlen
#define strcmp rt_strcmp
#define strcpy rt_strcpy
#include "../runtime/strings.cpp"
#undef memcpy
#undef memmove
#undef memset
#undef memcmp
#undef memchr
#undef strchr
#undef strlen
#undef strnlen
#undef strcmp
#undef strcpy

#define atexit rt_atexit
#include "../runtime/startup.cpp"
#undef atexit

#include "../runtime/heap.cpp"

// ---- the kernel32 the runtime sees ----

namespace {
size_t heapRefusesFrom = SIZE_MAX;  // HeapAlloc refuses requests of this size and more
size_t lastHeapRequest = 0;
std::jmp_buf *exitTarget = nullptr;
UINT exitCode = 0;
}  // namespace

extern "C" void (*__CTOR_LIST__[])() = {reinterpret_cast<void (*)()>(-1), nullptr};
extern "C" HANDLE GetProcessHeap() { return reinterpret_cast<HANDLE>(0x150000); }
extern "C" void *HeapAlloc(HANDLE, DWORD, SIZE_T bytes) {
  lastHeapRequest = bytes;
  return bytes >= heapRefusesFrom ? nullptr : std::malloc(bytes);
}
extern "C" int HeapFree(HANDLE, DWORD, void *block) {
  std::free(block);
  return 1;
}
extern "C" void ExitProcess(UINT code) {
  exitCode = code;
  if (exitTarget) std::longjmp(*exitTarget, 1);
  std::abort();
}
extern "C" LPSTR GetCommandLineA() { return nullptr; }
extern "C" HMODULE GetModuleHandleA(const char *) { return nullptr; }
extern "C" void GetStartupInfoA(STARTUPINFOA *info) { info->dwFlags = 0; }
int WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return 0; }

// libFuzzer allocates with the nothrow forms too, which the runtime does
// not define (the product never uses them): they go to the runtime's.
void *operator new(std::size_t size, const std::nothrow_t &) noexcept { return ::operator new(size); }
void *operator new[](std::size_t size, const std::nothrow_t &) noexcept { return ::operator new[](size); }

namespace {

#define EXPECT(condition) \
  do {                    \
    if (!(condition)) __builtin_trap(); \
  } while (0)

int Sign(int value) { return (value > 0) - (value < 0); }

// What WinMain receives, by the rule the C runtimes document: the program's
// name is the first token (to the closing quote when it starts with one,
// else to the first byte at or below the space), and the blanks and control
// characters after it are skipped.
std::string ArgumentsByRule(const std::string &line) {
  size_t end;
  if (!line.empty() && line[0] == '"') {
    size_t quote = line.find('"', 1);
    end = quote == std::string::npos ? line.size() : quote + 1;
  } else {
    end = 0;
    while (end < line.size() && static_cast<unsigned char>(line[end]) > ' ') ++end;
  }
  while (end < line.size() && static_cast<unsigned char>(line[end]) <= ' ') ++end;
  return line.substr(end);
}

void CheckMemory(const uint8_t *data, size_t size) {
  // Two buffers with the input's bytes (above 0x7F among them) and a
  // guard zone each side, so a write out of range changes what is compared.
  const size_t n = size;
  std::vector<uint8_t> a(n + 32, 0xA5), b(n + 32, 0xA5);
  std::memcpy(a.data() + 16, data, n);
  std::memcpy(b.data() + 16, data, n);
  for (size_t length : {size_t(0), n / 3, n / 2, n}) {
    // Overlapping moves both ways, by every small shift.
    for (size_t shift = 0; shift <= 3 && shift <= n - length; ++shift) {
      EXPECT(rt_memmove(a.data() + 16 + shift, a.data() + 16, length) == a.data() + 16 + shift);
      std::memmove(b.data() + 16 + shift, b.data() + 16, length);
      EXPECT(a == b);
      EXPECT(rt_memmove(a.data() + 16, a.data() + 16 + shift, length) == a.data() + 16);
      std::memmove(b.data() + 16, b.data() + 16 + shift, length);
      EXPECT(a == b);
    }
    std::vector<uint8_t> x(length + 2, 0x5A), y(length + 2, 0x5A);
    EXPECT(rt_memcpy(x.data() + 1, data, length) == x.data() + 1);
    std::memcpy(y.data() + 1, data, length);
    EXPECT(x == y);
    int fill = length ? data[0] | (data[length - 1] << 8) : 0x1FF;  // above 0xFF: only its low byte
    EXPECT(rt_memset(x.data() + 1, fill, length) == x.data() + 1);
    std::memset(y.data() + 1, fill, length);
    EXPECT(x == y);
    EXPECT(Sign(rt_memcmp(data, data + n - length, length)) == Sign(std::memcmp(data, data + n - length, length)));
    for (int value : {0, 0x41, 0x80, 0xFF, length ? data[length / 2] | 0x100 : -1})
      EXPECT(rt_memchr(data, value, length) == std::memchr(data, value, length));
  }
}

void CheckStrings(const uint8_t *data, size_t size) {
  // Two strings cut from the input at its first zero and after it.
  std::string whole(reinterpret_cast<const char *>(data), size);
  std::string first = whole.c_str();
  std::string second = first.size() < whole.size() ? whole.substr(first.size() + 1).c_str() : "";
  const char *s = first.c_str(), *t = second.c_str();
  EXPECT(rt_strlen(s) == std::strlen(s));
  for (size_t limit : {size_t(0), first.size() / 2, first.size(), first.size() + 1})
    EXPECT(rt_strnlen(s, limit) == strnlen(s, limit));
  EXPECT(Sign(rt_strcmp(s, t)) == Sign(std::strcmp(s, t)));
  EXPECT(rt_strcmp(s, s) == 0);
  for (int value : {0, 0x20, 0x80, 0xE9, -0x17, second.empty() ? int('x') : int(second[0])})
    EXPECT(rt_strchr(s, value) == std::strchr(s, value));
  std::vector<char> x(first.size() + 3, 'Q'), y(first.size() + 3, 'Q');
  EXPECT(rt_strcpy(x.data() + 1, s) == x.data() + 1);
  std::strcpy(y.data() + 1, s);
  EXPECT(x == y);
  // The command line WinMain receives is a suffix of the whole line.
  EXPECT(std::string(ArgumentsAfterProgram(&first[0])) == ArgumentsByRule(first));
}

void CheckAllocation(size_t size) {
  // Size 0 still gives a block of its own.
  char *zero = new char[0], *other = new char[0];
  EXPECT(zero && other && zero != other);
  EXPECT(lastHeapRequest == 1);
  delete[] zero;
  delete[] other;
  char *block = new char[size];
  EXPECT(lastHeapRequest == (size ? size : 1));
  std::memset(block, 0x7F, size);
  delete[] block;
  // A request the heap refuses ends the process with the abort code 3.
  std::jmp_buf target;
  exitCode = 0;
  heapRefusesFrom = size + 1;
  exitTarget = &target;
  if (setjmp(target) == 0) {
    void *refused = ::operator new(size + 1 + (size & 0xFFFF) * 4096);
    heapRefusesFrom = SIZE_MAX;
    exitTarget = nullptr;
    ::operator delete(refused);
    __builtin_trap();  // not reached: the process would have ended
  }
  heapRefusesFrom = SIZE_MAX;
  exitTarget = nullptr;
  EXPECT(exitCode == 3);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  CheckMemory(data, size);
  CheckStrings(data, size);
  CheckAllocation(size);
  return 0;
}
