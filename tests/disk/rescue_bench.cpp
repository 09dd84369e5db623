// rescue_bench: figures for reading a failing disk through FUSE and a loop device.
// Not a test: run by hand as root, `rescue_bench [MiB]` (default 512).

#include "disk/bad_sector_map.h"
#include "disk/rescue_reader.h"
#include "disk/sector_reader.h"
#include "support/failing_disk.h"
#include "support/temp_dir.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>

#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

struct Run {
  double seconds = 0;
  double fast_seconds = 0;  ///< the fast pass alone
  RescueStats stats;
  std::string lost;
};

/// The fast pass in 1 MiB chunks, the page cache dropped behind it, then the retries.
Run ReadThrough(const std::string& path) {
  Run run;
  std::string err;
  auto reader = OpenSectorReader(path, &err);
  if (!reader) {
    std::fprintf(stderr, "%s: %s\n", path.c_str(), err.c_str());
    std::exit(1);
  }
  BadSectorMap map;
  RescueReader rescue(*reader, map);
  std::vector<std::uint8_t> chunk(1 << 20);
  const auto start = Clock::now();
  for (std::uint64_t at = 0; at < reader->SizeBytes(); at += chunk.size()) {
    const ForwardRead r = rescue.ReadForward(at, chunk.data(), chunk.size());
    reader->Forget(at, chunk.size());
    if (r.lost) {
      run.lost = r.lost_reason;
      break;
    }
  }
  run.fast_seconds = Seconds(start);
  CancelToken cancel;
  run.stats = rescue.Retry(cancel, nullptr);
  run.seconds = Seconds(start);
  return run;
}

void Print(const char* what, const Run& run) {
  std::printf(
      "%-32s %7.2f s (fast pass %6.2f s)  skipped %6llu  retried %6llu  unreadable %5llu%s%s\n",
      what, run.seconds, run.fast_seconds, static_cast<unsigned long long>(run.stats.skipped),
      static_cast<unsigned long long>(run.stats.retried),
      static_cast<unsigned long long>(run.stats.unreadable),
      run.lost.empty() ? "" : "  lost: ", run.lost.c_str());
}

}  // namespace

int main(int argc, char* argv[]) {
  const std::uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 512;
  TempDir dir;
  const std::string image = dir / "disk.img";
  {
    // Random bytes, so nothing on the way can skip reading them.
    std::vector<std::uint8_t> block(1 << 20);
    std::mt19937_64 random(1);
    FILE* f = std::fopen(image.c_str(), "wb");
    for (std::uint64_t i = 0; i < mib; ++i) {
      for (auto& b : block) b = static_cast<std::uint8_t>(random());
      std::fwrite(block.data(), 1, block.size(), f);
    }
    std::fclose(f);
  }
  FailingDisk disk(image, {.loop = true});
  if (!disk.Ready()) {
    std::fprintf(stderr, "rescue_bench %s\n", disk.Why().c_str());
    return 1;
  }
  const std::uint64_t sectors = mib << 11;
  std::printf("%llu MiB through faulty_fs and %s\n", static_cast<unsigned long long>(mib),
              disk.Path().c_str());

  Print("clean", ReadThrough(disk.Path()));
  const std::size_t clean_reads = disk.Reads().size();

  disk.Control("fail " + std::to_string(sectors / 3) + "\n");
  Print("1 failing sector", ReadThrough(disk.Path()));

  std::string lines;
  std::mt19937_64 random(2);
  for (int i = 0; i < 100; ++i) lines += "fail " + std::to_string(random() % sectors) + "\n";
  disk.Control(lines);
  disk.ClearReads();
  Print("100 scattered failing sectors", ReadThrough(disk.Path()));
  std::printf("reads reaching the file system: clean %zu, with 100 failing sectors %zu\n",
              clean_reads, disk.Reads().size());

  // The source vanishes a quarter of the way through.
  disk.Control("");
  {
    std::string err;
    auto reader = OpenSectorReader(disk.Path(), &err);
    BadSectorMap map;
    RescueReader rescue(*reader, map);
    std::vector<std::uint8_t> chunk(1 << 20);
    std::uint64_t at = 0;
    for (; at < reader->SizeBytes() / 4; at += chunk.size()) {
      rescue.ReadForward(at, chunk.data(), chunk.size());
      reader->Forget(at, chunk.size());
    }
    disk.Control("vanish EIO\n");
    const auto start = Clock::now();
    ForwardRead r;
    for (; at < reader->SizeBytes() && !r.lost; at += chunk.size())
      r = rescue.ReadForward(at, chunk.data(), chunk.size());
    std::printf("%-44s %7.2f s  after %llu MiB more: %s\n", "vanish (EIO) to the lost verdict",
                Seconds(start), static_cast<unsigned long long>((at >> 20) - mib / 4),
                r.lost ? r.lost_reason.c_str() : "not lost");
  }
  return 0;
}
