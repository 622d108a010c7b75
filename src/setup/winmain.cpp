// The process entry: the driver-update entry point is bound for the whole
// run and released on every path out of it.
#include <windows.h>

#include "pnp/pnp.h"
#include "setup/setup.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  BindNewDev();
  int code = RunSetup();
  ReleaseNewDev();
  return code;
}
