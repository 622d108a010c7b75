// A minimal machine made on the spot (machine.ini and drives/c/WINDOWS), for
// the tests of the registry and profile areas: they need no template.
#ifndef TESTS_BARE_MACHINE_H
#define TESTS_BARE_MACHINE_H

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "attributes.h"
#include "faults.h"
#include "journal.h"
#include "libraries.h"
#include "machine.h"
#include "paths.h"
#include "profiles.h"
#include "registry.h"
#include "regstore.h"
#include "restart.h"
#include "snapshot.h"
#include "wow64.h"

class BareMachine {
 public:
  // `platform` 1 = 9x, 2 = NT; `extraIni` is appended to machine.ini.
  explicit BareMachine(int platform = 2, const std::string &extraIni = "") {
    char pattern[] = "/tmp/varsetup-bare-XXXXXX";
    char *made = mkdtemp(pattern);
    if (!made) ADD_FAILURE() << "cannot make a temporary directory";
    dir_ = made ? made : "/tmp/varsetup-bare-failed";
    std::ofstream(dir_ + "/machine.ini")
        << "[system]\r\nplatform=" << platform << "\r\nversion=" << (platform == 1 ? "4.10" : "5.1")
        << "\r\nwindows=C:\\WINDOWS\r\nsystem=C:\\WINDOWS\\SYSTEM32\r\n"
        << "program=C:\\SETUP\\VARSETUP.EXE\r\n[drives]\r\nC=fixed\r\n"
        << extraIni;
    for (const char *d : {"/drives", "/drives/c", "/drives/c/WINDOWS", "/drives/c/WINDOWS/SYSTEM32",
                          "/drives/c/SETUP"})
      mkdir((dir_ + d).c_str(), 0755);
    Attach();
  }
  ~BareMachine() {
    winsim::Detach();
    if (!getenv("KEEP_TEST_MACHINES") && system(("rm -rf '" + dir_ + "'").c_str()) != 0)
      ADD_FAILURE() << "cannot remove " << dir_;
  }
  BareMachine(const BareMachine &) = delete;
  BareMachine &operator=(const BareMachine &) = delete;

  void Attach() const {
    std::string error;
    if (!winsim::Attach(dir_, &error)) ADD_FAILURE() << error;
  }
  const std::string &Dir() const { return dir_; }
  // Host path of a file of drive C: given relative to it ("WINDOWS/X.INI").
  std::string HostC(const std::string &relative) const { return dir_ + "/drives/c/" + relative; }

 private:
  std::string dir_;
};

#endif  // TESTS_BARE_MACHINE_H
