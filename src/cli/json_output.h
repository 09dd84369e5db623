#pragma once

#include <nlohmann/json.hpp>

#include <cstdio>
#include <string>
#include <string_view>

using Json = nlohmann::ordered_json;

/// Puts `text` into `object` under `key`. Valid UTF-8 goes in as it is. Text that is not
/// (the raw bytes of a Linux path may be anything) goes in with each byte that is not
/// part of valid UTF-8 as U+FFFD, and `key` + "_bytes" then holds every byte of the text
/// in hex, so the output is always valid JSON and the exact bytes can be had back.
void PutText(Json& object, const std::string& key, std::string_view text);

/// Writes `value` in one line, no newline after it. False when stdout failed.
bool WriteJson(const Json& value, std::FILE* out = stdout);
