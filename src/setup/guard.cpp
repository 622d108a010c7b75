// The running-application guard: a general process walker and the visitor
// that recognises the application by the file name of a process's image.
//
// Neither walk is linked in: the Toolhelp functions exist in kernel32 only
// on 9x and Windows 2000 and later, psapi.dll only on NT (4.0 with the
// redistributable), so both are looked up for the length of one walk.
#include <windows.h>
#include <tlhelp32.h>

#include <cstring>

#include "deploy/deploy.h"
#include "setup/setup.h"

bool ApplicationFound = false;

namespace {

typedef HANDLE(WINAPI *CreateToolhelp32SnapshotFn)(DWORD flags, DWORD processId);
typedef BOOL(WINAPI *Process32Fn)(HANDLE snapshot, LPPROCESSENTRY32 entry);
typedef BOOL(WINAPI *EnumProcessesFn)(DWORD *ids, DWORD cb, DWORD *bytesReturned);
typedef BOOL(WINAPI *EnumProcessModulesFn)(HANDLE process, HMODULE *modules, DWORD cb,
                                           DWORD *bytesNeeded);
typedef DWORD(WINAPI *GetModuleFileNameExAFn)(HANDLE process, HMODULE module, LPSTR name,
                                              DWORD size);
typedef BOOL(WINAPI *QueryFullProcessImageNameAFn)(HANDLE process, DWORD flags, LPSTR name,
                                                   DWORD *size);

const DWORD kFirstIdBufferBytes = 1024;

// What reading a process's first module and its name needs.
const DWORD kImageReadAccess = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;

// Process32First/Next check dwSize against the record of the program's own
// width: 296 bytes in a 32-bit program (the shipped build), more in the
// 64-bit build the Wine tests use where 32-bit programs cannot run.
static_assert(sizeof(void *) != 4 || sizeof(PROCESSENTRY32) == 296,
              "PROCESSENTRY32 must keep its 296-byte layout in a 32-bit program");

template <typename Fn>
Fn LookUp(HMODULE library, const char *name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void *>(GetProcAddress(library, name)));
}

// The PSAPI walk is for NT 4.0 and later; everything else (the 9x family,
// older NT) has Toolhelp at best.  This is the walker's own test, made on
// every call.
bool UsePsapiWalk() {
  OSVERSIONINFOA version;
  memset(&version, 0, sizeof version);
  version.dwOSVersionInfoSize = sizeof version;  // 148
  if (!GetVersionExA(&version)) return false;
  return version.dwPlatformId == VER_PLATFORM_WIN32_NT && version.dwMajorVersion >= 4;
}

bool WalkToolhelp(ProcessVisitor visitor, DWORD context) {
  HMODULE kernel = LoadLibraryA("Kernel32.DLL");
  if (!kernel) return false;
  CreateToolhelp32SnapshotFn createSnapshot =
      LookUp<CreateToolhelp32SnapshotFn>(kernel, "CreateToolhelp32Snapshot");
  Process32Fn first = LookUp<Process32Fn>(kernel, "Process32First");
  Process32Fn next = LookUp<Process32Fn>(kernel, "Process32Next");
  if (!createSnapshot || !first || !next) {
    FreeLibrary(kernel);
    return false;
  }
  HANDLE snapshot = createSnapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) {
    FreeLibrary(kernel);
    return false;
  }
  PROCESSENTRY32 entry;
  memset(&entry, 0, sizeof entry);
  entry.dwSize = sizeof entry;  // set again before every read
  for (BOOL more = first(snapshot, &entry); more; more = next(snapshot, &entry)) {
    entry.szExeFile[sizeof entry.szExeFile - 1] = 0;
    if (!visitor(entry.th32ProcessID, entry.szExeFile, context)) break;
    entry.dwSize = sizeof entry;
  }
  CloseHandle(snapshot);
  FreeLibrary(kernel);
  return true;
}

// psapi.dll by its full path in the system directory: a bare name would
// be searched for beside the program first, where anyone who can write
// there could plant a DLL of the same name and have it run.
HMODULE LoadSystemPsapi() {
  char path[MAX_PATH + 16];
  UINT length = GetSystemDirectoryA(path, MAX_PATH + 1);
  if (length == 0 || length > MAX_PATH) return nullptr;
  if (path[length - 1] != '\\') path[length++] = '\\';
  strcpy(path + length, "PSAPI.DLL");
  // A missing library is no error here: no system box for it.
  UINT previousMode = SetErrorMode(SEM_FAILCRITICALERRORS);
  HMODULE psapi = LoadLibraryA(path);
  SetErrorMode(previousMode);
  return psapi;
}

// Fills a heap buffer with every process id: starting at 1024 bytes, the
// buffer doubles while EnumProcesses fills it completely, since a full
// buffer may mean the list was cut.  Returns the buffer (nullptr on
// failure) and the number of ids in it.
DWORD *ReadProcessIds(EnumProcessesFn enumProcesses, DWORD *count) {
  HANDLE heap = GetProcessHeap();
  DWORD size = kFirstIdBufferBytes;
  for (;;) {
    DWORD *ids = static_cast<DWORD *>(HeapAlloc(heap, 0, size));
    if (!ids) return nullptr;
    DWORD returned = 0;
    if (!enumProcesses(ids, size, &returned)) {
      HeapFree(heap, 0, ids);
      return nullptr;
    }
    if (returned < size) {
      *count = returned / sizeof(DWORD);
      return ids;
    }
    HeapFree(heap, 0, ids);
    // Twice the bytes returned, which equal the buffer's size here (a
    // count above the size is treated the same, never trusted further).
    if (size > 0x7FFFFFFFu / 2) return nullptr;
    size *= 2;
  }
}

// The second way to an image path, for processes whose modules the walk
// cannot read: a 32-bit program on 64-bit Windows cannot read a 64-bit
// process's modules (EnumProcessModules fails with ERROR_PARTIAL_COPY).
// QueryFullProcessImageNameA (kernel32 of Vista and later) reads the path
// of either width; it is looked up at run time, at the first process that
// needs it, and kept for the rest of the walk.
struct ImageNameQuery {
  bool lookedUp = false;
  HMODULE kernel = nullptr;
  QueryFullProcessImageNameAFn query = nullptr;

  QueryFullProcessImageNameAFn Get() {
    if (!lookedUp) {
      lookedUp = true;
      kernel = LoadLibraryA("Kernel32.DLL");
      if (kernel) query = LookUp<QueryFullProcessImageNameAFn>(kernel, "QueryFullProcessImageNameA");
    }
    return query;
  }
  ~ImageNameQuery() {
    if (kernel) FreeLibrary(kernel);
  }
};

// The image path of one process, or "" when it cannot be opened or its
// first module or the module's name cannot be read, nor the path asked for
// where the system can tell it.
void ReadImagePath(DWORD processId, EnumProcessModulesFn enumModules,
                   GetModuleFileNameExAFn moduleFileName, ImageNameQuery *imageName, char *path) {
  path[0] = 0;
  HANDLE process = OpenProcess(kImageReadAccess, FALSE, processId);
  if (!process) return;
  HMODULE exe = nullptr;
  DWORD needed = 0;
  if (enumModules(process, &exe, sizeof exe, &needed)) {
    if (moduleFileName(process, exe, path, MAX_PATH) == 0) path[0] = 0;
    path[MAX_PATH] = 0;  // a cut name is not terminated on every version
  } else if (QueryFullProcessImageNameAFn query = imageName->Get()) {
    DWORD size = MAX_PATH + 1;  // characters, the zero included
    if (!query(process, 0, path, &size)) path[0] = 0;
    path[MAX_PATH] = 0;
  }
  CloseHandle(process);
}

bool WalkPsapi(ProcessVisitor visitor, DWORD context) {
  HMODULE psapi = LoadSystemPsapi();
  if (!psapi) return false;
  EnumProcessesFn enumProcesses = LookUp<EnumProcessesFn>(psapi, "EnumProcesses");
  EnumProcessModulesFn enumModules = LookUp<EnumProcessModulesFn>(psapi, "EnumProcessModules");
  GetModuleFileNameExAFn moduleFileName =
      LookUp<GetModuleFileNameExAFn>(psapi, "GetModuleFileNameExA");
  if (!enumProcesses || !enumModules || !moduleFileName) {
    FreeLibrary(psapi);
    return false;
  }
  DWORD count = 0;
  DWORD *ids = ReadProcessIds(enumProcesses, &count);
  if (!ids) {
    FreeLibrary(psapi);
    return false;
  }
  char path[MAX_PATH + 1];
  {
    ImageNameQuery imageName;
    for (DWORD i = 0; i < count; ++i) {
      ReadImagePath(ids[i], enumModules, moduleFileName, &imageName, path);
      if (!visitor(ids[i], path, context)) break;
    }
  }
  HeapFree(GetProcessHeap(), 0, ids);
  FreeLibrary(psapi);
  return true;
}

// The file name part of a path: after its last backslash or colon.  In a
// double-byte code page the second byte of a character may have the value
// of either and is then no separator.
const char *FileNamePart(const char *path) {
  const char *name = path;
  for (const char *p = path; *p; ++p) {
    if (IsDBCSLeadByte(static_cast<BYTE>(*p)) && p[1]) {
      ++p;
    } else if (*p == '\\' || *p == ':') {
      name = p + 1;
    }
  }
  return name;
}

}  // namespace

bool ForEachProcess(ProcessVisitor visitor, DWORD context) {
  return UsePsapiWalk() ? WalkPsapi(visitor, context) : WalkToolhelp(visitor, context);
}

BOOL MatchApplicationProcess(DWORD /*processId*/, const char *imagePath, DWORD /*context*/) {
  const char *name = FileNamePart(imagePath);
  if (SameName(name, "KORVIX.EXE") || SameName(name, "KORVIXTAVERN.EXE")) {
    ApplicationFound = true;
    return FALSE;
  }
  return TRUE;
}
