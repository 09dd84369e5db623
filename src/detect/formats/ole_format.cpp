#include "detect/formats/extra_starts.h"

int CompoundDocumentStart(const std::uint8_t* /*data*/, std::size_t /*available*/) {
  return -1;
}
