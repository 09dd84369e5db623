#pragma once

#include <array>
#include <cstddef>
#include <string_view>

/// One kind of file a scan reports.
struct FileTypeEntry {
  std::string_view tag;          ///< the detector's tag, also the found file's extension
  std::string_view description;  ///< a few words for listings
};

/// The catalogue: 45 kinds in ascending ASCII order of their tags. Row k of the
/// file-type list always stands for entry k.
inline constexpr std::array<FileTypeEntry, 45> kFileTypes{{
    {"ARJ", "ARJ archive"},
    {"ASF", "Advanced Systems Format media"},
    {"AVI", "AVI video"},
    {"BMP", "Windows bitmap"},
    {"CRW", "Canon raw photo"},
    {"DBF", "dBASE table"},
    {"DBX", "Outlook Express mail folder"},
    {"DCR", "Kodak raw photo"},
    {"DOC", "Word document"},
    {"DWG", "AutoCAD drawing"},
    {"EPSorPS", "PostScript or EPS document"},
    {"EXE", "DOS or Windows program"},
    {"GIF", "GIF picture"},
    {"HLP", "Windows help file"},
    {"HTML", "HTML page"},
    {"JPG", "JPEG picture"},
    {"LZH", "LHA archive"},
    {"MDB", "Access database"},
    {"MID", "MIDI music"},
    {"MOV", "QuickTime movie"},
    {"MPG", "MPEG video"},
    {"MPP", "Project plan"},
    {"MRW", "Minolta raw photo"},
    {"NEF", "Nikon raw photo"},
    {"PDF", "PDF document"},
    {"PNG", "PNG picture"},
    {"PPT", "PowerPoint presentation"},
    {"PSD", "Photoshop image"},
    {"PST", "Outlook personal folders"},
    {"PUB", "Publisher document"},
    {"PWL", "Windows password list"},
    {"QDF", "Quicken data file"},
    {"RAF", "Fuji raw photo"},
    {"RAM", "RealAudio metafile"},
    {"RAR", "RAR archive"},
    {"RM", "RealMedia file"},
    {"RTF", "Rich Text document"},
    {"TAR", "tar archive"},
    {"TIF", "TIFF picture"},
    {"VSD", "Visio drawing"},
    {"WAV", "WAVE audio"},
    {"WPD", "WordPerfect document"},
    {"XLS", "Excel workbook"},
    {"XML", "XML document"},
    {"ZIP", "ZIP archive"},
}};

inline constexpr int kFileTypeCount = static_cast<int>(kFileTypes.size());

/// The row of the catalogue entry whose tag equals `tag` exactly (same length,
/// same bytes, case-sensitive), or -1. "RIFF" and the empty tag match nothing.
[[nodiscard]] constexpr int FindFileType(std::string_view tag) {
  for (int i = 0; i < kFileTypeCount; ++i)
    if (kFileTypes[static_cast<std::size_t>(i)].tag == tag) return i;
  return -1;
}

/// The tag of catalogue row `index`; index must be in 0 .. kFileTypeCount-1.
[[nodiscard]] constexpr std::string_view FileTypeTag(int index) {
  return kFileTypes[static_cast<std::size_t>(index)].tag;
}
