// The USB device packages: two INFs into the INF directory and the FTDI
// D2XX files into the system and drivers directories.  Only files are
// placed; nothing is registered or staged.
#include <windows.h>

#include "components/components.h"
#include "deploy/deploy.h"
#include "platform.h"

namespace {

std::string CopyFailure(const char *file, const char *place) {
  return std::string("Unable to copy \"") + file + "\" to " + place + "!";
}

}  // namespace

// The system directory plays no part: the INF goes under the Windows
// directory on both families.
void InstallUsbAudioInf(std::string sourceDir, std::string windowsDir, std::string /*systemDir*/) {
  DeployFile(WithBackslash(sourceDir, 1) + "MAYA51USB.INF",
             WithBackslash(windowsDir, 1) + "INF\\MAYA51USB.INF",
             CopyFailure("MAYA51USB.INF", "INF"));
}

void InstallUsbControllerPackage(std::string sourceDir, std::string windowsDir,
                                 std::string systemDir) {
  sourceDir = WithBackslash(sourceDir, 1);
  DeployFile(sourceDir + "CX_USB.INF", WithBackslash(windowsDir, 1) + "INF\\CX_USB.INF",
             CopyFailure("CX_USB.INF", "INF"));
  DeployFile(sourceDir + "FTD2XX.DLL", WithBackslash(systemDir, 1) + "FTD2XX.DLL",
             CopyFailure("FTD2XX.DLL", "System32 directory"));
  DeployFile(sourceDir + "FTD2XXUN.EXE", WithBackslash(systemDir, 1) + "FTD2XXUN.EXE",
             CopyFailure("FTD2XXUN.EXE", "System32 directory"));
  // The 9x family keeps the driver in a "Drivers" folder of the directory
  // named like the system directory with "32" appended (SYSTEM -> SYSTEM32).
  if (PlatformFamily == Family::Windows9x) systemDir = WithBackslash(systemDir, 2) + "32\\";
  DeployFile(sourceDir + "FTD2XX.SYS", WithBackslash(systemDir, 1) + "Drivers\\FTD2XX.SYS",
             CopyFailure("FTD2XX.SYS", "Drivers directory"));
}
