// The Linux process entry of the product: attaches a simulated machine,
// sets the Windows command line and calls the product's WinMain.
//
//   varsetup --machine DIR [--command-line RAW] [ARG1 [ARG2]]
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "machine.h"
#include "changes.h"
#include "report.h"

namespace {

void Usage(FILE *out) {
  fprintf(out,
          "usage: varsetup --machine DIR [options] [ARG1 [ARG2]]\n"
          "Runs the installer on the simulated machine in DIR, as if started with\n"
          "ARG1 (the application directory) and ARG2 (the manuals' base name).\n"
          "  --command-line RAW  the whole argument text, passed unsplit\n"
          "  --report FORMAT     print what the run changed: text or json\n"
          "  --quiet             print nothing but errors\n");
}

std::string QuoteArgument(const std::string &arg) {
  if (!arg.empty() && arg.find_first_of(" \t") == std::string::npos) return arg;
  return "\"" + arg + "\"";
}

}  // namespace

int main(int argc, char **argv) {
  std::string machine, raw, report;
  bool haveRaw = false, quiet = false;
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](std::string *out) {
      if (i + 1 >= argc) {
        fprintf(stderr, "varsetup: %s needs a value\n", a.c_str());
        exit(2);
      }
      *out = argv[++i];
    };
    if (a == "--machine") value(&machine);
    else if (a == "--command-line") { value(&raw); haveRaw = true; }
    else if (a == "--report") value(&report);
    else if (a == "--quiet") quiet = true;
    else if (a == "-h" || a == "--help") { Usage(stdout); return 0; }
    else if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
      fprintf(stderr, "varsetup: unknown option %s\n", a.c_str());
      Usage(stderr);
      return 2;
    } else args.push_back(a);
  }
  if (machine.empty() || args.size() > 2 || (haveRaw && !args.empty())) {
    Usage(stderr);
    return 2;
  }
  if (!report.empty() && report != "text" && report != "json") {
    fprintf(stderr, "varsetup: --report takes text or json\n");
    return 2;
  }
  winsim::MachineSnapshot before;
  std::string error;
  // The state before the run is read only when a report will be printed:
  // the snapshot hashes every file of the machine.
  if ((!quiet && !winsim::TakeSnapshot(machine, &before, &error)) ||
      !winsim::Attach(machine, &error)) {
    fprintf(stderr, "varsetup: %s\n", error.c_str());
    return 2;
  }
  std::string commandLine = "\"" + winsim::Config().program + "\"";
  if (haveRaw) commandLine += " " + raw;
  for (const std::string &a : args) commandLine += " " + QuoteArgument(a);
  winsim::Config().commandLine = commandLine;
  int code = WinMain(reinterpret_cast<HINSTANCE>(uintptr_t(0x00400000)), nullptr,
                     const_cast<char *>(""), 1);
  winsim::JournalAppend("exit " + std::to_string(code));
  winsim::Detach();
  if (!quiet) {
    winsim::MachineSnapshot after;
    if (!winsim::TakeSnapshot(machine, &after, &error)) {
      fprintf(stderr, "varsetup: %s\n", error.c_str());
      return 2;
    }
    std::string text = report == "json" ? winsim::FormatChangesJson(before, after)
                                        : winsim::FormatChangesText(before, after);
    fputs(text.c_str(), stdout);
  }
  return code;
}
