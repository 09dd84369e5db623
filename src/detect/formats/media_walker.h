#pragma once

#include "detect/file_end.h"
#include "detect/formats/format_bytes.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

/// Byte readers and a record walker shared by the picture, raw, sound and video formats.
namespace media {

/// Four bytes that can name a chunk: letters, digits, space or a few marks.
[[nodiscard]] bool IsFourCc(const std::uint8_t* p);

/// Walks a file made of headers and bodies: the subclass asks for the next bytes to be
/// gathered into a small buffer (even across pieces) after skipping some, and judges
/// each gathered record in OnRecord.
class Walker : public EndFinder {
 public:
  explicit Walker(std::size_t capacity) : buffer_(capacity) {}
  EndVerdict Feed(std::span<const std::uint8_t> data) final;

 protected:
  /// The `size` bytes asked for, which start at file offset `at`. Ask for the next with
  /// Gather and return kNeedMore, or return the answer.
  virtual EndVerdict OnRecord(const std::uint8_t* record, std::size_t size, std::uint64_t at) = 0;
  /// Bytes passed over by a skip, for formats that check sums over their bodies.
  virtual void OnSkipped(const std::uint8_t* /*data*/, std::size_t /*size*/) {}
  /// Skip `skip` bytes, then gather `size` (at most the capacity; 0 calls back at once).
  void Gather(std::size_t size, std::uint64_t skip = 0);
  [[nodiscard]] std::size_t Capacity() const { return buffer_.size(); }
  /// The offset of the next byte to be taken.
  [[nodiscard]] std::uint64_t Position() const { return position_; }

 private:
  std::vector<std::uint8_t> buffer_;
  std::size_t want_ = 0, have_ = 0;
  std::uint64_t skip_ = 0, position_ = 0;
  bool asked_ = false;
};

/// A finder for a file whose headers state its whole length.
[[nodiscard]] std::unique_ptr<EndFinder> FixedLengthFinder(std::uint64_t size);

}  // namespace media
