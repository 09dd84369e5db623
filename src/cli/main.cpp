// trawlex: the command-line front end. The arguments are parsed by CLI11: each
// subcommand has its options, its own --help, and `--` before a path that begins
// with a dash. Every usage error ends with exit code 1.

#include "cli/commands.h"
#include "recovery/dfxml_report.h"

#include <CLI/CLI.hpp>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

namespace {

/// A command's exit code once everything it printed is known to have been written: a
/// full disk under stdout is a failure, not a result (exit 3).
int WithOutputChecked(const std::string& command, int code) {
  errno = 0;
  const bool failed_before = std::ferror(stdout) != 0;
  if (std::fflush(stdout) != 0 || failed_before || std::fclose(stdout) != 0) {
    // A buffered write that failed earlier usually fails again here with its reason.
    std::fprintf(stderr, "trawlex %s: cannot write the output: %s\n", command.c_str(),
                 errno != 0 ? std::strerror(errno) : "write error");
    return kExitSaveFailed;
  }
  return code;
}

/// SOURCE: an image path, or --drive N; one of them.
void AddSource(CLI::App& command, SourceArgs& source) {
  auto* image = command.add_option("IMAGE", source.image,
                                   "disk image to read (raw, split .001 pieces or E01); "
                                   "put -- before a path that begins with a dash");
  command.add_option("--drive", source.drive, "number of the drive to read (see trawlex drives)")
      ->check(CLI::NonNegativeNumber)
      ->excludes(image);
}

void AddFormat(CLI::App& command, std::string& format) {
  command.add_option("--format", format, "output: table (default), tsv or json")
      ->check(CLI::IsMember({"table", "tsv", "json"}));
}

void AddScanOptions(CLI::App& command, ScanArgs& args) {
  command.add_flag("--real-ends", args.real_ends,
                   "check each start and end each file where its format says");
  command.add_flag("--free-space", args.free_space,
                   "search only the free space of the file systems found (and the space outside "
                   "them), and list the deleted files they still name; sectors and names still "
                   "count from the start of the disk");
  command.add_option("--retry-passes", args.retry_passes,
                     "passes over sectors skipped after read errors (default 2, 0 none)");
  command.add_option("--bad-map", args.bad_map,
                     "file of sectors known not to read; what the scan learns is written back");
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app(
      "Finds the files whose start stands in a sector of a disk or disk image, and saves them. "
      "The source is only ever read.\n\nExit codes: 0 done, 1 usage, 2 the source could not be "
      "read or was lost, 3 saving or writing the output failed.",
      "trawlex");
  app.require_subcommand(1, 1);
  app.set_help_all_flag("--help-all", "print the help of every command");
  app.footer("Run trawlex COMMAND --help for the options of one command.");

  std::function<int()> run;
  auto choose = [&run](CLI::App* command, std::function<int()> work) {
    command->callback([&run, work] { run = work; });
  };

  choose(app.add_subcommand("types", "list the file types a scan looks for"),
         [] { return RunTypes(); });

  DrivesArgs drives;
  CLI::App* drives_command = app.add_subcommand(
      "drives", "list the drives a scan can read, numbered as --drive N takes them");
  drives_command->add_option("IMAGE", drives.images, "disk images to list after the disks");
  drives_command->add_flag("--details", drives.details, "type, model, id, sector size, capacity");
  AddFormat(*drives_command, drives.format);
  choose(drives_command, [&drives] { return RunDrives(drives); });

  SourceArgs info;
  CLI::App* info_command =
      app.add_subcommand("info", "show a disk's parameters and true sector count");
  AddSource(*info_command, info);
  choose(info_command, [&info] { return RunInfo(info); });

  ScanArgs scan;
  CLI::App* scan_command =
      app.add_subcommand("scan", "find the files whose start stands in a sector");
  AddSource(*scan_command, scan.source);
  AddFormat(*scan_command, scan.format);
  AddScanOptions(*scan_command, scan);
  choose(scan_command, [&scan] { return RunScanCommand(scan); });

  RecoverArgs recover;
  CLI::App* recover_command =
      app.add_subcommand("recover", "scan, then save the found files of the chosen types");
  AddSource(*recover_command, recover.scan.source);
  recover_command->add_option("-o,--output", recover.out_dir,
                              "folder to save into, made if missing (required)");
  recover_command->add_option(
      "--types", recover.types,
      "the types to save, as trawlex types names them (JPG,PDF,...); all by default");
  recover_command->add_option("--max-mb", recover.max_mb,
                              "largest size of a saved file in MB (default 20, 0 no limit)");
  AddScanOptions(*recover_command, recover.scan);
  recover_command->add_flag("--all-undeleted", recover.all_undeleted,
                            "with --free-space, save also the deleted files whose bytes failed "
                            "their checks or now belong to other files");
  recover_command->add_flag("--no-report", recover.no_report, "write no report.xml");
  choose(recover_command, [&recover] { return RunRecoverCommand(recover); });

  DumpArgs dump;
  CLI::App* dump_command =
      app.add_subcommand("dump", "print sectors in hex and as characters, 16 bytes to a line");
  AddSource(*dump_command, dump.source);
  dump_command->add_option("--lba", dump.lba, "first sector to print (required)");
  dump_command->add_option("--count", dump.count, "sectors to print (default 1)");
  choose(dump_command, [&dump] { return RunDump(dump); });

  if (argc == 2 && std::strcmp(argv[1], "help") == 0) {
    std::fputs(app.help().c_str(), stdout);
    return kExitDone;
  }
  const auto named = [&](const CLI::App* command) { return command->get_name() == argv[1]; };
  if (argc >= 2 && argv[1][0] != '-' && app.get_subcommands(named).empty()) {
    std::fprintf(stderr, "trawlex: unknown command '%s'\n", argv[1]);
    std::fputs(app.help().c_str(), stderr);
    return kExitUsage;
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::string name = "trawlex";
    for (const CLI::App* command : app.get_subcommands()) name += " " + command->get_name();
    std::fprintf(stderr, "%s: %s\n", name.c_str(), e.what());
    std::fprintf(stderr, "Run %s --help for more information.\n", name.c_str());
    return kExitUsage;
  }
  SetCommandLine(CommandLineText(argc, argv));
  std::string name;
  for (const CLI::App* command : app.get_subcommands()) name = command->get_name();
  return WithOutputChecked(name, run());
}
