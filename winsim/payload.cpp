// Sample payload and disc: test and tool set-up, done with host file
// operations (not through the simulated API, so no fault rule, call log or
// journal sees them).
#include "payload.h"

#include <sys/stat.h>

#include <filesystem>
#include <system_error>

#include "attributes.h"
#include "machine.h"
#include "machine_text.h"
#include "paths.h"

namespace fs = std::filesystem;

namespace winsim {

namespace {

// Makes the Windows directory `windowsDir` exist, one level at a time.
bool MakeWindowsDir(const std::string &windowsDir, std::string *error) {
  ResolvedPath r;
  if (ResolvePath(windowsDir.c_str(), &r) != 0) {
    *error = "cannot resolve " + windowsDir;
    return false;
  }
  if (r.exists) return r.isDirectory || (*error = windowsDir + " is a file", false);
  if (r.isRoot) return true;
  size_t cut = FindLastChar(windowsDir, "\\");
  if (cut != std::string::npos && cut > 2 && !MakeWindowsDir(windowsDir.substr(0, cut), error))
    return false;
  if (ResolvePath(windowsDir.c_str(), &r) != 0 || mkdir(r.host.c_str(), 0755) != 0) {
    *error = "cannot create " + windowsDir;
    return false;
  }
  return true;
}

// Copies one host file to a Windows path of the machine (replacing a file
// of that name in any letter case), as a freshly written file.
bool PutFile(const fs::path &from, const std::string &windowsPath, std::string *error) {
  ResolvedPath r;
  if (ResolvePath(windowsPath.c_str(), &r) != 0 || r.isDirectory) {
    *error = "cannot write " + windowsPath;
    return false;
  }
  std::error_code ec;
  fs::copy_file(from, r.host, fs::copy_options::overwrite_existing, ec);
  if (ec) {
    *error = "cannot write " + windowsPath + ": " + ec.message();
    return false;
  }
  ForgetAttributes(r);
  return true;
}

// Copies the regular files of `from` (recursively when `recurse`) into the
// Windows directory `to`.
bool PutTree(const fs::path &from, const std::string &to, bool recurse, std::string *error) {
  bool driveRoot = to.size() == 2 && to[1] == ':';
  if (!driveRoot && !MakeWindowsDir(to, error)) return false;
  std::error_code ec;
  for (const fs::directory_entry &entry : fs::directory_iterator(from, ec)) {
    std::string target = to + "\\" + entry.path().filename().string();
    if (entry.is_regular_file()) {
      if (!PutFile(entry.path(), target, error)) return false;
    } else if (recurse && entry.is_directory()) {
      if (!PutTree(entry.path(), target, true, error)) return false;
    }
  }
  if (ec) *error = "cannot read " + from.string() + ": " + ec.message();
  return !ec;
}

std::string ProgramFolder() {
  const std::string &program = Config().program;
  return program.substr(0, FindLastChar(program, "\\"));
}

}  // namespace

std::string SamplesDir() { return std::string(VARSETUP_SOURCE_DIR) + "/samples"; }

bool InstallPayload(const std::string &version, std::string *error) {
  fs::path shared = fs::path(SamplesDir()) / "payload";
  fs::path own = shared / version;
  if (version.empty() || version.find('/') != std::string::npos || !fs::is_directory(own)) {
    *error = "no payload \"" + version + "\" in " + shared.string();
    return false;
  }
  std::string folder = ProgramFolder();
  return PutTree(shared, folder, false, error) && PutTree(own, folder, false, error);
}

bool InstallPayloadDir(const std::string &dir, std::string *error) {
  if (!fs::is_directory(dir)) {
    *error = "--payload: " + dir + " is not a folder";
    return false;
  }
  return PutTree(dir, ProgramFolder(), true, error);
}

bool InsertDisc(char letter, std::string *error, const std::string &dir) {
  letter = static_cast<char>(toupper(static_cast<unsigned char>(letter)));
  auto drive = Config().drives.find(letter);
  if (drive == Config().drives.end() || drive->second != DriveKind::Cdrom) {
    *error = std::string("drive ") + letter + ": is not a CD-ROM drive";
    return false;
  }
  if (!dir.empty() && !fs::is_directory(dir)) {
    *error = "--disc: " + dir + " is not a folder";
    return false;
  }
  std::error_code ec;
  fs::create_directories(DriveHostDir(letter), ec);
  fs::path from = dir.empty() ? fs::path(SamplesDir()) / "disc" : fs::path(dir);
  return PutTree(from, std::string(1, letter) + ":", true, error);
}

}  // namespace winsim
