#include "detect/format_table.h"

#include "detect/file_catalogue.h"

#include <algorithm>
#include <array>
#include <vector>

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

int FindFileType(std::string_view tag) {
  for (int i = 0; i < kFileTypeCount; ++i)
    if (FileTypeTag(i) == tag) return i;
  return -1;
}

namespace {

/// One start test of the starts the chain does not name: a kind after the chain's, or a
/// writer of a chain kind that the chain never knew.
struct StartTest {
  int row;
  const FileKind* kind;
  bool unchained;
};

/// The start tests by the first byte of a sector, in catalogue order; a test shared by
/// several kinds is tried once, for the first of them.
const std::array<std::vector<StartTest>, 256>& StartTestsByFirstByte() {
  static const auto table = [] {
    std::array<std::vector<StartTest>, 256> tests;
    std::vector<StartCheckFn> seen;  // the checks today's kinds share
    for (int row = 0; row < kFileTypeCount; ++row) {
      const FileKind& kind = FileKindAt(row);
      const bool unchained = row < kChainTypeCount;
      if (unchained ? kind.unchained == nullptr : kind.check == nullptr) continue;
      if (!unchained) {
        if (std::find(seen.begin(), seen.end(), kind.check) != seen.end()) continue;
        seen.push_back(kind.check);
      }
      for (int b = 0; b < 256; ++b)
        if (kind.first_bytes.empty() ||
            kind.first_bytes.find(static_cast<char>(b)) != std::string_view::npos)
          tests[static_cast<std::size_t>(b)].push_back({row, &kind, unchained});
    }
    return tests;
  }();
  return table;
}

/// The row of `tag` when it names a kind, else `fallback`.
int RowOf(std::string_view tag, int fallback) {
  if (tag.empty()) return fallback;
  const int row = FindFileType(tag);
  return row >= 0 ? row : fallback;
}

/// `row` as the kind's naming sees the bytes.
int Named(int row, const std::uint8_t* data, std::size_t available) {
  const FileKind& kind = FileKindAt(row);
  return kind.name != nullptr ? RowOf(kind.name(data, available), row) : row;
}

/// A start the chain did not name, or -1.
int UnchainedStart(const std::uint8_t* data, std::size_t available) {
  if (available == 0) return -1;
  for (const StartTest& test : StartTestsByFirstByte()[data[0]]) {
    if (test.unchained) {
      if (const int row = RowOf(test.kind->unchained(data, available), -1); row >= 0)
        return Named(row, data, available);
    } else if (test.kind->check(data, available)) {
      return Named(test.row, data, available);
    }
  }
  return -1;
}

}  // namespace

int CheckFileStart(int row, const std::uint8_t* data, std::size_t available) {
  if (row < 0 || row >= kFileTypeCount) return UnchainedStart(data, available);
  const FileKind& kind = FileKindAt(row);
  // A compound document whose fixed offsets named the wrong kind is named by its directory.
  if (kind.check != nullptr && !kind.check(data, available)) return UnchainedStart(data, available);
  return Named(row, data, available);
}

std::unique_ptr<EndFinder> MakeEndFinder(int row, const std::uint8_t* data, std::size_t available) {
  if (row < 0 || row >= kFileTypeCount) return nullptr;
  const FileKind& kind = FileKindAt(row);
  return kind.make_finder != nullptr ? kind.make_finder(data, available) : nullptr;
}

int NamedRow(int row, const EndFinder& finder) {
  return RowOf(finder.NamedTag(), row);
}
