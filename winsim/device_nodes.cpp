// Device nodes in the machine's registry, and what SetupAPI and newdev share
// about them (device_nodes.h).
#include "device_nodes.h"

#include <cstdio>
#include <cstring>

#include "ascii.h"
#include "attributes.h"
#include "devices.h"
#include "machine.h"
#include "paths.h"

namespace winsim {
namespace devices {

const char kEnumKey[] = "SYSTEM\\CurrentControlSet\\Enum";
const char kClassKey[] = "SYSTEM\\CurrentControlSet\\Control\\Class";

bool &WineMode() {
  static bool on = false;
  return on;
}

// A successful call: Windows clears the last error, Wine leaves it.
void Succeed() {
  if (!WineMode()) SetLastError(ERROR_SUCCESS);
}

// ---- GUIDs ----

std::string FormatGuid(const GUID &g) {
  char text[40];
  snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
           (unsigned long)g.Data1, g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2],
           g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}

bool ParseGuid(const std::string &text, GUID *out) {
  static const int groups[] = {8, 4, 4, 4, 12};
  std::string t = Trim(text, kSpaceTabLineEnds);
  if (t.size() != 38 || t.front() != '{' || t.back() != '}') return false;
  std::string hex;
  size_t pos = 1;
  for (int g = 0; g < 5; ++g) {
    for (int i = 0; i < groups[g]; ++i, ++pos) {
      if (!isxdigit((unsigned char)t[pos])) return false;
      hex += t[pos];
    }
    if (g < 4 && t[pos++] != '-') return false;
  }
  auto part = [&](size_t at, size_t len) { return strtoul(hex.substr(at, len).c_str(), nullptr, 16); };
  out->Data1 = DWORD(part(0, 8));
  out->Data2 = WORD(part(8, 4));
  out->Data3 = WORD(part(12, 4));
  for (int i = 0; i < 8; ++i) out->Data4[i] = BYTE(part(16 + 2 * i, 2));
  return true;
}

bool SameGuid(const GUID &a, const GUID &b) { return memcmp(&a, &b, sizeof a) == 0; }


// ---- device nodes in the registry ----

reg::Key *Hklm() { return reg::Root(HKEY_LOCAL_MACHINE); }

reg::Key *DeviceKey(const std::string &instanceId) {
  return reg::Find(Hklm(), std::string(kEnumKey) + "\\" + instanceId);
}

std::string ValueString(reg::Key *key, const char *name) {
  reg::Value *v = key ? reg::FindValue(key, name) : nullptr;
  if (!v || (v->type != REG_SZ && v->type != REG_EXPAND_SZ)) return "";
  std::string s(v->data.begin(), v->data.end());
  return s.substr(0, s.find('\0'));
}

void SetString(reg::Key *key, const char *name, const std::string &value) {
  reg::SetValue(key, name, REG_SZ, reinterpret_cast<const BYTE *>(value.c_str()),
                DWORD(value.size() + 1));
}

void SetDword(reg::Key *key, const char *name, DWORD value) {
  reg::SetValue(key, name, REG_DWORD, reinterpret_cast<const BYTE *>(&value), sizeof value);
}

// The strings of a REG_MULTI_SZ value, up to the first empty one.
std::vector<std::string> MultiStrings(reg::Key *key, const char *name) {
  std::vector<std::string> out;
  reg::Value *v = key ? reg::FindValue(key, name) : nullptr;
  if (!v || v->type != REG_MULTI_SZ) return out;
  std::string data(v->data.begin(), v->data.end());
  size_t at = 0;
  while (at < data.size()) {
    size_t end = data.find('\0', at);
    std::string s = data.substr(at, end == std::string::npos ? std::string::npos : end - at);
    if (s.empty()) break;
    out.push_back(s);
    if (end == std::string::npos) break;
    at = end + 1;
  }
  return out;
}

bool Live(const reg::Key *key) { return key && !key->deleted; }

// Every registered node: "<enumerator>\<device>\<instance>" as stored.
std::vector<std::string> RegisteredDevices() {
  std::vector<std::string> ids;
  reg::Key *enumKey = reg::Find(Hklm(), kEnumKey);
  if (!Live(enumKey)) return ids;
  for (reg::Key *enumerator : enumKey->subkeys) {
    if (!Live(enumerator)) continue;
    for (reg::Key *device : enumerator->subkeys) {
      if (!Live(device)) continue;
      for (reg::Key *instance : device->subkeys)
        if (Live(instance))
          ids.push_back(enumerator->name + "\\" + device->name + "\\" + instance->name);
    }
  }
  return ids;
}

// Whether the device of a registered node is present: every node is,
// except the phantoms machine.ini lists.
bool Present(const std::string &instanceId) {
  for (const std::string &absent : Config().absentDevices)
    if (AsciiEqualNoCase(absent, instanceId)) return false;
  return true;
}


GUID ClassGuidOf(reg::Key *device) {
  GUID g{};
  ParseGuid(ValueString(device, "ClassGUID"), &g);
  return g;
}

// Whether a device's hardware or compatible IDs include `hardwareId`,
// compared without regard to case as Plug and Play compares IDs (ReactOS'
// newdev does the same; Wine compares case-sensitively, reference 5.8).
bool DeviceHasId(reg::Key *node, const std::string &hardwareId) {
  for (const char *name : {"HardwareID", "CompatibleIDs"})
    for (const std::string &id : MultiStrings(node, name))
      if (AsciiEqualNoCase(id, hardwareId)) return true;
  return false;
}


const char kServicesKey[] = "SYSTEM\\CurrentControlSet\\Services";

// The Windows path of a service's image: ImagePath as the service key holds
// it, relative to the Windows directory unless it is a full path.
std::string ServiceImage(const std::string &service) {
  if (service.empty()) return "";
  std::string image =
      ValueString(reg::Find(Hklm(), std::string(kServicesKey) + "\\" + service), "ImagePath");
  if (image.empty()) return "";
  if (AsciiUpper(image).rfind("\\SYSTEMROOT\\", 0) == 0) return Config().windowsDir + image.substr(11);
  if (image.size() > 1 && image[1] == ':') return image;
  return Config().windowsDir + "\\" + image;
}

bool FileInUse(const std::string &windowsPath) {
  ResolvedPath r;
  return !windowsPath.empty() && ResolvePath(windowsPath.c_str(), &r) == 0 && IsInUse(r);
}

}  // namespace devices

void UseWineSetupApiLastError(bool on) { devices::WineMode() = on; }
bool WineSetupApiLastError() { return devices::WineMode(); }

}  // namespace winsim
