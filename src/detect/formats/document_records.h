#pragma once

#include "detect/file_end.h"

#include <cstddef>
#include <cstdint>
#include <memory>

/// The checks and end finders of documents, archives, programs and text, one pair per
/// format, each defined in its family's file beside this one.
#define TRAWLEX_FORMAT(name)                                                       \
  [[nodiscard]] bool name##Start(const std::uint8_t* data, std::size_t available); \
  [[nodiscard]] std::unique_ptr<EndFinder> name##End(const std::uint8_t* data,     \
                                                     std::size_t available);
TRAWLEX_FORMAT(Pdf)
TRAWLEX_FORMAT(Zip)
TRAWLEX_FORMAT(Rar)
TRAWLEX_FORMAT(Arj)
TRAWLEX_FORMAT(Lzh)
TRAWLEX_FORMAT(Tar)
TRAWLEX_FORMAT(Compound)
TRAWLEX_FORMAT(Pst)
TRAWLEX_FORMAT(Dbf)
TRAWLEX_FORMAT(Exe)
TRAWLEX_FORMAT(Hlp)
TRAWLEX_FORMAT(Html)
TRAWLEX_FORMAT(Xml)
TRAWLEX_FORMAT(Rtf)
TRAWLEX_FORMAT(Ps)
TRAWLEX_FORMAT(Ram)
#undef TRAWLEX_FORMAT

/// A finder for a file whose header states its length: it ends after `size` bytes.
/// `trailer` > 0 takes one more byte when it equals `trailer` (a table's end mark).
[[nodiscard]] std::unique_ptr<EndFinder> FixedLengthEnd(std::uint64_t size, int trailer = -1);
