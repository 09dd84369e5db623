#include "detect/format_table.h"
#include "detect/formats/document_records.h"
#include "detect/formats/record_walker.h"

#include <array>

using namespace document_walk;

namespace {

/// Skips the stated length, then looks at one optional end-mark byte.
class FixedLengthFinder final : public RecordWalker {
 public:
  FixedLengthFinder(std::uint64_t size, int trailer) : RecordWalker(1), trailer_(trailer) {
    Gather(trailer >= 0 ? 1 : 0, size);
    size_ = size;
  }
  EndVerdict Finish(std::uint64_t fed) override {
    return fed >= size_ ? EndsAt(size_) : BrokenAt(fed);
  }

 private:
  EndVerdict OnRecord(const std::uint8_t* record, std::size_t size, std::uint64_t at) override {
    return EndsAt(size > 0 && record[0] == trailer_ ? at + 1 : at);
  }
  int trailer_;
  std::uint64_t size_ = 0;
};

constexpr std::array kRecords{
    FormatRecord{"ARJ", ArjStart, ArjEnd},
    FormatRecord{"DBF", DbfStart, DbfEnd},
    FormatRecord{"DOC", CompoundStart, CompoundEnd},
    FormatRecord{"EPSorPS", PsStart, PsEnd},
    FormatRecord{"EXE", ExeStart, ExeEnd},
    FormatRecord{"HLP", HlpStart, HlpEnd},
    FormatRecord{"HTML", HtmlStart, HtmlEnd},
    FormatRecord{"LZH", LzhStart, LzhEnd},
    FormatRecord{"MPP", CompoundStart, CompoundEnd},
    FormatRecord{"PDF", PdfStart, PdfEnd},
    FormatRecord{"PPT", CompoundStart, CompoundEnd},
    FormatRecord{"PST", PstStart, PstEnd},
    FormatRecord{"PUB", CompoundStart, CompoundEnd},
    FormatRecord{"RAM", RamStart, RamEnd},
    FormatRecord{"RAR", RarStart, RarEnd},
    FormatRecord{"RTF", RtfStart, RtfEnd},
    FormatRecord{"TAR", TarStart, TarEnd},
    FormatRecord{"VSD", CompoundStart, CompoundEnd},
    FormatRecord{"XLS", CompoundStart, CompoundEnd},
    FormatRecord{"XML", XmlStart, XmlEnd},
    FormatRecord{"ZIP", ZipStart, ZipEnd},
};

}  // namespace

std::unique_ptr<EndFinder> FixedLengthEnd(std::uint64_t size, int trailer) {
  return std::make_unique<FixedLengthFinder>(size, trailer);
}

std::span<const FormatRecord> DocumentFormats() {
  return kRecords;
}
