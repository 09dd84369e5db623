// Large blocks on Linux: aligned to the transparent huge page size and marked for huge
// pages, which the kernel grants when it is set to "madvise" or "always".

#include "disk/bulk_memory.h"

#include <cstdlib>
#include <new>

#include <sys/mman.h>

namespace {
constexpr std::size_t kHugePage = std::size_t{2} << 20;
}  // namespace

BulkMemory::BulkMemory(std::size_t bytes) : size_((bytes + kHugePage - 1) / kHugePage * kHugePage) {
  bytes_ =
      static_cast<std::uint8_t*>(std::aligned_alloc(kHugePage, size_ == 0 ? kHugePage : size_));
  if (bytes_ == nullptr) throw std::bad_alloc();
  ::madvise(bytes_, size_, MADV_HUGEPAGE);  // a hint: without it the block is simply slower
}

BulkMemory::~BulkMemory() {
  std::free(bytes_);
}
