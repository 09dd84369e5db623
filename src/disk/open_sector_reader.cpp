// Chooses the back-end for a source: an Expert Witness image by its name and signature, the first
// piece of a split raw image by its number, anything else as a device or plain image.

#include "disk/image/image_readers.h"
#include "disk/sector_reader.h"

std::unique_ptr<SectorReader> OpenSectorReader(const std::string& path, std::string* err,
                                               int* error_number) {
  int ignored = 0;
  int& failure = error_number ? *error_number : ignored;
  failure = 0;
  if (HasExpertWitnessName(path) && IsExpertWitnessFile(path))
    return OpenExpertWitnessReader(path, err, &failure);
  if (const auto pieces = SplitImagePieces(path); pieces.size() > 1)
    return OpenSplitImageReader(pieces, err, &failure);
  return OpenDeviceReader(path, err, &failure);
}
