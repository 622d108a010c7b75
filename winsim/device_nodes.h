// Device nodes in the machine's registry, shared by the SetupAPI calls
// (setupapi.cpp) and newdev's driver update (newdev.cpp):
//   HKLM\SYSTEM\CurrentControlSet\Enum\<enumerator>\<device>\<instance>
//     HardwareID REG_MULTI_SZ, CompatibleIDs, ClassGUID, Class, Driver,
//     DeviceDesc, Mfg, ConfigFlags, Service
//   HKLM\SYSTEM\CurrentControlSet\Control\Class\{class GUID}\NNNN  (driver key)
// A registered node is a present device unless machine.ini lists it under
// [absent-devices] (a phantom: its key stays in the hive while no device
// answers for it).
#ifndef WINSIM_DEVICE_NODES_H
#define WINSIM_DEVICE_NODES_H

#include <windows.h>
#include <setupapi.h>

#include <string>
#include <vector>

#include "regstore.h"

namespace winsim {
namespace devices {

extern const char kEnumKey[];   // SYSTEM\CurrentControlSet\Enum
extern const char kClassKey[];  // SYSTEM\CurrentControlSet\Control\Class
extern const char kServicesKey[];  // SYSTEM\CurrentControlSet\Services

// Whether winsim follows Wine's last-error convention (devices.h).
bool &WineMode();
// A successful call: Windows clears the last error, Wine leaves it.
void Succeed();

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", and back (case-insensitive).
std::string FormatGuid(const GUID &g);
bool ParseGuid(const std::string &text, GUID *out);
bool SameGuid(const GUID &a, const GUID &b);

reg::Key *Hklm();
bool Live(const reg::Key *key);  // exists and not deleted
reg::Key *DeviceKey(const std::string &instanceId);
std::string ValueString(reg::Key *key, const char *name);  // "" unless REG_SZ/EXPAND_SZ
void SetString(reg::Key *key, const char *name, const std::string &value);
void SetDword(reg::Key *key, const char *name, DWORD value);
// The strings of a REG_MULTI_SZ value, up to the first empty one.
std::vector<std::string> MultiStrings(reg::Key *key, const char *name);
// Every registered node: "<enumerator>\<device>\<instance>" as stored.
std::vector<std::string> RegisteredDevices();
// Whether the device of a registered node is present.
bool Present(const std::string &instanceId);
GUID ClassGuidOf(reg::Key *device);
// Whether a device's hardware or compatible IDs include `hardwareId`
// (without regard to case).
bool DeviceHasId(reg::Key *node, const std::string &hardwareId);
// The Windows path of a service's image ("" without one), and whether a
// file is held in use on the machine (a loaded driver).
std::string ServiceImage(const std::string &service);
bool FileInUse(const std::string &windowsPath);

}  // namespace devices
}  // namespace winsim

#endif  // WINSIM_DEVICE_NODES_H
