#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

/// How the end of a found file was decided.
enum class EndReason : std::uint8_t {
  kNextStart,  ///< runs to the next (checked) file start: the rule when nothing better is known
  kFormat,     ///< the file's own structure ended there
  kDiskEnd,    ///< the disk ended first
  kLimit,      ///< cut at the per-file size limit
  kBroken,     ///< the structure was cut or inconsistent; saved up to its last valid byte
};

/// "format", "next-start", "disk-end", "limit" or "broken".
[[nodiscard]] std::string_view EndReasonName(EndReason reason);

/// What an end finder knows after the bytes fed so far.
struct EndVerdict {
  enum class State : std::uint8_t {
    kNeedMore,  ///< feed more bytes
    kEnds,      ///< the file ends at byte `end` (its length)
    kBroken,    ///< the structure broke; the valid bytes end at `end`
    kUnknown,   ///< the format cannot tell its end from here: fall back to the next start
  };
  State state = State::kNeedMore;
  std::uint64_t end = 0;
};

/// Follows one file's structure as its bytes go by in disk order. Keeps only a few
/// bytes of state, never the file itself.
class EndFinder {
 public:
  virtual ~EndFinder() = default;
  /// The next `data.size()` bytes of the file, continuing where the last call stopped
  /// (the first call starts at the file's first byte). Once a call answers anything but
  /// kNeedMore, no more bytes are fed.
  virtual EndVerdict Feed(std::span<const std::uint8_t> data) = 0;
  /// The bytes ran out (the disk ended, or the caller gives up): the final answer.
  /// The default calls whatever is still open broken at the bytes fed so far.
  virtual EndVerdict Finish(std::uint64_t fed) { return {EndVerdict::State::kBroken, fed}; }
  /// The tag of the kind the structure showed the file to be, once it has answered, when
  /// that tells more than its start did (a ZIP whose members are an Office document's);
  /// empty keeps the kind it was found as.
  [[nodiscard]] virtual std::string_view NamedTag() const { return {}; }
};

/// A closer look at a start the detector named. `data` is the start sector's first
/// byte with `available` readable bytes (at least 4096 unless the disk ends sooner).
using StartCheckFn = bool (*)(const std::uint8_t* data, std::size_t available);
/// A finder for a file that passed its check, or null when the format cannot tell its end.
using MakeEndFinderFn = std::unique_ptr<EndFinder> (*)(const std::uint8_t* data,
                                                       std::size_t available);

/// Bytes a start check may rely on being readable after the sector's first byte.
inline constexpr std::size_t kStartCheckBytes = 4096;
