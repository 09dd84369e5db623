#include "detect/formats/mpeg_video_slices.h"

#include "detect/formats/format_bytes.h"

#include <array>
#include <bit>

namespace media {
namespace {

/// One entry of a decoding table: the code's length in bits (0: no such code) and what it stands
/// for.
struct Vlc {
  std::uint8_t length = 0;
  std::uint8_t value = 0;
};

/// A code as the tables of the standard list it: its length, its bits, its meaning.
struct Code {
  unsigned length, bits, value;
};

/// A table looked up with the next `kBits` bits.
template <unsigned kBits, std::size_t N>
constexpr std::array<Vlc, (1u << kBits)> Flat(const Code (&codes)[N]) {
  std::array<Vlc, (1u << kBits)> table{};
  for (const Code& c : codes) {
    const unsigned shift = kBits - c.length;
    for (unsigned k = 0; k < (1u << shift); ++k)
      table[(c.bits << shift) | k] = {static_cast<std::uint8_t>(c.length),
                                      static_cast<std::uint8_t>(c.value)};
  }
  return table;
}

constexpr unsigned kEndOfBlock = 0xFE, kEscape = 0xFF;

/// A coefficient table in two parts: by the next 8 bits, and for the codes that open with six zeros
/// (10 to 16 bits long), by the 10 bits after those zeros. A coefficient's length counts its sign
/// bit.
struct CoefficientTable {
  std::array<Vlc, 256> short_codes{};
  std::array<Vlc, 1024> long_codes{};
};

template <std::size_t N, std::size_t M>
constexpr CoefficientTable Coefficients(const Code (&codes)[N], const Code (&long_codes)[M]) {
  CoefficientTable table;
  auto add = [&table](const Code& c) {
    const Vlc entry{static_cast<std::uint8_t>(c.length + (c.value < kEndOfBlock ? 1 : 0)),
                    static_cast<std::uint8_t>(c.value)};
    if (c.length > 6 && (c.bits >> (c.length - 6)) == 0) {
      const unsigned rest = c.length - 6, shift = 10 - rest;
      const unsigned base = (c.bits & ((1u << rest) - 1)) << shift;
      for (unsigned k = 0; k < (1u << shift); ++k) table.long_codes[base | k] = entry;
    } else {
      const unsigned shift = 8 - c.length;
      for (unsigned k = 0; k < (1u << shift); ++k) table.short_codes[(c.bits << shift) | k] = entry;
    }
  };
  for (const Code& c : codes) add(c);
  for (const Code& c : long_codes) add(c);
  return table;
}

// macroblock_address_increment; 34 is the escape (33 more), 35 stuffing (MPEG-1 only).
constexpr unsigned kAddressEscape = 34;
constexpr Code kAddressCodes[] = {{1, 0b1, 1},
                                  {3, 0b011, 2},
                                  {3, 0b010, 3},
                                  {4, 0b0011, 4},
                                  {4, 0b0010, 5},
                                  {5, 0b00011, 6},
                                  {5, 0b00010, 7},
                                  {7, 0b0000111, 8},
                                  {7, 0b0000110, 9},
                                  {8, 0b00001011, 10},
                                  {8, 0b00001010, 11},
                                  {8, 0b00001001, 12},
                                  {8, 0b00001000, 13},
                                  {8, 0b00000111, 14},
                                  {8, 0b00000110, 15},
                                  {10, 0b0000010111, 16},
                                  {10, 0b0000010110, 17},
                                  {10, 0b0000010101, 18},
                                  {10, 0b0000010100, 19},
                                  {10, 0b0000010011, 20},
                                  {10, 0b0000010010, 21},
                                  {11, 0b00000100011, 22},
                                  {11, 0b00000100010, 23},
                                  {11, 0b00000100001, 24},
                                  {11, 0b00000100000, 25},
                                  {11, 0b00000011111, 26},
                                  {11, 0b00000011110, 27},
                                  {11, 0b00000011101, 28},
                                  {11, 0b00000011100, 29},
                                  {11, 0b00000011011, 30},
                                  {11, 0b00000011010, 31},
                                  {11, 0b00000011001, 32},
                                  {11, 0b00000011000, 33},
                                  {11, 0b00000001000, kAddressEscape},
                                  {11, 0b00000001111, kAddressEscape + 1}};
constexpr auto kAddress = Flat<11>(kAddressCodes);

// macroblock_type by picture type: what the macroblock carries.
constexpr unsigned kQuant = 1, kForward = 2, kBackward = 4, kPattern = 8, kIntra = 16;
constexpr Code kIntraTypes[] = {{1, 0b1, kIntra}, {2, 0b01, kQuant | kIntra}};
constexpr Code kPredictedTypes[] = {{1, 0b1, kForward | kPattern},
                                    {2, 0b01, kPattern},
                                    {3, 0b001, kForward},
                                    {5, 0b00011, kIntra},
                                    {5, 0b00010, kQuant | kForward | kPattern},
                                    {5, 0b00001, kQuant | kPattern},
                                    {6, 0b000001, kQuant | kIntra}};
constexpr Code kBidirectionalTypes[] = {{2, 0b10, kForward | kBackward},
                                        {2, 0b11, kForward | kBackward | kPattern},
                                        {3, 0b010, kBackward},
                                        {3, 0b011, kBackward | kPattern},
                                        {4, 0b0010, kForward},
                                        {4, 0b0011, kForward | kPattern},
                                        {5, 0b00011, kIntra},
                                        {5, 0b00010, kQuant | kForward | kBackward | kPattern},
                                        {6, 0b000011, kQuant | kForward | kPattern},
                                        {6, 0b000010, kQuant | kBackward | kPattern},
                                        {6, 0b000001, kQuant | kIntra}};
constexpr Code kDcOnlyTypes[] = {{1, 0b1, kIntra}};
constexpr std::array<Vlc, 64> kTypes[4] = {Flat<6>(kIntraTypes), Flat<6>(kPredictedTypes),
                                           Flat<6>(kBidirectionalTypes), Flat<6>(kDcOnlyTypes)};

// coded_block_pattern (the 9-bit code for no block is MPEG-2's).
constexpr Code kPatternCodes[] = {
    {3, 0b111, 60},       {4, 0b1101, 4},       {4, 0b1100, 8},       {4, 0b1011, 16},
    {4, 0b1010, 32},      {5, 0b10011, 12},     {5, 0b10010, 48},     {5, 0b10001, 20},
    {5, 0b10000, 40},     {5, 0b01111, 28},     {5, 0b01110, 44},     {5, 0b01101, 52},
    {5, 0b01100, 56},     {5, 0b01011, 1},      {5, 0b01010, 61},     {5, 0b01001, 2},
    {5, 0b01000, 62},     {6, 0b001111, 24},    {6, 0b001110, 36},    {6, 0b001101, 3},
    {6, 0b001100, 63},    {7, 0b0010111, 5},    {7, 0b0010110, 9},    {7, 0b0010101, 17},
    {7, 0b0010100, 33},   {7, 0b0010011, 6},    {7, 0b0010010, 10},   {7, 0b0010001, 18},
    {7, 0b0010000, 34},   {8, 0b00011111, 7},   {8, 0b00011110, 11},  {8, 0b00011101, 19},
    {8, 0b00011100, 35},  {8, 0b00011011, 13},  {8, 0b00011010, 49},  {8, 0b00011001, 21},
    {8, 0b00011000, 41},  {8, 0b00010111, 14},  {8, 0b00010110, 50},  {8, 0b00010101, 22},
    {8, 0b00010100, 42},  {8, 0b00010011, 15},  {8, 0b00010010, 51},  {8, 0b00010001, 23},
    {8, 0b00010000, 43},  {8, 0b00001111, 25},  {8, 0b00001110, 37},  {8, 0b00001101, 26},
    {8, 0b00001100, 38},  {8, 0b00001011, 29},  {8, 0b00001010, 45},  {8, 0b00001001, 53},
    {8, 0b00001000, 57},  {8, 0b00000111, 30},  {8, 0b00000110, 46},  {8, 0b00000101, 54},
    {8, 0b00000100, 58},  {9, 0b000000111, 31}, {9, 0b000000110, 47}, {9, 0b000000101, 55},
    {9, 0b000000100, 59}, {9, 0b000000011, 27}, {9, 0b000000010, 39}, {9, 0b000000001, 0}};
constexpr auto kPatterns = Flat<9>(kPatternCodes);

// motion_code without its sign bit: the magnitude.
constexpr Code kMotionCodes[] = {{1, 0b1, 0},
                                 {2, 0b01, 1},
                                 {3, 0b001, 2},
                                 {4, 0b0001, 3},
                                 {6, 0b000011, 4},
                                 {7, 0b0000101, 5},
                                 {7, 0b0000100, 6},
                                 {7, 0b0000011, 7},
                                 {9, 0b000001011, 8},
                                 {9, 0b000001010, 9},
                                 {9, 0b000001001, 10},
                                 {10, 0b0000010001, 11},
                                 {10, 0b0000010000, 12},
                                 {10, 0b0000001111, 13},
                                 {10, 0b0000001110, 14},
                                 {10, 0b0000001101, 15},
                                 {10, 0b0000001100, 16}};
constexpr auto kMotion = Flat<10>(kMotionCodes);

// dct_dc_size for luminance and chrominance (sizes over 8 are MPEG-2's).
constexpr Code kLumaDcCodes[] = {{3, 0b100, 0},      {2, 0b00, 1},         {2, 0b01, 2},
                                 {3, 0b101, 3},      {3, 0b110, 4},        {4, 0b1110, 5},
                                 {5, 0b11110, 6},    {6, 0b111110, 7},     {7, 0b1111110, 8},
                                 {8, 0b11111110, 9}, {9, 0b111111110, 10}, {9, 0b111111111, 11}};
constexpr Code kChromaDcCodes[] = {
    {2, 0b00, 0},       {2, 0b01, 1},        {2, 0b10, 2},           {3, 0b110, 3},
    {4, 0b1110, 4},     {5, 0b11110, 5},     {6, 0b111110, 6},       {7, 0b1111110, 7},
    {8, 0b11111110, 8}, {9, 0b111111110, 9}, {10, 0b1111111110, 10}, {10, 0b1111111111, 11}};
constexpr auto kLumaDc = Flat<9>(kLumaDcCodes);
constexpr auto kChromaDc = Flat<10>(kChromaDcCodes);

// The DCT coefficient codes of 14 to 16 bits, alike in both tables below.
constexpr Code kLongCoefficientCodes[] = {
    {14, 0b00000000011111, 0},    {14, 0b00000000011110, 0},    {14, 0b00000000011101, 0},
    {14, 0b00000000011100, 0},    {14, 0b00000000011011, 0},    {14, 0b00000000011010, 0},
    {14, 0b00000000011001, 0},    {14, 0b00000000011000, 0},    {14, 0b00000000010111, 0},
    {14, 0b00000000010110, 0},    {14, 0b00000000010101, 0},    {14, 0b00000000010100, 0},
    {14, 0b00000000010011, 0},    {14, 0b00000000010010, 0},    {14, 0b00000000010001, 0},
    {14, 0b00000000010000, 0},    {15, 0b000000000011000, 0},   {15, 0b000000000010111, 0},
    {15, 0b000000000010110, 0},   {15, 0b000000000010101, 0},   {15, 0b000000000010100, 0},
    {15, 0b000000000010011, 0},   {15, 0b000000000010010, 0},   {15, 0b000000000010001, 0},
    {15, 0b000000000010000, 0},   {15, 0b000000000011111, 1},   {15, 0b000000000011110, 1},
    {15, 0b000000000011101, 1},   {15, 0b000000000011100, 1},   {15, 0b000000000011011, 1},
    {15, 0b000000000011010, 1},   {15, 0b000000000011001, 1},   {16, 0b0000000000010011, 1},
    {16, 0b0000000000010010, 1},  {16, 0b0000000000010001, 1},  {16, 0b0000000000010000, 1},
    {16, 0b0000000000010100, 6},  {16, 0b0000000000011010, 11}, {16, 0b0000000000011001, 12},
    {16, 0b0000000000011000, 13}, {16, 0b0000000000010111, 14}, {16, 0b0000000000010110, 15},
    {16, 0b0000000000010101, 16}, {16, 0b0000000000011111, 27}, {16, 0b0000000000011110, 28},
    {16, 0b0000000000011101, 29}, {16, 0b0000000000011100, 30}, {16, 0b0000000000011011, 31}};

// DCT coefficients, table zero, without sign bits: each code's run (its level does not change the
// length). The short first code "1s" of a non-intra block is read apart; its codes of 14 to 16
// bits are kLongCoefficientCodes.
constexpr Code kTableZero[] = {{2, 0b10, kEndOfBlock},
                               {2, 0b11, 0},
                               {3, 0b011, 1},
                               {4, 0b0100, 0},
                               {4, 0b0101, 2},
                               {5, 0b00101, 0},
                               {5, 0b00111, 3},
                               {5, 0b00110, 4},
                               {6, 0b000110, 1},
                               {6, 0b000111, 5},
                               {6, 0b000101, 6},
                               {6, 0b000100, 7},
                               {7, 0b0000110, 0},
                               {7, 0b0000100, 2},
                               {7, 0b0000111, 8},
                               {7, 0b0000101, 9},
                               {6, 0b000001, kEscape},
                               {8, 0b00100110, 0},
                               {8, 0b00100001, 0},
                               {8, 0b00100101, 1},
                               {8, 0b00100100, 3},
                               {8, 0b00100111, 10},
                               {8, 0b00100011, 11},
                               {8, 0b00100010, 12},
                               {8, 0b00100000, 13},
                               // 10 bits
                               {10, 0b0000001010, 0},
                               {10, 0b0000001100, 1},
                               {10, 0b0000001011, 2},
                               {10, 0b0000001111, 4},
                               {10, 0b0000001001, 5},
                               {10, 0b0000001110, 14},
                               {10, 0b0000001101, 15},
                               {10, 0b0000001000, 16},
                               // 12 bits
                               {12, 0b000000011101, 0},
                               {12, 0b000000011000, 0},
                               {12, 0b000000010011, 0},
                               {12, 0b000000010000, 0},
                               {12, 0b000000011011, 1},
                               {12, 0b000000010100, 2},
                               {12, 0b000000011100, 3},
                               {12, 0b000000010010, 4},
                               {12, 0b000000011110, 6},
                               {12, 0b000000010101, 7},
                               {12, 0b000000010001, 8},
                               {12, 0b000000011111, 17},
                               {12, 0b000000011010, 18},
                               {12, 0b000000011001, 19},
                               {12, 0b000000010111, 20},
                               {12, 0b000000010110, 21},
                               // 13 bits
                               {13, 0b0000000011010, 0},
                               {13, 0b0000000011001, 0},
                               {13, 0b0000000011000, 0},
                               {13, 0b0000000010111, 0},
                               {13, 0b0000000010110, 1},
                               {13, 0b0000000010101, 1},
                               {13, 0b0000000010100, 2},
                               {13, 0b0000000010011, 3},
                               {13, 0b0000000010010, 5},
                               {13, 0b0000000010001, 9},
                               {13, 0b0000000010000, 10},
                               {13, 0b0000000011111, 22},
                               {13, 0b0000000011110, 23},
                               {13, 0b0000000011101, 24},
                               {13, 0b0000000011100, 25},
                               {13, 0b0000000011011, 26}};

// DCT coefficients, table one (intra blocks of MPEG-2 pictures with intra_vlc_format).
constexpr Code kTableOne[] = {{2, 0b10, 0},
                              {3, 0b010, 1},
                              {3, 0b110, 0},
                              {4, 0b0110, kEndOfBlock},
                              {4, 0b0111, 0},
                              {5, 0b00101, 2},
                              {5, 0b00110, 1},
                              {5, 0b00111, 3},
                              {5, 0b11100, 0},
                              {5, 0b11101, 0},
                              {6, 0b000100, 0},
                              {6, 0b000101, 0},
                              {6, 0b000110, 4},
                              {6, 0b000111, 5},
                              {6, 0b000001, kEscape},
                              {7, 0b0000100, 7},
                              {7, 0b0000101, 8},
                              {7, 0b0000110, 6},
                              {7, 0b0000111, 2},
                              {7, 0b1111000, 9},
                              {7, 0b1111001, 1},
                              {7, 0b1111010, 10},
                              {7, 0b1111011, 0},
                              {7, 0b1111100, 0},
                              {8, 0b00100000, 1},
                              {8, 0b00100001, 11},
                              {8, 0b00100010, 0},
                              {8, 0b00100011, 0},
                              {8, 0b00100100, 13},
                              {8, 0b00100101, 12},
                              {8, 0b00100110, 3},
                              {8, 0b00100111, 1},
                              {8, 0b11111010, 0},
                              {8, 0b11111011, 0},
                              {8, 0b11111100, 2},
                              {8, 0b11111101, 4},
                              {8, 0b11111110, 0},
                              {8, 0b11111111, 0},
                              {9, 0b000000100, 5},
                              {9, 0b000000101, 14},
                              {9, 0b000000111, 15},
                              {10, 0b0000001100, 2},
                              {10, 0b0000001101, 16},
                              // 12 bits
                              {12, 0b000000010001, 8},
                              {12, 0b000000010010, 4},
                              {12, 0b000000010101, 7},
                              {12, 0b000000010110, 21},
                              {12, 0b000000010111, 20},
                              {12, 0b000000011001, 19},
                              {12, 0b000000011010, 18},
                              {12, 0b000000011100, 3},
                              {12, 0b000000011110, 6},
                              {12, 0b000000011111, 17},
                              // 13 bits
                              {13, 0b0000000010110, 1},
                              {13, 0b0000000010101, 1},
                              {13, 0b0000000010100, 2},
                              {13, 0b0000000010011, 3},
                              {13, 0b0000000010010, 5},
                              {13, 0b0000000010001, 9},
                              {13, 0b0000000010000, 10},
                              {13, 0b0000000011111, 22},
                              {13, 0b0000000011110, 23},
                              {13, 0b0000000011101, 24},
                              {13, 0b0000000011100, 25},
                              {13, 0b0000000011011, 26}};

constexpr CoefficientTable kZero = Coefficients(kTableZero, kLongCoefficientCodes);
constexpr CoefficientTable kOne = Coefficients(kTableOne, kLongCoefficientCodes);

}  // namespace

/// Big-endian bits of a byte window; bits past its end read as zeros.
class SliceParser::Bits {
 public:
  Bits(const std::uint8_t* data, std::size_t size, std::uint64_t bit)
      : data_(data), size_(size), bit_(bit) {}
  /// The next `n` bits, 1 to 32.
  [[nodiscard]] std::uint32_t Peek(unsigned n) const {
    return static_cast<std::uint32_t>(Window() >> (64 - n));
  }
  std::uint32_t Read(unsigned n) {
    const std::uint32_t v = Peek(n);
    bit_ += n;
    return v;
  }
  void Skip(unsigned n) { bit_ += n; }
  [[nodiscard]] std::uint64_t Position() const { return bit_; }
  /// Whether the bits read went past the window's end.
  [[nodiscard]] bool Past() const { return bit_ > std::uint64_t{size_} * 8; }

 private:
  [[nodiscard]] std::uint64_t Window() const {
    const std::uint64_t byte = bit_ >> 3;
    std::uint64_t w = 0;
    if (byte + 8 <= size_) {
      w = Be64(data_ + byte);
    } else {
      for (std::uint64_t k = 0; k < 8; ++k) w = w << 8 | (byte + k < size_ ? data_[byte + k] : 0);
    }
    return w << (bit_ & 7);
  }

  const std::uint8_t* data_;
  std::size_t size_;
  std::uint64_t bit_;
};

void SliceParser::Start(const PictureCoding& coding) {
  coding_ = coding;
  total_ = coding.mb_width * coding.mb_rows;
  row_ = address_ = 0;
  header_ = false;
  first_ = true;
}

SliceStep SliceParser::Parse(const std::uint8_t* data, std::size_t size, std::uint64_t& bit,
                             bool last) {
  const std::uint64_t end = std::uint64_t{size} * 8, ahead = std::uint64_t{kLookahead} * 8;
  Bits in(data, size, bit);
  if (!header_) {
    if (!last && end < bit + ahead) return SliceStep::kMore;
    if (!Header(in) || in.Past()) return SliceStep::kBroken;
    header_ = true;
    bit = in.Position();
  }
  for (;;) {
    if (!last && end < bit + ahead) return SliceStep::kMore;
    // The zeros of the next start code end the slice; it holds one macroblock at least.
    if (in.Peek(23) == 0) return first_ ? SliceStep::kBroken : SliceStep::kSliceEnd;
    if (!Macroblock(in) || in.Past()) return SliceStep::kBroken;
    bit = in.Position();
    if (address_ + 1 == total_) {
      const unsigned rest = static_cast<unsigned>(8 - (bit & 7)) & 7;
      return rest > 0 && in.Peek(rest) != 0 ? SliceStep::kBroken : SliceStep::kPictureEnd;
    }
  }
}

bool SliceParser::Header(Bits& in) {
  if (in.Read(24) != 1) return false;
  const unsigned code = in.Read(8);
  if (code < 1 || code > 0xAF) return false;
  row_ = code - 1;
  if (coding_.mpeg2 && coding_.tall) row_ += in.Read(3) << 7;
  if (row_ >= coding_.mb_rows || in.Read(5) == 0) return false;
  // MPEG-2's intra slice bits, then extra slice information bytes, each behind a 1.
  if (coding_.mpeg2 && in.Peek(1) == 1) in.Skip(9);
  for (int k = 0; in.Read(1) == 1; ++k) {
    if (k > 256) return false;
    in.Skip(8);
  }
  return true;
}

bool SliceParser::Macroblock(Bits& in) {
  std::uint32_t increment = 0;
  for (;;) {
    const Vlc a = kAddress[in.Peek(11)];
    if (a.length == 0) return false;
    in.Skip(a.length);
    if (a.value < kAddressEscape) {
      increment += a.value;
      break;
    }
    if (a.value == kAddressEscape) {
      increment += 33;
      if (increment > total_) return false;
    } else if (coding_.mpeg2 || in.Past()) {
      return false;  // stuffing is MPEG-1's
    }
  }
  std::uint32_t address;
  if (first_) {
    address = row_ * coding_.mb_width + increment - 1;
    first_ = false;
  } else {
    // Only predicted pictures skip macroblocks.
    if (increment > 1 && (coding_.type == 1 || coding_.type == 4)) return false;
    address = address_ + increment;
  }
  if (address >= total_ || (coding_.mpeg2 && address / coding_.mb_width != row_)) return false;
  address_ = address;

  const Vlc t = kTypes[coding_.type - 1][in.Peek(6)];
  if (t.length == 0) return false;
  in.Skip(t.length);
  const bool intra = t.value & kIntra, pattern = t.value & kPattern;
  const bool forward = t.value & kForward, backward = t.value & kBackward;
  unsigned motion_type = 0;  // 0: the one the picture implies
  if (coding_.mpeg2) {
    if ((forward || backward) && (coding_.structure != 3 || !coding_.frame_pred_frame_dct)) {
      motion_type = in.Read(2);
      if (motion_type == 0) return false;
    }
    if (coding_.structure == 3 && !coding_.frame_pred_frame_dct && (intra || pattern))
      in.Skip(1);  // dct_type
  }
  if ((t.value & kQuant) && in.Read(5) == 0) return false;
  const bool concealment = intra && coding_.concealment_vectors;
  if ((forward || concealment) && !Vectors(in, 0, motion_type)) return false;
  if (backward && !Vectors(in, 1, motion_type)) return false;
  if (concealment && in.Read(1) != 1) return false;

  const unsigned blocks = coding_.chroma == 1 ? 6 : coding_.chroma == 2 ? 8 : 12;
  if (intra) {
    for (unsigned b = 0; b < blocks; ++b) {
      const Vlc d = b < 4 ? kLumaDc[in.Peek(9)] : kChromaDc[in.Peek(10)];
      if (d.length == 0 || (!coding_.mpeg2 && d.value > 8)) return false;
      in.Skip(d.length + d.value);
      if (coding_.type == 4) continue;  // DC only
      if (!Coefficients(in, true, false)) return false;
    }
    return coding_.type != 4 || in.Read(1) == 1;  // end_of_macroblock
  }
  if (!pattern) return true;
  const Vlc c = kPatterns[in.Peek(9)];
  if (c.length == 0 || (c.value == 0 && !coding_.mpeg2)) return false;
  in.Skip(c.length);
  unsigned coded = static_cast<unsigned>(std::popcount(c.value));
  if (coding_.chroma == 2) coded += static_cast<unsigned>(std::popcount(in.Read(2)));
  if (coding_.chroma == 3) coded += static_cast<unsigned>(std::popcount(in.Read(6)));
  for (unsigned b = 0; b < coded; ++b)
    if (!Coefficients(in, false, true)) return false;
  return true;
}

bool SliceParser::Vectors(Bits& in, int direction, unsigned motion_type) {
  if (!coding_.mpeg2) return Vector(in, direction, false);
  unsigned count = 1;
  bool field = coding_.structure != 3, dual = false;
  if (coding_.structure == 3) {
    if (motion_type == 1) count = 2, field = true;
    if (motion_type == 3) field = dual = true;
  } else {
    if (motion_type == 2) count = 2;  // 16x8
    if (motion_type == 3) dual = true;
  }
  if (dual && coding_.type != 2) return false;
  if (count == 1) {
    if (field && !dual) in.Skip(1);  // motion_vertical_field_select
    return Vector(in, direction, dual);
  }
  in.Skip(1);
  if (!Vector(in, direction, false)) return false;
  in.Skip(1);
  return Vector(in, direction, false);
}

bool SliceParser::Vector(Bits& in, int direction, bool dual) {
  for (int t = 0; t < 2; ++t) {
    const unsigned f = coding_.f_code[direction][t];
    if (f < 1 || f > 9) return false;
    const Vlc m = kMotion[in.Peek(10)];
    if (m.length == 0) return false;
    in.Skip(m.length);
    if (m.value != 0) in.Skip(f);                // the sign, then motion_residual of f - 1 bits
    if (dual) in.Skip(in.Peek(1) == 0 ? 1 : 2);  // dmvector
  }
  return true;
}

bool SliceParser::Coefficients(Bits& in, bool intra, bool first_short) {
  const CoefficientTable& table = intra && coding_.intra_vlc ? kOne : kZero;
  unsigned index = intra ? 1 : 0;
  if (first_short && in.Peek(1) == 1) {
    in.Skip(2);  // run 0, level 1, and its sign
    index = 1;
  }
  for (;;) {
    const std::uint32_t w = in.Peek(16);
    const Vlc v = (w >> 10) == 0 ? table.long_codes[w & 0x3FF] : table.short_codes[w >> 8];
    if (v.length == 0) return false;
    in.Skip(v.length);
    unsigned run = v.value;
    if (run == kEndOfBlock) return true;
    if (run == kEscape) {
      run = in.Read(6);
      if (coding_.mpeg2) {
        if ((in.Read(12) & 0x7FF) == 0) return false;  // level 0 and -2048 are no levels
      } else {
        // Levels of 128 or more take a second byte: 0x00 then 128 to 255, or 0x80 then 1 to 128 for
        // -255 to -128.
        const std::uint32_t level = in.Read(8);
        if (level == 0 && in.Read(8) < 0x80) return false;
        if (level == 0x80 && in.Read(8) - 1 >= 0x80) return false;
      }
    }
    index += run;
    if (index > 63) return false;
    ++index;
  }
}

}  // namespace media
