#pragma once

#include <cstdint>
#include <string>

/// How one line of a hex dump is written. The hex dump control and `trawlex dump` share the
/// address and hex rules and differ only in the choices of their row of kDumpFormats.
struct DumpFormat {
  const char* name;
  /// Characters of the formatted address that are shown; 0 keeps them all.
  int address_cells;
  /// What separates the two digits of one byte from the next byte's digits.
  char hex_separator;
  /// Bytes outside printable ASCII written as '.'; otherwise every byte is given to the screen.
  bool dots_for_unprintable;
};

enum class DumpStyle { kViewer, kText };

inline constexpr DumpFormat kDumpFormats[] = {
    // The control cuts the address to its column and lets tab stops place the bytes.
    {"viewer", 4, '\t', false},
    // Plain text keeps the whole address and prints only printable ASCII.
    {"text", 0, ' ', true},
};

[[nodiscard]] constexpr const DumpFormat& FormatOf(DumpStyle style) {
  return kDumpFormats[static_cast<int>(style)];
}

/// Room for the longest address text: 16 digits, the colon and a terminating zero.
inline constexpr int kAddressBufferSize = 18;

/// Writes `offset` as at least three lower-case hex digits and a colon ("000:", "1f0:",
/// "1000:") into `out`, zero-terminated; returns the number of characters written.
int FormatDumpAddress(std::uint64_t offset, char (&out)[kAddressBufferSize]);

/// Puts the two upper-case hex digits of byte i at positions 3i and 3i+1 of `out`; the
/// separator positions 3i+2 are left as they are, so a caller may fill them once.
template <typename Char>
void WriteHexDigits(const std::uint8_t* bytes, int count, Char* out) {
  constexpr char kDigits[] = "0123456789ABCDEF";
  for (int i = 0; i < count; ++i) {
    out[3 * i] = static_cast<Char>(kDigits[bytes[i] >> 4]);
    out[3 * i + 1] = static_cast<Char>(kDigits[bytes[i] & 0x0F]);
  }
}

/// The byte itself when it is printable ASCII (0x20..0x7E), else '.'.
[[nodiscard]] constexpr char PrintableOrDot(std::uint8_t byte) {
  return byte >= 0x20 && byte < 0x7F ? static_cast<char>(byte) : '.';
}

/// The character a byte stands for on screen: Windows-1252 for 0x20..0xFF, and the classic
/// PC pictures for the control codes (0x00 is a blank), so that every byte keeps one cell.
[[nodiscard]] char16_t AnsiGlyph(std::uint8_t byte);

/// One text line: the address of `offset`, the `count` bytes in hex on a grid of
/// `bytes_per_line` cells (short lines padded), two blanks, then the bytes as characters.
/// `count` must not exceed `bytes_per_line`.
[[nodiscard]] std::string FormatDumpLine(const DumpFormat& format, std::uint64_t offset,
                                         const std::uint8_t* bytes, int count, int bytes_per_line);
