/*
 * newdev.h for the Linux build: the driver update entry point of
 * "NewDev.dll".  The product looks it up at run time; the prototype is here
 * for its function-pointer type.
 */
#ifndef WINSIM_NEWDEV_H
#define WINSIM_NEWDEV_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

#define INSTALLFLAG_FORCE 0x00000001
#define INSTALLFLAG_READONLY 0x00000002
#define INSTALLFLAG_NONINTERACTIVE 0x00000004

BOOL WINAPI UpdateDriverForPlugAndPlayDevicesA(HWND hwndParent, LPCSTR HardwareId,
                                               LPCSTR FullInfPath, DWORD InstallFlags,
                                               PBOOL bRebootRequired);

#ifdef __cplusplus
}
#endif

#endif /* WINSIM_NEWDEV_H */
