#pragma once

#include "disk/sector_reader.h"

#include <memory>
#include <string>
#include <vector>

// The back-ends behind OpenSectorReader. Each opens its source read-only and fails with
// the reason in `err` and the errno (0 when there is none) in `error_number`.

/// A block device or one plain image file.
std::unique_ptr<SectorReader> OpenDeviceReader(const std::string& path, std::string* err,
                                               int* error_number);

/// True when `path` is named as Expert Witness segments are: .E01 ... .E99, .EAA ...,
/// .Ex01, .s01 (any case). Only such files are looked into, so that opening any other
/// source reads nothing from it.
[[nodiscard]] bool HasExpertWitnessName(const std::string& path);

/// True when the file at `path` begins with the Expert Witness (EWF, E01) signature.
[[nodiscard]] bool IsExpertWitnessFile(const std::string& path);

/// An Expert Witness image through libewf: all of its segment files (FILE.E01, FILE.E02,
/// ...), found from any one of them, read as one disk. A chunk whose checksum does not
/// match or that does not unpack reads as unreadable sectors.
std::unique_ptr<SectorReader> OpenExpertWitnessReader(const std::string& path, std::string* err,
                                                      int* error_number);

/// For the first piece of a raw image split into numbered pieces (FILE.001, or any run
/// of digits ending in 1 after a full stop, as split -d and dd tools name them): every
/// piece in order, as far as the numbers run unbroken. Empty for any other path.
[[nodiscard]] std::vector<std::string> SplitImagePieces(const std::string& path);

/// The pieces of a split raw image read end to end as one disk.
std::unique_ptr<SectorReader> OpenSplitImageReader(const std::vector<std::string>& pieces,
                                                   std::string* err, int* error_number);
