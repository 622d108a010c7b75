// Registry writers: create-or-open a key and set one value, the presence
// test, and the depth-first deletion of a key tree.
#include <cstring>
#include <vector>

#include "deploy/deploy.h"

namespace {

void RegSetOneValue(HKEY root, const std::string &keyPath, const std::string &valueName, DWORD type,
                    const BYTE *data, DWORD size) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  if (RegCreateKeyExA(root, keyPath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                      nullptr, &key, &disposition) != ERROR_SUCCESS)
    return;
  RegSetValueExA(key, valueName.c_str(), 0, type, data, size);
  RegCloseKey(key);
}

// A key name has at most 255 characters; in UTF-8 that is at most 765
// bytes, and a buffer grown by doubling stops at the first size above it.
const size_t kLongestNameBytes = 1024;

// Deletes every subkey `key` has now.  Deleting the subkey at an index moves
// the ones behind it down by one, so the index only advances past a subkey
// that could not be read or deleted; the count bounds the walk.
void RegDeleteSubkeys(HKEY key) {
  DWORD subkeys = 0, longest = 0;
  if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, &longest, nullptr, nullptr,
                       nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
    return;
  // The longest length is counted in characters on NT: with a double-byte
  // code page, or UTF-8 as the ANSI code page, an ANSI name may need up to
  // three bytes a character.  A name that does not fit is read again with a
  // larger buffer.
  std::vector<char> name(size_t(longest) + 1);
  DWORD index = 0;
  for (DWORD done = 0; done < subkeys; ++done) {
    DWORD length = DWORD(name.size());
    LONG status = RegEnumKeyExA(key, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
    while (status == ERROR_MORE_DATA && name.size() < kLongestNameBytes) {
      name.resize(name.size() * 2);
      length = DWORD(name.size());
      status = RegEnumKeyExA(key, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
    }
    if (status == ERROR_NO_MORE_ITEMS) break;
    // An empty name would make RegDeleteKeyA delete the opened key itself.
    if (status != ERROR_SUCCESS || length == 0 || !DeleteRegTree(key, std::string(name.data(), length)))
      ++index;
  }
}

}  // namespace

void WriteRegValue(HKEY root, DWORD type, const std::string &keyPath, const std::string &valueName,
                   const std::string &text) {
  // The text up to its first zero byte, with that zero byte: an empty text
  // is stored as one zero byte, never as an empty value.
  const char *data = text.c_str();
  RegSetOneValue(root, keyPath, valueName, type, reinterpret_cast<const BYTE *>(data),
                 DWORD(std::strlen(data) + 1));
}

void WriteRegString(HKEY root, const std::string &keyPath, const std::string &valueName,
                    const std::string &text) {
  WriteRegValue(root, REG_SZ, keyPath, valueName, text);
}

void WriteRegDword(HKEY root, const std::string &keyPath, const std::string &valueName, DWORD value) {
  BYTE data[4] = {BYTE(value), BYTE(value >> 8), BYTE(value >> 16), BYTE(value >> 24)};
  RegSetOneValue(root, keyPath, valueName, REG_DWORD, data, sizeof data);
}

void WriteRegBinary(HKEY root, const std::string &keyPath, const std::string &valueName,
                    const void *data, DWORD size) {
  RegSetOneValue(root, keyPath, valueName, REG_BINARY, static_cast<const BYTE *>(data), size);
}

bool RegValueExists(HKEY root, const std::string &keyPath, const std::string &valueName) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, keyPath.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return false;
  bool present = RegQueryValueExA(key, valueName.c_str(), nullptr, nullptr, nullptr, nullptr) ==
                 ERROR_SUCCESS;
  RegCloseKey(key);
  return present;
}

bool DeleteRegTree(HKEY root, const std::string &keyPath) {
  // The registry refuses a leading backslash; one is dropped.
  std::string path = !keyPath.empty() && keyPath[0] == '\\' ? keyPath.substr(1) : keyPath;
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS ||
      RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
    // NT refuses to delete a key that still has subkeys: empty it first.
    RegDeleteSubkeys(key);
    RegCloseKey(key);
  }
  return RegDeleteKeyA(root, path.c_str()) == ERROR_SUCCESS;
}
