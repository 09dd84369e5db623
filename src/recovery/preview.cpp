#include "recovery/preview.h"

#include "disk/sector_reader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

PreviewKind PreviewKindOf(const TfileExt& file) {
  return PreviewKindOfType(file.Type);
}

PreviewKind PreviewKindOfType(int type) {
  if (type < 0 || type >= kFileTypeCount) return PreviewKind::kHex;
  switch (FileKindAt(type).preview) {
    case KindPreview::kPicture:
      return PreviewKind::kPicture;
    case KindPreview::kText:
      return PreviewKind::kText;
    case KindPreview::kHex:
      break;
  }
  return PreviewKind::kHex;
}

std::vector<std::uint8_t> ReadPreviewBytes(SectorReader& reader, const TfileExt& file,
                                           std::string* error) {
  return ReadPreviewBytes(reader, file.LBA * 512, file.Size, PreviewKindOf(file), error);
}

std::vector<std::uint8_t> ReadPreviewBytes(SectorReader& reader, std::uint64_t offset,
                                           std::uint64_t size, PreviewKind kind,
                                           std::string* error) {
  std::size_t want = 512;
  switch (kind) {
    case PreviewKind::kPicture:
      want = kPicturePreview;
      break;
    case PreviewKind::kText:
      want = kTextPreview;
      break;
    case PreviewKind::kHex:
      break;
  }
  // An open-ended record (size 0) still has its first sector to show.
  if (size > 0) want = static_cast<std::size_t>(std::min<std::uint64_t>(want, size));
  std::vector<std::uint8_t> bytes(want);
  std::size_t have = 0;
  if (error) error->clear();
  while (have < want) {
    const ReadResult r = reader.ReadAt(offset + have, bytes.data() + have, want - have);
    have += r.bytes;
    if (r.bytes == 0 || r.error != 0) {
      if (error && have < want) *error = r.error != 0 ? std::strerror(r.error) : "the disk ended";
      break;
    }
  }
  bytes.resize(have);
  return bytes;
}

std::string PreviewText(const std::vector<std::uint8_t>& bytes, int lines) {
  std::string out;
  for (std::uint8_t b : bytes) {
    if (b == '\n' && --lines <= 0) break;
    const bool text = b == '\n' || b == '\t' || b == '\r' || b >= 0x20;
    if (b != '\r') out.push_back(text && b != 0x7F ? static_cast<char>(b) : '.');
  }
  return out;
}

std::string PreviewHex(const std::vector<std::uint8_t>& bytes) {
  std::string out;
  char line[96];
  for (std::size_t at = 0; at < bytes.size(); at += 16) {
    int n = std::snprintf(line, sizeof line, "%03zx:", at);
    for (std::size_t i = at; i < at + 16; ++i)
      n += i < bytes.size()
               ? std::snprintf(line + n, sizeof line - static_cast<std::size_t>(n), " %02X",
                               bytes[i])
               : std::snprintf(line + n, sizeof line - static_cast<std::size_t>(n), "   ");
    out.append(line, static_cast<std::size_t>(n));
    out += "  ";
    for (std::size_t i = at; i < std::min(at + 16, bytes.size()); ++i)
      out.push_back(bytes[i] >= 0x20 && bytes[i] < 0x7F ? static_cast<char>(bytes[i]) : '.');
    out.push_back('\n');
  }
  return out;
}
