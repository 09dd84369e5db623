#pragma once

/// Every kind a scan reports, one line each, in the order of their rows: first the 45 of
/// the signature chain in ascending ASCII order of their tags, then today's kinds, found
/// only with real ends, in the same order. X(Name) stands for the record kNameKind that the
/// kind's format file defines.
#define TRAWLEX_CHAIN_KINDS(X)                                                                    \
  X(Arj)                                                                                          \
  X(Asf) X(Avi) X(Bmp) X(Crw) X(Dbf) X(Dbx) X(Dcr) X(Doc) X(Dwg) X(EpsOrPs) X(Exe) X(Gif) X(Hlp)  \
      X(Html) X(Jpg) X(Lzh) X(Mdb) X(Mid) X(Mov) X(Mpg) X(Mpp) X(Mrw) X(Nef) X(Pdf) X(Png) X(Ppt) \
          X(Psd) X(Pst) X(Pub) X(Pwl) X(Qdf) X(Raf) X(Ram) X(Rar) X(Rm) X(Rtf) X(Tar) X(Tif)      \
              X(Vsd) X(Wav) X(Wpd) X(Xls) X(Xml) X(Zip)

#define TRAWLEX_TODAYS_KINDS(X)                                                                 \
  X(Apk)                                                                                        \
  X(Arw) X(Cr2) X(Dng) X(Docx) X(Epub) X(Jar) X(Odg) X(Odp) X(Ods) X(Odt) X(Orf) X(Pef) X(Pptx) \
      X(Rw2) X(Xlsx)

#define TRAWLEX_FILE_KINDS(X) TRAWLEX_CHAIN_KINDS(X) TRAWLEX_TODAYS_KINDS(X)
