#pragma once

#include <cstddef>
#include <cstdint>

/// One block of memory for buffers that are filled over and over, such as a scan's chunk
/// buffers. Where the system offers large pages the block asks for them, so that filling
/// it the first time costs a few page faults rather than one for every 4 KiB.
class BulkMemory {
 public:
  /// Throws std::bad_alloc when the memory is not there.
  explicit BulkMemory(std::size_t bytes);
  ~BulkMemory();
  BulkMemory(const BulkMemory&) = delete;
  BulkMemory& operator=(const BulkMemory&) = delete;

  [[nodiscard]] std::uint8_t* data() const { return bytes_; }
  [[nodiscard]] std::size_t size() const { return size_; }

 private:
  std::uint8_t* bytes_;
  std::size_t size_;
};
