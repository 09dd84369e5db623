#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

/// "SVG" for an XML start whose root element is an SVG drawing's; empty otherwise.
[[nodiscard]] std::string_view SvgName(const std::uint8_t* data, std::size_t available);
