// The machine's registry hives in memory (regstore.cpp): keys and values as
// the registry calls, the devices and the file calls read and change them,
// each change saved to the hive's REGEDIT4 file at once.
#ifndef WINSIM_REGSTORE_H
#define WINSIM_REGSTORE_H

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace winsim {
namespace reg {

struct Value {
  std::string name;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

struct Key {
  std::string name;  // as created
  Key *parent = nullptr;
  std::vector<Value> values;         // in creation order
  std::vector<Key *> subkeys;        // sorted case-insensitively
  bool deleted = false;
  // The class given to RegCreateKeyExA and the time of the last change, as
  // 100 ns units since 1601.  REGEDIT4 holds neither: they last while the
  // machine is attached (a key read from the file is as old as the reading).
  std::string className;
  uint64_t lastWrite = 0;
};

// Root of a hive: HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER (nullptr for others).
Key *Root(HKEY predefined);
// Looks a relative path up ("A\B\C", trailing backslash accepted); nullptr
// when a part is missing.
Key *Find(Key *base, const std::string &path);
// Creates every missing part; returns the key (never nullptr for a valid
// path) and whether it was new.
Key *Create(Key *base, const std::string &path, bool *created);
Value *FindValue(Key *key, const std::string &name);
void SetValue(Key *key, const std::string &name, DWORD type, const BYTE *data, DWORD size);
bool DeleteValue(Key *key, const std::string &name);
// Deletes a key with its whole subtree.
void DeleteTree(Key *key);
std::string FullPath(const Key *key);  // "HKLM\SYSTEM\..."
// Writes the hive of `key` (or both) to its REGEDIT4 file atomically.
void Save(const Key *key = nullptr);
// Loads registry/HKLM.reg and registry/HKCU.reg of the machine in `dir`
// (missing files are empty hives); false with "file:line: message" when a
// file does not parse.
bool Load(const std::string &dir, std::string *error);
void Unload();

}  // namespace reg
}  // namespace winsim

#endif  // WINSIM_REGSTORE_H
