#pragma once

#include "detect/file_end.h"

#include <cstddef>
#include <cstdint>
#include <memory>

/// The checks and end finders of pictures, camera raws, sound and video, one pair per
/// format, each defined in its family's file beside this one.
namespace media {
#define TRAWLEX_MEDIA_FORMAT(name)                                                 \
  [[nodiscard]] bool name##Start(const std::uint8_t* data, std::size_t available); \
  [[nodiscard]] std::unique_ptr<EndFinder> name##End(const std::uint8_t* data,     \
                                                     std::size_t available);
TRAWLEX_MEDIA_FORMAT(Jpeg)
TRAWLEX_MEDIA_FORMAT(Png)
TRAWLEX_MEDIA_FORMAT(Gif)
TRAWLEX_MEDIA_FORMAT(Bmp)
TRAWLEX_MEDIA_FORMAT(Tiff)
TRAWLEX_MEDIA_FORMAT(Nef)
TRAWLEX_MEDIA_FORMAT(Dcr)
TRAWLEX_MEDIA_FORMAT(Crw)
TRAWLEX_MEDIA_FORMAT(Raf)
TRAWLEX_MEDIA_FORMAT(Mrw)
TRAWLEX_MEDIA_FORMAT(Psd)
TRAWLEX_MEDIA_FORMAT(Wav)
TRAWLEX_MEDIA_FORMAT(Avi)
TRAWLEX_MEDIA_FORMAT(Asf)
TRAWLEX_MEDIA_FORMAT(Mov)
TRAWLEX_MEDIA_FORMAT(Mpeg)
TRAWLEX_MEDIA_FORMAT(RealMedia)
TRAWLEX_MEDIA_FORMAT(Midi)
#undef TRAWLEX_MEDIA_FORMAT
}  // namespace media
