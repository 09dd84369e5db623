#include "detect/format_table.h"

#include "detect/file_catalogue.h"
#include "detect/formats/extra_starts.h"

#include <array>

std::string_view EndReasonName(EndReason reason) {
  switch (reason) {
    case EndReason::kNextStart:
      return "next-start";
    case EndReason::kFormat:
      return "format";
    case EndReason::kDiskEnd:
      return "disk-end";
    case EndReason::kLimit:
      return "limit";
    case EndReason::kBroken:
      return "broken";
  }
  return "next-start";
}

namespace {

/// Row -> record, built once from the families' lists.
const std::array<const FormatRecord*, kFileTypeCount>& RecordsByRow() {
  static const auto table = [] {
    std::array<const FormatRecord*, kFileTypeCount> rows{};
    for (const auto family : {ImageFormats(), DocumentFormats()})
      for (const FormatRecord& record : family)
        if (const int row = FindFileType(record.tag); row >= 0)
          rows[static_cast<std::size_t>(row)] = &record;
    return rows;
  }();
  return table;
}

}  // namespace

const FormatRecord* FindFormatRecord(int row) {
  if (row < 0 || row >= kFileTypeCount) return nullptr;
  return RecordsByRow()[static_cast<std::size_t>(row)];
}

int CheckFileStart(int row, const std::uint8_t* data, std::size_t available) {
  if (row < 0) return ExtraFileStart(data, available);
  const FormatRecord* record = FindFormatRecord(row);
  if (record == nullptr || record->check == nullptr) return row;
  // A compound document whose fixed offsets named the wrong kind is named by its directory.
  return record->check(data, available) ? row : ExtraFileStart(data, available);
}

std::unique_ptr<EndFinder> MakeEndFinder(int row, const std::uint8_t* data, std::size_t available) {
  const FormatRecord* record = FindFormatRecord(row);
  if (record == nullptr || record->make_finder == nullptr) return nullptr;
  return record->make_finder(data, available);
}
