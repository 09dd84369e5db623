// Build-time tool: writes a C++ source that places a VS_VERSIONINFO block in the ELF section
// that ReadVersionResource looks for.
//   trawlex_version_block OUTPUT VERSION PRODUCT_NAME DESCRIPTION COMPANY COPYRIGHT ORIGINAL_NAME

#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "version/version_info.h"
#include "version/version_words.h"

namespace {

using trawlex::version::VersionWords;

/// "1.2" or "1.2.3" is padded to four numbers before packing.
VersionWords PackVersion(std::string text) {
  int dots = 0;
  for (char c : text) dots += c == '.';
  for (; dots < 3; ++dots) text += ".0";
  return trawlex::version::ParseVersionText(text);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 8) {
    std::cerr << "usage: " << argv[0]
              << " OUTPUT VERSION PRODUCT_NAME DESCRIPTION COMPANY COPYRIGHT ORIGINAL_NAME\n";
    return 2;
  }
  const std::string output = argv[1];
  const VersionWords words = PackVersion(argv[2]);
  if (!words.IsVersion()) {
    std::cerr << argv[0] << ": \"" << argv[2] << "\" is not a version number\n";
    return 2;
  }
  const std::string dotted = trawlex::version::FormatVersionWords(words);

  trawlex::version::VersionResource resource;
  trawlex::version::FixedFileInfo fixed;
  fixed.file_version_ms = fixed.product_version_ms = static_cast<uint32_t>(words.ms);
  fixed.file_version_ls = fixed.product_version_ls = static_cast<uint32_t>(words.ls);
  resource.fixed = fixed;
  resource.string_tables.push_back({"040904E4",
                                    {{"CompanyName", argv[5]},
                                     {"FileDescription", argv[4]},
                                     {"FileVersion", dotted},
                                     {"InternalName", argv[7]},
                                     {"LegalCopyright", argv[6]},
                                     {"OriginalFileName", argv[7]},
                                     {"ProductName", argv[3]},
                                     {"ProductVersion", dotted}}});
  resource.translations.push_back(0x04E40409);
  const std::vector<uint8_t> block = trawlex::version::BuildVersionBlock(resource);

  std::ofstream out(output, std::ios::trunc);
  out << "// Generated at build time from the project's version number.\n"
      << "__attribute__((section(\"" << trawlex::version::kVersionSectionName
      << "\"), used, aligned(4)))\n"
      << "extern const unsigned char trawlex_vs_version_info[" << block.size() << "] = {";
  for (size_t i = 0; i < block.size(); ++i) {
    out << (i % 16 == 0 ? "\n   " : "") << ' ' << static_cast<unsigned>(block[i]) << ',';
  }
  out << "\n};\n";
  out.close();
  if (!out) {
    std::cerr << argv[0] << ": cannot write " << output << "\n";
    return 1;
  }
  return 0;
}
