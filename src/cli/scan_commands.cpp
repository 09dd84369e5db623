// `trawlex scan` and `trawlex recover`: the same engine calls the window makes.

#include "cli/commands.h"
#include "cli/json_output.h"
#include "cli/source.h"
#include "detect/file_catalogue.h"
#include "detect/file_end.h"
#include "disk/drive_list.h"
#include "disk/free_space.h"
#include "recovery/dfxml_report.h"
#include "recovery/file_saver.h"
#include "recovery/format_size.h"
#include "recovery/found_place.h"
#include "recovery/options.h"
#include "recovery/output_guard.h"
#include "recovery/scan_engine.h"
#include "recovery/undelete.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <system_error>
#include <thread>

#include <unistd.h>

namespace {

/// The scan's stop request: Ctrl-C or SIGTERM cancels it, as Stop Scan does.
CancelToken g_scan_cancel;
/// The save's stop request, as the copy window's Stop: the Ctrl-C that comes while
/// files are being saved.
CancelToken g_save_cancel;
std::atomic<bool> g_saving{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnInterrupt(int) {
  g_scan_cancel.Cancel();
  if (g_saving.load()) g_save_cancel.Cancel();
}

/// Ctrl-C and SIGTERM both stop the work in hand; what was found is still printed.
void CatchStopSignals() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
}

/// How long a stopped scan or save may take to end before its disk is taken as hung.
constexpr auto kStopGrace = std::chrono::seconds(1);

/// Runs `work` on a thread of its own and waits for it. Once `cancel` is set the work
/// has kStopGrace to end; after that it is taken as stuck in a read that never returns,
/// and false is returned with the thread left behind (the caller then ends the process
/// without waiting on it). True when the work ended.
template <typename Work>
bool RunAbandonable(const CancelToken& cancel, Work work) {
  struct Shared {
    std::mutex mutex;
    std::condition_variable ended_cv;
    bool ended = false;
  };
  auto shared = std::make_shared<Shared>();
  std::exception_ptr failure;
  std::thread thread([shared, &work, &failure] {
    try {
      work();
    } catch (...) {
      failure = std::current_exception();
    }
    std::lock_guard lock(shared->mutex);
    shared->ended = true;
    shared->ended_cv.notify_all();
  });
  std::unique_lock lock(shared->mutex);
  std::optional<std::chrono::steady_clock::time_point> deadline;
  while (!shared->ended) {
    if (!deadline && cancel.Cancelled()) deadline = std::chrono::steady_clock::now() + kStopGrace;
    if (deadline && std::chrono::steady_clock::now() >= *deadline) {
      thread.detach();
      return false;
    }
    // A signal handler cannot notify: the cancel is looked at ten times a second.
    shared->ended_cv.wait_for(lock, std::chrono::milliseconds(100));
  }
  lock.unlock();
  thread.join();
  if (failure) std::rethrow_exception(failure);
  return true;
}

/// Ends the process at once, after what was printed has gone out, without running the
/// destructors that would wait on a thread stuck in a read.
[[noreturn]] void LeaveStuckThread(const char* command, int code) {
  std::fprintf(stderr, "trawlex %s: stopped; the disk did not answer\n", command);
  const bool written = std::fflush(stdout) == 0 && !std::ferror(stdout);
  std::fflush(stderr);
  std::_Exit(written ? code : kExitSaveFailed);
}

/// How long `seconds` is, as H:MM:SS or M:SS.
std::string Duration(double seconds) {
  const auto total = static_cast<long long>(seconds);
  char text[32];
  if (total >= 3600)
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", total / 3600, total / 60 % 60,
                  total % 60);
  else
    std::snprintf(text, sizeof text, "%lld:%02lld", total / 60, total % 60);
  return text;
}

/// Which way the scan ended, as JSON names it.
const char* EndName(ScanEnd end) {
  switch (end) {
    case ScanEnd::kCompleted:
      return "completed";
    case ScanEnd::kStopped:
      return "stopped";
    default:
      return "source lost";
  }
}

/// A file system's path for a line of output: control characters (tabs, line ends) as '_'.
std::string PrintablePath(std::string path) {
  for (char& ch : path)
    if (static_cast<unsigned char>(ch) < 0x20) ch = '_';
  return path;
}

/// Writes the found files of `scan --format tsv|json` as the scan closes them, in disk
/// order, so that no list of them is built for the output. The retry passes over the
/// sectors skipped after read errors may size again the files that end near them, so a
/// record is written only once it ends well before the first skipped sector and before
/// the part of the disk not yet examined; what is left waits for the end of the scan
/// and is then written from the found list as the retries left it.
class RecordStream {
 public:
  RecordStream(std::string format, bool real_ends)
      : format_(std::move(format)), real_ends_(real_ends) {}

  [[nodiscard]] bool Enabled() const { return format_ == "tsv" || format_ == "json"; }
  /// Where found files lie on the disk; the whole disk unless set.
  void SetPlace(const FoundPlace& place) { place_ = place; }
  /// The deleted files the file systems name: written first, and the found files that are
  /// the same bytes are left out. Each record then says its source.
  void SetUndeleted(const std::vector<UndeletedFile>* undeleted, const FreeSpaceLayout* layout) {
    undeleted_ = undeleted;
    layout_ = layout;
    same_bytes_ = UndeletedStarts(*undeleted, *layout);
  }

  void Begin() {
    if (format_ == "tsv") {
      std::fputs(real_ends_ ? "lba\tsize\ttype\tname\tend" : "lba\tsize\ttype\tname", stdout);
      std::fputs(undeleted_ ? "\tsource\tcheck\n" : "\n", stdout);
    } else if (format_ == "json") {
      std::fputs("{\"files\":[", stdout);
    }
    if (undeleted_ && Enabled())
      for (const UndeletedFile& f : *undeleted_) WriteUndeleted(f);
  }

  void Add(const TfileExt& f) {
    std::lock_guard lock(mutex_);
    if (finished_) return;
    pending_.push_back(f);
    FlushLocked();
  }
  /// Every sector before `lba` has been examined.
  void Reached(std::uint64_t lba) {
    std::lock_guard lock(mutex_);
    front_ = std::max(front_, lba);
    FlushLocked();
  }
  void Skipped(std::uint64_t lba) {
    std::lock_guard lock(mutex_);
    first_skipped_ = std::min(first_skipped_, lba);
  }

  /// Writes the records not yet written, from `rows`, and closes the output.
  void Finish(const FoundTypeRows& rows, const ScanSummary& s) {
    std::lock_guard lock(mutex_);
    finished_ = true;
    pending_.clear();
    // Each row is in disk order: merge them from the first record not yet written.
    std::array<std::size_t, kFileTypeCount> next{};
    std::array<std::size_t, kFileTypeCount> count{};
    for (int k = 0; k < rows.size(); ++k) {
      const auto i = static_cast<std::size_t>(k);
      count[i] = rows[k].Count();
      std::size_t lo = 0, hi = count[i];
      while (lo < hi) {
        const std::size_t mid = (lo + hi) / 2;
        if (written_any_ && rows[k].At(mid).LBA <= last_lba_)
          lo = mid + 1;
        else
          hi = mid;
      }
      next[i] = lo;
    }
    for (;;) {
      int best = -1;
      TfileExt record;
      for (int k = 0; k < rows.size(); ++k) {
        const auto i = static_cast<std::size_t>(k);
        if (next[i] >= count[i]) continue;
        const TfileExt candidate = rows[k].At(next[i]);
        if (best < 0 || candidate.LBA < record.LBA) {
          best = k;
          record = candidate;
        }
      }
      if (best < 0) break;
      ++next[static_cast<std::size_t>(best)];
      Write(record);
    }
    if (format_ != "json") return;
    Json tail;
    Json counts = Json::object();
    for (int k = 0; k < rows.size(); ++k)
      if (rows[k].Count() > 0) counts[std::string(rows[k].TypeName())] = rows[k].Count();
    tail["counts"] = std::move(counts);
    if (undeleted_) tail["undeleted"] = undeleted_->size();
    tail["sectors"] = s.examined;
    tail["total_sectors"] = s.total_sectors;
    tail["unreadable"] = s.unreadable;
    tail["skipped"] = s.skipped;
    tail["retried"] = s.retried;
    tail["seconds"] = s.seconds;
    tail["end"] = EndName(s.reason);
    PutText(tail, "message", s.error);
    // The fields after "files" are the rest of the one object the output is.
    std::fputs("],", stdout);
    const std::string text = tail.dump();
    std::fwrite(text.data() + 1, 1, text.size() - 1, stdout);
    std::fputc('\n', stdout);
  }

 private:
  /// Sectors around a skipped area whose files the retries may size again.
  static constexpr std::uint64_t kMargin = 16;

  void FlushLocked() {
    const std::uint64_t limit = std::min(front_, first_skipped_);
    while (!pending_.empty()) {
      const TfileExt& f = pending_.front();
      const std::uint64_t end = f.LBA + (f.Size + 511) / 512;
      if (end + kMargin >= limit) break;
      Write(f);
      pending_.pop_front();
    }
  }

  void Write(const TfileExt& f) {
    written_any_ = true;
    last_lba_ = f.LBA;
    const std::uint64_t disk_lba = place_.DiskLBA(f.LBA);
    if (same_bytes_.count(disk_lba * 512) > 0) return;  // listed by its name already
    if (format_ == "tsv") {
      std::printf("%llu\t%llu\t%s\t%s", static_cast<unsigned long long>(disk_lba),
                  static_cast<unsigned long long>(f.Size), std::string(f.FileType()).c_str(),
                  place_.FileName(f).c_str());
      if (real_ends_) std::printf("\t%s", std::string(EndReasonName(f.End)).c_str());
      std::fputs(undeleted_ ? "\tcarved\t\n" : "\n", stdout);
      return;
    }
    Json record;
    record["lba"] = disk_lba;
    record["size"] = f.Size;
    record["type"] = std::string(f.FileType());
    record["name"] = place_.FileName(f);
    if (real_ends_) record["end"] = std::string(EndReasonName(f.End));
    if (undeleted_) record["source"] = "carved";
    if (!first_) std::fputc(',', stdout);
    first_ = false;
    WriteJson(record);
  }

  /// A deleted file by its name: its path in the file system, and where it is saved.
  void WriteUndeleted(const UndeletedFile& f) {
    const std::uint64_t lba = f.DiskOffset(*layout_) / 512;
    const std::string type = f.type >= 0 ? std::string(FileTypeTag(f.type)) : "-";
    const std::string check(UndeleteCheckName(f.check));
    if (format_ == "tsv") {
      const std::string path = PrintablePath(f.entry.path);  // tabs would break the row
      std::printf("%llu\t%llu\t%s\t%s", static_cast<unsigned long long>(lba),
                  static_cast<unsigned long long>(f.entry.size), type.c_str(), path.c_str());
      if (real_ends_) std::fputs("\tfile-system", stdout);
      std::printf("\tundeleted\t%s\n", check.c_str());
      return;
    }
    Json record;
    record["lba"] = lba;
    record["size"] = f.entry.size;
    record["type"] = type;
    PutText(record, "name", f.entry.path);
    if (real_ends_) record["end"] = "file-system";
    record["source"] = "undeleted";
    record["check"] = check;
    record["file_system"] = layout_->file_systems[f.entry.file_system].type;
    PutText(record, "saved_as", f.saved_path);
    if (!first_) std::fputc(',', stdout);
    first_ = false;
    WriteJson(record);
  }

  std::mutex mutex_;
  std::string format_;
  bool real_ends_;
  FoundPlace place_;
  const std::vector<UndeletedFile>* undeleted_ = nullptr;
  const FreeSpaceLayout* layout_ = nullptr;
  std::set<std::uint64_t> same_bytes_;  ///< disk bytes where an undeleted file starts
  bool first_ = true;
  bool finished_ = false;
  bool written_any_ = false;
  std::uint64_t last_lba_ = 0;
  std::uint64_t front_ = 0;
  std::uint64_t first_skipped_ = ~std::uint64_t{0};
  std::deque<TfileExt> pending_;
};

/// Follows the scan: a progress line on stderr (percent, MB/s, time taken and left)
/// when stderr is a terminal, and the found files handed to the record stream.
class ProgressLine final : public ScanObserver {
 public:
  explicit ProgressLine(RecordStream* stream)
      : enabled_(::isatty(STDERR_FILENO) == 1), stream_(stream) {}
  void ScanStarted(std::uint64_t total) override {
    total_ = total;
    started_ = std::chrono::steady_clock::now();
  }
  void CurrentSector(std::uint64_t lba) override {
    examined_.store(lba, std::memory_order_relaxed);
    if (!enabled_ || total_ == 0) return;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    const double mb_per_s = seconds > 0 ? static_cast<double>(lba) * 512 / 1e6 / seconds : 0;
    const std::string left =
        lba > 0 ? Duration(seconds * static_cast<double>(total_ - lba) / static_cast<double>(lba))
                : std::string("--:--");
    std::fprintf(stderr, "\r%5.1f%%  %8.1f MB/s  %s elapsed  %s left   ",
                 100.0 * static_cast<double>(lba) / static_cast<double>(total_), mb_per_s,
                 Duration(seconds).c_str(), left.c_str());
  }
  void ChunkDone(std::uint64_t chunk, std::uint64_t) override {
    if (stream_) stream_->Reached((chunk + 1) * kChunkSectors);
  }
  void SectorsSkipped(std::uint64_t lba) override {
    if (stream_) stream_->Skipped(lba);
  }
  void RecordAppended(int, const TfileExt& file) override {
    if (stream_) stream_->Add(file);
  }
  void ScanEnded(const ScanSummary&) override {
    if (enabled_) std::fprintf(stderr, "\r%79s\r", "");
  }
  void FileStartFound(int row, std::size_t row_count, std::uint64_t found) override {
    row_starts_[static_cast<std::size_t>(row)].store(row_count, std::memory_order_relaxed);
    found_.store(found, std::memory_order_relaxed);
  }

  /// What a scan left behind in a read that never returns had found: starts per row
  /// (records are filed only once closed) and the sector it had reached.
  [[nodiscard]] std::vector<std::size_t> Started() const {
    std::vector<std::size_t> counts;
    for (const auto& n : row_starts_) counts.push_back(n.load(std::memory_order_relaxed));
    return counts;
  }
  [[nodiscard]] std::uint64_t Examined() const { return examined_.load(std::memory_order_relaxed); }
  [[nodiscard]] std::uint64_t Found() const { return found_.load(std::memory_order_relaxed); }

 private:
  bool enabled_;
  RecordStream* stream_;
  std::array<std::atomic<std::size_t>, kFileTypeCount> row_starts_{};
  std::atomic<std::uint64_t> examined_{0};
  std::atomic<std::uint64_t> found_{0};
  std::uint64_t total_ = 0;
  std::chrono::steady_clock::time_point started_;
};

/// `started`: the count per row, when it is not the rows' own (a scan left behind).
void PrintTable(const FoundTypeRows& rows, const ScanSummary& s,
                const std::vector<std::size_t>* started = nullptr) {
  for (int k = 0; k < rows.size(); ++k) {
    const std::size_t n = started ? (*started)[static_cast<std::size_t>(k)] : rows[k].Count();
    if (n > 0) std::printf("%s (%zu)\n", std::string(rows[k].TypeName()).c_str(), n);
  }
  const double mb = static_cast<double>(s.examined) * 512 / 1e6;
  std::printf(
      "sectors examined: %llu of %llu, unreadable: %llu, files found: %llu, %.2f s, %.1f MB/s\n",
      static_cast<unsigned long long>(s.examined), static_cast<unsigned long long>(s.total_sectors),
      static_cast<unsigned long long>(s.unreadable), static_cast<unsigned long long>(s.files_found),
      s.seconds, s.seconds > 0 ? mb / s.seconds : 0.0);
  if (s.skipped > 0)
    std::printf("read errors: %llu sectors skipped at first, %llu read again, %llu unreadable\n",
                static_cast<unsigned long long>(s.skipped),
                static_cast<unsigned long long>(s.retried),
                static_cast<unsigned long long>(s.unreadable));
}

/// What scan and recover share: the source opened, the scan run with Ctrl-C as Stop.
struct ScanRun {
  ScanRun(const std::string& format, bool real_ends) : stream(format, real_ends) {}
  DiskInfo disk;
  FoundTypeRows rows;
  ScanSummary summary;
  std::unique_ptr<SectorReader> whole;   ///< the disk, when `reader` is its free space
  std::unique_ptr<SectorReader> reader;  ///< what is searched: the disk, or its free space
  FoundPlace place;                      ///< where what `reader` reads lies on the disk
  FreeSpaceLayout layout;                ///< the file systems found, with --free-space
  std::vector<UndeletedFile> undeleted;  ///< the deleted files they name, checked
  std::string path;                      ///< the disk or image read
  BadSectorMap bad_map;
  RecordStream stream;  ///< tsv and json: the found files as the scan closes them
  ProgressLine progress{stream.Enabled() ? &stream : nullptr};
  bool left_behind = false;  ///< the scan is stuck in a read that never returns
};

/// Opens the source. Returns an exit code, kExitDone when it is open.
int OpenSource(const char* command, const SourceArgs& source, ScanRun& run) {
  DriveTable& table = DefaultDriveTable();
  std::string err;
  const int drive = ResolveDrive(table, source, &err);
  if (drive < 0) {
    std::fprintf(stderr, "trawlex %s: %s\n", command, err.c_str());
    return kExitSourceUnreadable;
  }
  int error_number = 0;
  run.path = table.Find(drive)->path;
  run.reader = table.Open(drive, &err, &error_number);
  if (!run.reader) {
    std::fprintf(stderr, "trawlex %s: cannot read %s: %s\n", command, run.path.c_str(),
                 err.c_str());
    if (IsAccessRefused(error_number))
      std::fprintf(stderr, "trawlex %s: %s\n", command,
                   ::geteuid() == 0
                       ? "the system refuses this disk even to root; scan an image of it instead"
                       : "run as root (sudo trawlex ...), or scan an image of the disk instead");
    return kExitSourceUnreadable;
  }
  run.disk.SetDriveNumber(drive);
  run.disk.SetSectorCount(run.reader->SectorCount());
  return kExitDone;
}

/// Makes the opened source's free space the thing searched: the file systems found are said on
/// stderr, and what cannot be read of them is searched whole.
void SearchFreeSpaceOnly(const char* command, ScanRun& run) {
  CatchStopSignals();
  run.layout = FindFreeSpace(*run.reader, true);
  const FreeSpaceLayout& layout = run.layout;
  for (const FileSystemArea& fs : layout.file_systems)
    std::fprintf(stderr, "trawlex %s: %s at sector %llu: %s free of %s searched\n", command,
                 fs.type.c_str(), static_cast<unsigned long long>(fs.offset / 512),
                 FormatFileSize(fs.free_bytes).c_str(), FormatFileSize(fs.length).c_str());
  for (const std::string& note : layout.notes)
    std::fprintf(stderr, "trawlex %s: %s\n", command, note.c_str());
  run.undeleted = CheckDeletedFiles(*run.reader, layout, g_scan_cancel);
  if (!run.undeleted.empty()) {
    const auto good = std::count_if(run.undeleted.begin(), run.undeleted.end(),
                                    [](const UndeletedFile& f) { return f.SavedByDefault(); });
    std::fprintf(stderr,
                 "trawlex %s: %zu deleted files named by the file systems, %lld of them to save "
                 "(the rest failed their checks or their blocks hold other files)\n",
                 command, run.undeleted.size(), static_cast<long long>(good));
  }
  run.stream.SetUndeleted(&run.undeleted, &run.layout);
  run.whole = std::move(run.reader);
  auto stream = std::make_unique<MappedSectorReader>(*run.whole, layout.runs);
  run.place = FoundPlace(stream.get());
  run.stream.SetPlace(run.place);
  run.reader = std::move(stream);
  run.disk.SetSectorCount(run.reader->SectorCount());
}

/// Scans the opened source. Returns an exit code, kExitDone when the scan ran. A scan
/// stuck in a disk that stopped answering prints what was found and ends the process.
int RunScan(const char* command, ScanRun& run, const ScanOptions& options,
            void (*print_found)(ScanRun&)) {
  CatchStopSignals();
  ScanSummary summary;
  const bool ended = RunAbandonable(g_scan_cancel, [&] {
    summary = ScanDisk(*run.reader, run.disk, run.rows, g_scan_cancel, run.progress, options);
  });
  if (!ended) {
    run.left_behind = true;
    run.summary.reason = ScanEnd::kStopped;
    run.summary.error = "the disk did not answer";
    run.summary.total_sectors = run.disk.SectorCount();
    run.summary.examined = run.progress.Examined();
    run.summary.files_found = run.progress.Found();
    print_found(run);
    LeaveStuckThread(command, kExitSourceUnreadable);
  }
  run.summary = summary;
  if (run.summary.reason == ScanEnd::kStopped)
    std::fprintf(stderr, "trawlex %s: stopped at sector %llu\n", command,
                 static_cast<unsigned long long>(run.summary.examined));
  if (run.summary.reason == ScanEnd::kSourceLost) {
    std::fprintf(stderr, "trawlex %s: the disk could not be read past sector %llu: %s\n", command,
                 static_cast<unsigned long long>(run.summary.examined), run.summary.error.c_str());
  }
  return kExitDone;
}

/// The retry passes and the bad-sector map named by --bad-map, when there is one. False
/// (said on stderr) on bad input: exit 1.
bool LoadBadMap(const char* command, const ScanArgs& flags, ScanRun& run, ScanOptions& options) {
  if (flags.retry_passes) {
    const std::optional<std::uint32_t> passes = ParseDecimal(*flags.retry_passes);
    if (!passes) {
      std::fprintf(stderr, "trawlex %s: '%s' is not a valid number of retry passes\n", command,
                   flags.retry_passes->c_str());
      return false;
    }
    options.retry_passes = static_cast<int>(std::min<std::uint32_t>(*passes, 1000));
  }
  if (flags.bad_map.empty()) return true;
  std::string err;
  std::error_code ec;
  if (std::filesystem::exists(flags.bad_map, ec) && !run.bad_map.Load(flags.bad_map, &err)) {
    std::fprintf(stderr, "trawlex %s: cannot read the bad-sector map %s: %s\n", command,
                 flags.bad_map.c_str(), err.c_str());
    return false;
  }
  options.bad_map = &run.bad_map;
  return true;
}

/// Writes back the bad-sector map named by --bad-map with what the scan learned.
bool StoreBadMap(const char* command, const ScanArgs& flags, const ScanRun& run) {
  if (flags.bad_map.empty()) return true;
  std::string err;
  if (run.bad_map.Save(flags.bad_map, &err)) return true;
  std::fprintf(stderr, "trawlex %s: cannot write the bad-sector map %s: %s\n", command,
               flags.bad_map.c_str(), err.c_str());
  return false;
}

// The found list as each format prints it; a scan left behind prints it the same way.
std::string g_format = "table";

/// The deleted files the file systems name, one line each: check, size, kind and path.
void PrintUndeleted(const ScanRun& run) {
  if (run.undeleted.empty()) return;
  std::printf("undeleted (%zu)\n", run.undeleted.size());
  for (const UndeletedFile& f : run.undeleted) {
    const std::string path = PrintablePath(f.entry.path);
    std::printf("  %-11s %12llu  %-7s %s\n", std::string(UndeleteCheckName(f.check)).c_str(),
                static_cast<unsigned long long>(f.entry.size),
                f.type >= 0 ? std::string(FileTypeTag(f.type)).c_str() : "-", path.c_str());
  }
}

void PrintFound(ScanRun& run) {
  if (g_format == "table") {
    const std::vector<std::size_t> started = run.progress.Started();
    PrintTable(run.rows, run.summary, run.left_behind ? &started : nullptr);
    PrintUndeleted(run);
  } else {
    run.stream.Finish(run.rows, run.summary);
  }
}

}  // namespace

int RunScanCommand(const ScanArgs& args) {
  std::string err;
  if (!CheckSource(args.source, &err)) {
    std::fprintf(stderr, "trawlex scan: %s\n", err.c_str());
    return kExitUsage;
  }
  g_format = args.format;
  ScanRun run(args.format, args.real_ends);
  if (const int rc = OpenSource("scan", args.source, run); rc != kExitDone) return rc;
  if (args.free_space) SearchFreeSpaceOnly("scan", run);
  ScanOptions options;
  options.real_ends = args.real_ends;
  if (!LoadBadMap("scan", args, run, options)) return kExitUsage;
  run.stream.Begin();
  if (const int rc = RunScan("scan", run, options, PrintFound); rc != kExitDone) return rc;
  PrintFound(run);
  if (!StoreBadMap("scan", args, run)) return kExitSaveFailed;
  return run.summary.reason == ScanEnd::kSourceLost ? kExitSourceUnreadable : kExitDone;
}

namespace {

bool ParseTypes(const std::string& list, bool real_ends, std::vector<bool>& wanted,
                std::string* err) {
  std::fill(wanted.begin(), wanted.end(), false);
  std::stringstream in(list);
  std::string tag;
  while (std::getline(in, tag, ',')) {
    const int row = FindFileType(tag);
    if (row < 0) {
      *err = "unknown file type '" + tag + "' (see trawlex types)";
      return false;
    }
    if (row >= ListedTypeCount(real_ends)) {
      *err = "file type '" + tag + "' is found only with --real-ends or --free-space";
      return false;
    }
    wanted[static_cast<std::size_t>(row)] = true;
  }
  return true;
}

/// The nearest folder of `path` (itself or a parent) that exists.
std::string ExistingFolder(const std::string& path) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::absolute(path, ec);
  while (!p.empty() && !std::filesystem::exists(p, ec) && p != p.parent_path()) p = p.parent_path();
  return p.string();
}

/// Follows the save for the moment its disk stops answering: the file being written.
class SaveWatch final : public SaveObserver {
 public:
  void CurrentFile(const std::string& name) override {
    std::lock_guard lock(mutex_);
    if (!name.empty()) current_ = name;
  }
  [[nodiscard]] std::string Current() {
    std::lock_guard lock(mutex_);
    return current_;
  }

 private:
  std::mutex mutex_;
  std::string current_;
};

}  // namespace

namespace {

std::string g_command_line;

/// Writes the recovery report of the files `totals` names into `folder`; false (said on
/// stderr) when it cannot be written.
bool WriteReport(const ScanRun& run, const ScanOptions& options, std::uint32_t max_mb,
                 const std::string& folder, const std::vector<std::vector<TfileExt>>& work,
                 const std::vector<UndeletedFile>& undeleted, const SaveTotals& totals,
                 std::chrono::system_clock::time_point started) {
  ReportSource source;
  source.image_filename = run.path;
  source.image_size = (run.whole ? run.whole : run.reader)->SizeBytes();
  source.sector_count = run.summary.total_sectors;
  source.sectors_examined = run.summary.examined;
  source.unreadable_sectors = run.summary.unreadable;
  source.real_ends = options.real_ends;
  source.size_limit_mb = max_mb;
  source.retry_passes = options.retry_passes;
  source.command_line = g_command_line;
  source.start_time = started;
  source.end_time = std::chrono::system_clock::now();
  std::string err;
  const FreeSpaceLayout* layout = run.whole ? &run.layout : nullptr;
  if (WriteRecoveryReport(folder, source, work, totals.written, &err, run.place, layout, undeleted))
    return true;
  std::fprintf(stderr, "trawlex recover: the recovery report could not be written: %s\n",
               err.c_str());
  return false;
}

}  // namespace

void SetCommandLine(std::string line) {
  g_command_line = std::move(line);
}

int RunRecoverCommand(const RecoverArgs& args) {
  const auto started = std::chrono::system_clock::now();
  const ScanArgs& flags = args.scan;
  const std::string& out_dir = args.out_dir;
  std::string err;
  std::vector<bool> wanted(kFileTypeCount, true);
  const std::optional<std::uint32_t> max_mb = ParseDecimal(args.max_mb);
  if (!max_mb)
    err =
        "'" + args.max_mb + "' is not a valid integer value (a whole number of MB, 0 for no limit)";
  if (err.empty() && out_dir.empty()) err = "name the folder to save into with -o DIR";
  if (err.empty() && !args.types.empty())
    ParseTypes(args.types, flags.real_ends || flags.free_space, wanted, &err);
  if (err.empty()) CheckSource(flags.source, &err);
  if (!err.empty()) {
    std::fprintf(stderr, "trawlex recover: %s\n", err.c_str());
    return kExitUsage;
  }
  const bool report = !args.no_report;

  // The source first: a missing disk leaves no folder behind.
  ScanRun run("table", flags.real_ends);
  if (const int rc = OpenSource("recover", flags.source, run); rc != kExitDone) return rc;
  if (flags.free_space) SearchFreeSpaceOnly("recover", run);
  const SourceIdentity identity = IdentifySource(run.path);
  if (const std::string problem = OutputFolderProblem(identity, ExistingFolder(out_dir));
      !problem.empty()) {
    std::fprintf(stderr, "trawlex recover: will not save into %s: %s\n", out_dir.c_str(),
                 problem.c_str());
    return kExitSaveFailed;
  }
  std::error_code ec;
  std::filesystem::create_directories(out_dir, ec);
  if (!std::filesystem::is_directory(out_dir)) {
    std::fprintf(stderr, "trawlex recover: cannot use %s as the folder to save into: %s\n",
                 out_dir.c_str(), ec ? ec.message().c_str() : "not a folder");
    return kExitSaveFailed;
  }

  g_format = "table";
  ScanOptions options;
  options.real_ends = flags.real_ends;
  options.size_limit = std::uint64_t{*max_mb} << 20;
  if (!LoadBadMap("recover", flags, run, options)) return kExitUsage;
  if (const int rc = RunScan("recover", run, options, PrintFound); rc != kExitDone) return rc;
  PrintTable(run.rows, run.summary);
  PrintUndeleted(run);
  if (!StoreBadMap("recover", flags, run)) return kExitSaveFailed;
  if (run.summary.reason == ScanEnd::kSourceLost) return kExitSourceUnreadable;

  std::vector<std::vector<TfileExt>> work;
  for (int k = 0; k < run.rows.size(); ++k)
    if (wanted[static_cast<std::size_t>(k)] && run.rows[k].Count() > 0)
      work.push_back(run.rows[k].Files());
  // Undeleted files are saved by their names; found files that are the same bytes once only.
  std::vector<NamedFile> named;
  std::vector<UndeletedFile> to_save;
  for (const UndeletedFile& f : run.undeleted) {
    if (!f.SavedByDefault() && !args.all_undeleted) continue;
    if (!args.types.empty() && (f.type < 0 || !wanted[static_cast<std::size_t>(f.type)])) continue;
    to_save.push_back(f);
    named.push_back({f.saved_path, f.entry.size, f.entry.runs, f.entry.content});
  }
  if (!run.undeleted.empty()) work = WithoutUndeleted(work, run.place, to_save, run.layout);
  // A Ctrl-C that stopped the scan still saves what was found; the next one stops the save.
  SaveWatch watch;
  FileSaver saver(*run.reader, out_dir, *max_mb, g_save_cancel, watch);
  saver.SetSource(identity);
  saver.SetPlace(run.place);
  g_saving.store(true);
  std::optional<SaveError> failure;
  const bool ended = RunAbandonable(g_save_cancel, [&] {
    try {
      saver.Save(work, named, run.whole ? run.whole.get() : run.reader.get());
    } catch (const SaveError& e) {
      failure = e;
    }
  });
  if (!ended) {
    std::fprintf(stderr, "trawlex recover: %s is incomplete\n", watch.Current().c_str());
    LeaveStuckThread("recover", kExitSourceUnreadable);
  }
  g_saving.store(false);
  const SaveTotals& totals = saver.Totals();
  for (const auto& name : totals.written) std::printf("saved %s\n", name.c_str());
  if (!totals.incomplete.empty())
    std::printf("%s %s (incomplete: it keeps what was written)\n", failure ? "failed" : "stopped",
                totals.incomplete.c_str());
  std::printf("saved %zu files (%s) into %s", totals.files_written,
              FormatFileSize(totals.bytes_written).c_str(), out_dir.c_str());
  if (totals.unreadable_sectors > 0)
    std::printf(", %llu unreadable sectors written as zeros",
                static_cast<unsigned long long>(totals.unreadable_sectors));
  std::printf("\n");
  const bool reported =
      !report || WriteReport(run, options, *max_mb, out_dir, work, to_save, totals, started);
  if (failure) {
    std::fprintf(stderr, "trawlex recover: %s (%s)\n", failure->what(), failure->reason().c_str());
    return failure->end() == SaveEnd::kSourceLost ? kExitSourceUnreadable : kExitSaveFailed;
  }
  if (totals.end == SaveEnd::kStopped) {
    std::fprintf(stderr, "trawlex recover: the save was stopped\n");
    return kExitSaveFailed;
  }
  return reported ? kExitDone : kExitSaveFailed;
}
