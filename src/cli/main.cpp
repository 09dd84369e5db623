// trawlex: the command-line front end. Each subcommand is a row of kCommands; the
// usage text and the dispatch both come from that table.

#include "cli/commands.h"
#include "recovery/dfxml_report.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Command {
  const char* name;
  const char* usage;
  const char* help;
  int (*run)(std::vector<std::string>& args);
};

constexpr Command kCommands[] = {
    {"types", "types", "list the file types a scan looks for", RunTypes},
    {"drives", "drives [IMAGE...] [--details] [--format table|tsv|json]",
     "list the drives a scan can read, numbered as --drive N takes them", RunDrives},
    {"info", "info (IMAGE | --drive N)", "show a disk's parameters and true sector count", RunInfo},
    {"scan",
     "scan (IMAGE | --drive N) [--format table|tsv|json] [--real-ends] [--retry-passes N] "
     "[--bad-map FILE]",
     "find the files whose start stands in a sector", RunScanCommand},
    {"recover",
     "recover (IMAGE | --drive N) -o DIR [--types JPG,PDF,...] [--max-mb N] [--real-ends] "
     "[--retry-passes N] [--bad-map FILE] [--no-report]",
     "scan, then save the found files of the chosen types", RunRecoverCommand},
    {"dump", "dump (IMAGE | --drive N) --lba N [--count K]",
     "print sectors in hex and as characters, 16 bytes to a line", RunDump},
};

void PrintUsage(std::FILE* out) {
  std::fprintf(out, "usage: trawlex COMMAND [ARGS]\n\ncommands:\n");
  for (const Command& c : kCommands) std::fprintf(out, "  %s\n      %s\n", c.usage, c.help);
}

/// A command's exit code once everything it printed is known to have been written: a
/// full disk under stdout is a failure, not a result (exit 3).
int WithOutputChecked(const char* command, int code) {
  errno = 0;
  const bool failed_before = std::ferror(stdout) != 0;
  if (std::fflush(stdout) != 0 || failed_before || std::fclose(stdout) != 0) {
    // A buffered write that failed earlier usually fails again here with its reason.
    std::fprintf(stderr, "trawlex %s: cannot write the output: %s\n", command,
                 errno != 0 ? std::strerror(errno) : "write error");
    return kExitSaveFailed;
  }
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    PrintUsage(stderr);
    return kExitUsage;
  }
  const std::string name = argv[1];
  if (name == "-h" || name == "--help" || name == "help") {
    PrintUsage(stdout);
    return kExitDone;
  }
  SetCommandLine(CommandLineText(argc, argv));
  std::vector<std::string> args(argv + 2, argv + argc);
  for (const Command& c : kCommands)
    if (name == c.name) return WithOutputChecked(c.name, c.run(args));
  std::fprintf(stderr, "trawlex: unknown command '%s'\n", name.c_str());
  PrintUsage(stderr);
  return kExitUsage;
}
