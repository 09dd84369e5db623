#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

/// What is known of a run of sectors that did not read.
enum class SectorState {
  kSkipped,  ///< passed over after a nearby failure, not tried yet
  kBad,      ///< tried on its own and failed
};

/// A run of 512-byte sectors [first, end).
struct SectorRange {
  std::uint64_t first = 0;
  std::uint64_t end = 0;
  SectorState state = SectorState::kBad;

  [[nodiscard]] std::uint64_t Count() const { return end - first; }
  bool operator==(const SectorRange&) const = default;
};

/// The sectors of one disk that did not read, as sorted, merged ranges of 512-byte LBAs.
/// Safe to use from several threads. Saved as plain text, one range per line:
///
///   # comment
///   FIRST-LAST STATE
///
/// FIRST and LAST are decimal 512-byte LBAs, both included; "-LAST" may be left out for
/// one sector. STATE is "skipped" or "bad"; left out it means bad.
class BadSectorMap {
 public:
  BadSectorMap() = default;
  BadSectorMap(const BadSectorMap&) = delete;
  BadSectorMap& operator=(const BadSectorMap&) = delete;

  /// Sets sectors [first, end) to `state`, whatever was known of them before.
  void Mark(std::uint64_t first, std::uint64_t end, SectorState state);
  /// Forgets sectors [first, end): they read.
  void MarkGood(std::uint64_t first, std::uint64_t end);
  void Clear();

  /// The state of sector `lba`, or none when it is not in the map.
  [[nodiscard]] std::optional<SectorState> StateOf(std::uint64_t lba) const;
  /// The first range of the map meeting [first, end), cut to it; none when there is none.
  [[nodiscard]] std::optional<SectorRange> NextKnown(std::uint64_t first, std::uint64_t end) const;
  /// Sectors in `state`.
  [[nodiscard]] std::uint64_t Count(SectorState state) const;
  /// Every range, or only those in `state`, in LBA order.
  [[nodiscard]] std::vector<SectorRange> Ranges() const;
  [[nodiscard]] std::vector<SectorRange> Ranges(SectorState state) const;

  /// Replaces the map with the file's ranges. On failure the map is unchanged and `err`
  /// says which line is wrong and why.
  bool Load(const std::string& path, std::string* err);
  /// Writes the map, with a header that explains the format, through a temporary file.
  bool Save(const std::string& path, std::string* err) const;

  /// Parses the text of a map file; false with the line and reason in `err`.
  static bool Parse(const std::string& text, std::vector<SectorRange>& out, std::string* err);
  /// The text Save writes.
  [[nodiscard]] std::string Format() const;

 private:
  struct Run {
    std::uint64_t end;
    SectorState state;
  };
  void RemoveLocked(std::uint64_t first, std::uint64_t end);

  mutable std::mutex mutex_;
  std::map<std::uint64_t, Run> runs_;  ///< keyed by first sector
};

/// "skipped" or "bad".
[[nodiscard]] const char* SectorStateName(SectorState state);
