// The facts of the platform the program runs on that every module reads:
// decided once at start-up by the run sequence (DetectPlatformFamily), read
// by the deployment primitives and the installers alike.  Includes nothing,
// so that no module depends on another through it.
#ifndef VARSETUP_PLATFORM_H
#define VARSETUP_PLATFORM_H

// Which mechanisms the installers use: 9x when the platform id is 1.
enum class Family { Windows9x, WindowsNT };
inline Family PlatformFamily = Family::WindowsNT;

#endif  // VARSETUP_PLATFORM_H
