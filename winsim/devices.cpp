// SetupAPI device information sets and newdev's driver update, over the
// machine's registry.
//
// Device nodes live where Windows keeps them:
//   HKLM\SYSTEM\CurrentControlSet\Enum\<enumerator>\<device>\<instance>
//     HardwareID REG_MULTI_SZ, CompatibleIDs, ClassGUID, Class, Driver,
//     DeviceDesc, Mfg, ConfigFlags, Service
//   HKLM\SYSTEM\CurrentControlSet\Control\Class\{class GUID}\NNNN  (driver key)
// A registered node is a present device unless machine.ini lists it under
// [absent-devices] (a phantom: its key stays in the hive while no device
// answers for it).  An element created in a set but never registered lives
// only in the set and disappears with it.
//
// Last error: Windows' SetupAPI leaves ERROR_SUCCESS on success and so does
// winsim; Wine's leaves stale codes (reference 5.0), which a test can ask for
// with UseWineSetupApiLastError (devices.h).
//
// Strings are kept as the ANSI bytes the A functions see (REGEDIT4 hives).
#include "devices.h"

#include <setupapi.h>
#include <newdev.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <sstream>

#include "machine.h"
#include "textfile.h"

namespace winsim {

namespace {

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

std::string Upper(std::string s) {
  for (char &c : s)
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  return s;
}

bool EqualNoCase(const std::string &a, const std::string &b) { return Upper(a) == Upper(b); }

std::string Trim(const std::string &s) {
  size_t b = s.find_first_not_of(" \t\r\n"), e = s.find_last_not_of(" \t\r\n");
  return b == std::string::npos ? "" : s.substr(b, e - b + 1);
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
  std::string t = Trim(text);
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

// ---- INF files ----
//
// The subset of the INF syntax the device installation reads: sections
// (same-named sections merge), "key = field, field" lines, ';' comments,
// double quotes (with "" for a quote), '\' at the end of a line to continue
// it, %token% replaced from [Strings] and %% for a percent sign.  Section and
// key names are case-insensitive.

struct InfLine {
  std::string key;                  // "" for a line without '='
  std::vector<std::string> fields;  // raw, %tokens% not yet replaced
};

struct Inf {
  std::map<std::string, std::vector<InfLine>> sections;  // upper-cased names
  std::map<std::string, std::string> strings;            // upper-cased tokens

  const std::vector<InfLine> *Section(const std::string &name) const {
    auto it = sections.find(Upper(name));
    return it == sections.end() ? nullptr : &it->second;
  }
  std::string Expand(const std::string &raw) const {
    std::string out;
    for (size_t i = 0; i < raw.size(); ++i) {
      size_t close = raw[i] == '%' ? raw.find('%', i + 1) : std::string::npos;
      if (close == std::string::npos) {
        out += raw[i];
        continue;
      }
      std::string token = raw.substr(i + 1, close - i - 1);
      if (token.empty()) {
        out += '%';
      } else {
        auto s = strings.find(Upper(token));
        out += s == strings.end() ? token : s->second;  // unknown tokens stay bare
      }
      i = close;
    }
    return out;
  }
  // The first value of `key` in `section`, expanded; "" when absent.
  std::string Value(const std::string &section, const std::string &key, bool *found = nullptr) const {
    if (found) *found = false;
    if (const std::vector<InfLine> *lines = Section(section))
      for (const InfLine &line : *lines)
        if (EqualNoCase(line.key, key)) {
          if (found) *found = true;
          return line.fields.empty() ? "" : Expand(line.fields[0]);
        }
    return "";
  }
};

// Splits one logical line at commas outside quotes; `equals` receives the
// position of the first '=' outside quotes.
std::vector<std::string> InfSplit(const std::string &text, std::string *key) {
  std::vector<std::string> fields;
  std::string current;
  bool quoted = false, haveKey = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '"') {
      if (quoted && i + 1 < text.size() && text[i + 1] == '"') {
        current += '"';
        ++i;
      } else {
        quoted = !quoted;
      }
    } else if (!quoted && c == '=' && !haveKey) {
      *key = Trim(current);
      current.clear();
      haveKey = true;
    } else if (!quoted && c == ',') {
      fields.push_back(Trim(current));
      current.clear();
    } else {
      current += c;
    }
  }
  fields.push_back(Trim(current));
  if (!haveKey) key->clear();
  return fields;
}

Inf ParseInf(const std::string &text) {
  Inf inf;
  std::vector<InfLine> *section = nullptr;
  std::istringstream in(text);
  std::string physical, logical;
  while (std::getline(in, physical)) {
    // Strip a comment outside quotes.
    bool quoted = false;
    std::string line;
    for (char c : physical) {
      if (c == '"') quoted = !quoted;
      if (c == ';' && !quoted) break;
      line += c;
    }
    line = Trim(line);
    if (!line.empty() && line.back() == '\\') {
      logical += line.substr(0, line.size() - 1);
      continue;
    }
    logical += line;
    line = Trim(logical);
    logical.clear();
    if (line.empty()) continue;
    if (line[0] == '[') {
      size_t close = line.find(']');
      std::string name = Trim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1));
      section = &inf.sections[Upper(name)];
      continue;
    }
    if (!section) continue;  // lines before the first section are ignored
    InfLine entry;
    entry.fields = InfSplit(line, &entry.key);
    section->push_back(entry);
  }
  if (const std::vector<InfLine> *strings = inf.Section("Strings"))
    for (const InfLine &s : *strings)
      if (!s.key.empty() && !s.fields.empty()) inf.strings[Upper(s.key)] = s.fields[0];
  return inf;
}

// Reads the INF at `path`.  0 on success, else the code a SetupAPI call
// gives: a missing file (or directory on the way) is ERROR_FILE_NOT_FOUND,
// as Wine observed (reference 5.4; Windows may give 3 for a missing
// directory, unconfirmed); a directory is ERROR_ACCESS_DENIED.
DWORD LoadInf(const char *path, Inf *out) {
  ResolvedPath r;
  if (ResolveCallerPath(path, &r) != 0 || !r.exists) return ERROR_FILE_NOT_FOUND;
  if (r.isDirectory) return ERROR_ACCESS_DENIED;
  std::string text;
  if (!ReadTextFile(r.host, &text)) return ERROR_ACCESS_DENIED;
  *out = ParseInf(text);
  return 0;
}

// Signatures SetupAPI accepts for a device INF.
bool HasValidSignature(const Inf &inf) {
  std::string s = Upper(inf.Value("Version", "Signature"));
  return s == "$WINDOWS NT$" || s == "$CHICAGO$" || s == "$WINDOWS 95$";
}

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
    if (EqualNoCase(absent, instanceId)) return false;
  return true;
}

// ---- device information sets ----

struct Element {
  std::string instanceId;  // "ROOT\REALTIME\0000"
  GUID classGuid{};
  std::string description;
  bool registered = false;  // has a node in the registry
  bool removed = false;     // its node was removed (DIF_REMOVE)
  DWORD installFlags = 0;   // SP_DEVINSTALL_PARAMS Flags (DI_NEEDREBOOT)
  DWORD devInst = 0;
  // Properties set before registration: value name -> (type, data).
  std::map<std::string, std::pair<DWORD, std::vector<BYTE>>> pending;
};

struct DeviceSet {
  bool hasClass = false;
  GUID classGuid{};
  std::vector<Element> elements;
};

std::set<DeviceSet *> &Sets() {
  static std::set<DeviceSet *> sets;
  return sets;
}

DWORD NextDevInst() {
  static DWORD next = 1;
  return next++;
}

DeviceSet *SetFrom(HDEVINFO handle) {
  auto *set = static_cast<DeviceSet *>(handle);
  return Sets().count(set) ? set : nullptr;
}

void FillRecord(const DeviceSet &set, size_t index, SP_DEVINFO_DATA *data) {
  const Element &e = set.elements[index];
  data->ClassGuid = e.classGuid;
  data->DevInst = e.devInst;
  data->Reserved = DWORD(index + 1);
}

// The element a record names, or 0 with the error to report.
DWORD ElementFrom(DeviceSet *set, const SP_DEVINFO_DATA *data, Element **out) {
  if (!data || data->cbSize != sizeof(SP_DEVINFO_DATA)) return ERROR_INVALID_USER_BUFFER;
  size_t index = data->Reserved;
  if (index < 1 || index > set->elements.size() || set->elements[index - 1].devInst != data->DevInst)
    return ERROR_INVALID_PARAMETER;
  *out = &set->elements[index - 1];
  return 0;
}

// Enters a call on a whole set: counts it, applies the fault rules, and
// checks the set handle.  Returns 0, or the error the call fails with.
DWORD EnterSetCall(const char *call, const char *path, HDEVINFO handle, DeviceSet **set) {
  if (DWORD e = Fault(call, path)) return e;
  *set = SetFrom(handle);
  return *set ? 0 : ERROR_INVALID_HANDLE;
}

// Enters a call on one element of a set: counts it and applies the fault
// rules (with the element's instance ID as its path), then checks the set
// handle and the record.  Returns 0, or the error the call fails with.
DWORD EnterElementCall(const char *call, HDEVINFO handle, const SP_DEVINFO_DATA *data,
                       DeviceSet **set, Element **element) {
  *set = SetFrom(handle);
  *element = nullptr;
  const char *id =
      *set && ElementFrom(*set, data, element) == 0 ? (*element)->instanceId.c_str() : nullptr;
  if (DWORD e = Fault(call, id)) return e;
  if (!*set) return ERROR_INVALID_HANDLE;
  return ElementFrom(*set, data, element);
}

GUID ClassGuidOf(reg::Key *device) {
  GUID g{};
  ParseGuid(ValueString(device, "ClassGUID"), &g);
  return g;
}

// Whether an instance ID is taken: by a registered node, or by an element
// still waiting in a set (Windows holds such an element as a phantom node).
bool InstanceTaken(const std::string &instanceId) {
  if (Live(DeviceKey(instanceId))) return true;
  for (DeviceSet *set : Sets())
    for (const Element &e : set->elements)
      if (!e.registered && !e.removed && EqualNoCase(e.instanceId, instanceId)) return true;
  return false;
}

// Registry value name and type of the properties winsim keeps.
bool PropertyValue(DWORD property, const char **name, DWORD *type) {
  switch (property) {
    case SPDRP_DEVICEDESC: *name = "DeviceDesc"; *type = REG_SZ; return true;
    case SPDRP_HARDWAREID: *name = "HardwareID"; *type = REG_MULTI_SZ; return true;
    case SPDRP_COMPATIBLEIDS: *name = "CompatibleIDs"; *type = REG_MULTI_SZ; return true;
    case SPDRP_SERVICE: *name = "Service"; *type = REG_SZ; return true;
    case SPDRP_CLASS: *name = "Class"; *type = REG_SZ; return true;
    case SPDRP_CLASSGUID: *name = "ClassGUID"; *type = REG_SZ; return true;
    case SPDRP_DRIVER: *name = "Driver"; *type = REG_SZ; return true;
    case SPDRP_MFG: *name = "Mfg"; *type = REG_SZ; return true;
    case SPDRP_FRIENDLYNAME: *name = "FriendlyName"; *type = REG_SZ; return true;
  }
  return false;
}

// Creates the node of a registered element with everything set so far.
void RegisterNode(Element *e) {
  std::string id = e->instanceId;
  std::string enumerator = id.substr(0, id.find('\\'));
  reg::Key *enumKey = reg::Create(Hklm(), kEnumKey, nullptr);
  // Windows keeps the root enumerator's key as "Root".
  if (EqualNoCase(enumerator, "ROOT") && !Live(reg::Find(enumKey, enumerator)))
    id = "Root" + id.substr(enumerator.size());
  reg::Key *node = reg::Create(enumKey, id, nullptr);
  SetString(node, "ClassGUID", FormatGuid(e->classGuid));
  if (!e->description.empty()) SetString(node, "DeviceDesc", e->description);
  for (const auto &p : e->pending)
    reg::SetValue(node, p.first, p.second.first, p.second.second.data(), DWORD(p.second.second.size()));
  e->pending.clear();
  e->registered = true;
  reg::Save(node);
}

// Removes a node and the driver key it points to.
void RemoveNode(Element *e) {
  reg::Key *node = DeviceKey(e->instanceId);
  std::string driver = ValueString(node, "Driver");
  if (!driver.empty())
    if (reg::Key *driverKey = reg::Find(Hklm(), std::string(kClassKey) + "\\" + driver))
      if (Live(driverKey)) reg::DeleteTree(driverKey);
  reg::DeleteTree(node);
  reg::Save(reg::Find(Hklm(), kEnumKey));
  e->registered = false;
  e->removed = true;
  // A phantom removed is gone: a node made later under its ID is present.
  std::vector<std::string> &absent = Config().absentDevices;
  size_t before = absent.size();
  for (size_t i = absent.size(); i-- > 0;)
    if (EqualNoCase(absent[i], e->instanceId)) absent.erase(absent.begin() + long(i));
  std::string ignored;
  if (absent.size() != before) SaveConfig(&ignored);
}

// ---- driver installation (newdev) ----

// The models sections a [Manufacturer] entry names for 32-bit NT: with
// target decorations, the one that fits ("NTx86" or "NT", optionally with a
// version) — Windows and Wine ignore the others, e.g. "NTamd64"; without,
// the undecorated section.
std::vector<std::string> ModelsSections(const Inf &inf, const InfLine &manufacturer) {
  std::vector<std::string> out;
  if (manufacturer.fields.empty()) return out;
  std::string base = inf.Expand(manufacturer.fields[0]);
  if (manufacturer.fields.size() == 1) {
    out.push_back(base);
    return out;
  }
  for (size_t i = 1; i < manufacturer.fields.size(); ++i) {
    std::string d = Upper(inf.Expand(manufacturer.fields[i]));
    if (d == "NTX86" || d == "NT" || d.rfind("NTX86.", 0) == 0 || d.rfind("NT.", 0) == 0)
      out.push_back(base + "." + inf.Expand(manufacturer.fields[i]));
  }
  return out;
}

struct DriverMatch {
  std::string description, manufacturer, installSection, matchingId;
};

// Finds the models line of `inf` that lists `hardwareId` (IDs compare
// without regard to case, as Plug and Play IDs do).
bool FindDriver(const Inf &inf, const std::string &hardwareId, DriverMatch *out) {
  const std::vector<InfLine> *makers = inf.Section("Manufacturer");
  if (!makers) return false;
  for (const InfLine &maker : *makers)
    for (const std::string &models : ModelsSections(inf, maker)) {
      const std::vector<InfLine> *lines = inf.Section(models);
      if (!lines) continue;
      for (const InfLine &line : *lines)
        for (size_t i = 1; i < line.fields.size(); ++i)
          if (EqualNoCase(inf.Expand(line.fields[i]), hardwareId)) {
            out->description = inf.Expand(line.key);
            out->manufacturer = inf.Expand(maker.key);
            out->installSection = inf.Expand(line.fields[0]);
            out->matchingId = inf.Expand(line.fields[i]);
            return true;
          }
    }
  return false;
}

// The install section actually used on 32-bit NT: DDInstall.NTx86, then
// DDInstall.NT, then DDInstall.  "" when none exists.
std::string InstallSection(const Inf &inf, const std::string &base) {
  for (const char *suffix : {".NTx86", ".NT", ""})
    if (inf.Section(base + suffix)) return base + suffix;
  return "";
}

// The service an install section associates with the device (AddService
// with SPSVCINST_ASSOCSERVICE, 0x2).  False when there is none; `name` is
// "" for a null driver ("AddService=,2").
// `installSection` receives the line's service install section ("" for none).
bool AssociatedService(const Inf &inf, const std::string &section, std::string *name,
                       std::string *installSection) {
  const std::vector<InfLine> *lines = inf.Section(section + ".Services");
  if (!lines) return false;
  for (const InfLine &line : *lines) {
    if (!EqualNoCase(line.key, "AddService") || line.fields.size() < 2) continue;
    unsigned long flags = strtoul(inf.Expand(line.fields[1]).c_str(), nullptr, 0);
    if (flags & 0x2) {
      *name = inf.Expand(line.fields[0]);
      *installSection = line.fields.size() > 2 ? inf.Expand(line.fields[2]) : "";
      return true;
    }
  }
  return false;
}

// ---- the service of a driver ----

// A Windows path of the INF's ServiceBinary: the system directory IDs
// 10 (Windows), 11 (system) and 12 (drivers) replaced, %tokens% expanded.
std::string InfPath(const Inf &inf, const std::string &raw) {
  static const std::pair<const char *, int> ids[] = {{"%10%", 10}, {"%11%", 11}, {"%12%", 12}};
  for (const auto &id : ids)
    if (Upper(raw).rfind(id.first, 0) == 0) {
      const MachineConfig &c = Config();
      std::string dir = id.second == 10 ? c.windowsDir : id.second == 11 ? c.systemDir : c.systemDir + "\\DRIVERS";
      return dir + inf.Expand(raw.substr(4));
    }
  return inf.Expand(raw);
}

// What the service install section of an AddService line says.
struct ServiceInstall {
  DWORD type = 0, start = 0, errorControl = 0;
  std::string displayName;  // "" when the section names none
  std::string binary;       // full Windows path; "" when the section names none
};

ServiceInstall ReadServiceInstall(const Inf &inf, const std::string &section) {
  ServiceInstall out;
  if (section.empty()) return out;
  out.type = DWORD(strtoul(inf.Value(section, "ServiceType").c_str(), nullptr, 0));
  out.start = DWORD(strtoul(inf.Value(section, "StartType").c_str(), nullptr, 0));
  out.errorControl = DWORD(strtoul(inf.Value(section, "ErrorControl").c_str(), nullptr, 0));
  out.displayName = inf.Value(section, "DisplayName");
  if (const std::vector<InfLine> *lines = inf.Section(section))
    for (const InfLine &line : *lines)
      if (EqualNoCase(line.key, "ServiceBinary") && !line.fields.empty())
        out.binary = InfPath(inf, line.fields[0]);
  return out;
}

const char kServicesKey[] = "SYSTEM\\CurrentControlSet\\Services";

// The Windows path of a service's image: ImagePath as the service key holds
// it, relative to the Windows directory unless it is a full path.
std::string ServiceImage(const std::string &service) {
  if (service.empty()) return "";
  std::string image =
      ValueString(reg::Find(Hklm(), std::string(kServicesKey) + "\\" + service), "ImagePath");
  if (image.empty()) return "";
  if (Upper(image).rfind("\\SYSTEMROOT\\", 0) == 0) return Config().windowsDir + image.substr(11);
  if (image.size() > 1 && image[1] == ':') return image;
  return Config().windowsDir + "\\" + image;
}

// Creates or updates the service an AddService line installs.  A driver
// under the Windows directory is entered by its path relative to it
// ("system32\DRIVERS\<file>"), the form the registry of an NT system shows
// for drivers that setup installed.
void InstallService(const std::string &name, const ServiceInstall &install) {
  reg::Key *key = reg::Create(Hklm(), std::string(kServicesKey) + "\\" + name, nullptr);
  SetDword(key, "Type", install.type);
  SetDword(key, "Start", install.start);
  SetDword(key, "ErrorControl", install.errorControl);
  if (!install.displayName.empty()) SetString(key, "DisplayName", install.displayName);
  if (!install.binary.empty()) {
    std::string image = install.binary, root = Config().windowsDir + "\\";
    if (Upper(image).rfind(Upper(root), 0) == 0) image = image.substr(root.size());
    reg::SetValue(key, "ImagePath", REG_EXPAND_SZ, reinterpret_cast<const BYTE *>(image.c_str()),
                  DWORD(image.size() + 1));
  }
  reg::Save(key);
}

bool FileInUse(const std::string &windowsPath) {
  ResolvedPath r;
  return !windowsPath.empty() && ResolvePath(windowsPath.c_str(), &r) == 0 && IsInUse(r);
}

// ---- driver ranking ----
//
// Without INSTALLFLAG_FORCE the update installs the INF's driver only where
// it is better than the driver the device has (Microsoft's
// UpdateDriverForPlugAndPlayDevices reference; "How Windows ranks drivers"
// for the order).  winsim ranks as far as a hive shows:
//   1. a device without a driver takes any driver;
//   2. a driver matched through one of the device's hardware IDs beats one
//      matched through a compatible ID (the installed driver's
//      MatchingDeviceId tells how it matched);
//   3. at the same match, the later DriverVer date wins, then at the same
//      date the higher version.
// So the same INF installed again, or a driver not newer than the one
// installed, is not better.  Signatures are not modelled.

// 0 matched through a hardware ID, 1 through a compatible ID, 2 not at all.
int MatchRank(reg::Key *node, const std::string &id) {
  for (const std::string &h : MultiStrings(node, "HardwareID"))
    if (EqualNoCase(h, id)) return 0;
  for (const std::string &c : MultiStrings(node, "CompatibleIDs"))
    if (EqualNoCase(c, id)) return 1;
  return 2;
}

// "mm/dd/yyyy" and "w.x.y.z" as numbers that compare in order; missing
// parts count as 0.
std::vector<unsigned long> DriverVerKey(const std::string &date, const std::string &version) {
  unsigned long m = 0, d = 0, y = 0;
  sscanf(date.c_str(), "%lu/%lu/%lu", &m, &d, &y);
  std::vector<unsigned long> key{y * 10000 + m * 100 + d, 0, 0, 0, 0};
  sscanf(version.c_str(), "%lu.%lu.%lu.%lu", &key[1], &key[2], &key[3], &key[4]);
  return key;
}

bool BetterDriver(reg::Key *node, const std::string &matchingId, const std::string &date,
                  const std::string &version) {
  reg::Key *installed =
      reg::Find(Hklm(), std::string(kClassKey) + "\\" + ValueString(node, "Driver"));
  if (ValueString(node, "Driver").empty() || !Live(installed)) return true;
  int now = MatchRank(node, ValueString(installed, "MatchingDeviceId"));
  int offered = MatchRank(node, matchingId);
  if (offered != now) return offered < now;
  return DriverVerKey(date, version) >
         DriverVerKey(ValueString(installed, "DriverDate"), ValueString(installed, "DriverVersion"));
}

// The first free driver-key number under the class key.
std::string FreeDriverKey(const GUID &classGuid) {
  reg::Key *classKey = reg::Create(Hklm(), std::string(kClassKey) + "\\" + FormatGuid(classGuid), nullptr);
  for (int n = 0;; ++n) {
    char number[12];
    snprintf(number, sizeof number, "%04d", n);
    if (!Live(reg::Find(classKey, number))) return FormatGuid(classGuid) + "\\" + number;
  }
}

std::string FileName(const std::string &path) {
  size_t slash = path.find_last_of("\\/:");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Records the INF's driver on a device node, as the driver install does.
void InstallDriver(reg::Key *node, const Inf &inf, const GUID &classGuid, const std::string &className,
                   const DriverMatch &match, const std::string &section, const std::string &service,
                   const char *infPath) {
  std::string classPath = std::string(kClassKey) + "\\" + FormatGuid(classGuid);
  bool newClass = !Live(reg::Find(Hklm(), classPath));
  reg::Key *classKey = reg::Create(Hklm(), classPath, nullptr);
  if (newClass) {
    SetString(classKey, "", className);
    SetString(classKey, "Class", className);
  }
  // A device that already has a driver key of this class keeps it.
  std::string driver = ValueString(node, "Driver");
  if (driver.empty() || !EqualNoCase(driver.substr(0, 38), FormatGuid(classGuid)) ||
      !Live(reg::Find(Hklm(), std::string(kClassKey) + "\\" + driver))) {
    if (!driver.empty())
      if (reg::Key *old = reg::Find(Hklm(), std::string(kClassKey) + "\\" + driver))
        if (Live(old)) reg::DeleteTree(old);
    driver = FreeDriverKey(classGuid);
  }
  reg::Key *driverKey = reg::Create(Hklm(), std::string(kClassKey) + "\\" + driver, nullptr);
  SetString(driverKey, "InfPath", FileName(infPath));
  SetString(driverKey, "InfSection", section);
  SetString(driverKey, "ProviderName", inf.Value("Version", "Provider"));
  SetString(driverKey, "DriverDesc", match.description);
  SetString(driverKey, "MatchingDeviceId", match.matchingId);
  bool haveVersion = false;
  inf.Value("Version", "DriverVer", &haveVersion);
  if (haveVersion) {
    const std::vector<InfLine> *version = inf.Section("Version");
    for (const InfLine &line : *version)
      if (EqualNoCase(line.key, "DriverVer")) {
        SetString(driverKey, "DriverDate", line.fields.empty() ? "" : inf.Expand(line.fields[0]));
        SetString(driverKey, "DriverVersion", line.fields.size() < 2 ? "" : inf.Expand(line.fields[1]));
        break;
      }
  }
  SetString(node, "Class", className);
  SetString(node, "ClassGUID", FormatGuid(classGuid));
  SetString(node, "Driver", driver);
  SetString(node, "DeviceDesc", match.description);
  SetString(node, "Mfg", match.manufacturer);
  SetDword(node, "ConfigFlags", 0);
  if (service.empty())
    reg::DeleteValue(node, "Service");
  else
    SetString(node, "Service", service);
  reg::Save(node);
}

// Whether a device's hardware or compatible IDs include `hardwareId`,
// compared without regard to case as Plug and Play compares IDs (ReactOS'
// newdev does the same; Wine compares case-sensitively, reference 5.8).
bool DeviceHasId(reg::Key *node, const std::string &hardwareId) {
  for (const char *name : {"HardwareID", "CompatibleIDs"})
    for (const std::string &id : MultiStrings(node, name))
      if (EqualNoCase(id, hardwareId)) return true;
  return false;
}

}  // namespace

void UseWineSetupApiLastError(bool on) { WineMode() = on; }
bool WineSetupApiLastError() { return WineMode(); }

}  // namespace winsim

using namespace winsim;

extern "C" {

HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID *classGuid, PCSTR enumerator, HWND, DWORD flags) {
  char detail[24];
  snprintf(detail, sizeof detail, "flags=0x%lx", (unsigned long)flags);
  if (DWORD e = Fault("SetupDiGetClassDevsA", enumerator, nullptr, detail)) {
    SetLastError(e);
    return INVALID_HANDLE_VALUE;
  }
  // Without a class the caller must ask for all classes.
  if (!classGuid && !(flags & DIGCF_ALLCLASSES)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  auto *set = new DeviceSet;
  if (flags & DIGCF_DEVICEINTERFACE) {
    // A list of the devices that expose an interface of that class: the
    // machine registers no device interfaces, so the list starts empty
    // and takes no class (the GUID names an interface class).
    Sets().insert(set);
    Succeed();
    return set;
  }
  if (classGuid && !(flags & DIGCF_ALLCLASSES)) {
    set->hasClass = true;
    set->classGuid = *classGuid;
  }
  // A registered node is present unless it is a phantom (reference 5.1: a
  // registered root device is present at once, with or without a driver).
  // DIGCF_PRESENT: "Return only devices that are currently present in a
  // system" (SetupDiGetClassDevs reference); without it the phantoms are
  // listed too.
  for (const std::string &id : RegisteredDevices()) {
    if (enumerator && *enumerator && !EqualNoCase(id.substr(0, id.find('\\')), enumerator)) continue;
    if ((flags & DIGCF_PRESENT) && !Present(id)) continue;
    reg::Key *node = DeviceKey(id);
    Element e;
    e.instanceId = id;
    e.classGuid = ClassGuidOf(node);
    if (set->hasClass && !SameGuid(e.classGuid, set->classGuid)) continue;
    e.registered = true;
    e.devInst = NextDevInst();
    set->elements.push_back(e);
  }
  Sets().insert(set);
  Succeed();
  return set;
}

BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO handle, DWORD index, PSP_DEVINFO_DATA data) {
  DeviceSet *set = nullptr;
  if (DWORD e = EnterSetCall("SetupDiEnumDeviceInfo", nullptr, handle, &set)) {
    SetLastError(e);
    return FALSE;
  }
  if (!data || data->cbSize != sizeof(SP_DEVINFO_DATA)) {
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  if (index >= set->elements.size()) {
    SetLastError(ERROR_NO_MORE_ITEMS);
    return FALSE;
  }
  FillRecord(*set, index, data);
  Succeed();
  return TRUE;
}

BOOL WINAPI SetupDiGetDeviceRegistryPropertyA(HDEVINFO handle, PSP_DEVINFO_DATA data, DWORD property,
                                              PDWORD type, PBYTE buffer, DWORD size, PDWORD required) {
  DeviceSet *set;
  Element *element;
  if (DWORD e = EnterElementCall("SetupDiGetDeviceRegistryPropertyA", handle, data, &set, &element)) {
    SetLastError(set && !data ? DWORD(ERROR_INVALID_PARAMETER) : e);
    return FALSE;
  }
  const char *name;
  DWORD kind;
  if (!PropertyValue(property, &name, &kind)) {
    SetLastError(ERROR_INVALID_REG_PROPERTY);
    return FALSE;
  }
  if (!buffer && size) {
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  DWORD valueType = 0;
  std::vector<BYTE> bytes;
  bool have = false;
  if (element->registered) {
    reg::Key *node = DeviceKey(element->instanceId);
    if (!Live(node)) {
      SetLastError(ERROR_NO_SUCH_DEVINST);
      return FALSE;
    }
    if (reg::Value *v = reg::FindValue(node, name)) {
      valueType = v->type;
      bytes = v->data;
      have = true;
    }
  } else if (element->removed) {
    SetLastError(ERROR_NO_SUCH_DEVINST);
    return FALSE;
  } else {
    auto p = element->pending.find(name);
    if (p != element->pending.end()) {
      valueType = p->second.first;
      bytes = p->second.second;
      have = true;
    }
    // A new element already reports what its node will hold: its class
    // (GUID, and name when the class is installed) and its description
    // (Wine's SetupAPI tests, run on Windows).
    std::string text;
    if (property == SPDRP_CLASSGUID) text = FormatGuid(element->classGuid);
    if (property == SPDRP_DEVICEDESC) text = element->description;
    if (property == SPDRP_CLASS)
      text = ValueString(reg::Find(Hklm(), std::string(kClassKey) + "\\" + FormatGuid(element->classGuid)), "Class");
    if (!have && !text.empty()) {
      valueType = REG_SZ;
      bytes.assign(text.begin(), text.end());
      bytes.push_back(0);
      have = true;
    }
  }
  if (!have) {
    // No such property on this device (reference 5.3).
    if (required) *required = 0;
    SetLastError(ERROR_INVALID_DATA);
    return FALSE;
  }
  if (type) *type = valueType;
  if (required) *required = DWORD(bytes.size());
  if (size < bytes.size()) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  if (!bytes.empty()) memcpy(buffer, bytes.data(), bytes.size());
  Succeed();
  return TRUE;
}

BOOL WINAPI SetupDiSetDeviceRegistryPropertyA(HDEVINFO handle, PSP_DEVINFO_DATA data, DWORD property,
                                              const BYTE *buffer, DWORD size) {
  DeviceSet *set;
  Element *element;
  if (DWORD e = EnterElementCall("SetupDiSetDeviceRegistryPropertyA", handle, data, &set, &element)) {
    SetLastError(set && !data ? DWORD(ERROR_INVALID_PARAMETER) : e);
    return FALSE;
  }
  // Of the properties kept here only the ID lists, the description and the
  // friendly name may be set by a caller; Class, Driver and the rest belong
  // to the installer.
  const char *name;
  DWORD kind;
  if ((property != SPDRP_HARDWAREID && property != SPDRP_COMPATIBLEIDS && property != SPDRP_DEVICEDESC &&
       property != SPDRP_FRIENDLYNAME) ||
      !PropertyValue(property, &name, &kind)) {
    SetLastError(ERROR_INVALID_REG_PROPERTY);
    return FALSE;
  }
  if (!buffer && size) {
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  if (element->removed) {
    SetLastError(ERROR_NO_SUCH_DEVINST);
    return FALSE;
  }
  // The byte count is trusted as given (reference 5.6); no data deletes
  // the property.
  std::vector<BYTE> bytes(buffer, buffer + (buffer ? size : 0));
  if (element->registered) {
    reg::Key *node = DeviceKey(element->instanceId);
    if (!Live(node)) {
      SetLastError(ERROR_NO_SUCH_DEVINST);
      return FALSE;
    }
    if (bytes.empty())
      reg::DeleteValue(node, name);
    else
      reg::SetValue(node, name, kind, bytes.data(), DWORD(bytes.size()));
    reg::Save(node);
  } else if (bytes.empty()) {
    element->pending.erase(name);
  } else {
    element->pending[name] = std::make_pair(kind, bytes);
  }
  Succeed();
  return TRUE;
}

BOOL WINAPI SetupDiGetINFClassA(PCSTR infName, LPGUID classGuid, PSTR className, DWORD classNameSize,
                                PDWORD requiredSize) {
  if (DWORD e = Fault("SetupDiGetINFClassA", infName)) {
    SetLastError(e);
    return FALSE;
  }
  // A missing file wins over missing output pointers (Wine's SetupAPI
  // tests, run on Windows).
  Inf inf;
  DWORD loaded = infName ? LoadInf(infName, &inf) : DWORD(ERROR_INVALID_PARAMETER);
  if (loaded == ERROR_FILE_NOT_FOUND || loaded == ERROR_PATH_NOT_FOUND || !classGuid || !className) {
    SetLastError(loaded ? loaded : DWORD(ERROR_INVALID_PARAMETER));
    return FALSE;
  }
  if (loaded) {
    SetLastError(loaded);
    return FALSE;
  }
  if (!HasValidSignature(inf)) {
    // Windows refuses the file as not an INF of its style; Wine fails
    // without setting an error (reference 5.4).
    SetLastError(WineMode() ? ERROR_SUCCESS : ERROR_WRONG_INF_STYLE);
    return FALSE;
  }
  bool haveClass = false, haveGuid = false;
  std::string name = inf.Value("Version", "Class", &haveClass);
  std::string guidText = inf.Value("Version", "ClassGUID", &haveGuid);
  GUID guid{};
  if (haveGuid && !ParseGuid(guidText, &guid)) {
    // The text is no GUID: the code of the GUID parser (XP; 7 and later
    // give ERROR_INVALID_PARAMETER; Wine's SetupAPI tests).
    SetLastError(RPC_S_INVALID_STRING_UUID);
    return FALSE;
  }
  // A missing half is taken from the installed classes (the class keys
  // carry their name in "Class"); an unknown class name gives GUID_NULL.
  if (!haveGuid || !haveClass) {
    reg::Key *classes = reg::Find(Hklm(), kClassKey);
    for (reg::Key *k : classes ? classes->subkeys : std::vector<reg::Key *>()) {
      GUID g{};
      if (!Live(k) || !ParseGuid(k->name, &g)) continue;
      if (!haveGuid && EqualNoCase(ValueString(k, "Class"), name)) {
        guid = g;
        break;
      }
      if (!haveClass && haveGuid && SameGuid(g, guid)) {
        name = ValueString(k, "Class");
        break;
      }
    }
  }
  if (!haveGuid && !haveClass) {
    SetLastError(ERROR_NO_ASSOCIATED_CLASS);
    return FALSE;
  }
  DWORD needed = DWORD(name.size() + 1);
  if (requiredSize) *requiredSize = needed;
  if (!className || classNameSize < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  memcpy(className, name.c_str(), needed);
  *classGuid = guid;
  Succeed();
  return TRUE;
}

HDEVINFO WINAPI SetupDiCreateDeviceInfoList(const GUID *classGuid, HWND) {
  if (DWORD e = Fault("SetupDiCreateDeviceInfoList")) {
    SetLastError(e);
    return INVALID_HANDLE_VALUE;
  }
  auto *set = new DeviceSet;
  if (classGuid) {
    set->hasClass = true;
    set->classGuid = *classGuid;
  }
  Sets().insert(set);
  Succeed();
  return set;
}

BOOL WINAPI SetupDiCreateDeviceInfoA(HDEVINFO handle, PCSTR deviceName, const GUID *classGuid,
                                     PCSTR description, HWND, DWORD flags, PSP_DEVINFO_DATA data) {
  // The name is checked before the handle, the class after it (Wine's
  // SetupAPI tests, run on Windows).
  DeviceSet *set = nullptr;
  if (DWORD e = Fault("SetupDiCreateDeviceInfoA", deviceName)) {
    SetLastError(e);
    return FALSE;
  }
  if (!deviceName) {
    SetLastError(ERROR_INVALID_DEVINST_NAME);
    return FALSE;
  }
  if (DWORD e = EnterSetCall("SetupDiCreateDeviceInfoA", nullptr, handle, &set)) {
    SetLastError(e);
    return FALSE;
  }
  if (!classGuid) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (flags & ~DWORD(DICD_GENERATE_ID | DICD_INHERIT_CLASSDRVS)) {
    SetLastError(ERROR_INVALID_FLAGS);
    return FALSE;
  }
  if (set->hasClass && !SameGuid(set->classGuid, *classGuid)) {
    SetLastError(ERROR_CLASS_MISMATCH);
    return FALSE;
  }
  std::string name = deviceName, id;
  // An instance ID holds at most MAX_DEVICE_ID_LEN - 1 characters.
  if (name.size() >= MAX_DEVICE_ID_LEN) {
    SetLastError(ERROR_INVALID_DEVINST_NAME);
    return FALSE;
  }
  if (flags & DICD_GENERATE_ID) {
    // A root device ID without backslashes: ROOT\<NAME>\NNNN, the lowest
    // number not taken (reference 5.5).  An empty name is refused as on
    // Windows (Wine accepts it).
    if (name.empty() || name.find('\\') != std::string::npos) {
      SetLastError(ERROR_INVALID_DEVINST_NAME);
      return FALSE;
    }
    for (int n = 0; n <= 9999; ++n) {
      char number[12];
      snprintf(number, sizeof number, "%04d", n);
      std::string candidate = "ROOT\\" + Upper(name) + "\\" + number;
      if (!InstanceTaken(candidate)) {
        id = candidate;
        break;
      }
    }
    if (id.empty()) {
      SetLastError(ERROR_DEVINST_ALREADY_EXISTS);
      return FALSE;
    }
  } else {
    // A full instance ID "<enumerator>\<device>\<instance>".
    std::string upper = Upper(name);
    size_t first = upper.find('\\'), second = first == std::string::npos ? first : upper.find('\\', first + 1);
    if (second == std::string::npos || upper.find('\\', second + 1) != std::string::npos || first == 0 ||
        second == first + 1 || second + 1 == upper.size()) {
      SetLastError(ERROR_INVALID_DEVINST_NAME);
      return FALSE;
    }
    if (InstanceTaken(upper)) {
      SetLastError(ERROR_DEVINST_ALREADY_EXISTS);
      return FALSE;
    }
    id = upper;
  }
  // The record is checked after the name is known to be free.
  if (data && data->cbSize != sizeof(SP_DEVINFO_DATA)) {
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  Element e;
  e.instanceId = id;
  e.classGuid = *classGuid;
  e.description = description ? description : "";
  e.devInst = NextDevInst();
  set->elements.push_back(e);
  if (data) FillRecord(*set, set->elements.size() - 1, data);
  // Wine's successful creation leaves ERROR_FILE_NOT_FOUND behind
  // (reference 5.0).
  if (WineMode())
    SetLastError(ERROR_FILE_NOT_FOUND);
  else
    Succeed();
  return TRUE;
}

BOOL WINAPI SetupDiCallClassInstaller(DI_FUNCTION function, HDEVINFO handle, PSP_DEVINFO_DATA data) {
  DeviceSet *set = SetFrom(handle);
  Element *element = nullptr;
  const char *which = function == DIF_REGISTERDEVICE ? "DIF_REGISTERDEVICE"
                      : function == DIF_REMOVE       ? "DIF_REMOVE"
                                                     : "DIF_OTHER";
  if (DWORD e = Fault("SetupDiCallClassInstaller", which,
                      set && ElementFrom(set, data, &element) == 0 ? element->instanceId.c_str() : nullptr)) {
    SetLastError(e);
    return FALSE;
  }
  if (!set) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  // A 32-bit process on a 64-bit system installs no device (wow64.cpp).
  if (Config().wow64) {
    SetLastError(ERROR_IN_WOW64);
    return FALSE;
  }
  if (function != DIF_REGISTERDEVICE && function != DIF_REMOVE) {
    // No class installer and no default handler for other functions: the
    // caller is told to do the default action itself (Wine's SetupAPI
    // tests, run on Windows).
    SetLastError(ERROR_DI_DO_DEFAULT);
    return FALSE;
  }
  if (DWORD e = ElementFrom(set, data, &element)) {
    SetLastError(data ? e : ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (element->removed) {
    SetLastError(ERROR_NO_SUCH_DEVINST);
    return FALSE;
  }
  if (function == DIF_REGISTERDEVICE) {
    // Registering an element that is already a node changes nothing.
    if (!element->registered) RegisterNode(element);
  } else {
    // Removing an element that was never registered: there is no node to
    // remove (the code Windows gives here is unconfirmed).
    if (!element->registered) {
      SetLastError(ERROR_DEVINFO_NOT_REGISTERED);
      return FALSE;
    }
    reg::Key *node = DeviceKey(element->instanceId);
    if (!Live(node)) {
      SetLastError(ERROR_NO_SUCH_DEVINST);
      return FALSE;
    }
    // A device whose driver is loaded cannot be stopped here (winsim models
    // no stop that succeeds): the node goes, the driver stays loaded until
    // the restart, and the class installer still succeeds.  The caller
    // learns it from DI_NEEDREBOOT in the device's install parameters, which
    // it must read after a successful DIF_REMOVE (SetupDiRemoveDevice and
    // DIF_REMOVE reference: "the caller should check the
    // DI_NEEDREBOOT/DI_NEEDRESTART flags").
    if (FileInUse(ServiceImage(ValueString(node, "Service")))) element->installFlags |= DI_NEEDREBOOT;
    RemoveNode(element);
  }
  Succeed();
  return TRUE;
}

// The install parameters of an element: the flags the class installer left
// (DI_NEEDREBOOT after removing a device whose driver is loaded); the other
// fields are empty.  Without an element, the set's own parameters, which
// no call of winsim sets.  cbSize must be the structure's size
// (ERROR_INVALID_USER_BUFFER otherwise, as for the other SetupAPI
// structures).
BOOL WINAPI SetupDiGetDeviceInstallParamsA(HDEVINFO handle, PSP_DEVINFO_DATA data,
                                           PSP_DEVINSTALL_PARAMS_A params) {
  DeviceSet *set = nullptr;
  if (DWORD e = EnterSetCall("SetupDiGetDeviceInstallParamsA", nullptr, handle, &set)) {
    SetLastError(e);
    return FALSE;
  }
  if (!params || params->cbSize != sizeof *params) {
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  Element *element = nullptr;
  if (data) {
    if (DWORD e = ElementFrom(set, data, &element)) {
      SetLastError(e);
      return FALSE;
    }
  }
  memset(params, 0, sizeof *params);
  params->cbSize = sizeof *params;
  params->Flags = element ? element->installFlags : 0;
  Succeed();
  return TRUE;
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO handle) {
  DeviceSet *set = nullptr;
  if (DWORD e = EnterSetCall("SetupDiDestroyDeviceInfoList", nullptr, handle, &set)) {
    SetLastError(e);
    return FALSE;
  }
  // Elements never registered disappear with the set.
  Sets().erase(set);
  delete set;
  // Both Windows and Wine leave 0 here (reference 5.0).
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

// newdev.dll.  Installs the INF's driver on every present device whose
// hardware or compatible IDs include `hardwareId`.  Failures as Windows
// documents them: ERROR_INVALID_FLAGS, ERROR_FILE_NOT_FOUND for a missing
// INF, ERROR_NO_SUCH_DEVINST when no present device has the ID (the
// reference: "does not match any device on the system. That is, the device
// is not plugged in" - a phantom node with the ID does not count), and
// ERROR_NO_MORE_ITEMS when a device matches but, without INSTALLFLAG_FORCE,
// the INF's driver is not better than the one it has (ranking above).  An
// INF that does not list the ID: Windows' driver selection
// (DIF_SELECTBESTCOMPATDRV) finds no compatible driver and fails with
// ERROR_NO_COMPAT_DRIVERS; we report that code (ReactOS reports
// ERROR_NO_SUCH_DEVINST; the exact Windows code is unconfirmed, reference
// 5.8).  An install section without an associated service (AddService with
// flag 0x2, "AddService=,2" for a null driver) leaves a function-driverless
// device unusable on Windows 2000 and later: ERROR_NO_ASSOCIATED_SERVICE.
// Wine differs: it always succeeds (reference 5.8); winsim follows Windows.
//
// Restart: a device whose driver is running cannot take a new driver until
// it is stopped; winsim models no stop that succeeds, so updating a device
// whose driver image is loaded (its service's image, or the binary the INF
// installs, held in use on the machine) needs a restart of the system - the
// outcome Windows reports for a device it cannot restart (SetupDiRestartDevices
// reference: DI_NEEDREBOOT, CM_PROB_NEED_RESTART).  The reference of
// bRebootRequired: with a pointer the function sets it to TRUE and the caller
// is responsible for prompting; with NULL the function itself prompts for the
// restart when one is needed.  That prompt is the system's "System Settings
// Change" box, entered in the journal as a system box; the simulated user
// answers No (the machine restarts only when a test restarts it).  The
// wording of the box is as users report it, not confirmed here.
BOOL WINAPI UpdateDriverForPlugAndPlayDevicesA(HWND, LPCSTR hardwareId, LPCSTR fullInfPath, DWORD flags,
                                               PBOOL rebootRequired) {
  char detail[48];
  snprintf(detail, sizeof detail, "flags=0x%lx reboot=%s", (unsigned long)flags,
           rebootRequired ? "pointer" : "null");
  if (DWORD e = Fault("UpdateDriverForPlugAndPlayDevicesA", fullInfPath, hardwareId, detail)) {
    SetLastError(e);
    return FALSE;
  }
  if (flags & ~DWORD(INSTALLFLAG_FORCE | INSTALLFLAG_READONLY | INSTALLFLAG_NONINTERACTIVE)) {
    SetLastError(ERROR_INVALID_FLAGS);
    return FALSE;
  }
  if (!hardwareId || !*hardwareId || !fullInfPath) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // Microsoft's "Device Installations on 64-Bit Systems": the 32-bit
  // version of an installer gets ERROR_IN_WOW64 on a 64-bit platform.
  if (Config().wow64) {
    SetLastError(ERROR_IN_WOW64);
    return FALSE;
  }
  Inf inf;
  if (LoadInf(fullInfPath, &inf)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  std::vector<reg::Key *> devices;
  for (const std::string &id : RegisteredDevices()) {
    reg::Key *node = DeviceKey(id);
    if (Present(id) && DeviceHasId(node, hardwareId)) devices.push_back(node);
  }
  if (devices.empty()) {
    SetLastError(ERROR_NO_SUCH_DEVINST);
    return FALSE;
  }
  if (!HasValidSignature(inf)) {
    SetLastError(ERROR_WRONG_INF_STYLE);
    return FALSE;
  }
  DriverMatch match;
  if (!FindDriver(inf, hardwareId, &match)) {
    SetLastError(ERROR_NO_COMPAT_DRIVERS);
    return FALSE;
  }
  std::string section = InstallSection(inf, match.installSection);
  if (section.empty()) {
    SetLastError(ERROR_SECTION_NOT_FOUND);
    return FALSE;
  }
  std::string service, serviceSection;
  if (!AssociatedService(inf, section, &service, &serviceSection)) {
    SetLastError(ERROR_NO_ASSOCIATED_SERVICE);
    return FALSE;
  }
  GUID classGuid{};
  if (!ParseGuid(inf.Value("Version", "ClassGUID"), &classGuid)) {
    SetLastError(ERROR_INVALID_CLASS);
    return FALSE;
  }
  std::string date, version;
  if (const std::vector<InfLine> *lines = inf.Section("Version"))
    for (const InfLine &line : *lines)
      if (EqualNoCase(line.key, "DriverVer")) {
        date = line.fields.empty() ? "" : inf.Expand(line.fields[0]);
        version = line.fields.size() < 2 ? "" : inf.Expand(line.fields[1]);
        break;
      }
  if (!(flags & INSTALLFLAG_FORCE)) {
    std::vector<reg::Key *> better;
    for (reg::Key *node : devices)
      if (BetterDriver(node, match.matchingId, date, version)) better.push_back(node);
    if (better.empty()) {
      SetLastError(ERROR_NO_MORE_ITEMS);
      return FALSE;
    }
    devices = better;
  }
  ServiceInstall install = ReadServiceInstall(inf, serviceSection);
  bool restart = false;
  for (reg::Key *node : devices)
    restart = restart || FileInUse(ServiceImage(ValueString(node, "Service"))) || FileInUse(install.binary);
  std::string className = inf.Value("Version", "Class");
  if (!service.empty()) InstallService(service, install);
  for (reg::Key *node : devices)
    InstallDriver(node, inf, classGuid, className, match, section, service, fullInfPath);
  if (rebootRequired)
    *rebootRequired = restart ? TRUE : FALSE;
  else if (restart)
    JournalAppend("system-restart-box caption=" + QuoteText("System Settings Change") + " text=" +
                  QuoteText("Your hardware settings have changed. You must restart your computer for "
                            "these changes to take effect.\n\nDo you want to restart your computer now?"));
  SetLastError(ERROR_SUCCESS);  // Windows and Wine both end with 0
  return TRUE;
}

}  // extern "C"

namespace {
// GetProcAddress hands these out where the machine's [libraries] lists them:
// the driver update in newdev.dll, the device functions in setupapi.dll.
struct RegisterNewDev {
  RegisterNewDev() {
    winsim::RegisterEntryPoint("UpdateDriverForPlugAndPlayDevicesA",
                               winsim::AsProc(&UpdateDriverForPlugAndPlayDevicesA));
    winsim::RegisterEntryPoint("SetupDiGetClassDevsA", winsim::AsProc(&SetupDiGetClassDevsA));
    winsim::RegisterEntryPoint("SetupDiEnumDeviceInfo", winsim::AsProc(&SetupDiEnumDeviceInfo));
    winsim::RegisterEntryPoint("SetupDiGetDeviceRegistryPropertyA",
                               winsim::AsProc(&SetupDiGetDeviceRegistryPropertyA));
    winsim::RegisterEntryPoint("SetupDiSetDeviceRegistryPropertyA",
                               winsim::AsProc(&SetupDiSetDeviceRegistryPropertyA));
    winsim::RegisterEntryPoint("SetupDiGetINFClassA", winsim::AsProc(&SetupDiGetINFClassA));
    winsim::RegisterEntryPoint("SetupDiCreateDeviceInfoList", winsim::AsProc(&SetupDiCreateDeviceInfoList));
    winsim::RegisterEntryPoint("SetupDiCreateDeviceInfoA", winsim::AsProc(&SetupDiCreateDeviceInfoA));
    winsim::RegisterEntryPoint("SetupDiCallClassInstaller", winsim::AsProc(&SetupDiCallClassInstaller));
    winsim::RegisterEntryPoint("SetupDiDestroyDeviceInfoList", winsim::AsProc(&SetupDiDestroyDeviceInfoList));
  }
} registerNewDev;
}  // namespace
