// The names of delayed moves on 64-bit Windows.
//
// A 32-bit program there runs under WOW64: its copies to the system
// directory (which GetSystemDirectoryA still reports as System32) land in
// the 32-bit system folder (SysWOW64), but a delayed move is recorded with
// the names as the program wrote them and carried out by the 64-bit start-up
// on native paths.  A move of a staged file must therefore name the 32-bit
// folder itself, or the start-up would move the native system file of the
// same name aside and leave the staged copy behind.
//
// IsWow64Process and GetSystemWow64DirectoryA exist only on later systems,
// so both are looked up at run time.  Either one can tell that the program
// runs under WOW64: only a 64-bit system gives a 32-bit program a 32-bit
// system folder.  When the answer cannot be had (the calls fail in another
// way than a system without WOW64 fails them), no move below the system
// directory is queued: a staged copy left unused is harmless, a move on a
// native path is not.
#include <windows.h>

#include "deploy/deploy.h"
#include "platform.h"

namespace {

enum class MoveView { Native, Redirected, Unknown };

MoveView View = MoveView::Native;
std::string SystemDirPrefix;  // the system directory with its backslash
std::string Wow64Dir;         // the 32-bit system folder, with its backslash

typedef BOOL(WINAPI *IsWow64ProcessFn)(HANDLE process, PBOOL wow64);
typedef UINT(WINAPI *GetSystemWow64DirectoryFn)(LPSTR buffer, UINT size);

template <typename Fn>
Fn Wow64LookUp(HMODULE library, const char *name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void *>(GetProcAddress(library, name)));
}

// The folders below System32 that the file system redirector leaves
// native (Microsoft, "File System Redirector").  Windows Vista redirects
// DriverStore too; nothing of ours is ever staged there.
bool ExemptFromRedirection(const std::string &belowSystemDir) {
  static const char *const kExempt[] = {"CATROOT\\", "CATROOT2\\", "DRIVERSTORE\\",
                                        "DRIVERS\\ETC\\", "LOGFILES\\", "SPOOL\\"};
  std::string rest = belowSystemDir + "\\";
  for (const char *folder : kExempt)
    if (NameStartsWith(rest.c_str(), folder)) return true;
  return false;
}

}  // namespace

void DetectWow64(const std::string &systemDir) {
  View = MoveView::Native;
  SystemDirPrefix = WithBackslash(systemDir, 1);
  Wow64Dir.clear();
  // The 9x family has no WOW64.  A 64-bit build of these sources (the one
  // for the Wine tests on kernels without 32-bit support) is told so by
  // IsWow64Process, which answers FALSE for a 64-bit process.
  if (PlatformFamily == Family::Windows9x || systemDir.empty()) return;
  HMODULE kernel = LoadLibraryA("Kernel32.DLL");
  if (!kernel) {
    View = MoveView::Unknown;
    return;
  }
  IsWow64ProcessFn isWow64 = Wow64LookUp<IsWow64ProcessFn>(kernel, "IsWow64Process");
  GetSystemWow64DirectoryFn wow64Directory =
      Wow64LookUp<GetSystemWow64DirectoryFn>(kernel, "GetSystemWow64DirectoryA");
  BOOL underWow64 = FALSE;
  bool asked = isWow64 && isWow64(GetCurrentProcess(), &underWow64);
  char dir[MAX_PATH + 1];
  UINT length = wow64Directory ? wow64Directory(dir, sizeof dir) : 0;
  // A 32-bit system answers "not implemented"; other failures tell nothing.
  bool noWow64Directory = !wow64Directory || (length == 0 && GetLastError() == ERROR_CALL_NOT_IMPLEMENTED);
  bool haveDirectory = length > 0 && length < sizeof dir;
  FreeLibrary(kernel);
  if (asked && !underWow64) return;
  if (haveDirectory) {
    View = MoveView::Redirected;
    Wow64Dir = WithBackslash(std::string(dir, length), 1);
  } else if (asked || !noWow64Directory) {
    View = MoveView::Unknown;  // under WOW64 without the folder's name, or no answer
  }
}

bool DelayedMoveName(const std::string &path, std::string *name) {
  *name = path;
  if (View == MoveView::Native || SystemDirPrefix.size() < 2 ||
      !NameStartsWith(path.c_str(), SystemDirPrefix.c_str()))
    return true;
  std::string rest = path.substr(SystemDirPrefix.size());
  if (ExemptFromRedirection(rest)) return true;
  if (View == MoveView::Unknown) return false;
  *name = Wow64Dir + rest;
  return true;
}
