// newdev.dll's UpdateDriverForPlugAndPlayDevicesA: installs an INF's
// driver on the present devices with a hardware ID, with the driver ranking,
// the driver's service and the driver key (device nodes: device_nodes.h; INF
// files: inf_reader.h).
#include "devices.h"

#include <setupapi.h>
#include <newdev.h>

#include <cstdio>
#include <cstring>
#include <set>

#include "ascii.h"
#include "device_nodes.h"
#include "faults.h"
#include "inf_reader.h"
#include "journal.h"
#include "libraries.h"
#include "machine.h"
#include "regstore.h"
#include "snapshot.h"
#include "textfile.h"

namespace winsim {
namespace {

using namespace devices;

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
    std::string d = AsciiUpper(inf.Expand(manufacturer.fields[i]));
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
          if (AsciiEqualNoCase(inf.Expand(line.fields[i]), hardwareId)) {
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
    if (!AsciiEqualNoCase(line.key, "AddService") || line.fields.size() < 2) continue;
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
    if (AsciiUpper(raw).rfind(id.first, 0) == 0) {
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
      if (AsciiEqualNoCase(line.key, "ServiceBinary") && !line.fields.empty())
        out.binary = InfPath(inf, line.fields[0]);
  return out;
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
    if (AsciiUpper(image).rfind(AsciiUpper(root), 0) == 0) image = image.substr(root.size());
    reg::SetValue(key, "ImagePath", REG_EXPAND_SZ, reinterpret_cast<const BYTE *>(image.c_str()),
                  DWORD(image.size() + 1));
  }
  reg::Save(key);
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
    if (AsciiEqualNoCase(h, id)) return 0;
  for (const std::string &c : MultiStrings(node, "CompatibleIDs"))
    if (AsciiEqualNoCase(c, id)) return 1;
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
  if (driver.empty() || !AsciiEqualNoCase(driver.substr(0, 38), FormatGuid(classGuid)) ||
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
  if (inf.hasDriverVer) {
    SetString(driverKey, "DriverDate", inf.driverDate);
    SetString(driverKey, "DriverVersion", inf.driverVersion);
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

}  // namespace
}  // namespace winsim

using namespace winsim;
using namespace winsim::devices;

extern "C" {

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
  if (!(flags & INSTALLFLAG_FORCE)) {
    std::vector<reg::Key *> better;
    for (reg::Key *node : devices)
      if (BetterDriver(node, match.matchingId, inf.driverDate, inf.driverVersion)) better.push_back(node);
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
// GetProcAddress hands this out when the machine's newdev.dll exports it.
struct RegisterNewDev {
  RegisterNewDev() {
    winsim::RegisterEntryPoint("UpdateDriverForPlugAndPlayDevicesA",
                               winsim::AsProc(&UpdateDriverForPlugAndPlayDevicesA));
  }
} registerNewDev;
}  // namespace
