// The address, hex and character rules shared by the hex dump and `trawlex dump`.

#include "viewer/dump_format.h"

#include <gtest/gtest.h>

#include <array>
#include <numeric>
#include <string>

using namespace std::string_literals;

namespace {

std::string Address(std::uint64_t offset) {
  char text[kAddressBufferSize];
  const int length = FormatDumpAddress(offset, text);
  EXPECT_EQ(std::string(text).size(), static_cast<std::size_t>(length));
  return text;
}

TEST(DumpAddress, AtLeastThreeLowerCaseDigitsAndAColon) {
  EXPECT_EQ(Address(0), "000:");
  EXPECT_EQ(Address(0x10), "010:");
  EXPECT_EQ(Address(0x1f0), "1f0:");
  EXPECT_EQ(Address(0xfff), "fff:");
  EXPECT_EQ(Address(4096), "1000:");
  EXPECT_EQ(Address(0xabcdef), "abcdef:");
  EXPECT_EQ(Address(~std::uint64_t{0}), "ffffffffffffffff:");
}

TEST(DumpHex, DigitsGoIntoTheirCellsAndSeparatorsStay) {
  const std::uint8_t bytes[] = {0x00, 0x9A, 0xFF};
  std::string cells(8, '|');
  WriteHexDigits(bytes, 3, cells.data());
  EXPECT_EQ(cells, "00|9A|FF");
  std::u16string wide(5, u'\t');
  WriteHexDigits(bytes + 1, 2, wide.data());
  EXPECT_EQ(wide, u"9A\tFF");
}

TEST(DumpCharacters, PrintableAsciiOrDot) {
  EXPECT_EQ(PrintableOrDot('A'), 'A');
  EXPECT_EQ(PrintableOrDot(' '), ' ');
  EXPECT_EQ(PrintableOrDot('~'), '~');
  EXPECT_EQ(PrintableOrDot(0x00), '.');
  EXPECT_EQ(PrintableOrDot(0x1F), '.');
  EXPECT_EQ(PrintableOrDot(0x7F), '.');
  EXPECT_EQ(PrintableOrDot(0x80), '.');
  EXPECT_EQ(PrintableOrDot(0xE9), '.');
}

TEST(DumpCharacters, EveryByteHasAVisibleGlyphOfOneCharacter) {
  EXPECT_EQ(AnsiGlyph('A'), u'A');
  EXPECT_EQ(AnsiGlyph(0x00), u' ');
  EXPECT_EQ(AnsiGlyph(0x01), u'\u263A');
  EXPECT_EQ(AnsiGlyph(0x0A), u'\u25D9');
  EXPECT_EQ(AnsiGlyph(0x7F), u'\u2302');
  EXPECT_EQ(AnsiGlyph(0x80), u'\u20AC');
  EXPECT_EQ(AnsiGlyph(0x81), u'\uFFFD');
  EXPECT_EQ(AnsiGlyph(0x9F), u'\u0178');
  EXPECT_EQ(AnsiGlyph(0xA0), u'\u00A0');
  EXPECT_EQ(AnsiGlyph(0xE9), u'\u00E9');
  EXPECT_EQ(AnsiGlyph(0xFF), u'\u00FF');
  for (int b = 0; b < 256; ++b) {
    const char16_t glyph = AnsiGlyph(static_cast<std::uint8_t>(b));
    // No control character is ever handed to the screen: each would lose its cell.
    EXPECT_FALSE(glyph < 0x20 || (glyph >= 0x7F && glyph < 0xA0)) << "byte " << b;
  }
}

TEST(DumpLine, TextStyleHasTheWholeAddressSpacedHexAndDots) {
  std::array<std::uint8_t, 16> bytes;
  std::iota(bytes.begin(), bytes.end(), std::uint8_t{0x3C});
  bytes[0] = 0xFF;
  bytes[15] = 0x0A;
  EXPECT_EQ(FormatDumpLine(FormatOf(DumpStyle::kText), 0x1f0, bytes.data(), 16, 16),
            "1f0: FF 3D 3E 3F 40 41 42 43 44 45 46 47 48 49 4A 0A  .=>?@ABCDEFGHIJ.");
  EXPECT_EQ(FormatDumpLine(FormatOf(DumpStyle::kText), 0x12345, bytes.data(), 2, 16),
            "12345: FF 3D" + std::string(42, ' ') + "  .=");
}

TEST(DumpLine, ViewerStyleCutsTheAddressAndSeparatesByTabs) {
  const std::uint8_t bytes[] = {'O', 'K', 0x00};
  EXPECT_EQ(FormatDumpLine(FormatOf(DumpStyle::kViewer), 4096, bytes, 3, 4),
            "1000 4F\t4B\t00     OK\0"s);
  EXPECT_EQ(FormatDumpLine(FormatOf(DumpStyle::kViewer), 0, bytes, 0, 1), "000:     ");
}

TEST(DumpLine, FormatsAreNamedInTheirTable) {
  EXPECT_STREQ(FormatOf(DumpStyle::kViewer).name, "viewer");
  EXPECT_STREQ(FormatOf(DumpStyle::kText).name, "text");
  EXPECT_EQ(FormatOf(DumpStyle::kViewer).address_cells, 4);
  EXPECT_EQ(FormatOf(DumpStyle::kViewer).hex_separator, '\t');
}

}  // namespace
