#pragma once

#include <cstddef>
#include <cstdint>

/// The macroblock layer of MPEG-1 and MPEG-2 video: walks the codes of one slice to find where the
/// picture's last macroblock ends, since nothing else marks a stream's last byte.
namespace media {

/// How the slices of one picture are coded, from the sequence header and extension, the picture
/// header and the picture coding extension.
struct PictureCoding {
  unsigned mb_width = 0;
  unsigned mb_rows = 0;  ///< macroblock rows of this picture (of one field for a field picture)
  unsigned type = 1;     ///< 1 intra, 2 predicted, 3 bidirectional, 4 DC only (MPEG-1)
  bool mpeg2 = false;
  bool tall = false;       ///< MPEG-2 over 2800 lines: each slice carries three more row bits
  unsigned chroma = 1;     ///< 1 4:2:0, 2 4:2:2, 3 4:4:4
  unsigned structure = 3;  ///< 3 a frame, 1 or 2 one field
  unsigned f_code[2][2] = {{1, 1}, {1, 1}};  ///< forward, backward; horizontal, vertical
  bool frame_pred_frame_dct = true;
  bool concealment_vectors = false;
  bool intra_vlc = false;  ///< intra blocks use the second coefficient table
};

/// Where a slice's macroblocks led.
enum class SliceStep : std::uint8_t {
  kMore,        ///< more bytes must be at hand before the next macroblock
  kPictureEnd,  ///< the picture's last macroblock ended, the bits to its byte's end are 0
  kSliceEnd,    ///< a start code's zeros follow a macroblock short of the picture's end
  kBroken,      ///< a code no slice may hold, or the bytes ended inside a macroblock
};

/// Reads one slice from its start code on, macroblock by macroblock, in bytes the caller keeps in a
/// window that may move on between calls.
class SliceParser {
 public:
  /// Bytes that must follow a macroblock's start before it is read, unless no more come: more than
  /// the largest macroblock takes.
  static constexpr std::size_t kLookahead = 16384;

  void Start(const PictureCoding& coding);
  /// Goes on over `data[0, size)` from bit `bit` (the slice's start code at bit 0 on the first
  /// call) and leaves `bit` after the last macroblock read, or at the picture's end. `last`: no
  /// bytes follow `size`.
  SliceStep Parse(const std::uint8_t* data, std::size_t size, std::uint64_t& bit, bool last);

 private:
  class Bits;
  bool Header(Bits& in);
  bool Macroblock(Bits& in);
  bool Vectors(Bits& in, int direction, unsigned motion_type);
  bool Vector(Bits& in, int direction, bool dual_prime);
  bool Coefficients(Bits& in, bool intra, bool first_short);

  PictureCoding coding_;
  std::uint32_t total_ = 0;  ///< macroblocks in the picture
  std::uint32_t row_ = 0;
  std::uint32_t address_ = 0;
  bool header_ = false;
  bool first_ = true;  ///< no macroblock of this slice read yet
};

}  // namespace media
