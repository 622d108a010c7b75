// SetupAPI's device information sets and calls over the machine's registry
// (device nodes: device_nodes.h; INF files: inf_reader.h).  An element
// created in a set but never registered lives only in the set and
// disappears with it.
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

#include "ascii.h"
#include "device_nodes.h"
#include "faults.h"
#include "process_state.h"
#include "inf_reader.h"
#include "libraries.h"
#include "machine.h"
#include "regstore.h"
#include "textfile.h"

namespace winsim {
namespace {

using namespace devices;

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

// The process's device information sets and the handle its next device
// node gets.
struct SetTable {
  std::set<DeviceSet *> open;
  DWORD nextDevInst = 1;
};

SetTable &Table() {
  static SetTable table;
  return table;
}

std::set<DeviceSet *> &Sets() { return Table().open; }

DWORD NextDevInst() { return Table().nextDevInst++; }

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

// Whether an instance ID is taken: by a registered node, or by an element
// still waiting in a set (Windows holds such an element as a phantom node).
bool InstanceTaken(const std::string &instanceId) {
  if (Live(DeviceKey(instanceId))) return true;
  for (DeviceSet *set : Sets())
    for (const Element &e : set->elements)
      if (!e.registered && !e.removed && AsciiEqualNoCase(e.instanceId, instanceId)) return true;
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

// Enters SetupDiGetDeviceRegistryPropertyA or SetupDiSetDeviceRegistryPropertyA:
// the set and the record, then the property code (for setting, one of those
// a caller may set: the ID lists, the description and the friendly name;
// Class, Driver and the rest belong to the installer), then the buffer.
// Returns 0 with the element and the property's value name and type, or the
// error the call fails with.
DWORD EnterPropertyCall(const char *call, HDEVINFO handle, PSP_DEVINFO_DATA data, DWORD property,
                        bool setting, const void *buffer, DWORD size, Element **element,
                        const char **name, DWORD *kind) {
  DeviceSet *set;
  if (DWORD e = EnterElementCall(call, handle, data, &set, element))
    return set && !data ? DWORD(ERROR_INVALID_PARAMETER) : e;
  bool settable = property == SPDRP_HARDWAREID || property == SPDRP_COMPATIBLEIDS ||
                  property == SPDRP_DEVICEDESC || property == SPDRP_FRIENDLYNAME;
  if ((setting && !settable) || !PropertyValue(property, name, kind)) return ERROR_INVALID_REG_PROPERTY;
  if (!buffer && size) return ERROR_INVALID_USER_BUFFER;
  return 0;
}

// Creates the node of a registered element with everything set so far.
void RegisterNode(Element *e) {
  std::string id = e->instanceId;
  std::string enumerator = id.substr(0, id.find('\\'));
  reg::Key *enumKey = reg::Create(Hklm(), kEnumKey, nullptr);
  // Windows keeps the root enumerator's key as "Root".
  if (AsciiEqualNoCase(enumerator, "ROOT") && !Live(reg::Find(enumKey, enumerator)))
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
    if (AsciiEqualNoCase(absent[i], e->instanceId)) absent.erase(absent.begin() + long(i));
  std::string ignored;
  if (absent.size() != before) SaveConfig(&ignored);
}

}  // namespace
}  // namespace winsim

using namespace winsim;
using namespace winsim::devices;

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
    if (enumerator && *enumerator && !AsciiEqualNoCase(id.substr(0, id.find('\\')), enumerator)) continue;
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
  Element *element;
  const char *name;
  DWORD kind;
  if (DWORD e = EnterPropertyCall("SetupDiGetDeviceRegistryPropertyA", handle, data, property, false, buffer,
                                  size, &element, &name, &kind)) {
    SetLastError(e);
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
  Element *element;
  const char *name;
  DWORD kind;
  if (DWORD e = EnterPropertyCall("SetupDiSetDeviceRegistryPropertyA", handle, data, property, true, buffer,
                                  size, &element, &name, &kind)) {
    SetLastError(e);
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
      if (!haveGuid && AsciiEqualNoCase(ValueString(k, "Class"), name)) {
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
      std::string candidate = "ROOT\\" + AsciiUpper(name) + "\\" + number;
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
    std::string upper = AsciiUpper(name);
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

}  // extern "C"

void winsim::ResetDeviceSets() {
  for (DeviceSet *set : Sets()) delete set;
  Table() = SetTable();
}

namespace {
// GetProcAddress hands these out where the machine's [libraries] lists them
// for setupapi.dll: the program binds SetupAPI at run time by its full path.
struct RegisterSetupApi {
  RegisterSetupApi() {
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
} registerSetupApi;
}  // namespace
