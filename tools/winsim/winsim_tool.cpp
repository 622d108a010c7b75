// winsim: the machine tools.  Creates a simulated machine from a template,
// carries out its restart, dumps it canonically and compares two states.
//
// Every command is one row of kCommands: its name, its arguments, its
// options and a handler of one signature.  The help text is generated from
// the table, and ExitCodeOf is the one place where a result becomes the exit
// status: 0 success (or equal), 1 different, 2 error.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include <filesystem>
#include <system_error>

#include "attributes.h"
#include "changes.h"
#include "machine.h"
#include "paths.h"
#include "payload.h"
#include "report.h"
#include "restart.h"
#include "textfile.h"

namespace {

enum class Result { Ok, Different, Failed, BadUsage };

struct Invocation {
  std::vector<std::string> operands;
  std::map<std::string, std::string> options;  // "--template" -> "xp"
};

struct Option {
  const char *name;   // "--template"
  const char *value;  // "NAME"
  bool required;
  const char *help;
};

struct Command {
  const char *name;
  const char *operands;  // "DIR" or "A B", for the help text
  size_t operandCount;
  std::vector<Option> options;
  const char *help;
  Result (*handler)(const Invocation &, std::string *error);
};

// The templates of the source tree, for the error that names an unknown one.
std::string KnownTemplates() {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto &entry :
       std::filesystem::directory_iterator(winsim::SamplesDir() + "/machines", ec))
    if (entry.is_directory()) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  std::string out;
  for (const std::string &n : names) out += (out.empty() ? "" : ", ") + n;
  return out;
}

// --disc LETTER, DIR or LETTER=DIR: the drive (0 for the machine's first
// CD-ROM drive) and the folder ("" for the sample disc).
bool ParseDisc(const std::string &value, char *letter, std::string *dir) {
  bool isLetter = isalpha((unsigned char)value[0]) != 0;
  if (isLetter && (value.size() == 1 || value == value.substr(0, 1) + ":")) {
    *letter = value[0];
    return true;
  }
  if (isLetter && value.size() > 2 && value[1] == '=') {
    *letter = value[0];
    *dir = value.substr(2);
    return true;
  }
  *letter = 0;
  *dir = value;
  return true;
}

char FirstCdrom() {
  for (const auto &d : winsim::Config().drives)
    if (d.second == winsim::DriveKind::Cdrom) return d.first;
  return 0;
}

// A host folder to copy into the machine must not hold the machine itself:
// the copy would take in what it writes, without end.
bool OutsideMachine(const std::string &option, const std::string &folder, std::string *error) {
  std::error_code ec;
  auto from = std::filesystem::weakly_canonical(folder, ec).string() + "/";
  auto machine = std::filesystem::weakly_canonical(winsim::MachineDir(), ec).string() + "/";
  if (machine.compare(0, from.size(), from) != 0 && from.compare(0, machine.size(), machine) != 0)
    return true;
  *error = option + ": " + folder + " holds the machine or lies inside it";
  return false;
}

// Fills the new machine: payload and disc.  What was put where goes to
// `done` for the summary line.
bool FillMachine(const Invocation &in, std::string *done, std::string *error) {
  auto payload = in.options.find("--payload");
  auto disc = in.options.find("--disc");
  if (payload != in.options.end()) {
    const std::string &p = payload->second;
    bool folder = p.find('/') != std::string::npos || std::filesystem::is_directory(p);
    if (folder && !OutsideMachine("--payload", p, error)) return false;
    if (!(folder ? winsim::InstallPayloadDir(p, error) : winsim::InstallPayload(p, error)))
      return false;
    const std::string &program = winsim::Config().program;
    *done += std::string(", ") + (folder ? "component files of " + p : "payload " + p) +
             " beside " + program;
  }
  if (disc != in.options.end()) {
    char letter = 0;
    std::string dir;
    ParseDisc(disc->second, &letter, &dir);
    if (!letter) letter = FirstCdrom();
    if (!letter) {
      *error = "--disc: the machine has no CD-ROM drive";
      return false;
    }
    if (!dir.empty() && !OutsideMachine("--disc", dir, error)) return false;
    if (!winsim::InsertDisc(letter, error, dir)) return false;
    *done += std::string(", ") + (dir.empty() ? "the sample disc" : "disc " + dir) + " in " +
             char(toupper((unsigned char)letter)) + ":";
  }
  return true;
}

Result CmdNew(const Invocation &in, std::string *error) {
  const std::string &name = in.options.at("--template");
  std::string templateDir = winsim::TemplateDir(name);
  struct stat st;
  if (stat(templateDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    *error = "unknown template '" + name + "' (" + templateDir + " is not a directory); known: " +
             KnownTemplates() + ", or the path of a template directory";
    return Result::Failed;
  }
  if (!winsim::CreateMachine(templateDir, in.operands[0], error)) return Result::Failed;
  bool ok = winsim::Attach(in.operands[0], error);
  std::string done;
  if (ok) {
    const winsim::MachineConfig &c = winsim::Config();
    done = "machine " + in.operands[0] + " from template " + name + " (" +
           (c.Is9x() ? "Windows 9x " : "Windows NT ") + std::to_string(c.major) + "." +
           std::to_string(c.minor) + (c.wow64 ? ", 64-bit" : "") + ", code page " +
           std::to_string(c.codePage) + ")";
    ok = FillMachine(in, &done, error);
  }
  winsim::Detach();
  if (!ok) {
    // Leave the directory as CreateMachine found it: empty.
    std::error_code ec;
    for (const auto &entry : std::filesystem::directory_iterator(in.operands[0], ec))
      std::filesystem::remove_all(entry.path(), ec);
    return Result::Failed;
  }
  printf("%s\n", done.c_str());
  return Result::Ok;
}

// A Windows path of the attached machine, resolved; false with a message.
bool ResolveMachinePath(const std::string &path, winsim::ResolvedPath *r, std::string *error) {
  if (winsim::ResolvePath(path.c_str(), r) == 0) return true;
  *error = path + ": no such folder on the machine (or no such drive)";
  return false;
}

// Writes the changed machine.ini, after reading it back as any tool will.
bool SaveCheckedConfig(const std::string &option, std::string *error) {
  winsim::MachineConfig check;
  std::string problem;
  if (!winsim::ParseMachineIni(winsim::FormatMachineIni(winsim::Config()), "machine.ini", &check,
                               &problem)) {
    *error = option + ": not a value machine.ini can hold (" + problem + ")";
    return false;
  }
  return winsim::SaveConfig(error);
}

// The situations a packager tests, set on an existing machine.
bool ApplySetting(const std::string &option, const std::string &value, std::string *done,
                  std::string *error) {
  winsim::MachineConfig &c = winsim::Config();
  if (option == "--running" || option == "--running-64") {
    winsim::SimProcess p;
    // The first free id from 1000 on, a multiple of 4 as NT gives them.
    auto used = [&](DWORD id) {
      return std::any_of(c.processes.begin(), c.processes.end(),
                         [&](const winsim::SimProcess &q) { return q.id == id; });
    };
    for (p.id = 1000; used(p.id);) p.id += 4;
    p.image = value;
    p.native64 = option == "--running-64";
    if (p.native64 && !c.wow64) {
      *error = "--running-64: the machine is not a 64-bit Windows";
      return false;
    }
    c.processes.push_back(p);
    *done = "process " + std::to_string(p.id) + " " + value + (p.native64 ? " (64-bit)" : "") +
            " running";
    return value.find_first_of("|\r\n") == std::string::npos
               ? SaveCheckedConfig(option, error)
               : (*error = option + ": an image path cannot hold '|' or a line break", false);
  }
  if (option == "--in-use") {
    c.inUse.push_back(value);
    *done = value + " held open without sharing";
    return SaveCheckedConfig(option, error);
  }
  if (option == "--no-disc") {
    char letter = char(toupper((unsigned char)value[0]));
    auto drive = c.drives.find(letter);
    if (drive == c.drives.end() || drive->second != winsim::DriveKind::Cdrom ||
        (value.size() > 1 && value != std::string(1, value[0]) + ":")) {
      *error = "--no-disc: " + value + " is not a CD-ROM drive of the machine";
      return false;
    }
    std::error_code ec;
    std::filesystem::remove_all(winsim::DriveHostDir(letter), ec);
    *done = std::string("no disc in ") + letter + ":";
    return !ec || (*error = ec.message(), false);
  }
  winsim::ResolvedPath r;
  if (!ResolveMachinePath(value, &r, error)) return false;
  if (option == "--read-only") {
    if (!r.exists || r.isDirectory) {
      *error = "--read-only: " + value + " is not a file of the machine";
      return false;
    }
    winsim::StoreAttributes(r, winsim::StoredAttributes(r) | FILE_ATTRIBUTE_READONLY);
    *done = value + " read-only";
    return true;
  }
  // --folder: a folder where the installer will want a file.
  if (r.exists) {
    *error = "--folder: " + value + " exists";
    return false;
  }
  if (mkdir(r.host.c_str(), 0755) != 0) {
    *error = "--folder: cannot create " + value;
    return false;
  }
  *done = "folder " + value + " created";
  return true;
}

Result CmdSet(const Invocation &in, std::string *error) {
  if (in.options.empty()) {
    *error = "set: give at least one of the options (winsim --help)";
    return Result::BadUsage;
  }
  if (!winsim::Attach(in.operands[0], error)) return Result::Failed;
  std::string summary;
  bool ok = true;
  for (const auto &o : in.options) {
    std::string done;
    ok = ApplySetting(o.first, o.second, &done, error);
    if (!ok) break;
    summary += (summary.empty() ? "" : "; ") + done;
  }
  winsim::Detach();
  if (!ok) return Result::Failed;
  printf("%s: %s\n", in.operands[0].c_str(), summary.c_str());
  return Result::Ok;
}

Result CmdRestart(const Invocation &in, std::string *error) {
  auto report = in.options.find("--report");
  if (report != in.options.end() && report->second != "text" && report->second != "json") {
    *error = "restart: --report takes text or json";
    return Result::BadUsage;
  }
  winsim::MachineSnapshot before, after;
  if (!winsim::TakeSnapshot(in.operands[0], &before, error)) return Result::Failed;
  if (!winsim::Attach(in.operands[0], error)) return Result::Failed;
  std::vector<winsim::RestartSkipped> skipped;
  bool ok = winsim::RestartMachine(error, &skipped);
  unsigned codePage = winsim::Config().codePage;
  bool is9x = winsim::Config().Is9x();
  winsim::Detach();
  // What the restart completed: the staged files taking their live names.
  if (!ok || !winsim::TakeSnapshot(in.operands[0], &after, error)) return Result::Failed;
  winsim::ReportContext context;
  context.codePage = codePage;
  context.restartReads = is9x ? winsim::RestartReads::kWininit : winsim::RestartReads::kPendingList;
  for (const winsim::RestartSkipped &s : skipped)
    context.notDone.push_back({s.what + " [" + s.via + "]", s.reason});
  if (report == in.options.end()) {
    size_t changed = 0;
    for (const auto &f : after.files) {
      auto old = before.files.find(f.first);
      changed += old == before.files.end() || old->second.hash != f.second.hash;
    }
    for (const auto &f : before.files) changed += !after.files.count(f.first);
    printf("restarted %s: %zu files changed, %zu queued moves did nothing%s\n",
           in.operands[0].c_str(), changed, skipped.size(),
           skipped.empty() ? "" : " (--report text says why)");
    return Result::Ok;
  }
  std::string text = report->second == "json" ? winsim::FormatChangesJson(before, after, context)
                                              : winsim::FormatChangesText(before, after, context);
  fputs(text.c_str(), stdout);
  return Result::Ok;
}

Result CmdDump(const Invocation &in, std::string *error) {
  winsim::MachineSnapshot snapshot;
  if (!winsim::TakeSnapshot(in.operands[0], &snapshot, error)) return Result::Failed;
  std::string text = winsim::FormatDump(snapshot);
  auto output = in.options.find("-o");
  if (output == in.options.end()) {
    fwrite(text.data(), 1, text.size(), stdout);
    return fflush(stdout) == 0 ? Result::Ok : (*error = "cannot write the dump", Result::Failed);
  }
  if (!winsim::WriteFileAtomically(output->second, text)) {
    *error = output->second + ": cannot write";
    return Result::Failed;
  }
  return Result::Ok;
}

// A machine directory is dumped; any other file is read as a dump.
bool LoadState(const std::string &path, winsim::MachineSnapshot *out, std::string *error) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    *error = path + ": no such machine directory or dump file";
    return false;
  }
  if (S_ISDIR(st.st_mode)) return winsim::TakeSnapshot(path, out, error);
  std::string text;
  if (!winsim::ReadTextFile(path, &text)) {
    *error = path + ": cannot read";
    return false;
  }
  return winsim::ParseDump(text, path, out, error);
}

Result CmdDiff(const Invocation &in, std::string *error) {
  winsim::MachineSnapshot a, b;
  if (!LoadState(in.operands[0], &a, error) || !LoadState(in.operands[1], &b, error))
    return Result::Failed;
  std::string diff = winsim::DiffDumps(a, b);
  fputs(diff.c_str(), stdout);
  return diff.empty() ? Result::Ok : Result::Different;
}

const Command kCommands[] = {
    {"new", "DIR", 1,
     {{"--template", "NAME", true, "samples/machines/NAME, or a template directory"},
      {"--payload", "VERSION|DIR", false,
       "put the component files of samples/payload/VERSION (v1, v2), or of the host folder DIR, "
       "beside the program"},
      {"--disc", "LETTER|DIR|LETTER=DIR", false,
       "put the sample distribution disc, or the host folder DIR laid out like the disc, into "
       "CD-ROM drive LETTER (by default the first CD-ROM drive)"}},
     "create a machine in DIR (missing or empty) from a template", CmdNew},
    {"set", "DIR", 1,
     {{"--running", "PATH", false, "a process with image PATH runs (C:\\...\\KORVIX.EXE)"},
      {"--running-64", "PATH", false, "a 64-bit process with image PATH runs (64-bit machines)"},
      {"--no-disc", "LETTER", false, "take the disc out of CD-ROM drive LETTER"},
      {"--in-use", "PATH", false, "the file PATH is held open without sharing"},
      {"--read-only", "PATH", false, "the existing file PATH is read-only"},
      {"--folder", "PATH", false, "a folder PATH stands where the installer wants a file"}},
     "change an existing machine for a situation to preview", CmdSet},
    {"restart", "DIR", 1,
     {{"--report", "FORMAT", false, "print what the restart changed: text or json"}},
     "carry out what Windows does at its next start (WININIT.INI on 9x, pending moves on NT)",
     CmdRestart},
    {"dump", "DIR", 1, {{"-o", "FILE", false, "write the dump to FILE instead of the output"}},
     "print the canonical dump of the machine", CmdDump},
    {"diff", "A B", 2, {},
     "compare two machines or dump files; exit 0 when equal, 1 when different", CmdDiff},
};

void PrintHelp(FILE *out) {
  fprintf(out, "usage: winsim COMMAND ARGUMENTS...\n\ncommands:\n");
  for (const Command &c : kCommands) {
    std::string synopsis = std::string(c.name) + " " + c.operands;
    for (const Option &o : c.options)
      synopsis += std::string(" ") + (o.required ? "" : "[") + o.name + " " + o.value +
                  (o.required ? "" : "]");
    fprintf(out, "  winsim %s\n      %s\n", synopsis.c_str(), c.help);
    for (const Option &o : c.options) fprintf(out, "      %s %s: %s\n", o.name, o.value, o.help);
  }
  fprintf(out,
          "  winsim --help\n      show this text\n\n"
          "exit status: 0 success (or equal: diff), 1 different (diff), 2 error (usage,\n"
          "an unreadable machine or dump, a failed step)\n");
}

int ExitCodeOf(Result result, const std::string &error) {
  switch (result) {
    case Result::Ok: return 0;
    case Result::Different: return 1;
    case Result::BadUsage:
      fprintf(stderr, "winsim: %s\n(winsim --help lists the commands)\n", error.c_str());
      return 2;
    case Result::Failed:
    default:
      fprintf(stderr, "winsim: %s\n", error.c_str());
      return 2;
  }
}

const Option *FindOption(const Command &c, const std::string &name) {
  for (const Option &o : c.options)
    if (name == o.name) return &o;
  return nullptr;
}

// Checks the arguments against the command's row of the table.
Result ParseInvocation(const Command &c, int argc, char **argv, Invocation *in, std::string *error) {
  for (int i = 0; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg.size() > 1 && arg[0] == '-') {
      const Option *o = FindOption(c, arg);
      if (!o) {
        *error = std::string(c.name) + ": unknown option " + arg;
        return Result::BadUsage;
      }
      if (i + 1 >= argc) {
        *error = std::string(c.name) + ": " + arg + " needs " + o->value;
        return Result::BadUsage;
      }
      if (in->options.count(arg)) {
        *error = std::string(c.name) + ": " + arg + " given twice";
        return Result::BadUsage;
      }
      in->options[arg] = argv[++i];
    } else {
      in->operands.push_back(arg);
    }
  }
  if (in->operands.size() != c.operandCount) {
    *error = std::string(c.name) + " takes " + c.operands +
             (in->operands.size() > c.operandCount
                  ? ", and '" + in->operands[c.operandCount] + "' is one argument too many"
                  : " (" + std::to_string(in->operands.size()) + " given)");
    return Result::BadUsage;
  }
  for (const std::string &operand : in->operands)
    if (operand.empty()) {
      *error = std::string(c.name) + ": empty argument";
      return Result::BadUsage;
    }
  for (const Option &o : c.options)
    if (o.required && !in->options.count(o.name)) {
      *error = std::string(c.name) + " needs " + o.name + " " + o.value;
      return Result::BadUsage;
    }
  return Result::Ok;
}

Result Run(int argc, char **argv, std::string *error) {
  if (argc < 2) {
    *error = "no command given";
    return Result::BadUsage;
  }
  std::string name = argv[1];
  if (name == "--help" || name == "-h" || name == "help") {
    PrintHelp(stdout);
    return Result::Ok;
  }
  for (const Command &c : kCommands) {
    if (name != c.name) continue;
    Invocation in;
    Result parsed = ParseInvocation(c, argc - 2, argv + 2, &in, error);
    return parsed == Result::Ok ? c.handler(in, error) : parsed;
  }
  *error = "unknown command '" + name + "'";
  return Result::BadUsage;
}

}  // namespace

int main(int argc, char **argv) {
  std::string error;
  Result result = Run(argc, argv, &error);
  return ExitCodeOf(result, error);
}
