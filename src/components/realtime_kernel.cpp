// The realtime audio kernel: driver, 16-bit bridge (9x), INF, user-mode DLL
// and the engine started at every logon.  The DLL and the engine may be in
// use while we run, so they are staged beside their live names and replaced
// at the next start of the system.
#include <windows.h>

#include <string>
#include <vector>

#include "components/components.h"
#include "deploy/deploy.h"
#include "pnp/pnp.h"
#include "platform.h"

namespace {

const char kSystemIni[] = "SYSTEM.INI";
const char kEnhSection[] = "386Enh";
const char kKernelVxd[] = "pulsario.vxd";
const char kHardwareId[] = "*varentel\\pulsario";

const char kClassKey[] = "System\\CurrentControlSet\\Services\\Class\\REALTIME";
const char kDriverKey[] = "System\\CurrentControlSet\\Services\\Class\\REALTIME\\PULS";
const char kEnumKey[] = "Enum\\Root\\REALTIME\\PULS";
const char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kSettingsKey[] = "Software\\Varentel\\PULSARIO";
const char kDeviceDesc[] = "Varentel RealTime Audio Kernel";
const char kProvider[] = "Varentel GmbH";

const BYTE DefaultKernelConfig[16] = {0x0F, 0x14, 0xD2, 0xE1, 0x44, 0x90, 0x11, 0xD5,
                                      0x91, 0x59, 0x00, 0xD0, 0xC3, 0x00, 0x18, 0xCC};

std::string CopyFailure(const std::string &file) {
  return "Unable to copy \"" + file + "\" to Systemdirectory!";
}

// Comments out the static "device=pulsario.vxd" lines of [386Enh]: the
// device is loaded through its registry entries instead.
void DisableStaticVxdLines() {
  // Make the system drop its cached copy, so that we read the file as it is.
  WritePrivateProfileStringA(nullptr, nullptr, nullptr, kSystemIni);
  std::vector<char> buffer;
  if (!ReadWholeSection(kSystemIni, kEnhSection, &buffer)) return;  // never write back a section cut short
  // Nothing read (no section, or the read failed): writing the empty buffer
  // back could only empty a section we could not see.
  if (buffer[0] == 0) return;
  DisableDeviceLines(buffer.data(), kKernelVxd);
  WritePrivateProfileSectionA(kEnhSection, buffer.data(), kSystemIni);
}

// The 9x class and enumerator entries of the root device "REALTIME\PULS".
void WriteDeviceKeys9x() {
  static const BYTE configFlags[4] = {0x00, 0x00, 0x00, 0x00};
  static const BYTE capabilities[4] = {0x14, 0x00, 0x00, 0x00};
  WriteRegString(HKEY_LOCAL_MACHINE, kClassKey, "", "Varentel AudioEngine");
  WriteRegString(HKEY_LOCAL_MACHINE, kDriverKey, "Icon", "0");
  WriteRegString(HKEY_LOCAL_MACHINE, kDriverKey, "DevLoader", "*CONFIGMG");
  WriteRegString(HKEY_LOCAL_MACHINE, kDriverKey, "PortName", "PULSARIO");
  WriteRegString(HKEY_LOCAL_MACHINE, kDriverKey, "DeviceDriver", "PULSARIO.VXD");
  WriteRegString(HKEY_LOCAL_MACHINE, kDriverKey, "DeviceDesc", kDeviceDesc);
  WriteRegString(HKEY_LOCAL_MACHINE, kDriverKey, "DriverDesc", kDeviceDesc);
  WriteRegString(HKEY_LOCAL_MACHINE, kDriverKey, "InfPath", "PULSARIO.INF");
  WriteRegString(HKEY_LOCAL_MACHINE, kDriverKey, "InfSection", "PULSARIO");
  WriteRegString(HKEY_LOCAL_MACHINE, kDriverKey, "ProviderName", kProvider);
  WriteRegString(HKEY_LOCAL_MACHINE, kEnumKey, "Class", "REALTIME");
  WriteRegString(HKEY_LOCAL_MACHINE, kEnumKey, "Driver", "REALTIME\\PULS");
  WriteRegString(HKEY_LOCAL_MACHINE, kEnumKey, "Mfg", kProvider);
  WriteRegString(HKEY_LOCAL_MACHINE, kEnumKey, "DeviceDesc", kDeviceDesc);
  WriteRegBinary(HKEY_LOCAL_MACHINE, kEnumKey, "ConfigFlags", configFlags, 4);
  WriteRegBinary(HKEY_LOCAL_MACHINE, kEnumKey, "Capabilities", capabilities, 4);
}

// Starts the engine at every logon (by its bare name: it lives in the
// system directory) and enables it; an existing "Config" is the user's.
void RegisterEngine() {
  WriteRegString(HKEY_LOCAL_MACHINE, kRunKey, "Realtime Audio Engine", "pulsario.exe");
  WriteRegDword(HKEY_LOCAL_MACHINE, kSettingsKey, "Enabled", 1);
  if (!RegValueExists(HKEY_LOCAL_MACHINE, kSettingsKey, "Config"))
    WriteRegBinary(HKEY_LOCAL_MACHINE, kSettingsKey, "Config", DefaultKernelConfig,
                   sizeof DefaultKernelConfig);
}

// A staging copy: no existence test, no message; made writable before and
// after, so that a read-only source never blocks the next run's copy.
bool StageCopy(const std::string &source, const std::string &staging) {
  return CopyWritable(source, staging);
}

// False when a WININIT.INI entry was refused; the steps after it are not
// made.
bool InstallKernel9x(const std::string &sourceDir, const std::string &windowsDir,
                     const std::string &systemDir) {
  DeployFile(sourceDir + "PULSARIO.VXD", systemDir + "PULSARIO.VXD", CopyFailure("PULSARIO.VXD"));
  DeployFile(sourceDir + "PULSBR16.DLL", systemDir + "PULSBR16.DLL", CopyFailure("PULSBR16.DLL"));
  const std::string inf = sourceDir + "PULSARIO.INF";
  DeployFile(inf, WithBackslash(windowsDir, 1) + "INF\\PULSARIO.INF", CopyFailure("PULSARIO.INF"));
  if (FileIsPresent(inf)) {
    DisableStaticVxdLines();
    WriteDeviceKeys9x();
  }
  // Each line goes to the end of [RENAME], after anything queued before for
  // the same live name.
  if (StageCopy(sourceDir + "PULSARIO.DLL", systemDir + "PULSARIO.DL") &&
      !QueueRename9xLast(systemDir + "PULSARIO.DLL", systemDir + "PULSARIO.DL"))
    return false;
  if (StageCopy(sourceDir + "PULSARIO.EXE", systemDir + "PULSARIO.EX")) {
    if (!QueueRename9xLast(systemDir + "PULSARIO.EXE", systemDir + "PULSARIO.EX")) return false;
    RegisterEngine();
  }
  return true;
}

void InstallKernelNT(const std::string &sourceDir, const std::string &systemDir) {
  DeployFile(sourceDir + "PULSARIO.SYS", systemDir + "DRIVERS\\PULSARIO.SYS",
             CopyFailure("PULSARIO.SYS"));
  const std::string inf = sourceDir + "pulsario.inf";
  InstallRootDevice(inf.c_str(), kHardwareId);
  // A run started again before the restart finds its moves pending.
  if (StageCopy(sourceDir + "PULSARIO.DLL", systemDir + "PULSARIO.DL"))
    QueueReplaceNTOnce(systemDir + "PULSARIO.DL", systemDir + "PULSARIO.DLL");
  if (StageCopy(sourceDir + "PULSARIO.EXE", systemDir + "PULSARIO.EX")) {
    QueueReplaceNTOnce(systemDir + "PULSARIO.EX", systemDir + "PULSARIO.EXE");
    RegisterEngine();
  }
}

}  // namespace

bool InstallRealtimeKernel(std::string sourceDir, std::string windowsDir, std::string systemDir) {
  systemDir = WithBackslash(systemDir, 1);
  if (PlatformFamily == Family::Windows9x) return InstallKernel9x(sourceDir, windowsDir, systemDir);
  InstallKernelNT(sourceDir, systemDir);
  return true;
}
