#include "update/cab_writer.h"

#include <cstdint>
#include <fstream>

namespace trawlex::update::testing {
namespace {

void Put16(std::string& out, uint32_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

}  // namespace

void WriteStoredCabinet(const std::string& path,
                        const std::vector<std::pair<std::string, std::string>>& files) {
  std::string data;
  std::string entries;
  for (const auto& [name, content] : files) {
    Put32(entries, static_cast<uint32_t>(content.size()));
    Put32(entries, static_cast<uint32_t>(data.size()));
    Put16(entries, 0);                                     // folder 0
    Put16(entries, ((2024 - 1980) << 9) | (5 << 5) | 17);  // 17 May 2024
    Put16(entries, (12 << 11) | (30 << 5));                // 12:30
    Put16(entries, 0x20);
    entries += name;
    entries += '\0';
    data += content;
  }
  std::string blocks;
  uint32_t block_count = 0;
  for (size_t at = 0; at < data.size() || block_count == 0; at += 32768) {
    const std::string piece = data.substr(at, 32768);
    Put32(blocks, 0);  // no checksum
    Put16(blocks, static_cast<uint32_t>(piece.size()));
    Put16(blocks, static_cast<uint32_t>(piece.size()));
    blocks += piece;
    ++block_count;
    if (data.empty()) break;
  }
  const uint32_t files_at = 36 + 8;
  const uint32_t data_at = files_at + static_cast<uint32_t>(entries.size());
  std::string cab = "MSCF";
  Put32(cab, 0);
  Put32(cab, data_at + static_cast<uint32_t>(blocks.size()));
  Put32(cab, 0);
  Put32(cab, files_at);
  Put32(cab, 0);
  cab += static_cast<char>(3);
  cab += static_cast<char>(1);
  Put16(cab, 1);
  Put16(cab, static_cast<uint32_t>(files.size()));
  Put16(cab, 0);
  Put16(cab, 0);
  Put16(cab, 0);
  Put32(cab, data_at);
  Put16(cab, block_count);
  Put16(cab, 0);  // stored, no compression
  std::ofstream(path, std::ios::binary) << cab << entries << blocks;
}

}  // namespace trawlex::update::testing
