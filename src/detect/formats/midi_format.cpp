#include "detect/file_catalogue.h"
#include "detect/formats/media_walker.h"

#include <cstring>

namespace media {
namespace {

/// The header's track count, or 0 when the header does not hold.
unsigned Tracks(const std::uint8_t* d, std::size_t available) {
  if (available < 14 || std::memcmp(d, "MThd", 4) != 0 || Be32(d + 4) < 6 || Be32(d + 4) > 64)
    return 0;
  const unsigned format = Be16(d + 8), tracks = Be16(d + 10), division = Be16(d + 12);
  if (format > 2 || division == 0 || (format == 0 && tracks != 1)) return 0;
  return tracks;
}

/// The header, then chunks by their lengths until the stated number of "MTrk" chunks went
/// by; a chunk whose name is not four letters breaks the file there.
class MidiFinder final : public RecordWalker {
 public:
  MidiFinder(std::uint32_t header, unsigned tracks) : RecordWalker(8), tracks_(tracks) {
    Gather(8, 8 + std::uint64_t{header});
  }

 private:
  EndVerdict OnRecord(const std::uint8_t* r, std::size_t /*size*/, std::uint64_t at) override {
    if (left_ == 0) return EndsAt(at);
    if (!IsFourCc(r)) return BrokenAt(at);
    if (std::memcmp(r, "MTrk", 4) == 0 && --tracks_ == 0) {
      left_ = 0;
      Gather(0, Be32(r + 4));
      return NeedMore();
    }
    Gather(8, Be32(r + 4));
    return NeedMore();
  }
  unsigned tracks_;
  int left_ = 1;
};

}  // namespace

bool MidiStart(const std::uint8_t* data, std::size_t available) {
  if (Tracks(data, available) == 0) return false;
  const std::size_t first = 8 + Be32(data + 4);
  return first + 4 > available || std::memcmp(data + first, "MTrk", 4) == 0;
}

std::unique_ptr<EndFinder> MidiEnd(const std::uint8_t* data, std::size_t available) {
  return std::make_unique<MidiFinder>(Be32(data + 4), Tracks(data, available));
}

}  // namespace media

const FileKind kMidKind{.tag = "MID",
                        .description = "MIDI music",
                        .check = media::MidiStart,
                        .make_finder = media::MidiEnd};
