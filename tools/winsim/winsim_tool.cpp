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
#include <map>
#include <string>
#include <vector>

#include <filesystem>
#include <system_error>

#include "machine.h"
#include "payload.h"
#include "changes.h"
#include "report.h"
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

Result CmdNew(const Invocation &in, std::string *error) {
  std::string templateDir = winsim::TemplateDir(in.options.at("--template"));
  struct stat st;
  if (stat(templateDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    *error = "unknown template '" + in.options.at("--template") + "' (" + templateDir +
             " is not a directory)";
    return Result::Failed;
  }
  if (!winsim::CreateMachine(templateDir, in.operands[0], error)) return Result::Failed;
  auto payload = in.options.find("--payload");
  auto disc = in.options.find("--disc");
  if (payload == in.options.end() && disc == in.options.end()) return Result::Ok;
  bool ok = winsim::Attach(in.operands[0], error);
  if (ok && payload != in.options.end()) ok = winsim::InstallPayload(payload->second, error);
  if (ok && disc != in.options.end()) {
    ok = disc->second.size() == 1 || disc->second == std::string(1, disc->second[0]) + ":";
    if (!ok) *error = "--disc takes a drive letter, not '" + disc->second + "'";
    if (ok) ok = winsim::InsertDisc(disc->second[0], error);
  }
  winsim::Detach();
  if (!ok) {
    // Leave the directory as CreateMachine found it: empty.
    std::error_code ec;
    for (const auto &entry : std::filesystem::directory_iterator(in.operands[0], ec))
      std::filesystem::remove_all(entry.path(), ec);
  }
  return ok ? Result::Ok : Result::Failed;
}

Result CmdRestart(const Invocation &in, std::string *error) {
  auto report = in.options.find("--report");
  if (report != in.options.end() && report->second != "text" && report->second != "json") {
    *error = "restart: --report takes text or json";
    return Result::BadUsage;
  }
  winsim::MachineSnapshot before, after;
  if (report != in.options.end() && !winsim::TakeSnapshot(in.operands[0], &before, error))
    return Result::Failed;
  if (!winsim::Attach(in.operands[0], error)) return Result::Failed;
  bool ok = winsim::RestartMachine(error);
  winsim::Detach();
  if (!ok) return Result::Failed;
  if (report == in.options.end()) return Result::Ok;
  // What the restart completed: the staged files taking their live names.
  if (!winsim::TakeSnapshot(in.operands[0], &after, error)) return Result::Failed;
  std::string text = report->second == "json" ? winsim::FormatChangesJson(before, after)
                                              : winsim::FormatChangesText(before, after);
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
      {"--payload", "VERSION", false,
       "put the component files of samples/payload/VERSION (v1, v2) beside the program"},
      {"--disc", "LETTER", false, "put the sample distribution disc into CD-ROM drive LETTER"}},
     "create a machine in DIR (missing or empty) from a template", CmdNew},
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
          "exit status: 0 success or equal, 1 different (diff), 2 error\n");
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
    *error = std::string(c.name) + " takes " + c.operands;
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
