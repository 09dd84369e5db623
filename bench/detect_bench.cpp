// Detector throughput on the three kinds of sector a disk is mostly made of.

#include "detect/file_detect.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kSectors = 2048;  // one scan chunk
constexpr std::size_t kSlack = 2048;

std::vector<std::uint8_t> Chunk(const std::string& kind) {
  std::vector<std::uint8_t> bytes(kSectors * 512 + kSlack, 0);
  if (kind == "random") {
    std::mt19937_64 rng(42);
    for (std::size_t i = 0; i < kSectors * 512; i += 8) {
      const std::uint64_t v = rng();
      std::memcpy(&bytes[i], &v, 8);
    }
  } else if (kind == "text") {
    const std::string line =
        "The quick brown fox jumps over the lazy dog; lorem ipsum dolor sit amet. ";
    for (std::size_t i = 0; i < kSectors * 512; ++i)
      bytes[i] = static_cast<std::uint8_t>(line[i % line.size()]);
  }
  return bytes;
}

void DetectChunk(benchmark::State& state, const std::string& kind) {
  const auto bytes = Chunk(kind);
  std::string tag;
  for (auto _ : state) {
    int found = 0;
    for (std::size_t s = 0; s < kSectors; ++s)
      found += DetectFileType(&bytes[s * 512], 512, tag, 255);
    benchmark::DoNotOptimize(found);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kSectors * 512));
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kSectors));
}

void BM_DetectRandom(benchmark::State& state) {
  DetectChunk(state, "random");
}
void BM_DetectZero(benchmark::State& state) {
  DetectChunk(state, "zero");
}
void BM_DetectText(benchmark::State& state) {
  DetectChunk(state, "text");
}

BENCHMARK(BM_DetectRandom);
BENCHMARK(BM_DetectZero);
BENCHMARK(BM_DetectText);

}  // namespace

BENCHMARK_MAIN();
