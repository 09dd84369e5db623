#pragma once

#include <string>
#include <string_view>

/// `text` as a JSON string. Valid UTF-8 stays as it is; control characters and every
/// byte that is not part of valid UTF-8 (a raw path byte) become \u00XX of the byte, so
/// the output is always valid JSON and a byte 0x80-0xFF shows as U+0080-U+00FF.
[[nodiscard]] std::string JsonString(std::string_view text);
