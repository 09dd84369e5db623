#include "detect/file_catalogue.h"
#include "detect/formats/record_walker.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <string_view>

using namespace document_walk;

namespace {

constexpr std::uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr std::uint32_t kFree = 0xFFFFFFFF, kEndOfChain = 0xFFFFFFFE, kMaxSector = 0xFFFFFFFA;

/// The header's sizes: version 3 with 512-byte sectors or 4 with 4096, mini sectors of 64.
struct OleHeader {
  std::uint32_t sector_size = 0;
  std::uint32_t fat_sectors = 0;
  std::uint32_t directory = 0;
  std::uint32_t first_difat = 0;
  std::uint32_t difat_sectors = 0;
};

bool ReadHeader(const std::uint8_t* d, std::size_t available, OleHeader& h) {
  if (available < 512 || std::memcmp(d, kSignature, 8) != 0) return false;
  const unsigned major = Le16(d + 26), shift = Le16(d + 30);
  if (Le16(d + 28) != 0xFFFE || Le16(d + 32) != 6) return false;
  if (!((major == 3 && shift == 9) || (major == 4 && shift == 12))) return false;
  h.sector_size = 1u << shift;
  h.fat_sectors = Le32(d + 44);
  h.directory = Le32(d + 48);
  h.first_difat = Le32(d + 68);
  h.difat_sectors = Le32(d + 72);
  if (h.fat_sectors == 0 || h.fat_sectors > (1u << 22) || h.directory > kMaxSector) return false;
  if (h.difat_sectors == 0 && h.fat_sectors > 109) return false;
  return true;
}

/// The catalogue row a directory sector's entries name, or -1.
int RowByDirectory(const std::uint8_t* sector, std::uint32_t size) {
  struct Name {
    std::string_view name;
    std::string_view tag;
    bool prefix;
  };
  static constexpr Name kNames[] = {
      {"WordDocument", "DOC", false},  {"Workbook", "XLS", false},
      {"Book", "XLS", false},          {"PowerPoint Document", "PPT", false},
      {"VisioDocument", "VSD", false}, {"Quill", "PUB", false},
      {"   1", "MPP", true},
  };
  int best = -1;
  std::size_t best_rank = std::size(kNames);
  for (std::uint32_t at = 0; at + 128 <= size; at += 128) {
    const std::uint8_t* entry = sector + at;
    const unsigned length = Le16(entry + 64);
    if (length < 4 || length > 64 || entry[66] == 0 || entry[66] > 5) continue;
    char name[32];
    std::size_t n = 0;
    for (unsigned i = 0; i + 2 < length && n < sizeof name; i += 2)
      name[n++] = entry[i + 1] == 0 ? static_cast<char>(entry[i]) : '?';
    const std::string_view text(name, n);
    for (std::size_t k = 0; k < best_rank; ++k)
      if (kNames[k].prefix ? text.starts_with(kNames[k].name) : text == kNames[k].name) {
        best_rank = k;
        best = FindFileType(kNames[k].tag);
      }
  }
  return best;
}

/// The highest sector the allocation table uses. The header's list names the table's
/// sectors (more in chained list sectors); each is read as it goes by.
class CompoundFinder final : public RecordWalker {
 public:
  CompoundFinder(const std::uint8_t* d, const OleHeader& h)
      : RecordWalker(h.sector_size), sector_size_(h.sector_size) {
    for (std::uint32_t k = 0; k < 109 && k < h.fat_sectors; ++k) Want(Le32(d + 76 + 4 * k), k);
    next_index_ = 109;
    fat_left_ = h.fat_sectors;
    if (h.difat_sectors > 0) Want(h.first_difat, kDifat);
    fat_total_ = h.fat_sectors;
  }

  /// False when the header names no sector to start from.
  [[nodiscard]] bool Start() { return Next(0).state == EndVerdict::State::kNeedMore; }

 private:
  static constexpr std::uint32_t kDifat = 0xFFFFFFFF;

  void Want(std::uint32_t sector, std::uint32_t index) {
    if (sector > kMaxSector) {
      bad_ = true;
      return;
    }
    wanted_.emplace(sector, index);
  }

  /// Asks for the next wanted sector, or for the last used one's end.
  EndVerdict Next(std::uint64_t taken) {
    if (bad_) return Unknown();
    if (wanted_.empty()) {
      if (fat_left_ > 0) return Unknown();
      const std::uint64_t end = (std::uint64_t{highest_} + 2) * sector_size_;
      phase_end_ = true;
      Gather(0, end - taken);
      return NeedMore();
    }
    const auto [sector, index] = *wanted_.begin();
    const std::uint64_t at = (std::uint64_t{sector} + 1) * sector_size_;
    if (at < taken) return Unknown();  // named after it went by
    Gather(sector_size_, at - taken);
    return NeedMore();
  }

  EndVerdict OnRecord(const std::uint8_t* r, std::size_t size, std::uint64_t at) override {
    if (phase_end_) return EndsAt(at);
    const std::uint32_t sector = static_cast<std::uint32_t>(at / sector_size_ - 1);
    const auto range = wanted_.equal_range(sector);
    const std::uint32_t per = sector_size_ / 4;
    for (auto it = range.first; it != range.second; ++it) {
      if (it->second == kDifat) {
        for (std::uint32_t i = 0; i + 1 < per && next_index_ < fat_total(); ++i, ++next_index_)
          Want(Le32(r + 4 * i), next_index_);
        const std::uint32_t next = Le32(r + 4 * (per - 1));
        if (next_index_ < fat_total() && next <= kMaxSector) Want(next, kDifat);
      } else {
        --fat_left_;
        for (std::uint32_t i = per; i-- > 0;) {
          const std::uint32_t entry = Le32(r + 4 * i);
          if (entry == kFree) continue;
          if (entry > kMaxSector && entry != kEndOfChain && entry < 0xFFFFFFFC) return BrokenAt(at);
          highest_ = std::max(highest_, it->second * per + i);
          break;
        }
      }
    }
    wanted_.erase(range.first, range.second);
    return Next(at + size);
  }

  [[nodiscard]] std::uint32_t fat_total() const { return fat_total_; }

  std::uint32_t sector_size_;
  std::multimap<std::uint32_t, std::uint32_t> wanted_;  ///< sector -> table index, or kDifat
  std::uint32_t next_index_ = 0, fat_left_ = 0, fat_total_ = 0, highest_ = 0;
  bool bad_ = false, phase_end_ = false;
};

}  // namespace

/// The catalogue row named by the first bytes of a stream that opens a sector: a Word
/// file information block, an Excel workbook's BOF record, or a PowerPoint document
/// container. Used when the directory lies beyond the bytes at hand.
int RowByStreamStart(const std::uint8_t* data, std::size_t available, std::uint32_t sector_size) {
  static const int doc = FindFileType("DOC"), xls = FindFileType("XLS"), ppt = FindFileType("PPT");
  for (std::size_t at = sector_size; at + 16 <= available; at += sector_size) {
    const std::uint8_t* p = data + at;
    if (p[0] == 0xEC && p[1] == 0xA5 && Le16(p + 2) >= 0x65 && Le16(p + 2) <= 0x200) return doc;
    if (std::memcmp(p, "\x09\x08\x10\x00\x00\x06\x05\x00", 8) == 0 ||
        std::memcmp(p, "\x09\x08\x08\x00\x00\x05\x05\x00", 8) == 0)
      return xls;
    if (std::memcmp(p, "\x0F\x00\xE8\x03", 4) == 0 && Le32(p + 4) >= 8) return ppt;
  }
  return -1;
}

/// The catalogue row of a compound document of any writer, named by its directory
/// entries, or -1.
int CompoundDocumentStart(const std::uint8_t* data, std::size_t available) {
  if (available < 8 || std::memcmp(data, kSignature, 8) != 0) return -1;
  OleHeader h;
  if (!ReadHeader(data, available, h)) return -1;
  // The directory's chain, as far as the bytes at hand hold it and its table sectors.
  const std::uint32_t per = h.sector_size / 4;
  auto sector_at = [&](std::uint32_t sector) -> const std::uint8_t* {
    const std::uint64_t at = (std::uint64_t{sector} + 1) * h.sector_size;
    return sector <= kMaxSector && at + h.sector_size <= available ? data + at : nullptr;
  };
  std::uint32_t sector = h.directory;
  for (int hops = 0; hops < 32; ++hops) {
    if (sector == kEndOfChain) return -1;  // the whole directory named nothing listed
    const std::uint8_t* directory = sector_at(sector);
    if (directory == nullptr) break;
    if (const int row = RowByDirectory(directory, h.sector_size); row >= 0) return row;
    const std::uint32_t index = sector / per;
    if (index >= 109 || index >= h.fat_sectors) break;
    const std::uint8_t* fat = sector_at(Le32(data + 76 + 4 * index));
    if (fat == nullptr) break;
    sector = Le32(fat + 4 * (sector % per));
  }
  return RowByStreamStart(data, available, h.sector_size);
}

/// The tag of a compound document of any writer, or empty.
std::string_view CompoundDocumentName(const std::uint8_t* data, std::size_t available) {
  const int row = CompoundDocumentStart(data, available);
  return row >= 0 ? FileTypeTag(row) : std::string_view{};
}

bool CompoundStart(const std::uint8_t* data, std::size_t available) {
  OleHeader h;
  return ReadHeader(data, available, h);
}

std::unique_ptr<EndFinder> CompoundEnd(const std::uint8_t* data, std::size_t available) {
  OleHeader h;
  if (!ReadHeader(data, available, h)) return nullptr;
  auto finder = std::make_unique<CompoundFinder>(data, h);
  if (!finder->Start()) return nullptr;
  return finder;
}

const FileKind kDocKind{.tag = "DOC",
                        .description = "Word document",
                        .check = CompoundStart,
                        .make_finder = CompoundEnd,
                        .first_bytes = "\xD0",
                        .unchained = CompoundDocumentName};
const FileKind kMppKind{.tag = "MPP",
                        .description = "Project plan",
                        .check = CompoundStart,
                        .make_finder = CompoundEnd};
const FileKind kPptKind{.tag = "PPT",
                        .description = "PowerPoint presentation",
                        .check = CompoundStart,
                        .make_finder = CompoundEnd};
const FileKind kPubKind{.tag = "PUB",
                        .description = "Publisher document",
                        .check = CompoundStart,
                        .make_finder = CompoundEnd};
const FileKind kVsdKind{.tag = "VSD",
                        .description = "Visio drawing",
                        .check = CompoundStart,
                        .make_finder = CompoundEnd};
const FileKind kXlsKind{.tag = "XLS",
                        .description = "Excel workbook",
                        .check = CompoundStart,
                        .make_finder = CompoundEnd};
