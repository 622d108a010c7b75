// The component installers, one routine per component.  Each takes its
// three directories by value and reports nothing to the caller, except that
// the two that write WININIT.INI return false after a refused profile-file
// write (ProfileWriteError), which ends the run.
#ifndef VARSETUP_COMPONENTS_COMPONENTS_H
#define VARSETUP_COMPONENTS_COMPONENTS_H

#include <string>

[[nodiscard]] bool InstallAspiLayer(std::string sourceDir, std::string windowsDir,
                                    std::string systemDir);
[[nodiscard]] bool InstallRealtimeKernel(std::string sourceDir, std::string windowsDir,
                                         std::string systemDir);
void InstallUsbAudioInf(std::string sourceDir, std::string windowsDir, std::string systemDir);
void InstallUsbControllerPackage(std::string sourceDir, std::string windowsDir,
                                 std::string systemDir);

// Path of `relativePath` on the first CD-ROM drive (D: to Z:) that holds it,
// or "".
std::string FindOnCdrom(const std::string &relativePath);
void CopyDiscExtras(std::string applicationDir, std::string manualBaseName);

#endif  // VARSETUP_COMPONENTS_COMPONENTS_H
