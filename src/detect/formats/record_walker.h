#pragma once

#include "detect/file_end.h"
#include "detect/formats/format_bytes.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

/// Helpers of the document, archive and program finders.
namespace document_walk {

/// Finds a marker of up to 64 bytes in a stream of pieces; a match may straddle pieces.
/// ASCII letters of the marker after its first byte may match either case.
class MarkerSearch {
 public:
  static constexpr std::size_t kNotFound = static_cast<std::size_t>(-1);
  explicit MarkerSearch(std::string_view marker, bool fold_case = false);
  /// The index in `data` just past the first match that ends there, or kNotFound.
  /// The bytes after a match are not remembered: the next call starts afresh.
  [[nodiscard]] std::size_t Find(const std::uint8_t* data, std::size_t size);
  void Reset() { carried_ = 0; }

 private:
  [[nodiscard]] bool MatchesAt(const std::uint8_t* p) const;
  std::string_view marker_;
  bool fold_case_;
  std::uint8_t carry_[64]{};
  std::size_t carried_ = 0;
};

/// An end finder for formats made of headers and bodies. The subclass asks for the next
/// bytes to be gathered (into a small buffer, even across pieces) or skipped, or for a
/// marker to be sought, and judges each gathered record in OnRecord.
class RecordWalker : public EndFinder {
 public:
  explicit RecordWalker(std::size_t max_record) : buffer_(max_record) {}
  EndVerdict Feed(std::span<const std::uint8_t> data) final;

 protected:
  /// The `size` bytes asked for, which start at file offset `at`. Ask for the next
  /// with Gather or Seek and return kNeedMore, or return the answer.
  virtual EndVerdict OnRecord(const std::uint8_t* record, std::size_t size, std::uint64_t at) = 0;
  /// Bytes passed over by a skip, for formats that check sums over their bodies.
  virtual void OnSkipped(const std::uint8_t* /*data*/, std::size_t /*size*/) {}
  /// Skip `skip` bytes, then gather `size` (at most the buffer's size; 0 calls back at once).
  void Gather(std::size_t size, std::uint64_t skip = 0);
  /// Gather up to `size` bytes in all, keeping the record just handed over as their start.
  void Extend(std::size_t size);
  /// Seek `marker` (static text), then gather `size` bytes from the marker's first byte.
  void Seek(std::string_view marker, std::size_t size);
  /// Bytes taken so far: the file offset of the next byte.
  [[nodiscard]] std::uint64_t Taken() const { return taken_; }
  /// The most a record may hold.
  [[nodiscard]] std::size_t Capacity() const { return buffer_.size(); }

 private:
  std::vector<std::uint8_t> buffer_;
  std::size_t want_ = 0, have_ = 0, handed_ = 0;
  std::uint64_t skip_ = 0, taken_ = 0;
  bool asked_ = false;
  bool seeking_ = false;
  MarkerSearch search_{""};
  std::string_view marker_;
};

}  // namespace document_walk

/// A finder for a file whose header states its length: it ends after `size` bytes.
/// `trailer` > 0 takes one more byte when it equals `trailer` (a table's end mark).
[[nodiscard]] std::unique_ptr<EndFinder> FixedLengthEnd(std::uint64_t size, int trailer = -1);
