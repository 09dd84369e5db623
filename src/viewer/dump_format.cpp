#include "viewer/dump_format.h"

#include <array>

namespace {

/// The PC's pictures for the control codes 0x00..0x1F.
constexpr std::array<char16_t, 32> kControlPictures = {
    u' ',      u'\u263A', u'\u263B', u'\u2665', u'\u2666', u'\u2663', u'\u2660', u'\u2022',
    u'\u25D8', u'\u25CB', u'\u25D9', u'\u2642', u'\u2640', u'\u266A', u'\u266B', u'\u263C',
    u'\u25BA', u'\u25C4', u'\u2195', u'\u203C', u'\u00B6', u'\u00A7', u'\u25AC', u'\u21A8',
    u'\u2191', u'\u2193', u'\u2192', u'\u2190', u'\u221F', u'\u2194', u'\u25B2', u'\u25BC'};

/// Windows-1252 for 0x80..0x9F; its five unassigned codes show the replacement character.
constexpr std::array<char16_t, 32> kWindows1252High = {
    u'\u20AC', u'\uFFFD', u'\u201A', u'\u0192', u'\u201E', u'\u2026', u'\u2020', u'\u2021',
    u'\u02C6', u'\u2030', u'\u0160', u'\u2039', u'\u0152', u'\uFFFD', u'\u017D', u'\uFFFD',
    u'\uFFFD', u'\u2018', u'\u2019', u'\u201C', u'\u201D', u'\u2022', u'\u2013', u'\u2014',
    u'\u02DC', u'\u2122', u'\u0161', u'\u203A', u'\u0153', u'\uFFFD', u'\u017E', u'\u0178'};

}  // namespace

int FormatDumpAddress(std::uint64_t offset, char (&out)[kAddressBufferSize]) {
  constexpr char kDigits[] = "0123456789abcdef";
  char reversed[16];
  int digits = 0;
  do {
    reversed[digits++] = kDigits[offset & 0x0F];
    offset >>= 4;
  } while (offset != 0);
  while (digits < 3) reversed[digits++] = '0';
  int length = 0;
  while (digits > 0) out[length++] = reversed[--digits];
  out[length++] = ':';
  out[length] = '\0';
  return length;
}

char16_t AnsiGlyph(std::uint8_t byte) {
  if (byte < 0x20) return kControlPictures[byte];
  if (byte == 0x7F) return u'\u2302';
  if (byte >= 0x80 && byte < 0xA0) return kWindows1252High[byte - 0x80];
  return static_cast<char16_t>(byte);
}

std::string FormatDumpLine(const DumpFormat& format, std::uint64_t offset,
                           const std::uint8_t* bytes, int count, int bytes_per_line) {
  char address[kAddressBufferSize];
  int address_length = FormatDumpAddress(offset, address);
  if (format.address_cells > 0 && address_length > format.address_cells)
    address_length = format.address_cells;

  std::string line(address, static_cast<std::size_t>(address_length));
  line += ' ';
  const std::size_t hex_start = line.size();
  // Every cell starts as a separator; the digits then go into their two places.
  line.append(static_cast<std::size_t>(bytes_per_line) * 3 - 1, format.hex_separator);
  WriteHexDigits(bytes, count, line.data() + hex_start);
  // Past the last byte, its trailing separator included, the grid is blank.
  const std::size_t used = count > 0 ? static_cast<std::size_t>(count) * 3 - 1 : 0;
  for (std::size_t i = hex_start + used; i < line.size(); ++i) line[i] = ' ';
  line += "  ";
  for (int i = 0; i < count; ++i) {
    if (format.dots_for_unprintable) {
      line += PrintableOrDot(bytes[i]);
    } else {
      line += static_cast<char>(bytes[i]);
    }
  }
  return line;
}
