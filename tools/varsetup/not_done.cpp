// The "Not done" lines of a run.  The installer skips silently what it
// cannot do; every such skip leaves a trace in the calls: a component file
// the existence test did not find, a disc lookup that found no medium, a
// copy, registry write or delayed move the system refused, a process the
// guard could not read, the ASPI layer's live file found present.
#include "not_done.h"

#include <setupapi.h>

#include <algorithm>
#include <set>

#include "ascii.h"

namespace varsetup {

namespace {

bool StartsWithNoCase(const std::string &s, const std::string &prefix) {
  return !prefix.empty() && winsim::AsciiUpper(s.substr(0, prefix.size())) == winsim::AsciiUpper(prefix);
}

bool EndsWithNoCase(const std::string &s, const std::string &suffix) {
  return s.size() >= suffix.size() && winsim::AsciiUpper(s.substr(s.size() - suffix.size())) == winsim::AsciiUpper(suffix);
}

std::string FileName(const std::string &path) { return path.substr(path.rfind('\\') + 1); }
std::string Folder(const std::string &path) { return path.substr(0, path.rfind('\\')); }

std::string ErrorText(DWORD e) {
  static const std::map<DWORD, const char *> names = {
      {ERROR_FILE_NOT_FOUND, "file not found"},
      {ERROR_PATH_NOT_FOUND, "folder not found"},
      {ERROR_ACCESS_DENIED, "access denied"},
      {ERROR_NOT_READY, "no disc in the drive"},
      {ERROR_SHARING_VIOLATION, "file in use"},
      {ERROR_DISK_FULL, "disk full"},
      {ERROR_CALL_NOT_IMPLEMENTED, "not implemented on this system"},
      {ERROR_INVALID_NAME, "invalid name"},
      {ERROR_INVALID_PARAMETER, "invalid parameter"},
      {ERROR_MOD_NOT_FOUND, "library not found"},
      {ERROR_PROC_NOT_FOUND, "entry point not found"},
      {ERROR_FILENAME_EXCED_RANGE, "name too long"},
      {ERROR_PARTIAL_COPY, "a 64-bit process, not readable by a 32-bit program"},
      {ERROR_IN_WOW64, "refused to a 32-bit program on 64-bit Windows"},
  };
  auto it = names.find(e);
  char code[16];
  snprintf(code, sizeof code, e >= 0x10000 ? "0x%08X" : "%u", unsigned(e));
  return std::string(it == names.end() ? "refused" : it->second) + " (error " + code + ")";
}

// The component a source file belongs to, for the step's name.
std::string ComponentOf(const std::string &name) {
  std::string stem = winsim::AsciiUpper(name.substr(0, name.find('.')));
  static const std::map<std::string, const char *> components = {
      {"WNASPI32", "ASPI layer"},    {"WINASPI", "ASPI layer"},
      {"ASPIENUM", "ASPI layer"},    {"APIX", "ASPI layer"},
      {"ASPI32", "ASPI layer"},      {"WOWPOST", "ASPI layer"},
      {"PULSARIO", "realtime audio kernel"}, {"PULSBR16", "realtime audio kernel"},
      {"MAYA51USB", "USB packages"}, {"CX_USB", "USB packages"},
      {"FTD2XX", "USB packages"},    {"FTD2XXUN", "USB packages"},
  };
  auto it = components.find(stem);
  return std::string(it == components.end() ? "component" : it->second) + ", " + name;
}

class Reader {
 public:
  Reader(const std::vector<CallResult> &calls, const RunFacts &facts) : calls_(calls), facts_(facts) {}

  std::vector<winsim::NotDone> Read() {
    for (const CallResult &c : calls_)
      if (c.call == "GetDriveTypeA" && c.arg2 == std::to_string(DRIVE_CDROM))
        cdroms_.insert(winsim::AsciiUpper(c.arg1.substr(0, 1)));
    if (facts_.stoppedByGuard)
      Add("every step", "the application is running (its message box was shown); nothing was changed");
    for (const CallResult &c : calls_) Read(c);
    Processes();
    Disc();
    return out_;
  }

 private:
  void Add(const std::string &step, const std::string &reason) {
    for (const winsim::NotDone &n : out_)
      if (n.step == step && n.reason == reason) return;
    out_.push_back({step, reason});
  }

  // A file directly in the program's folder, where the component files are.
  bool InSourceDir(const std::string &path) const {
    return StartsWithNoCase(path, facts_.sourceDir) &&
           path.find('\\', facts_.sourceDir.size()) == std::string::npos;
  }

  bool OnCdrom(const std::string &path) const {
    return path.size() > 3 && path[1] == ':' && cdroms_.count(winsim::AsciiUpper(path.substr(0, 1)));
  }

  // Why a copy to `target` failed, as far as the machine tells.
  std::string CopyReason(const std::string &target, DWORD error) const {
    if (facts_.after) {
      for (const auto &f : facts_.after->files) {
        if (winsim::AsciiUpper(f.first) != winsim::AsciiUpper(target)) continue;
        if (f.second.directory) return "a folder stands at " + target;
        if (f.second.attributes & FILE_ATTRIBUTE_READONLY) return target + " is read-only";
      }
    }
    for (const std::string &p : facts_.inUse)
      if (winsim::AsciiUpper(p) == winsim::AsciiUpper(target)) return target + " is in use";
    if (error == ERROR_PATH_NOT_FOUND) return "folder " + Folder(target) + " absent";
    return "copy to " + target + " failed: " + ErrorText(error);
  }

  void Read(const CallResult &c) {
    const std::string &call = c.call;
    if (call == "FindFirstFileA") {
      if (!sawFind_ && c.ok && !c.directory &&
          (EndsWithNoCase(c.arg1, "\\WNASPI32.DLL") || EndsWithNoCase(c.arg1, "\\Drivers\\ASPI32.SYS")))
        Add("ASPI layer", "already installed: " + c.arg1 +
                              " exists; none of its files, moves or registry values were written");
      sawFind_ = true;
      if (OnCdrom(c.arg1)) {
        discLookups_.push_back(&c);
      } else if (!c.ok && InSourceDir(c.arg1)) {
        Add(ComponentOf(FileName(c.arg1)), "missing component file " + c.arg1);
      }
    } else if (call == "CopyFileA" && !c.ok) {
      bool missing = c.error == ERROR_FILE_NOT_FOUND || c.error == ERROR_PATH_NOT_FOUND;
      if (InSourceDir(c.arg1) && missing)
        Add(ComponentOf(FileName(c.arg1)), "missing component file " + c.arg1);
      else if (OnCdrom(c.arg1) && c.error == ERROR_PATH_NOT_FOUND)
        Add("disc extras, " + FileName(c.arg1), "application folder " + Folder(c.arg2) + " absent");
      else
        Add(OnCdrom(c.arg1) ? "disc extras, " + FileName(c.arg1) : ComponentOf(FileName(c.arg1)),
            CopyReason(c.arg2, c.error));
    } else if (call == "MoveFileExA" && !c.ok) {
      Add("delayed move", c.arg2 + " <- " + c.arg1 + ": " + ErrorText(c.error));
    } else if (call == "RegCreateKeyExA" && !c.ok) {
      Add("registry", "key " + c.arg1 + " not opened for writing: " + ErrorText(c.error) +
                          "; its values were not written");
    } else if (call == "RegSetValueExA" && !c.ok) {
      Add("registry", "value " + c.arg1 + " \"" + c.arg2 + "\" not written: " + ErrorText(c.error));
    } else if (call == "RegDeleteKeyA" && !c.ok && c.error != ERROR_FILE_NOT_FOUND) {
      Add("engine settings", c.arg1 + " not deleted: " + ErrorText(c.error));
    } else if ((call == "WritePrivateProfileStringA" || call == "WritePrivateProfileSectionA") && !c.ok) {
      Add(FileName(c.arg1) + " " + c.arg2,
          "write refused: " + ErrorText(c.error) +
              (facts_.exitCode == 1 ? "; the run ended there and skipped its remaining steps" : ""));
    } else if (call == "SetupDiCallClassInstaller" && !c.ok) {
      Add("realtime audio kernel, device node",
          "not installed: " + c.arg1 + " failed: " + ErrorText(c.error));
    } else if (call == "UpdateDriverForPlugAndPlayDevicesA" && !c.ok) {
      Add("realtime audio kernel, device driver", "not updated: " + ErrorText(c.error));
    } else if (call == "LoadLibraryA" && !c.ok && EndsWithNoCase(c.arg1, "PSAPI.DLL")) {
      Add("running-application guard", "processes not walked: " + c.arg1 + " not loaded: " +
                                           ErrorText(c.error) + "; the run went on as if the "
                                           "application were not running");
    } else if (call == "GetProcAddress" && !c.ok && WalkEntryPoint(c.arg1)) {
      Add("running-application guard", "processes not walked: entry point " + c.arg1 +
                                           " missing; the run went on as if the application "
                                           "were not running");
    } else if (call == "OpenProcess" && !c.ok) {
      Unread(c.arg1, "OpenProcess: " + ErrorText(c.error));
    } else if ((call == "EnumProcessModules" || call == "GetModuleFileNameExA") && !c.ok) {
      Unread(c.arg1, call + ": " + ErrorText(c.error));
    } else if (call == "QueryFullProcessImageNameA") {
      if (c.ok) unread_.erase(c.arg1);
      else Unread(c.arg1, unread_[c.arg1] + ", then QueryFullProcessImageNameA: " + ErrorText(c.error));
    }
  }

  static bool WalkEntryPoint(const std::string &name) {
    static const std::set<std::string> walk = {"CreateToolhelp32Snapshot", "Process32First",
                                               "Process32Next", "EnumProcesses",
                                               "EnumProcessModules", "GetModuleFileNameExA"};
    return walk.count(name) != 0;
  }

  void Unread(const std::string &id, const std::string &reason) {
    if (!unread_.count(id)) unreadOrder_.push_back(id);
    unread_[id] = reason;
  }

  // One line per reason, naming the processes (their images from
  // machine.ini, which the run itself could not read).
  void Processes() {
    std::vector<std::pair<std::string, std::string>> byReason;  // reason -> ids
    for (const std::string &id : unreadOrder_) {
      auto it = unread_.find(id);
      if (it == unread_.end()) continue;
      auto image = facts_.images.find(id);
      std::string name = id + (image == facts_.images.end() ? "" : " " + FileName(image->second));
      auto group = std::find_if(byReason.begin(), byReason.end(),
                                [&](const auto &g) { return g.first == it->second; });
      if (group == byReason.end()) byReason.push_back({it->second, name});
      else group->second += ", " + name;
    }
    // They stand with the guard's other lines, before the installers'.
    size_t at = 0;
    while (at < out_.size() &&
           (out_[at].step == "running-application guard" || out_[at].step == "every step"))
      ++at;
    for (const auto &g : byReason)
      out_.insert(out_.begin() + long(at++),
                  {"running-application guard",
                   "image not read of process " + g.second + ": " + g.first + "; the walk went on"});
  }

  // Each disc item the run looked up and found on no drive.
  void Disc() {
    std::vector<std::string> order;
    std::map<std::string, std::vector<const CallResult *>> byItem;
    for (const CallResult *c : discLookups_) {
      std::string relative = c->arg1.substr(3);
      if (!byItem.count(winsim::AsciiUpper(relative))) order.push_back(relative);
      byItem[winsim::AsciiUpper(relative)].push_back(c);
    }
    for (const std::string &relative : order) {
      const auto &lookups = byItem[winsim::AsciiUpper(relative)];
      if (std::any_of(lookups.begin(), lookups.end(), [](const CallResult *c) { return c->ok; }))
        continue;
      std::string empty, without;
      for (const CallResult *c : lookups) {
        std::string &list = c->error == ERROR_NOT_READY ? empty : without;
        list += (list.empty() ? "" : ", ") + c->arg1.substr(0, 2);
      }
      std::string reason = without.empty() ? "no disc in any CD-ROM drive (" + empty + ")"
                                           : "not on the disc in " + without +
                                                 (empty.empty() ? "" : "; no disc in " + empty);
      Add("disc extras, " + FileName(relative), reason);
    }
    int scans = 0;
    for (const CallResult &c : calls_) scans += c.call == "GetDriveTypeA" && winsim::AsciiUpper(c.arg1) == "D:\\";
    if (scans > 0 && cdroms_.empty())
      Add("disc extras", "no CD-ROM drive on the machine: nothing was looked for on a disc");
    if (facts_.stoppedByGuard || facts_.exitCode != 0) return;
    if (scans == 0)
      Add("disc extras", "not asked for: no application folder on the command line (argument 1)");
    else if (scans == 1)
      Add("disc extras, manuals", "not asked for: no manual base name on the command line (argument 2)");
  }

  const std::vector<CallResult> &calls_;
  const RunFacts &facts_;
  std::set<std::string> cdroms_;  // drive letters the run found to be CD-ROM drives
  bool sawFind_ = false;
  std::vector<const CallResult *> discLookups_;
  std::map<std::string, std::string> unread_;  // process id -> why its image was not read
  std::vector<std::string> unreadOrder_;
  std::vector<winsim::NotDone> out_;
};

}  // namespace

std::vector<winsim::NotDone> DeriveNotDone(const std::vector<CallResult> &calls, const RunFacts &facts) {
  return Reader(calls, facts).Read();
}

}  // namespace varsetup
