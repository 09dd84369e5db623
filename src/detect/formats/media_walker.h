#pragma once

#include "detect/file_end.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

/// Byte readers and a record walker shared by the picture, raw, sound and video formats.
namespace media {

[[nodiscard]] inline std::uint16_t Le16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
[[nodiscard]] inline std::uint32_t Le32(const std::uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t{p[3]} << 24);
}
[[nodiscard]] inline std::uint64_t Le64(const std::uint8_t* p) {
  return Le32(p) | (std::uint64_t{Le32(p + 4)} << 32);
}
[[nodiscard]] inline std::uint16_t Be16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}
[[nodiscard]] inline std::uint32_t Be32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}
[[nodiscard]] inline std::uint64_t Be64(const std::uint8_t* p) {
  return (std::uint64_t{Be32(p)} << 32) | Be32(p + 4);
}

[[nodiscard]] inline EndVerdict NeedMore() {
  return {};
}
[[nodiscard]] inline EndVerdict EndsAt(std::uint64_t end) {
  return {EndVerdict::State::kEnds, end};
}
[[nodiscard]] inline EndVerdict BrokenAt(std::uint64_t end) {
  return {EndVerdict::State::kBroken, end};
}
[[nodiscard]] inline EndVerdict Unknown() {
  return {EndVerdict::State::kUnknown, 0};
}

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
