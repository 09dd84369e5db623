#pragma once

#include <cstdint>
#include <string>

/// The size text of the found-file list: "%d Bytes" below 1 KiB, else KB, MB or GB with
/// two decimals and the given decimal separator (1,536 bytes give "1.50 KB").
[[nodiscard]] std::string FormatFileSize(std::uint64_t n, char decimal_point = '.');
