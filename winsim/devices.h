// Test knobs of the simulated SetupAPI (setupapi.cpp, newdev.cpp).
#ifndef WINSIM_DEVICES_H
#define WINSIM_DEVICES_H

namespace winsim {

// Windows' SetupAPI leaves ERROR_SUCCESS when a call succeeds; Wine's leaves
// the last error as it was (a stale code survives), except that
// SetupDiDestroyDeviceInfoList and UpdateDriverForPlugAndPlayDevicesA end
// with 0, a successful SetupDiCreateDeviceInfoA leaves ERROR_FILE_NOT_FOUND
// and an INF without a Signature fails SetupDiGetINFClassA with 0.  Switching
// this on makes winsim follow Wine's convention, so that a test can show a
// caller right under both.  Off by default.
void UseWineSetupApiLastError(bool on);
bool WineSetupApiLastError();

}  // namespace winsim

#endif  // WINSIM_DEVICES_H
