#include "recovery/ini_options_store.h"

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace {

constexpr const char* kSection = "Options";

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

/// A key as written, with %XX escapes undone ("Save%20Path" is "Save Path").
std::string DecodeKey(const std::string& key) {
  std::string out;
  for (std::size_t i = 0; i < key.size(); ++i) {
    if (key[i] == '%' && i + 2 < key.size() &&
        std::isxdigit(static_cast<unsigned char>(key[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(key[i + 2]))) {
      out.push_back(static_cast<char>(std::stoi(key.substr(i + 1, 2), nullptr, 16)));
      i += 2;
    } else {
      out.push_back(key[i]);
    }
  }
  return out;
}

/// A value as written: bare, or in double quotes with \\, \" and \n escapes.
std::string DecodeValue(const std::string& raw) {
  const std::string text = Trim(raw);
  if (text.size() < 2 || text.front() != '"' || text.back() != '"') return text;
  std::string out;
  for (std::size_t i = 1; i + 1 < text.size(); ++i) {
    if (text[i] == '\\' && i + 2 < text.size()) {
      const char next = text[++i];
      out.push_back(next == 'n' ? '\n' : next == 'r' ? '\r' : next);
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

/// Bare where that reads back the same, else quoted.
std::string EncodeValue(const std::string& value) {
  const bool bare = !value.empty() && value == Trim(value) &&
                    value.find_first_of("\"\\\n\r") == std::string::npos;
  if (bare || value.empty()) return value;
  std::string out = "\"";
  for (char c : value) {
    if (c == '"' || c == '\\') out.push_back('\\');
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else {
      out.push_back(c);
    }
  }
  return out + "\"";
}

bool IsSection(const std::string& line, std::string* name) {
  const std::string text = Trim(line);
  if (text.size() < 2 || text.front() != '[' || text.back() != ']') return false;
  *name = text.substr(1, text.size() - 2);
  return true;
}

/// The key of a "key=value" line, decoded; empty for any other line.
std::string KeyOf(const std::string& line) {
  const std::string text = Trim(line);
  if (text.empty() || text[0] == ';' || text[0] == '#') return {};
  const auto eq = text.find('=');
  return eq == std::string::npos ? std::string() : DecodeKey(Trim(text.substr(0, eq)));
}

std::vector<std::string> Lines(const std::string& path, bool* readable) {
  std::vector<std::string> lines;
  std::ifstream in(path, std::ios::binary);
  *readable = static_cast<bool>(in);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

}  // namespace

std::optional<std::string> IniOptionsStore::Read(const std::string& key) {
  bool readable = false;
  std::string section;
  for (const std::string& line : Lines(path_, &readable)) {
    if (IsSection(line, &section)) continue;
    if (section == kSection && KeyOf(line) == key)
      return DecodeValue(line.substr(line.find('=') + 1));
  }
  return std::nullopt;
}

bool IniOptionsStore::Write(const std::string& key, const std::string& value) {
  bool readable = false;
  std::vector<std::string> lines = Lines(path_, &readable);
  const std::string entry = key + "=" + EncodeValue(value);
  // Replace the key's first line in the section and drop any other spelling of it.
  std::vector<std::string> out;
  std::string section;
  bool written = false;
  std::ptrdiff_t section_end = -1;  ///< where a new key of the section goes
  for (const std::string& line : lines) {
    std::string name;
    if (IsSection(line, &name)) {
      section = name;
      out.push_back(line);
      if (section == kSection) section_end = static_cast<std::ptrdiff_t>(out.size());
      continue;
    }
    if (section == kSection && KeyOf(line) == key) {
      if (!written) out.push_back(entry);
      written = true;
      section_end = static_cast<std::ptrdiff_t>(out.size());
      continue;
    }
    out.push_back(line);
    if (section == kSection && !Trim(line).empty())
      section_end = static_cast<std::ptrdiff_t>(out.size());
  }
  if (!written) {
    if (section_end < 0) {
      if (!out.empty() && !Trim(out.back()).empty()) out.emplace_back();
      out.push_back(std::string("[") + kSection + "]");
      section_end = static_cast<std::ptrdiff_t>(out.size());
    }
    out.insert(out.begin() + section_end, entry);
  }

  std::error_code ec;
  const std::filesystem::path target(path_);
  if (target.has_parent_path()) std::filesystem::create_directories(target.parent_path(), ec);
  const std::string temp = path_ + ".new";
  {
    std::ofstream file(temp, std::ios::binary | std::ios::trunc);
    for (const std::string& line : out) file << line << '\n';
    file.flush();
    if (!file) {
      std::remove(temp.c_str());
      return false;
    }
  }
  if (std::rename(temp.c_str(), path_.c_str()) != 0) {
    std::remove(temp.c_str());
    return false;
  }
  return true;
}
