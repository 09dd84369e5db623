#pragma once

/// Every kind a scan reports, one line each, in the order of their rows: first the 45 of
/// the signature chain in ascending ASCII order of their tags, then today's kinds, found
/// only with real ends, in the same order. X(Name) stands for the record kNameKind that the
/// kind's format file defines.
// clang-format off
#define TRAWLEX_CHAIN_KINDS(X)                                                                    \
  X(Arj)                                                                                          \
  X(Asf)                                                                                          \
  X(Avi) X(Bmp) X(Crw) X(Dbf) X(Dbx) X(Dcr) X(Doc) X(Dwg) X(EpsOrPs) X(Exe) X(Gif) X(Hlp) X(Html) \
      X(Jpg) X(Lzh) X(Mdb) X(Mid) X(Mov) X(Mpg) X(Mpp) X(Mrw) X(Nef) X(Pdf) X(Png) X(Ppt) X(Psd)  \
          X(Pst) X(Pub) X(Pwl) X(Qdf) X(Raf) X(Ram) X(Rar) X(Rm) X(Rtf) X(Tar) X(Tif) X(Vsd)      \
              X(Wav) X(Wpd) X(Xls) X(Xml) X(Zip)

#define TRAWLEX_TODAYS_KINDS(X)                                                              \
  X(3g2) X(3gp) X(7z) X(Aac) X(Apk) X(Arw) X(Avif) X(Bzip2) X(Cr2) X(Cr3) X(Dng) X(Docx)     \
  X(Epub) X(Flac) X(Gzip) X(Heic) X(Heif) X(Jar) X(M4a) X(M4v) X(Mkv) X(Mp3) X(Mp4) X(Odg)   \
  X(Odp) X(Ods) X(Odt) X(Ogg) X(Ogv) X(Opus) X(Orf) X(Pef) X(Pptx) X(Rw2) X(Sqlite) X(Svg)   \
  X(Wal) X(Webm) X(Webp) X(Xlsx) X(Xz) X(Zstd)

// clang-format on

#define TRAWLEX_FILE_KINDS(X) TRAWLEX_CHAIN_KINDS(X) TRAWLEX_TODAYS_KINDS(X)
