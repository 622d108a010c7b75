// The Linux process entry of the product: attaches a simulated machine,
// sets the Windows command line and calls the product's WinMain.
//
//   varsetup --machine DIR [--command-line RAW | [--] [ARG1 [ARG2]]]
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "call_results.h"
#include "changes.h"
#include "journal.h"
#include "machine.h"
#include "not_done.h"
#include "report.h"

namespace {

// The tool's own exit code, for a usage or machine error; the installer's
// are 0 and 1.
const int kToolError = 2;

void Usage(FILE *out) {
  fprintf(out,
          "usage: varsetup --machine DIR [options] [--] [ARG1 [ARG2]]\n"
          "Runs the installer on the simulated machine in DIR, as if started with\n"
          "ARG1 (the application directory) and ARG2 (the manuals' base name), and\n"
          "prints what the run changed and what it did not do.\n"
          "  --machine DIR       the machine directory (winsim new makes one)\n"
          "  --command-line RAW  the command line after the program's name, unsplit,\n"
          "                      instead of ARG1 and ARG2; for example\n"
          "                      --command-line '\"C:\\Program Files\\Korvix-Studio\" korvix'\n"
          "  --report FORMAT     the report's form: text (the default) or json\n"
          "  --quiet             print nothing but errors\n"
          "  --                  what follows is ARG1 and ARG2, also when it starts with '-'\n"
          "exit status: the installer's: 0 after a run and after the box that asks to\n"
          "close the running application, 1 after a refused SYSTEM.INI or WININIT.INI\n"
          "write; 2 for a usage error or a machine that cannot be read (nothing ran).\n");
}

int UsageError(const std::string &message) {
  fprintf(stderr, "varsetup: %s\n(varsetup --help shows the usage)\n", message.c_str());
  return kToolError;
}

std::string QuoteArgument(const std::string &arg) {
  if (!arg.empty() && arg.find_first_of(" \t") == std::string::npos) return arg;
  return "\"" + arg + "\"";
}

struct Options {
  std::string machine, raw, report = "text";
  bool haveRaw = false, quiet = false;
  std::vector<std::string> args;
};

// Reads the command line; "" when it is sound, else what is wrong with it.
std::string ParseOptions(int argc, char **argv, Options *o, bool *help) {
  bool optionsEnd = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (optionsEnd || a.size() < 2 || a[0] != '-') {
      o->args.push_back(a);
      continue;
    }
    if (a == "--") {
      optionsEnd = true;
    } else if (a == "-h" || a == "--help") {
      *help = true;
    } else if (a == "--quiet") {
      o->quiet = true;
    } else if (a == "--machine" || a == "--command-line" || a == "--report") {
      if (i + 1 >= argc) return a + " needs a value";
      std::string value = argv[++i];
      if (a == "--machine") o->machine = value;
      else if (a == "--report") o->report = value;
      else o->raw = value, o->haveRaw = true;
    } else {
      return "unknown option " + a + " (an ARG1 or ARG2 that starts with '-' goes after --)";
    }
  }
  if (*help) return "";
  if (o->machine.empty()) return "--machine DIR is required";
  if (o->args.size() > 2)
    return "too many arguments: " + std::to_string(o->args.size()) +
           " given, the installer takes ARG1 and ARG2; the first extra one is '" + o->args[2] +
           "' (quote a path with blanks)";
  if (o->haveRaw && !o->args.empty())
    return "--command-line gives the whole command line: no ARG1 or ARG2 with it (got " +
           o->args[0] + ")";
  if (o->report != "text" && o->report != "json") return "--report takes text or json";
  return "";
}

// Reads what the run did not do from its calls and the machine.
std::vector<winsim::NotDone> NotDoneOf(const winsim::MachineConfig &config,
                                       const winsim::MachineSnapshot &after, int code) {
  varsetup::RunFacts facts;
  facts.sourceDir = config.program.substr(0, config.program.rfind('\\') + 1);
  facts.after = &after;
  facts.inUse = config.inUse;
  for (const winsim::SimProcess &p : config.processes) facts.images[std::to_string(p.id)] = p.image;
  facts.exitCode = code;
  // Every run that gets past the guard deletes the engine settings.
  facts.stoppedByGuard = code == 0;
  for (const varsetup::CallResult &c : varsetup::RecordedCalls())
    if (c.call == "RegDeleteKeyA") facts.stoppedByGuard = false;
  return varsetup::DeriveNotDone(varsetup::RecordedCalls(), facts);
}

}  // namespace

int main(int argc, char **argv) {
  Options o;
  bool help = false;
  std::string problem = ParseOptions(argc, argv, &o, &help);
  if (help) {
    Usage(stdout);
    return 0;
  }
  if (!problem.empty()) return UsageError(problem);
  winsim::MachineSnapshot before;
  std::string error;
  // The state before the run is read only when a report will be printed:
  // the snapshot hashes every file of the machine.
  if ((!o.quiet && !winsim::TakeSnapshot(o.machine, &before, &error)) ||
      !winsim::Attach(o.machine, &error)) {
    fprintf(stderr, "varsetup: %s\n", error.c_str());
    return kToolError;
  }
  std::string commandLine = "\"" + winsim::Config().program + "\"";
  if (o.haveRaw) commandLine += " " + o.raw;
  for (const std::string &a : o.args) commandLine += " " + QuoteArgument(a);
  winsim::Config().commandLine = commandLine;
  varsetup::RecordCalls(true);
  int code = WinMain(reinterpret_cast<HINSTANCE>(uintptr_t(0x00400000)), nullptr,
                     const_cast<char *>(""), 1);
  varsetup::RecordCalls(false);
  winsim::JournalAppend("exit " + std::to_string(code));
  const winsim::MachineConfig config = winsim::Config();
  winsim::Detach();
  if (!o.quiet) {
    winsim::MachineSnapshot after;
    if (!winsim::TakeSnapshot(o.machine, &after, &error)) {
      fprintf(stderr, "varsetup: %s\n", error.c_str());
      return kToolError;
    }
    winsim::ReportContext context;
    context.codePage = config.codePage;
    context.restartReads =
        config.Is9x() ? winsim::RestartReads::kWininit : winsim::RestartReads::kPendingList;
    context.notDone = NotDoneOf(config, after, code);
    std::string text = o.report == "json" ? winsim::FormatChangesJson(before, after, context)
                                          : winsim::FormatChangesText(before, after, context);
    fputs(text.c_str(), stdout);
  }
  return code;
}
