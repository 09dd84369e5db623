#include "detect/format_table.h"
#include "detect/formats/image_records.h"

#include <array>

namespace {

using namespace media;

constexpr std::array kRecords{
    FormatRecord{"ASF", AsfStart, AsfEnd},   FormatRecord{"AVI", AviStart, AviEnd},
    FormatRecord{"BMP", BmpStart, BmpEnd},   FormatRecord{"CRW", CrwStart, CrwEnd},
    FormatRecord{"DCR", DcrStart, DcrEnd},   FormatRecord{"GIF", GifStart, GifEnd},
    FormatRecord{"JPG", JpegStart, JpegEnd}, FormatRecord{"MID", MidiStart, MidiEnd},
    FormatRecord{"MOV", MovStart, MovEnd},   FormatRecord{"MPG", MpegStart, MpegEnd},
    FormatRecord{"MRW", MrwStart, MrwEnd},   FormatRecord{"NEF", NefStart, NefEnd},
    FormatRecord{"PNG", PngStart, PngEnd},   FormatRecord{"PSD", PsdStart, PsdEnd},
    FormatRecord{"RAF", RafStart, RafEnd},   FormatRecord{"RM", RealMediaStart, RealMediaEnd},
    FormatRecord{"TIF", TiffStart, TiffEnd}, FormatRecord{"WAV", WavStart, WavEnd},
};

}  // namespace

std::span<const FormatRecord> ImageFormats() {
  return kRecords;
}
