#include "version/file_version_info.h"

#include <array>
#include <cstdint>
#include <utility>

#include "version/version_info.h"
#include "version/version_words.h"

namespace trawlex::version {

namespace {

std::string FourParts(uint32_t most, uint32_t least) {
  return std::to_string(most >> 16) + "." + std::to_string(most & 0xFFFF) + "." +
         std::to_string(least >> 16) + "." + std::to_string(least & 0xFFFF);
}

}  // namespace

std::string ShortFileVersion(const std::string& dotted) {
  std::vector<std::string> parts = SplitText(dotted, '.');
  while (parts.size() > 2 && parts.back() == "0") parts.pop_back();
  if (parts.size() == 1) parts.push_back("0");
  std::string out = parts.front();
  for (size_t i = 1; i < parts.size(); ++i) out += "." + parts[i];
  return out;
}

std::string OperatingSystemName(uint32_t file_os) {
  switch (file_os) {
    case 1:
      return "Windows 3.xx";
    case 2:
      return "16-bit OS/2 Presentation Manager";
    case 3:
      return "32-bit OS/2 Presentation Manager";
    case 4:
      return "32-bit Windows";
    case 65536:
      return "MS-DOS";
    case 65537:
      return "Windows 3.xx with MS-DOS";
    case 65540:
      return "32-bit Windows with MS-DOS";
    case 131072:
      return "16-bit OS/2";
    case 131074:
      return "16-bit OS/2 with Presentation Manager";
    case 196608:
      return "32-bit OS/2";
    case 196611:
      return "32-bit OS/2 with Presentation Manager";
    case 262144:
      return "Windows NT";
    case 262148:
      return "Windows NT with 32 bit Windows";
    default:
      return "Unknown";
  }
}

std::string FileTypeName(uint32_t file_type) {
  switch (file_type) {
    case 1:
      return "Application";
    case 2:
      return "Dynamic-Link Library";
    case 3:
      return "Device Driver";
    case 4:
      return "Font";
    case 5:
      return "Virtual Device Driver";
    case 7:
      return "Static-Link Library";
    default:
      return "Unknown";
  }
}

void VersionInfo::SetFileName(const std::string& name) {
  file_name_ = name;
  if (name.empty()) return;
  std::string err;
  const std::optional<VersionResource> resource = ReadVersionResource(name, &err);
  if (!resource || !resource->fixed) return;
  const FixedFileInfo& fixed = *resource->fixed;
  FileVersion = ShortFileVersion(FourParts(fixed.file_version_ms, fixed.file_version_ls));
  Items.push_back("ProductVersion=" +
                  FourParts(fixed.product_version_ms, fixed.product_version_ls));
  Items.push_back("OperatingSystem=" + OperatingSystemName(fixed.file_os));
  Items.push_back("FileType=" + FileTypeName(fixed.file_type));

  // The US English, Windows Latin-1 string table; a missing key adds nothing.
  static constexpr const char* kTable = "040904E4";
  static constexpr std::array<std::pair<const char*, const char*>, 12> kKeys{{
      {"Comments", "Comments"},
      {"CompanyName", "Company Name"},
      {"FileDescription", nullptr},
      {"InternalName", "Internal Name"},
      {"LegalCopyright", nullptr},
      {"LegalTradeMarks", "Legal Trademarks"},
      {"OriginalFileName", "Original Filename"},
      {"PrivateBuild", "Private Build"},
      {"ProductName", "Product Name"},
      {"ProductVersion", "Product Version"},
      {"SpecialBuild", "Special Build"},
      {"Author", "Author"},
  }};
  for (const auto& [key, item] : kKeys) {
    const std::optional<std::string> value = resource->QueryString(kTable, key);
    if (!value) continue;
    if (std::string(key) == "FileDescription")
      Description = *value;
    else if (std::string(key) == "LegalCopyright")
      Copyright = *value;
    else
      Items.push_back(std::string(item) + "=" + *value);
  }
}

}  // namespace trawlex::version
