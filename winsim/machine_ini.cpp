// machine.ini: what the simulated OS reports.  Strict: an unknown section,
// key or value is refused with the file and line, never ignored.
//
//   [system]
//   platform=1                  ; 1 = Windows 95/98/Me, 2 = NT
//   version=4.10                ; major.minor
//   build=67766446              ; dwBuildNumber as GetVersionExA reports it
//   csd=" A "                   ; szCSDVersion (quotes keep blanks)
//   windows=C:\WINDOWS
//   system=C:\WINDOWS\SYSTEM
//   program=C:\VARSETUP\VARSETUP.EXE   ; the running program (SourceDir)
//   currentdir=C:\VARSETUP      ; optional, defaults to the program's folder
//   codepage=1252               ; ANSI code page: 1252, 932, 936, 949, 950 or 65001
//   bits=64                     ; a 64-bit system: the program runs under WOW64
//   [drives]
//   C=fixed                     ; fixed, removable, cdrom, remote, ramdisk
//   [libraries]
//   C:\WINDOWS\SYSTEM\KERNEL32.DLL=CreateToolhelp32Snapshot,Process32First
//   [processes]
//   4=C:\WINDOWS\SYSTEM\KERNEL32.DLL|denied   ; id=image, "|denied": cannot be opened
//   9=C:\Windows\explorer.exe|64            ; "|64": a 64-bit process (64-bit system)
//   [in-use]
//   C:\WINDOWS\SYSTEM\PULSARIO.DLL            ; held open without sharing
//   [registry-denied]
//   HKLM\SYSTEM\CurrentControlSet\Enum        ; refuses KEY_ALL_ACCESS
//   [absent-devices]
//   ROOT\REALTIME\0000                        ; a node in the hive, device not present
#include <cstdlib>
#include <sstream>

#include "ascii.h"
#include "codepage.h"
#include "machine.h"
#include "machine_text.h"

namespace winsim {

namespace {

std::string Unquote(const std::string &s) {
  if (s.size() >= 2 && s.front() == '"' && s.back() == '"') return s.substr(1, s.size() - 2);
  return s;
}

bool ParseNumber(const std::string &s, unsigned long *out) {
  if (s.empty()) return false;
  char *end = nullptr;
  *out = strtoul(s.c_str(), &end, 0);
  return *end == 0;
}

// An absolute Windows path "X:\..." without "." or ".." parts, and without
// a name that ends in a blank or a dot: Win32 strips those from a name, so no
// such folder can exist (and a value's trailing blanks would not survive
// FormatMachineIni and a second reading).
bool ValidMachinePath(const std::string &p) {
  if (p.size() < 3 || !isalpha((unsigned char)p[0]) || p[1] != ':' || p[2] != '\\') return false;
  // Control characters are never part of a Windows name.
  for (char c : p)
    if ((unsigned char)c < 0x20) return false;
  std::istringstream in(p.substr(3));
  std::string part;
  while (std::getline(in, part, '\\'))
    if (!part.empty() && (part.back() == ' ' || part.back() == '.')) return false;
  return true;
}

const char *KindName(DriveKind k) {
  switch (k) {
    case DriveKind::Removable: return "removable";
    case DriveKind::Fixed: return "fixed";
    case DriveKind::Remote: return "remote";
    case DriveKind::Cdrom: return "cdrom";
    case DriveKind::Ramdisk: return "ramdisk";
    default: return "none";
  }
}

bool ParseKind(const std::string &s, DriveKind *out) {
  static const DriveKind all[] = {DriveKind::Removable, DriveKind::Fixed, DriveKind::Remote,
                                  DriveKind::Cdrom, DriveKind::Ramdisk, DriveKind::None};
  for (DriveKind k : all)
    if (s == KindName(k)) {
      *out = k;
      return true;
    }
  return false;
}

// Position of the last backslash character of a path in code page `cp`
// (the machine is not attached yet while its machine.ini is read).
size_t LastBackslash(UINT cp, const std::string &path) {
  size_t last = std::string::npos;
  for (size_t i = 0; i < path.size(); ++i) {
    if (CodePageLeadByte(cp, BYTE(path[i])) && i + 1 < path.size())
      ++i;
    else if (path[i] == '\\')
      last = i;
  }
  return last;
}

}  // namespace

bool ParseMachineIni(const std::string &text, const std::string &file, MachineConfig *out,
                     std::string *error) {
  MachineConfig c;
  c.drives.clear();
  std::istringstream in(text);
  std::string line, section;
  int number = 0;
  bool sawSystem = false, sawVersion = false;
  int systemLine = 0;             // where [system] begins
  std::vector<int> processLines;  // where each process is given
  auto fail = [&](const std::string &message) {
    *error = file + ":" + std::to_string(number) + ": " + message;
    return false;
  };
  std::vector<std::pair<int, std::string>> paths;  // checked against the drives at the end
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    line = Trim(line, kSpaceTab);
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line[0] == '[') {
      if (line.back() != ']') return fail("unterminated section header");
      section = line.substr(1, line.size() - 2);
      static const char *known[] = {"system", "drives", "libraries", "processes", "in-use",
                                    "registry-denied", "absent-devices"};
      bool ok = false;
      for (const char *k : known) ok = ok || section == k;
      if (!ok) return fail("unknown section [" + section + "]");
      if (section == "system" && !sawSystem) systemLine = number;
      sawSystem = sawSystem || section == "system";
      continue;
    }
    if (section.empty()) return fail("line outside a section");
    size_t eq = line.find('=');
    std::string key = Trim(eq == std::string::npos ? line : line.substr(0, eq), kSpaceTab);
    std::string value = eq == std::string::npos ? "" : Trim(line.substr(eq + 1), kSpaceTab);
    if (section == "in-use") {
      if (!ValidMachinePath(line)) return fail("expected a full Windows path: " + line);
      c.inUse.push_back(line);
      paths.push_back({number, line});
      continue;
    }
    if (section == "registry-denied") {
      std::string root = AsciiUpper(line.substr(0, line.find('\\')));
      if (root != "HKLM" && root != "HKCU") return fail("expected HKLM\\... or HKCU\\...");
      c.deniedKeys.push_back(AsciiUpper(line));
      continue;
    }
    if (section == "absent-devices") {
      size_t first = line.find('\\'), last = line.rfind('\\');
      if (eq != std::string::npos || first == std::string::npos || first == last || first == 0 ||
          last + 1 == line.size())
        return fail("expected a device instance ID <enumerator>\\<device>\\<instance>: " + line);
      c.absentDevices.push_back(line);
      continue;
    }
    if (eq == std::string::npos) return fail("expected key=value");
    if (section == "system") {
      unsigned long n = 0;
      if (key == "platform") {
        if (!ParseNumber(value, &n) || n > 2) return fail("platform must be 0, 1 or 2");
        c.platform = DWORD(n);
      } else if (key == "version") {
        size_t dot = value.find('.');
        unsigned long major = 0, minor = 0;
        if (dot == std::string::npos || !ParseNumber(value.substr(0, dot), &major) ||
            !ParseNumber(value.substr(dot + 1), &minor))
          return fail("version must be major.minor");
        c.major = DWORD(major);
        c.minor = DWORD(minor);
        sawVersion = true;
      } else if (key == "build") {
        if (!ParseNumber(value, &n)) return fail("build must be a number");
        c.build = DWORD(n);
      } else if (key == "csd") {
        c.csd = Unquote(value);
        if (c.csd.size() > 127) return fail("csd longer than 127 characters");
      } else if (key == "windows" || key == "system" || key == "program" ||
                 key == "currentdir") {
        if (!ValidMachinePath(value)) return fail(key + " must be a full Windows path: " + value);
        (key == "windows"   ? c.windowsDir
         : key == "system"  ? c.systemDir
         : key == "program" ? c.program
                            : c.currentDir) = value;
        paths.push_back({number, value});
      } else if (key == "bits") {
        if (value != "32" && value != "64") return fail("bits must be 32 or 64");
        c.wow64 = value == "64";
      } else if (key == "codepage") {
        if (!ParseNumber(value, &n) || !CodePageSupported(UINT(n)))
          return fail("code page not supported: " + value + " (1252, 932, 936, 949, 950, 65001)");
        c.codePage = UINT(n);
      } else {
        return fail("unknown key '" + key + "' in [system]");
      }
    } else if (section == "drives") {
      DriveKind kind;
      if (key.size() != 1 || !isalpha((unsigned char)key[0])) return fail("drive must be a letter");
      if (!ParseKind(value, &kind)) return fail("unknown drive type '" + value + "'");
      c.drives[char(toupper((unsigned char)key[0]))] = kind;
    } else if (section == "libraries") {
      if (!ValidMachinePath(key)) return fail("library must be a full Windows path: " + key);
      std::vector<std::string> exports;
      std::istringstream list(value);
      std::string name;
      while (std::getline(list, name, ','))
        if (!Trim(name, kSpaceTab).empty()) exports.push_back(Trim(name, kSpaceTab));
      c.libraries[AsciiUpper(key)] = exports;
    } else if (section == "processes") {
      unsigned long id = 0;
      if (!ParseNumber(key, &id) || id > 0xFFFFFFFFul) return fail("process id must be a number");
      SimProcess p;
      p.id = DWORD(id);
      p.image = value;
      for (size_t bar = p.image.rfind('|'); bar != std::string::npos; bar = p.image.rfind('|')) {
        std::string flag = p.image.substr(bar + 1);
        if (flag == "denied")
          p.denied = true;
        else if (flag == "64")
          p.native64 = true;
        else
          return fail("unknown process flag");
        p.image.resize(bar);
      }
      c.processes.push_back(p);
      processLines.push_back(number);
    }
  }
  for (size_t i = 0; i < c.processes.size(); ++i)
    if (c.processes[i].native64 && !c.wow64) {
      number = processLines[i];
      return fail("process " + std::to_string(c.processes[i].id) +
                  ": a 64-bit process needs bits=64 in [system]");
    }
  if (!sawSystem || !sawVersion || c.windowsDir.empty() || c.systemDir.empty() ||
      c.program.empty()) {
    // Named at the [system] header, or at the end when there is none.
    if (systemLine) number = systemLine;
    if (number == 0) number = 1;  // an empty file
    return fail("[system] needs version, windows, system and program");
  }
  for (const auto &p : paths)
    if (!c.drives.count(char(toupper((unsigned char)p.second[0])))) {
      number = p.first;
      return fail("path on a drive the machine does not have: " + p.second);
    }
  if (c.currentDir.empty()) c.currentDir = c.program.substr(0, LastBackslash(c.codePage, c.program));
  if (c.currentDir.size() == 2) c.currentDir += "\\";
  *out = c;
  return true;
}

std::string FormatMachineIni(const MachineConfig &c) {
  std::ostringstream o;
  o << "[system]\r\n"
    << "platform=" << c.platform << "\r\n"
    << "version=" << c.major << "." << c.minor << "\r\n"
    << "build=" << c.build << "\r\n"
    << "csd=\"" << c.csd << "\"\r\n"
    << "windows=" << c.windowsDir << "\r\n"
    << "system=" << c.systemDir << "\r\n"
    << "program=" << c.program << "\r\n"
    << "currentdir=" << c.currentDir << "\r\n"
    << "codepage=" << c.codePage << "\r\n";
  if (c.wow64) o << "bits=64\r\n";
  o << "\r\n[drives]\r\n";
  for (const auto &d : c.drives) o << d.first << "=" << KindName(d.second) << "\r\n";
  o << "\r\n[libraries]\r\n";
  for (const auto &l : c.libraries) {
    o << l.first << "=";
    for (size_t i = 0; i < l.second.size(); ++i) o << (i ? "," : "") << l.second[i];
    o << "\r\n";
  }
  o << "\r\n[processes]\r\n";
  for (const SimProcess &p : c.processes)
    o << p.id << "=" << p.image << (p.denied ? "|denied" : "") << (p.native64 ? "|64" : "")
      << "\r\n";
  o << "\r\n[in-use]\r\n";
  for (const std::string &p : c.inUse) o << p << "\r\n";
  o << "\r\n[registry-denied]\r\n";
  for (const std::string &k : c.deniedKeys) o << k << "\r\n";
  if (!c.absentDevices.empty()) {
    o << "\r\n[absent-devices]\r\n";
    for (const std::string &d : c.absentDevices) o << d << "\r\n";
  }
  return o.str();
}

}  // namespace winsim
