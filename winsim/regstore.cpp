// The registry store: one in-memory tree per hive (HKLM, HKCU), kept on disk
// as registry/HKLM.reg and registry/HKCU.reg in REGEDIT4.  Every change
// rewrites its hive file atomically, so the machine on disk is complete at
// every moment.
//
// Names are compared case-insensitively and stored as created.  Values keep
// their creation order (the order RegEnumValue reports on Windows); sub-keys
// are kept sorted case-insensitively, as NT stores them.
#include "regstore.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <memory>

#include "machine_text.h"
#include "regfile.h"
#include "textfile.h"

namespace winsim {
namespace reg {

namespace {

struct Hive {
  const char *shortName;  // "HKLM": the prefix of FullPath
  const char *longName;   // "HKEY_LOCAL_MACHINE": the prefix in the file
  const char *fileName;   // "HKLM.reg"
  Key root;
};

struct Store {
  Hive hives[2] = {{"HKLM", "HKEY_LOCAL_MACHINE", "HKLM.reg", {}},
                   {"HKCU", "HKEY_CURRENT_USER", "HKCU.reg", {}}};
  std::string dir;  // machine directory; "" when nothing is loaded
  // Every key ever made in this load.  Deleted keys stay allocated (marked
  // deleted) so that open handles to them stay valid until Unload.
  std::vector<std::unique_ptr<Key>> keys;
  unsigned long generation = 1;
};

Store &S() {
  static Store store;
  static bool named = false;
  if (!named) {
    for (Hive &h : store.hives) h.root.name = h.shortName;
    named = true;
  }
  return store;
}

// Names compare by characters of the code page (codepage.h).
int CompareNoCase(const std::string &a, const std::string &b) { return winsim::CompareNoCase(a, b); }

const Key *HiveRoot(const Key *key) {
  while (key->parent) key = key->parent;
  return key;
}

Hive *HiveOf(const Key *key) {
  const Key *root = HiveRoot(key);
  for (Hive &h : S().hives)
    if (&h.root == root) return &h;
  return nullptr;
}

// Splits "A\B\C\" into its parts; empty parts (doubled or trailing
// backslashes) are dropped, as Windows drops a trailing one.
std::vector<std::string> SplitPath(const std::string &path) {
  std::vector<std::string> parts;
  for (const std::string &part : SplitAtChar(path, '\\'))
    if (!part.empty()) parts.push_back(part);
  return parts;
}

Key *Child(Key *key, const std::string &name) {
  auto it = std::lower_bound(key->subkeys.begin(), key->subkeys.end(), name,
                             [](const Key *k, const std::string &n) { return CompareNoCase(k->name, n) < 0; });
  if (it != key->subkeys.end() && CompareNoCase((*it)->name, name) == 0) return *it;
  return nullptr;
}

// Now, as a registry time stamp (100 ns units since 1601).
uint64_t RegistryNow() {
  const uint64_t kUnixEpochIn1601 = 116444736000000000ull;
  auto since = std::chrono::system_clock::now().time_since_epoch();
  return kUnixEpochIn1601 + uint64_t(std::chrono::duration_cast<std::chrono::microseconds>(since).count()) * 10;
}

Key *AddChild(Key *key, const std::string &name) {
  S().keys.push_back(std::make_unique<Key>());
  Key *child = S().keys.back().get();
  child->name = name;
  child->parent = key;
  child->lastWrite = key->lastWrite = RegistryNow();
  auto it = std::lower_bound(key->subkeys.begin(), key->subkeys.end(), name,
                             [](const Key *k, const std::string &n) { return CompareNoCase(k->name, n) < 0; });
  key->subkeys.insert(it, child);
  return child;
}

void MarkDeleted(Key *key) {
  key->deleted = true;
  for (Key *sub : key->subkeys) MarkDeleted(sub);
}

void Collect(const Key *key, const std::string &path, std::vector<RegFileKey> *out) {
  // The hive's root is listed only when it holds values of its own.
  if (key->parent || !key->values.empty()) out->push_back(RegFileKey{path, key->values, 0});
  for (const Key *sub : key->subkeys) Collect(sub, path + "\\" + sub->name, out);
}

void SaveHive(const Hive &hive) {
  if (S().dir.empty()) return;
  std::vector<RegFileKey> keys;
  Collect(&hive.root, hive.longName, &keys);
  std::string dir = S().dir + "/registry";
  mkdir(dir.c_str(), 0755);
  WriteFileAtomically(dir + "/" + hive.fileName, FormatRegFile(keys));
}

void SaveOf(const Key *key) {
  if (key->deleted) return;
  if (Hive *h = HiveOf(key)) SaveHive(*h);
}

void ClearHives() {
  for (Hive &h : S().hives) {
    h.root.values.clear();
    h.root.subkeys.clear();
  }
  S().keys.clear();
}

bool LoadHive(Hive *hive, const std::string &path, std::string *error) {
  std::string text;
  if (!ReadTextFile(path, &text)) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return true;  // missing: an empty hive
    *error = path + ": cannot read";
    return false;
  }
  std::vector<RegFileKey> keys;
  if (!ParseRegFile(text, path, &keys, error)) return false;
  std::string prefix = hive->longName;
  for (const RegFileKey &k : keys) {
    std::string rest;
    if (CompareNoCase(k.path, prefix) == 0) {
      rest = "";
    } else if (k.path.size() > prefix.size() && k.path[prefix.size()] == '\\' &&
               CompareNoCase(k.path.substr(0, prefix.size()), prefix) == 0) {
      rest = k.path.substr(prefix.size() + 1);
    } else {
      *error = path + ":" + std::to_string(k.line) + ": key outside " + prefix;
      return false;
    }
    Key *key = &hive->root;
    for (const std::string &part : SplitPath(rest)) {
      Key *next = Child(key, part);
      key = next ? next : AddChild(key, part);
    }
    for (const Value &v : k.values) {
      Value *existing = FindValue(key, v.name);
      if (existing)
        *existing = v;
      else
        key->values.push_back(v);
    }
  }
  return true;
}

}  // namespace

unsigned long Generation() { return S().generation; }

Key *Root(HKEY predefined) {
  if (predefined == HKEY_LOCAL_MACHINE) return &S().hives[0].root;
  if (predefined == HKEY_CURRENT_USER) return &S().hives[1].root;
  // HKEY_CLASSES_ROOT shows HKLM\SOFTWARE\Classes, where both families keep
  // the machine's classes (per-user classes of 2000 and later are not kept).
  if (predefined == HKEY_CLASSES_ROOT) return Find(&S().hives[0].root, "SOFTWARE\\Classes");
  return nullptr;
}

Key *Find(Key *base, const std::string &path) {
  Key *key = base;
  for (const std::string &part : SplitPath(path)) {
    if (!key) return nullptr;
    key = Child(key, part);
  }
  return key;
}

Key *Create(Key *base, const std::string &path, bool *created) {
  bool made = false;
  Key *key = base;
  for (const std::string &part : SplitPath(path)) {
    Key *next = Child(key, part);
    if (!next) {
      next = AddChild(key, part);
      made = true;
    }
    key = next;
  }
  if (created) *created = made;
  if (made) SaveOf(key);
  return key;
}

Value *FindValue(Key *key, const std::string &name) {
  for (Value &v : key->values)
    if (CompareNoCase(v.name, name) == 0) return &v;
  return nullptr;
}

void SetValue(Key *key, const std::string &name, DWORD type, const BYTE *data, DWORD size) {
  Value *v = FindValue(key, name);
  if (!v) {
    key->values.push_back(Value{name, type, {}});
    v = &key->values.back();
  }
  v->type = type;
  v->data.assign(data, data + (data ? size : 0));
  key->lastWrite = RegistryNow();
  SaveOf(key);
}

bool DeleteValue(Key *key, const std::string &name) {
  for (auto it = key->values.begin(); it != key->values.end(); ++it) {
    if (CompareNoCase(it->name, name) == 0) {
      key->values.erase(it);
      key->lastWrite = RegistryNow();
      SaveOf(key);
      return true;
    }
  }
  return false;
}

void DeleteTree(Key *key) {
  if (!key->parent || key->deleted) return;  // a hive's root stays
  Key *parent = key->parent;
  parent->subkeys.erase(std::find(parent->subkeys.begin(), parent->subkeys.end(), key));
  MarkDeleted(key);
  SaveOf(parent);
}

std::string FullPath(const Key *key) {
  if (!key->parent) return key->name;
  return FullPath(key->parent) + "\\" + key->name;
}

void Save(const Key *key) {
  if (key) {
    SaveOf(key);
    return;
  }
  for (const Hive &h : S().hives) SaveHive(h);
}

bool Load(const std::string &dir, std::string *error) {
  Unload();
  for (Hive &h : S().hives) {
    if (!LoadHive(&h, dir + "/registry/" + h.fileName, error)) {
      Unload();
      return false;
    }
  }
  S().dir = dir;
  return true;
}

void Unload() {
  ClearHives();
  S().dir.clear();
  ++S().generation;
}

}  // namespace reg
}  // namespace winsim
