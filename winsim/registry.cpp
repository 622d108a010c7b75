// Advapi32 registry functions over the registry store (regstore.cpp).
//
// Handles are small objects that point at a store key; a key deleted while a
// handle is open stays allocated (marked deleted), so the handle reports
// ERROR_KEY_DELETED as on Windows.  Each handle remembers the access it was
// granted: machine.ini [registry-denied] keys (and their sub-keys) grant
// read access only, so KEY_ALL_ACCESS is refused there with 5 while KEY_READ
// opens them.
#include "registry.h"

#include <cstring>
#include <memory>
#include <set>

#include "faults.h"
#include "libraries.h"
#include "machine.h"
#include "machine_text.h"
#include "process_state.h"
#include "regfile.h"
#include "regstore.h"
#include "wow64.h"

namespace winsim {

namespace {

struct RegHandle {
  reg::Key *key;
  REGSAM access;
  unsigned long generation;
};

std::set<RegHandle *> &Handles() {
  static std::set<RegHandle *> handles;
  return handles;
}

const REGSAM kReadRights = KEY_READ;  // KEY_QUERY_VALUE|KEY_ENUMERATE_SUB_KEYS|KEY_NOTIFY|READ_CONTROL
const REGSAM kAllRights = KEY_ALL_ACCESS;

// Resolves a handle: predefined roots carry every right.  Returns 0 or the
// error code the call must return.
LONG RegResolve(HKEY hKey, reg::Key **key, REGSAM *access) {
  if (reg::Key *root = reg::Root(hKey)) {
    *key = root;
    *access = kAllRights;
    return ERROR_SUCCESS;
  }
  RegHandle *h = reinterpret_cast<RegHandle *>(hKey);
  if (!hKey || !Handles().count(h)) return ERROR_INVALID_HANDLE;
  if (h->generation != reg::Generation()) return ERROR_INVALID_HANDLE;  // machine detached
  if (h->key->deleted) return ERROR_KEY_DELETED;
  *key = h->key;
  *access = h->access;
  return ERROR_SUCCESS;
}

// "HKLM\A\B" with the sub-key appended, for fault rules and the call log.
std::string RegPath(HKEY hKey, const char *sub) {
  reg::Key *key = nullptr;
  REGSAM access;
  std::string path;
  if (RegResolve(hKey, &key, &access) == ERROR_SUCCESS)
    path = reg::FullPath(key);
  else if (reg::Root(hKey) == nullptr && Handles().count(reinterpret_cast<RegHandle *>(hKey)))
    path = reg::FullPath(reinterpret_cast<RegHandle *>(hKey)->key);
  if (sub && *sub) path += "\\" + std::string(sub);
  return path;
}

// True when the key path (upper-cased "HKLM\...") is a denied key or lies
// below one.
bool RegIsDenied(const std::string &fullPath) {
  std::string path = UpperText(fullPath);
  while (!path.empty() && path.back() == '\\') path.pop_back();
  for (const std::string &listed : Config().deniedKeys) {
    const std::string denied = UpperText(listed);
    if (path == denied) return true;
    if (path.size() > denied.size() && path.compare(0, denied.size(), denied) == 0 &&
        path[denied.size()] == '\\')
      return true;
  }
  return false;
}

// Rights beyond reading.
bool RegWantsWrite(REGSAM sam) { return (sam & kAllRights & ~kReadRights) != 0; }

HKEY RegNewHandle(reg::Key *key, REGSAM sam) {
  RegHandle *h = new RegHandle{key, sam ? sam : kReadRights, reg::Generation()};
  Handles().insert(h);
  return reinterpret_cast<HKEY>(h);
}

LONG RegCheckSubKey(const char *sub) {
  if (sub && sub[0] == '\\') return ERROR_BAD_PATHNAME;
  return ERROR_SUCCESS;
}

// Copies a key's class to an A buffer of *cch characters: a zero-sized
// buffer is left alone (XP reports 0); one too small gets what fits and its
// zero, with 234 (Wine's registry tests, run on Windows).
LONG RegCopyClass(const std::string &cls, LPSTR out, LPDWORD cch) {
  if (!out) {
    if (cch) *cch = DWORD(cls.size());
    return ERROR_SUCCESS;
  }
  if (*cch == 0) return ERROR_SUCCESS;
  if (*cch <= cls.size()) {
    memcpy(out, cls.data(), *cch - 1);
    out[*cch - 1] = 0;
    *cch -= 1;
    return ERROR_MORE_DATA;
  }
  memcpy(out, cls.c_str(), cls.size() + 1);
  *cch = DWORD(cls.size());
  return ERROR_SUCCESS;
}

FILETIME RegFileTime(uint64_t stamp) { return FILETIME{DWORD(stamp), DWORD(stamp >> 32)}; }

// The WOW64 registry view (wow64.cpp): on a 64-bit machine the program's
// name of a key below HKLM\SOFTWARE may reach Wow6432Node instead.
void RegRedirect(reg::Key **base, std::string *sub, REGSAM sam) {
  if (!Config().wow64) return;
  std::string full = reg::FullPath(*base);
  if (!sub->empty()) full += "\\" + *sub;
  std::string to = RedirectedKeyPath(full, sam);
  if (to == full) return;
  *base = reg::Root(HKEY_LOCAL_MACHINE);
  *sub = to.substr(to.find('\\') + 1);
}

bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// Copies a name to an A buffer of *cch characters (zero included).
LONG RegCopyName(const std::string &name, LPSTR out, LPDWORD cch) {
  if (*cch <= name.size()) return ERROR_MORE_DATA;
  memcpy(out, name.c_str(), name.size() + 1);
  *cch = DWORD(name.size());
  return ERROR_SUCCESS;
}

// Copies value data into a caller's buffer: 234 with the needed size when it
// does not fit (the buffer untouched); a string stored without its zero gets
// one in the buffer when there is room, as NT does.
LONG RegCopyData(const reg::Value &v, LPBYTE data, LPDWORD cb) {
  DWORD size = DWORD(v.data.size());
  if (data) {
    if (*cb < size) {
      *cb = size;
      return ERROR_MORE_DATA;
    }
    if (size) memcpy(data, v.data.data(), size);
    if (IsStringType(v.type) && *cb > size && (size == 0 || v.data.back() != 0)) data[size] = 0;
  }
  if (cb) *cb = size;
  return ERROR_SUCCESS;
}

}  // namespace

// Handles of an earlier process: their keys may be gone with its machine.
void ResetKeyHandles() {
  for (RegHandle *h : Handles()) delete h;
  Handles().clear();
}

size_t OpenKeyCount() {
  size_t count = 0;
  for (const RegHandle *h : Handles())
    if (h->generation == reg::Generation()) ++count;
  return count;
}

}  // namespace winsim

using namespace winsim;

LONG WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass,
                            DWORD dwOptions, REGSAM samDesired,
                            LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                            LPDWORD lpdwDisposition) {
  if (DWORD e = Fault("RegCreateKeyExA", RegPath(hKey, lpSubKey).c_str())) return LONG(e);
  // A non-zero Reserved is refused before anything is created; the reserved
  // parameter of RegSetValueExA and the options of RegOpenKeyExA other than
  // REG_OPTION_OPEN_LINK are ignored (all three measured under Wine).
  if (!phkResult || Reserved) return ERROR_INVALID_PARAMETER;
  reg::Key *base;
  REGSAM baseAccess;
  if (LONG e = RegResolve(hKey, &base, &baseAccess)) return e;
  if (LONG e = RegCheckSubKey(lpSubKey)) return e;
  std::string sub = lpSubKey ? lpSubKey : "";
  RegRedirect(&base, &sub, samDesired);
  reg::Key *existing = reg::Find(base, sub);
  if (existing) {
    if (RegWantsWrite(samDesired) && RegIsDenied(reg::FullPath(existing))) return ERROR_ACCESS_DENIED;
  } else {
    // Creating a part below a denied key needs a right the key refuses.
    std::string target = reg::FullPath(base) + "\\" + sub;
    if (RegIsDenied(target)) return ERROR_ACCESS_DENIED;
  }
  bool created = false;
  reg::Key *key = existing ? existing : reg::Create(base, sub, &created);
  if (created && lpClass) key->className = lpClass;
  *phkResult = RegNewHandle(key, samDesired);
  if (lpdwDisposition) *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return ERROR_SUCCESS;
}

LONG WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                          PHKEY phkResult) {
  if (DWORD e = Fault("RegOpenKeyExA", RegPath(hKey, lpSubKey).c_str())) return LONG(e);
  if (!phkResult) return ERROR_INVALID_PARAMETER;
  reg::Key *base;
  REGSAM baseAccess;
  if (LONG e = RegResolve(hKey, &base, &baseAccess)) return e;
  // A failed open of a valid handle's sub-key leaves NULL in *phkResult
  // (Wine's registry tests, run on Windows).
  *phkResult = nullptr;
  // An empty sub-key of a predefined key hands back the predefined handle;
  // of an open key, a new handle to the same key, so that closing one leaves
  // the other open (Wine's registry tests, run on Windows).
  if ((!lpSubKey || !*lpSubKey) && reg::Root(hKey)) {
    *phkResult = hKey;
    return ERROR_SUCCESS;
  }
  std::string sub = lpSubKey ? lpSubKey : "";
  // 2000 and XP open HKEY_CLASSES_ROOT's sub-keys also after a leading "\".
  if (hKey == HKEY_CLASSES_ROOT && !sub.empty() && sub[0] == '\\') sub.erase(0, 1);
  if (LONG e = RegCheckSubKey(sub.c_str())) return e;
  RegRedirect(&base, &sub, samDesired);
  reg::Key *key = reg::Find(base, sub);
  if (!key) return ERROR_FILE_NOT_FOUND;
  if (RegWantsWrite(samDesired) && RegIsDenied(reg::FullPath(key))) return ERROR_ACCESS_DENIED;
  *phkResult = RegNewHandle(key, samDesired);
  return ERROR_SUCCESS;
}

LONG WINAPI RegCloseKey(HKEY hKey) {
  if (DWORD e = Fault("RegCloseKey", RegPath(hKey, nullptr).c_str())) return LONG(e);
  if (hKey == HKEY_LOCAL_MACHINE || hKey == HKEY_CURRENT_USER || hKey == HKEY_CLASSES_ROOT ||
      hKey == HKEY_USERS)
    return ERROR_SUCCESS;
  RegHandle *h = reinterpret_cast<RegHandle *>(hKey);
  if (!Handles().erase(h)) return ERROR_INVALID_HANDLE;
  delete h;
  return ERROR_SUCCESS;
}

LONG WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType,
                           const BYTE *lpData, DWORD cbData) {
  if (DWORD e = Fault("RegSetValueExA", RegPath(hKey, nullptr).c_str(), lpValueName)) return LONG(e);
  reg::Key *key;
  REGSAM access;
  if (LONG e = RegResolve(hKey, &key, &access)) return e;
  if (!(access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  if (Config().Is9x()) {
    // Windows 9x does not look at cbData for REG_SZ: the text's length and
    // its zero are stored.
    if (dwType == REG_SZ) {
      if (!lpData) return ERROR_INVALID_PARAMETER;
      cbData = DWORD(strlen(reinterpret_cast<const char *>(lpData)) + 1);
    }
  } else if (cbData && IsStringType(dwType) && lpData && lpData[cbData - 1] && !lpData[cbData]) {
    // NT adds a terminating zero the caller forgot to count (it reads the
    // byte after the counted data to see one is there).
    ++cbData;
  }
  if (!lpData && cbData) return ERROR_NOACCESS;
  reg::SetValue(key, lpValueName ? lpValueName : "", dwType, lpData, cbData);
  return ERROR_SUCCESS;
}

LONG WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                             LPBYTE lpData, LPDWORD lpcbData) {
  if (DWORD e = Fault("RegQueryValueExA", RegPath(hKey, nullptr).c_str(), lpValueName)) return LONG(e);
  if ((lpData && !lpcbData) || lpReserved) return ERROR_INVALID_PARAMETER;
  reg::Key *key;
  REGSAM access;
  if (LONG e = RegResolve(hKey, &key, &access)) return e;
  if (!(access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  reg::Value *v = reg::FindValue(key, lpValueName ? lpValueName : "");
  if (!v) {
    // A size query of a missing value reports 0 (Wine's registry tests, run
    // on Windows); a caller's buffer size stays.
    if (!lpData && lpcbData) *lpcbData = 0;
    return ERROR_FILE_NOT_FOUND;
  }
  // The type is written after the data and its size, so that a caller that
  // passes one variable for both reads the type (Wine's registry tests, run
  // on Windows).
  LONG result = RegCopyData(*v, lpData, lpcbData);
  if (lpType) *lpType = v->type;
  return result;
}

LONG WINAPI RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved,
                             LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen,
                             LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,
                             LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,
                             LPDWORD lpcbSecurityDescriptor, PFILETIME lpftLastWriteTime) {
  if (DWORD e = Fault("RegQueryInfoKeyA", RegPath(hKey, nullptr).c_str())) return LONG(e);
  if (lpReserved || (lpClass && !lpcchClass)) return ERROR_INVALID_PARAMETER;
  reg::Key *key;
  REGSAM access;
  if (LONG e = RegResolve(hKey, &key, &access)) return e;
  if (!(access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  if (LONG e = RegCopyClass(key->className, lpClass, lpcchClass)) return e;
  // Lengths of names and classes are in characters without the zero:
  // Unicode characters on the NT family also for the "A" call (Microsoft's
  // RegQueryInfoKeyA page), so a name of double-byte or UTF-8 characters may
  // need more bytes than that in RegEnumKeyExA's buffer (observed under
  // Wine 8 with code page 932: a two-character Shift-JIS name is reported
  // as 2, and RegEnumKeyExA with a buffer of 3 gives 234); the 9x registry
  // keeps ANSI names and counts bytes.  The longest data is in the bytes the
  // system stores: NT keeps strings in UTF-16, so an ANSI string counts
  // twice (Wine's registry tests, run on Windows); 9x keeps them as given.
  DWORD maxSub = 0, maxClass = 0, maxName = 0, maxData = 0;
  for (const reg::Key *sub : key->subkeys) {
    maxSub = std::max(maxSub, DWORD(SystemLength(sub->name)));
    maxClass = std::max(maxClass, DWORD(sub->className.size()));
  }
  for (const reg::Value &v : key->values) {
    maxName = std::max(maxName, DWORD(SystemLength(v.name)));
    DWORD stored = DWORD(v.data.size()) * (IsStringType(v.type) && !Config().Is9x() ? 2 : 1);
    maxData = std::max(maxData, stored);
  }
  if (lpcSubKeys) *lpcSubKeys = DWORD(key->subkeys.size());
  if (lpcbMaxSubKeyLen) *lpcbMaxSubKeyLen = maxSub;
  if (lpcbMaxClassLen) *lpcbMaxClassLen = maxClass;
  if (lpcValues) *lpcValues = DWORD(key->values.size());
  if (lpcbMaxValueNameLen) *lpcbMaxValueNameLen = maxName;
  if (lpcbMaxValueLen) *lpcbMaxValueLen = maxData;
  if (lpcbSecurityDescriptor) *lpcbSecurityDescriptor = 0;
  if (lpftLastWriteTime) *lpftLastWriteTime = RegFileTime(key->lastWrite);
  return ERROR_SUCCESS;
}

LONG WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName,
                          LPDWORD lpReserved, LPSTR lpClass, LPDWORD lpcchClass,
                          PFILETIME lpftLastWriteTime) {
  if (DWORD e = Fault("RegEnumKeyExA", RegPath(hKey, nullptr).c_str())) return LONG(e);
  if (!lpName || !lpcchName || lpReserved || (lpClass && !lpcchClass)) return ERROR_INVALID_PARAMETER;
  reg::Key *key;
  REGSAM access;
  if (LONG e = RegResolve(hKey, &key, &access)) return e;
  if (!(access & KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;
  if (dwIndex >= key->subkeys.size()) return ERROR_NO_MORE_ITEMS;
  // Too small (also without room for the zero): 234, *lpcchName unchanged.
  const reg::Key *sub = key->subkeys[dwIndex];
  if (LONG e = RegCopyName(sub->name, lpName, lpcchName)) return e;
  if (lpClass) {
    if (*lpcchClass <= sub->className.size()) return ERROR_MORE_DATA;
    memcpy(lpClass, sub->className.c_str(), sub->className.size() + 1);
    *lpcchClass = DWORD(sub->className.size());
  }
  if (lpftLastWriteTime) *lpftLastWriteTime = RegFileTime(sub->lastWrite);
  return ERROR_SUCCESS;
}

LONG WINAPI RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName,
                          LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  if (DWORD e = Fault("RegEnumValueA", RegPath(hKey, nullptr).c_str())) return LONG(e);
  if (!lpValueName || !lpcchValueName || lpReserved || (lpData && !lpcbData))
    return ERROR_INVALID_PARAMETER;
  reg::Key *key;
  REGSAM access;
  if (LONG e = RegResolve(hKey, &key, &access)) return e;
  if (!(access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  if (dwIndex >= key->values.size()) return ERROR_NO_MORE_ITEMS;
  const reg::Value &v = key->values[dwIndex];
  if (lpData && *lpcbData < v.data.size()) {
    // The type is reported also when the data does not fit (Wine's registry
    // tests, run on Windows).
    if (lpType) *lpType = v.type;
    *lpcbData = DWORD(v.data.size());
    return ERROR_MORE_DATA;
  }
  if (lpType) *lpType = v.type;
  if (LONG e = RegCopyName(v.name, lpValueName, lpcchValueName)) {
    // A name that does not fit still copies the data when it fits, and
    // reports its size (Wine's registry tests, run on Windows).
    RegCopyData(v, lpData, lpcbData);
    if (lpcbData) *lpcbData = DWORD(v.data.size());
    return e;
  }
  return RegCopyData(v, lpData, lpcbData);
}

LONG WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
  if (DWORD e = Fault("RegDeleteKeyA", RegPath(hKey, lpSubKey).c_str())) return LONG(e);
  if (!lpSubKey) return ERROR_INVALID_PARAMETER;
  reg::Key *base;
  REGSAM access;
  if (LONG e = RegResolve(hKey, &base, &access)) return e;
  if (LONG e = RegCheckSubKey(lpSubKey)) return e;
  std::string sub = lpSubKey;
  RegRedirect(&base, &sub, 0);
  reg::Key *key = reg::Find(base, sub);
  if (!key) return ERROR_FILE_NOT_FOUND;
  if (!key->parent || RegIsDenied(reg::FullPath(key))) return ERROR_ACCESS_DENIED;
  // NT deletes only a key without sub-keys; Windows 9x deletes the whole
  // sub-tree.
  if (!key->subkeys.empty()) {
    if (!Config().Is9x()) return ERROR_ACCESS_DENIED;
    for (const reg::Key *sub : key->subkeys)
      if (RegIsDenied(reg::FullPath(sub))) return ERROR_ACCESS_DENIED;
  }
  reg::DeleteTree(key);
  return ERROR_SUCCESS;
}

LONG WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
  if (DWORD e = Fault("RegDeleteValueA", RegPath(hKey, nullptr).c_str(), lpValueName)) return LONG(e);
  reg::Key *key;
  REGSAM access;
  if (LONG e = RegResolve(hKey, &key, &access)) return e;
  if (!(access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  if (!reg::DeleteValue(key, lpValueName ? lpValueName : "")) return ERROR_FILE_NOT_FOUND;
  return ERROR_SUCCESS;
}

namespace {

struct RegisterRegistryEntryPoints {
  RegisterRegistryEntryPoints() {
    RegisterEntryPoint("RegCreateKeyExA", AsProc(&RegCreateKeyExA));
    RegisterEntryPoint("RegOpenKeyExA", AsProc(&RegOpenKeyExA));
    RegisterEntryPoint("RegCloseKey", AsProc(&RegCloseKey));
    RegisterEntryPoint("RegSetValueExA", AsProc(&RegSetValueExA));
    RegisterEntryPoint("RegQueryValueExA", AsProc(&RegQueryValueExA));
    RegisterEntryPoint("RegQueryInfoKeyA", AsProc(&RegQueryInfoKeyA));
    RegisterEntryPoint("RegEnumKeyExA", AsProc(&RegEnumKeyExA));
    RegisterEntryPoint("RegEnumValueA", AsProc(&RegEnumValueA));
    RegisterEntryPoint("RegDeleteKeyA", AsProc(&RegDeleteKeyA));
    RegisterEntryPoint("RegDeleteValueA", AsProc(&RegDeleteValueA));
  }
} registerRegistryEntryPoints;

}  // namespace
