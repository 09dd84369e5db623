#include "update/engine_fixture.h"

#include "version/pe_builder.h"
#include "version/version_info.h"

namespace trawlex::update::testing {

void WriteVersionedExecutable(const std::string& path, const std::string& version) {
  const version::VersionWords words = version::ParseVersionText(version);
  version::VersionResource resource;
  version::FixedFileInfo fixed;
  fixed.file_version_ms = fixed.product_version_ms = static_cast<uint32_t>(words.ms);
  fixed.file_version_ls = fixed.product_version_ls = static_cast<uint32_t>(words.ls);
  resource.fixed = fixed;
  resource.string_tables.push_back({"040904E4", {{"FileVersion", version}}});
  resource.translations.push_back(0x04E40409);
  WriteBytes(path, version::testing::BuildPeWithVersion(version::BuildVersionBlock(resource)));
}

}  // namespace trawlex::update::testing
