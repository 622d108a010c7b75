// New machines from templates: samples/machines/<name> holds machine.ini,
// drives/ and registry/ (and attributes.txt where a template needs hidden or
// read-only files).  Empty folders carry a ".gitkeep" in the repository so
// that they survive; it is not part of the machine.

#include <filesystem>
#include <system_error>

#include "machine.h"
#include "textfile.h"

namespace fs = std::filesystem;

namespace winsim {

namespace {

const char kKeepFile[] = ".gitkeep";

// Copies `from` into `to` (which exists), skipping the keep files.
bool TemplateCopyTree(const fs::path &from, const fs::path &to, std::string *error) {
  std::error_code ec;
  for (const fs::directory_entry &entry : fs::directory_iterator(from, ec)) {
    fs::path target = to / entry.path().filename();
    if (entry.is_directory(ec)) {
      if (!fs::create_directory(target, ec)) {
        *error = target.string() + ": cannot create";
        return false;
      }
      if (!TemplateCopyTree(entry.path(), target, error)) return false;
    } else if (entry.path().filename() != kKeepFile) {
      if (!fs::copy_file(entry.path(), target, ec)) {
        *error = target.string() + ": cannot copy from " + entry.path().string();
        return false;
      }
    }
  }
  if (ec) {
    *error = from.string() + ": " + ec.message();
    return false;
  }
  return true;
}

bool TemplateIsEmptyOrMissing(const fs::path &dir) {
  std::error_code ec;
  if (!fs::exists(dir, ec)) return true;
  return fs::is_directory(dir, ec) && fs::is_empty(dir, ec);
}

}  // namespace

bool CreateMachine(const std::string &templateDir, const std::string &dir, std::string *error) {
  error->clear();
  fs::path from(templateDir), to(dir);
  std::string text, ignored;
  MachineConfig config;
  if (!ReadTextFile((from / "machine.ini").string(), &text)) {
    *error = (from / "machine.ini").string() + ": missing or unreadable";
    return false;
  }
  // A broken template is refused before anything is created.
  if (!ParseMachineIni(text, (from / "machine.ini").string(), &config, error)) return false;
  if (!TemplateIsEmptyOrMissing(to)) {
    *error = dir + ": exists and is not empty";
    return false;
  }
  std::error_code ec;
  fs::create_directories(to, ec);
  bool ok = !ec;
  if (!ok) *error = dir + ": cannot create: " + ec.message();
  if (ok && !fs::copy_file(from / "machine.ini", to / "machine.ini", ec)) {
    *error = (to / "machine.ini").string() + ": cannot write";
    ok = false;
  }
  if (ok && fs::exists(from / "attributes.txt") &&
      !fs::copy_file(from / "attributes.txt", to / "attributes.txt", ec)) {
    *error = (to / "attributes.txt").string() + ": cannot write";
    ok = false;
  }
  for (const char *sub : {"drives", "registry"}) {
    if (!ok) break;
    if (!fs::create_directory(to / sub, ec)) {
      *error = (to / sub).string() + ": cannot create";
      ok = false;
    } else if (fs::is_directory(from / sub, ec)) {
      ok = TemplateCopyTree(from / sub, to / sub, error);
    }
  }
  if (!ok) {
    // Leave the directory as it was found: missing or empty.
    for (const fs::directory_entry &entry : fs::directory_iterator(to, ec))
      fs::remove_all(entry.path(), ec);
  }
  return ok;
}

// A name with a '/' is a path to a template directory of its own; a bare
// name is one of the templates of the source tree.
std::string TemplateDir(const std::string &name) {
  if (name.find('/') != std::string::npos) return name;
  return std::string(VARSETUP_SOURCE_DIR) + "/samples/machines/" + name;
}

}  // namespace winsim
