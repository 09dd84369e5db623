#include "detect/file_catalogue.h"
#include "detect/formats/record_walker.h"

using namespace document_walk;

namespace {

/// Header length, record count and record length, checked against the field list when
/// it lies within the bytes seen. 0: not a table.
std::uint64_t StatedSize(const std::uint8_t* d, std::size_t available) {
  if (available < 64) return 0;
  const unsigned month = d[2], day = d[3];
  if (month < 1 || month > 12 || day < 1 || day > 31) return 0;
  const std::uint64_t records = Le32(d + 4);
  const unsigned header = Le16(d + 8), record = Le16(d + 10);
  if (header < 65 || record < 2) return 0;
  // Field descriptors of 32 bytes end with 0x0D; their lengths add up to the record.
  unsigned fields_length = 1;
  std::size_t at = 32;
  for (; at + 32 <= header && at < available && d[at] != 0x0D; at += 32) {
    if (at + 32 > available) return records * record + header;
    if (d[at] == 0) return 0;
    fields_length += d[at + 16];
  }
  if (at >= available) return records * record + header;
  if (d[at] != 0x0D || fields_length != record) return 0;
  return records * record + header;
}

}  // namespace

bool DbfStart(const std::uint8_t* data, std::size_t available) {
  return StatedSize(data, available) != 0;
}

std::unique_ptr<EndFinder> DbfEnd(const std::uint8_t* data, std::size_t available) {
  return FixedLengthEnd(StatedSize(data, available), 0x1A);
}

const FileKind kDbfKind{
    .tag = "DBF", .description = "dBASE table", .check = DbfStart, .make_finder = DbfEnd};
