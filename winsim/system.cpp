// System information, the last error, the heap and the message box.
#include <cstdlib>
#include <cstring>

#include "codepage.h"
#include "faults.h"
#include "journal.h"
#include "libraries.h"
#include "machine.h"
#include "machine_text.h"
#include "snapshot.h"

namespace {

thread_local DWORD lastError = 0;

std::string &CommandLineBuffer() {
  static std::string buffer;
  return buffer;
}

// Copies a directory into a caller's buffer the way GetSystemDirectoryA does:
// length without the zero when it fits, else the size needed with the zero.
UINT CopyDirectory(const std::string &dir, LPSTR buffer, UINT size) {
  if (dir.size() + 1 > size) return UINT(dir.size() + 1);
  memcpy(buffer, dir.c_str(), dir.size() + 1);
  return UINT(dir.size());
}

}  // namespace

extern "C" {

DWORD WINAPI GetLastError(void) { return lastError; }
void WINAPI SetLastError(DWORD code) { lastError = code; }

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info) {
  if (DWORD e = winsim::Fault("GetVersionExA")) {
    SetLastError(e);
    return FALSE;
  }
  if (!info) {
    SetLastError(ERROR_NOACCESS);
    return FALSE;
  }
  // OSVERSIONINFOA (148) or OSVERSIONINFOEXA (156); anything else fails.
  if (info->dwOSVersionInfoSize != 148 && info->dwOSVersionInfoSize != 156) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  const winsim::MachineConfig &c = winsim::Config();
  info->dwMajorVersion = c.major;
  info->dwMinorVersion = c.minor;
  info->dwBuildNumber = c.build;
  info->dwPlatformId = c.platform;
  memset(info->szCSDVersion, 0, sizeof info->szCSDVersion);
  strncpy(info->szCSDVersion, c.csd.c_str(), sizeof info->szCSDVersion - 1);
  return TRUE;
}

DWORD WINAPI GetVersion(void) {
  winsim::Fault("GetVersion");
  const winsim::MachineConfig &c = winsim::Config();
  DWORD v = (c.major & 0xFF) | ((c.minor & 0xFF) << 8);
  if (c.platform == VER_PLATFORM_WIN32_NT) return v | ((c.build & 0xFFFF) << 16);
  return v | 0xC0000000u;
}

UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size) {
  if (DWORD e = winsim::Fault("GetSystemDirectoryA")) {
    SetLastError(e);
    return 0;
  }
  return CopyDirectory(winsim::Config().systemDir, buffer, size);
}

UINT WINAPI GetWindowsDirectoryA(LPSTR buffer, UINT size) {
  if (DWORD e = winsim::Fault("GetWindowsDirectoryA")) {
    SetLastError(e);
    return 0;
  }
  return CopyDirectory(winsim::Config().windowsDir, buffer, size);
}

DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) {
  if (DWORD e = winsim::Fault("GetModuleFileNameA")) {
    SetLastError(e);
    return 0;
  }
  const winsim::MachineConfig &c = winsim::Config();
  std::string name;
  // A handle that is no module of the process fails with 126 and leaves
  // the buffer as it was (observed under wine64; Wine's conformance test
  // expects the failure and the untouched buffer of Windows).
  if (!winsim::ModuleFileName(module, &name)) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  if (name.size() < size) {
    memcpy(buffer, name.c_str(), name.size() + 1);
    return DWORD(name.size());
  }
  // Too small (an equal length counts as too small).  Vista and later cut
  // to size-1 characters plus a zero and report 122; earlier systems copy
  // size characters without a zero.
  if (c.platform == VER_PLATFORM_WIN32_NT && c.major >= 6) {
    if (size) {
      memcpy(buffer, name.c_str(), size - 1);
      buffer[size - 1] = 0;
    }
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  memcpy(buffer, name.c_str(), size);
  SetLastError(ERROR_SUCCESS);
  return size;
}

LPSTR WINAPI GetCommandLineA(void) {
  winsim::Fault("GetCommandLineA");
  std::string &buffer = CommandLineBuffer();
  buffer = winsim::Config().commandLine;
  if (buffer.empty()) buffer = "\"" + winsim::Config().program + "\"";
  return &buffer[0];
}

UINT WINAPI GetACP(void) { return winsim::Config().codePage; }

BOOL WINAPI IsDBCSLeadByte(BYTE c) { return winsim::CodePageLeadByte(winsim::Config().codePage, c); }

HANDLE WINAPI GetProcessHeap(void) { return reinterpret_cast<HANDLE>(uintptr_t(0x00150000)); }

LPVOID WINAPI HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes) {
  if (winsim::Fault("HeapAlloc")) return nullptr;  // HeapAlloc sets no last error
  void *p = (flags & HEAP_ZERO_MEMORY) ? calloc(1, bytes ? bytes : 1) : malloc(bytes ? bytes : 1);
  return p;
}

BOOL WINAPI HeapFree(HANDLE heap, DWORD flags, LPVOID mem) {
  winsim::Fault("HeapFree");
  free(mem);
  return TRUE;
}

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  if (DWORD e = winsim::Fault("MessageBoxA")) {
    SetLastError(e);
    return 0;
  }
  char flags[16];
  snprintf(flags, sizeof flags, "0x%08x", type);
  winsim::JournalAppend(std::string("messagebox flags=") + flags +
                        " caption=" + winsim::QuoteText(caption ? caption : "Error") +
                        " text=" + winsim::QuoteText(text ? text : ""));
  return IDOK;  // the user presses OK
}

}  // extern "C"
