#pragma once

#include "detect/file_end.h"

#include <cstdint>

// Byte readers and verdicts that every format family's checks and finders use.

[[nodiscard]] inline std::uint16_t Le16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
[[nodiscard]] inline std::uint32_t Le32(const std::uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t{p[3]} << 24);
}
[[nodiscard]] inline std::uint64_t Le64(const std::uint8_t* p) {
  return Le32(p) | (std::uint64_t{Le32(p + 4)} << 32);
}
[[nodiscard]] inline std::uint16_t Be16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}
[[nodiscard]] inline std::uint32_t Be32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}
[[nodiscard]] inline std::uint64_t Be64(const std::uint8_t* p) {
  return (std::uint64_t{Be32(p)} << 32) | Be32(p + 4);
}

[[nodiscard]] inline EndVerdict NeedMore() {
  return {};
}
[[nodiscard]] inline EndVerdict EndsAt(std::uint64_t end) {
  return {EndVerdict::State::kEnds, end};
}
[[nodiscard]] inline EndVerdict BrokenAt(std::uint64_t end) {
  return {EndVerdict::State::kBroken, end};
}
[[nodiscard]] inline EndVerdict Unknown() {
  return {EndVerdict::State::kUnknown, 0};
}
