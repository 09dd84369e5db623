#include "detect/file_detect.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

/// The bytes at `offset` equal the literal (its terminating zero excluded). Literals
/// carry embedded zero bytes where a signature has them. Compared byte by byte so that
/// the common mismatch costs one load and one branch.
template <std::size_t N>
inline bool Is(const std::uint8_t* data, int offset, const char (&literal)[N]) {
  for (std::size_t i = 0; i + 1 < N; ++i)
    if (data[offset + static_cast<int>(i)] != static_cast<std::uint8_t>(literal[i])) return false;
  return true;
}

inline bool IsBlank(const std::uint8_t* data) {
  std::uint64_t head;
  std::memcpy(&head, data, sizeof head);
  return head == 0 || head == ~std::uint64_t{0};
}

inline bool StartsIIorMM(const std::uint8_t* data) {
  return Is(data, 0, "II") || Is(data, 0, "MM");
}

/// Tag of a compound document; the document itself is always recognised.
std::string_view CompoundDocumentTag(const std::uint8_t* data) {
  if (Is(data, 512, "\xEC\xA5\xC1\x00") || Is(data, 512, "\xDC\xA5")) return "DOC";
  if (Is(data, 512, "\x09\x08\x10\x00")) return "XLS";
  if (OleEntryNameEquals(data + 1152, 27, "VisioDocument") ||
      OleEntryNameEquals(data + 1664, 27, "VisioDocument"))
    return "VSD";
  if (OleEntryNameEquals(data + 1152, 39, "PowerPoint Document")) return "PPT";
  if (Is(data, 512, "\xFD\xFF\xFF\xFF\x02")) {
    if (data[520] == 0x03) return "PUB";
    if (data[520] == 0x08) return "MPP";
  }
  return "";
}

/// An archive written by the ARJ archiver: basic header size 1..2600 at bytes 2-3 and
/// file type 2 (main header) at byte 10. The classic test below never matches one.
bool IsArjMainHeader(const std::uint8_t* data) {
  const int header_size = data[2] | (data[3] << 8);
  return header_size >= 1 && header_size <= 2600 && data[10] == 2;
}

enum class Camera { kNone, kKodak, kFuji };

/// The two word searches in one pass: "Kodak" anywhere in positions 0 .. span-1 wins,
/// else "Fuji" anywhere. Gives the same answer as searching for one word, then the
/// other, position by position, but reads the bytes once. Candidates are found sixteen
/// positions at a time by their first two letters ("Ko", "Fu"), which random data
/// almost never holds, so the loop rarely branches away.
Camera FindCameraMaker(const std::uint8_t* data, int span) {
  if (span <= 0) return Camera::kNone;
  bool fuji = false;
  int i = 0;
  auto check = [&](int pos) {
    if (data[pos] == 'K') return Is(data, pos, "Kodak");
    if (!fuji && data[pos] == 'F') fuji = Is(data, pos, "Fuji");
    return false;
  };
#if defined(__SSE2__)
  const __m128i k = _mm_set1_epi8('K'), o = _mm_set1_epi8('o');
  const __m128i f = _mm_set1_epi8('F'), u = _mm_set1_epi8('u');
  auto pairs = [&](int at) {
    const __m128i b0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at));
    const __m128i b1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at + 1));
    return _mm_or_si128(_mm_and_si128(_mm_cmpeq_epi8(b0, k), _mm_cmpeq_epi8(b1, o)),
                        _mm_and_si128(_mm_cmpeq_epi8(b0, f), _mm_cmpeq_epi8(b1, u)));
  };
  auto visit = [&](int at, __m128i candidates) {
    unsigned hits = static_cast<unsigned>(_mm_movemask_epi8(candidates));
    for (; hits != 0; hits &= hits - 1)
      if (check(at + __builtin_ctz(hits))) return true;
    return false;
  };
  // Reads data[i + 64] at most, which lies within the span + 4 readable bytes.
  for (; i + 64 <= span; i += 64) {
    const __m128i c0 = pairs(i), c1 = pairs(i + 16), c2 = pairs(i + 32), c3 = pairs(i + 48);
    if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(c0, c1), _mm_or_si128(c2, c3))) == 0) continue;
    if (visit(i, c0) || visit(i + 16, c1) || visit(i + 32, c2) || visit(i + 48, c3))
      return Camera::kKodak;
  }
  for (; i + 16 <= span; i += 16)
    if (visit(i, pairs(i))) return Camera::kKodak;
#endif
  for (; i < span; ++i)
    if (check(i)) return Camera::kKodak;
  return fuji ? Camera::kFuji : Camera::kNone;
}

/// The chain of byte tests; the first that matches names the kind. Returns false when
/// nothing matched, else sets `kind` (possibly empty for an unknown compound document).
bool Classify(const std::uint8_t* data, int span, std::string_view& kind) {
  if (Is(data, 0, "MZ")) return kind = "EXE", true;
  if (Is(data, 0, "GIF89a") || Is(data, 0, "GIF87a")) return kind = "GIF", true;
  if (Is(data, 0, "\x89PNG\r\n\x1A\n")) return kind = "PNG", true;
  if (Is(data, 0, "\xFF\xD8\xFF\xE0") || Is(data, 0, "\xFF\xD8\xFF\xE1")) return kind = "JPG", true;
  if (Is(data, 0, "BM")) return kind = "BMP", true;
  if (Is(data, 0, "II*\x00") || Is(data, 0, "MM\x00*")) return kind = "TIF", true;
  if (Is(data, 0, "{\\rtf")) return kind = "RTF", true;
  if (Is(data, 0, "<?xml") || Is(data, 0, "<?XML")) return kind = "XML", true;
  if (Is(data, 0, "<html>") || Is(data, 0, "<HTML>")) return kind = "HTML", true;
  if (Is(data, 0, "\xD0\xCF\x11\xE0")) return kind = CompoundDocumentTag(data), true;
  if (Is(data, 0, "?_\x03\x00")) return kind = "HLP", true;
  if (Is(data, 0, "PK\x03\x04")) return kind = "ZIP", true;
  if (Is(data, 0, "\x60\xEA") &&
      ((Is(data, 4, "\x01\x00\x11\x00") && (data[8] & 0x0F) == 2) || IsArjMainHeader(data)))
    return kind = "ARJ", true;
  if (Is(data, 0, "Rar!\x1A") && (data[5] & 0x0F) == 7) return kind = "RAR", true;
  if (Is(data, 0, "\xFFWPC")) return kind = "WPD", true;
  if (Is(data, 0, "%PDF-1")) return kind = "PDF", true;
  if (StartsIIorMM(data) && Is(data, 6, "HEAPCCDR")) return kind = "CRW", true;
  if (Is(data, 250, "Canon EOS-1D")) return kind = "CRW", true;
  if (Is(data, 0, "RIFF")) {
    if (Is(data, 8, "WAVE")) return kind = "WAV", true;
    if (Is(data, 8, "AVI ")) return kind = "AVI", true;
    return kind = "RIFF", true;
  }
  if (Is(data, 4, "moov")) return kind = "MOV", true;
  if (StartsIIorMM(data) && (Is(data, 352, "NIKON") || Is(data, 484, "NIKON")))
    return kind = "NEF", true;
  if (Is(data, 0, "\x00MRM")) return kind = "MRW", true;
  switch (FindCameraMaker(data, span)) {
    case Camera::kKodak:
      return kind = "DCR", true;
    case Camera::kFuji:
      return kind = "RAF", true;
    case Camera::kNone:
      break;
  }
  if (Is(data, 0, "AC10")) return kind = "DWG", true;
  if (Is(data, 0, "8BPS")) return kind = "PSD", true;
  if (Is(data, 0, "\xCF\xAD\x12\xFE\xC5\xFD\x74\x6F")) return kind = "DBX", true;
  if (Is(data, 0, "!BDN")) return kind = "PST", true;
  switch (data[0]) {
    case 0x03:
    case 0x83:
    case 0xF5:
    case 0x8B:
    case 0x8E:
      if ((data[12] | data[13] | data[30] | data[31]) == 0) return kind = "DBF", true;
  }
  if (Is(data, 257, "ustar\0")) return kind = "TAR", true;
  if (Is(data, 2, "-lh") || Is(data, 2, "-lz")) return kind = "LZH", true;
  if (Is(data, 0, "MThd")) return kind = "MID", true;
  if (Is(data, 4, "Standard J")) return kind = "MDB", true;
  if (Is(data, 0, "%!PS-Adobe")) return kind = "EPSorPS", true;
  if (Is(data, 0, "\xAC\x9E\xBD\x8F")) return kind = "QDF", true;
  if (Is(data, 0, "\xE3\x82\x85\x96")) return kind = "PWL", true;
  if (Is(data, 8, "WAVE")) return kind = "WAV", true;
  if (Is(data, 0, ".ray")) return kind = "RAM", true;
  if (Is(data, 0, ".RMF")) return kind = "RM", true;
  if (Is(data, 0, "\x00\x00\x01\xB3") || Is(data, 0, "\x00\x00\x01\xBA")) return kind = "MPG", true;
  if (Is(data, 0, "\x30\x26\xB2\x75\x8E\x66\xCF\x11")) return kind = "ASF", true;
  if (Is(data, 0, "moov")) return kind = "MOV", true;
  return false;
}

}  // namespace

bool MatchAt(const std::uint8_t* data, std::string_view pattern) {
  return pattern.empty() || std::memcmp(data, pattern.data(), pattern.size()) == 0;
}

bool FindPattern(const std::uint8_t* data, int span, std::string_view pattern) {
  if (span <= 0) return false;
  if (pattern.empty()) return true;
  // Candidates are the places of the pattern's first byte, visited in ascending order,
  // so the first match found is the one a position-by-position search would find.
  const auto first = static_cast<unsigned char>(pattern[0]);
  const std::uint8_t* p = data;
  const std::uint8_t* const end = data + span;
  while (p < end) {
    p = static_cast<const std::uint8_t*>(std::memchr(p, first, static_cast<std::size_t>(end - p)));
    if (p == nullptr) return false;
    if (MatchAt(p, pattern)) return true;
    ++p;
  }
  return false;
}

bool OleEntryNameEquals(const std::uint8_t* data, int byte_count, std::string_view name) {
  std::size_t matched = 0;
  for (int i = 0; i < byte_count; ++i) {
    const std::uint8_t b = data[i];
    if (b == 0) continue;
    if (matched == name.size() || static_cast<std::uint8_t>(name[matched]) != b) return false;
    ++matched;
  }
  return matched == name.size();
}

bool DetectFileType(const std::uint8_t* data, int span, std::string& tag, int maxTagLength) {
  if (IsBlank(data)) return false;
  std::string_view kind;
  if (!Classify(data, span, kind)) return false;
  const auto cut = maxTagLength < 0 ? 0 : static_cast<std::size_t>(maxTagLength);
  tag.assign(kind.substr(0, cut));
  return true;
}
