// `trawlex scan` and `trawlex recover`: the same engine calls the window makes.

#include "cli/commands.h"
#include "cli/source.h"
#include "detect/file_catalogue.h"
#include "disk/drive_list.h"
#include "recovery/file_saver.h"
#include "recovery/format_size.h"
#include "recovery/options.h"
#include "recovery/scan_engine.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <sstream>
#include <system_error>

#include <unistd.h>

namespace {

/// The scan's stop request: Ctrl-C cancels it, as Stop Scan does.
CancelToken g_scan_cancel;
/// The save's stop request, as the copy window's Stop.
std::atomic<bool> g_pause{false};
static_assert(std::atomic<bool>::is_always_lock_free);

/// The save in progress, so that Ctrl-C stops it after the chunk being written.
std::atomic<FileSaver*> g_saver{nullptr};
static_assert(std::atomic<FileSaver*>::is_always_lock_free);

extern "C" void OnInterrupt(int) {
  g_scan_cancel.Cancel();
  g_pause.store(true);
  if (FileSaver* saver = g_saver.load()) saver->Stop();
}

/// A progress line on stderr while the scan runs, when stderr is a terminal.
class ProgressLine final : public ScanObserver {
 public:
  ProgressLine() : enabled_(::isatty(STDERR_FILENO) == 1) {}
  void ScanStarted(std::uint64_t total) override {
    total_ = total;
    started_ = std::chrono::steady_clock::now();
  }
  void CurrentSector(std::uint64_t lba) override {
    if (!enabled_ || total_ == 0) return;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    const double mb_per_s = seconds > 0 ? static_cast<double>(lba) * 512 / 1e6 / seconds : 0;
    const double left =
        lba > 0 ? seconds * static_cast<double>(total_ - lba) / static_cast<double>(lba) : 0;
    std::fprintf(stderr, "\r%5.1f%%  %8.1f MB/s  %d:%02d left   ",
                 100.0 * static_cast<double>(lba) / static_cast<double>(total_), mb_per_s,
                 static_cast<int>(left) / 60, static_cast<int>(left) % 60);
  }
  void ScanEnded(const ScanSummary&) override {
    if (enabled_) std::fprintf(stderr, "\r%60s\r", "");
  }

 private:
  bool enabled_;
  std::uint64_t total_ = 0;
  std::chrono::steady_clock::time_point started_;
};

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (const char ch : text) {
    if (ch == '"' || ch == '\\') out += '\\';
    out += ch;
  }
  return out + "\"";
}

/// Every found file, in scan order.
std::vector<TfileExt> AllFiles(const FoundTypeRows& rows) {
  std::vector<TfileExt> files;
  for (int k = 0; k < rows.size(); ++k) {
    auto row = rows[k].Files();
    files.insert(files.end(), row.begin(), row.end());
  }
  std::sort(files.begin(), files.end(),
            [](const TfileExt& a, const TfileExt& b) { return a.LBA < b.LBA; });
  return files;
}

void PrintTable(const FoundTypeRows& rows, const ScanSummary& s) {
  for (int k = 0; k < rows.size(); ++k) {
    const std::size_t n = rows[k].Count();
    if (n > 0) std::printf("%s (%zu)\n", std::string(rows[k].TypeName()).c_str(), n);
  }
  const double mb = static_cast<double>(s.examined) * 512 / 1e6;
  std::printf(
      "sectors examined: %llu of %llu, unreadable: %llu, files found: %llu, %.2f s, %.1f MB/s\n",
      static_cast<unsigned long long>(s.examined), static_cast<unsigned long long>(s.total_sectors),
      static_cast<unsigned long long>(s.unreadable), static_cast<unsigned long long>(s.files_found),
      s.seconds, s.seconds > 0 ? mb / s.seconds : 0.0);
}

void PrintTsv(const FoundTypeRows& rows) {
  std::printf("lba\tsize\ttype\tname\n");
  for (const TfileExt& f : AllFiles(rows))
    std::printf("%llu\t%llu\t%s\t%s\n", static_cast<unsigned long long>(f.LBA),
                static_cast<unsigned long long>(f.Size), std::string(f.FileType()).c_str(),
                f.FileName().c_str());
}

void PrintJson(const FoundTypeRows& rows, const ScanSummary& s) {
  std::ostringstream out;
  out << "{\"files\":[";
  bool first = true;
  for (const TfileExt& f : AllFiles(rows)) {
    out << (first ? "" : ",") << "{\"lba\":" << f.LBA << ",\"size\":" << f.Size
        << ",\"type\":" << JsonString(f.FileType()) << ",\"name\":" << JsonString(f.FileName())
        << "}";
    first = false;
  }
  out << "],\"counts\":{";
  first = true;
  for (int k = 0; k < rows.size(); ++k) {
    if (rows[k].Count() == 0) continue;
    out << (first ? "" : ",") << JsonString(rows[k].TypeName()) << ":" << rows[k].Count();
    first = false;
  }
  out << "},\"sectors\":" << s.examined << ",\"total_sectors\":" << s.total_sectors
      << ",\"unreadable\":" << s.unreadable << ",\"seconds\":" << s.seconds << "}\n";
  std::fputs(out.str().c_str(), stdout);
}

/// Takes `--name VALUE` out of `args`; false when the flag is there without a value.
bool TakeOption(std::vector<std::string>& args, const std::string& name, std::string& value) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] != name) continue;
    if (i + 1 >= args.size()) return false;
    value = args[i + 1];
    args.erase(args.begin() + static_cast<std::ptrdiff_t>(i),
               args.begin() + static_cast<std::ptrdiff_t>(i) + 2);
    return true;
  }
  return true;
}

/// What scan and recover share: the source opened, the scan run with Ctrl-C as Stop.
struct ScanRun {
  DiskInfo disk;
  FoundTypeRows rows;
  ScanSummary summary;
  std::unique_ptr<SectorReader> reader;
};

/// Opens the source and scans it. Returns an exit code, kExitDone when the scan ran.
int RunScan(const char* command, const SourceArgs& source, ScanRun& run) {
  DriveTable& table = DefaultDriveTable();
  std::string err;
  const int drive = ResolveDrive(table, source, &err);
  if (drive < 0) {
    std::fprintf(stderr, "trawlex %s: %s\n", command, err.c_str());
    return kExitSourceUnreadable;
  }
  int error_number = 0;
  run.reader = table.Open(drive, &err, &error_number);
  if (!run.reader) {
    std::fprintf(stderr, "trawlex %s: cannot read %s: %s\n", command,
                 table.Find(drive)->path.c_str(), err.c_str());
    if (IsAccessRefused(error_number))
      std::fprintf(stderr, "trawlex %s: %s\n", command,
                   ::geteuid() == 0
                       ? "the system refuses this disk even to root; scan an image of it instead"
                       : "run as root, or scan an image of the disk instead");
    return kExitSourceUnreadable;
  }
  run.disk.SetDriveNumber(drive);
  run.disk.SetSectorCount(run.reader->SectorCount());
  std::signal(SIGINT, OnInterrupt);
  ProgressLine progress;
  run.summary = ScanDisk(*run.reader, run.disk, run.rows, g_scan_cancel, progress);
  if (run.summary.reason == ScanEnd::kStopped)
    std::fprintf(stderr, "trawlex %s: stopped at sector %llu\n", command,
                 static_cast<unsigned long long>(run.summary.examined));
  if (run.summary.reason == ScanEnd::kSourceLost) {
    std::fprintf(stderr, "trawlex %s: the disk could not be read past sector %llu: %s\n", command,
                 static_cast<unsigned long long>(run.summary.examined), run.summary.error.c_str());
  }
  return kExitDone;
}

}  // namespace

int RunScanCommand(std::vector<std::string>& args) {
  std::string format = "table", err;
  if (!TakeOption(args, "--format", format)) err = "--format needs table, tsv or json";
  SourceArgs source;
  if (err.empty() && !ParseSource(args, source, &err)) {
  } else if (err.empty() && !args.empty()) {
    err = "unexpected argument '" + args[0] + "'";
  } else if (err.empty() && format != "table" && format != "tsv" && format != "json") {
    err = "unknown format '" + format + "': use table, tsv or json";
  }
  if (!err.empty()) {
    std::fprintf(stderr, "trawlex scan: %s\n", err.c_str());
    return kExitUsage;
  }
  ScanRun run;
  if (const int rc = RunScan("scan", source, run); rc != kExitDone) return rc;
  if (format == "tsv") {
    PrintTsv(run.rows);
  } else if (format == "json") {
    PrintJson(run.rows, run.summary);
  } else {
    PrintTable(run.rows, run.summary);
  }
  return run.summary.reason == ScanEnd::kSourceLost ? kExitSourceUnreadable : kExitDone;
}

namespace {

bool ParseTypes(const std::string& list, std::vector<bool>& wanted, std::string* err) {
  std::fill(wanted.begin(), wanted.end(), false);
  std::stringstream in(list);
  std::string tag;
  while (std::getline(in, tag, ',')) {
    const int row = FindFileType(tag);
    if (row < 0) {
      *err = "unknown file type '" + tag + "' (see trawlex types)";
      return false;
    }
    wanted[static_cast<std::size_t>(row)] = true;
  }
  return true;
}

}  // namespace

int RunRecoverCommand(std::vector<std::string>& args) {
  std::string out_dir, types, max_mb_text = "20", err;
  if (!TakeOption(args, "-o", out_dir) || !TakeOption(args, "--types", types) ||
      !TakeOption(args, "--max-mb", max_mb_text))
    err = "an option is missing its value";
  std::optional<std::uint32_t> max_mb;
  std::vector<bool> wanted(kFileTypeCount, true);
  SourceArgs source;
  if (err.empty()) {
    max_mb = ParseDecimal(max_mb_text);
    if (!max_mb) err = "'" + max_mb_text + "' is not a valid integer value";
  }
  if (err.empty() && out_dir.empty()) err = "name the folder to save into with -o DIR";
  if (err.empty() && !types.empty()) ParseTypes(types, wanted, &err);
  if (err.empty() && !ParseSource(args, source, &err)) {
  } else if (err.empty() && !args.empty()) {
    err = "unexpected argument '" + args[0] + "'";
  }
  if (!err.empty()) {
    std::fprintf(stderr, "trawlex recover: %s\n", err.c_str());
    return kExitUsage;
  }
  std::error_code ec;
  std::filesystem::create_directories(out_dir, ec);
  if (!std::filesystem::is_directory(out_dir)) {
    std::fprintf(stderr, "trawlex recover: cannot use %s as the folder to save into: %s\n",
                 out_dir.c_str(), ec ? ec.message().c_str() : "not a folder");
    return kExitSaveFailed;
  }

  ScanRun run;
  if (const int rc = RunScan("recover", source, run); rc != kExitDone) return rc;
  PrintTable(run.rows, run.summary);
  if (run.summary.reason == ScanEnd::kSourceLost) return kExitSourceUnreadable;

  std::vector<std::vector<TfileExt>> work;
  for (int k = 0; k < run.rows.size(); ++k)
    if (wanted[static_cast<std::size_t>(k)] && run.rows[k].Count() > 0)
      work.push_back(run.rows[k].Files());
  SaveObserver quiet;    // the saved names are printed once the save has ended
  g_pause.store(false);  // a Ctrl-C that stopped the scan still saves what was found
  FileSaver saver(*run.reader, out_dir, *max_mb, g_pause, quiet);
  g_saver.store(&saver);
  struct Unregister {
    ~Unregister() { g_saver.store(nullptr); }
  } unregister;
  try {
    const SaveTotals totals = saver.Save(work);
    for (const auto& name : totals.written) std::printf("saved %s\n", name.c_str());
    std::printf("saved %zu files (%s) into %s", totals.files_written,
                FormatFileSize(totals.bytes_written).c_str(), out_dir.c_str());
    if (totals.unreadable_sectors > 0)
      std::printf(", %llu unreadable sectors written as zeros",
                  static_cast<unsigned long long>(totals.unreadable_sectors));
    std::printf("\n");
  } catch (const SaveError& e) {
    std::fprintf(stderr, "trawlex recover: %s (%s)\n", e.what(), e.reason().c_str());
    return kExitSaveFailed;
  }
  return kExitDone;
}
