#include "update/profile_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <sstream>

namespace trawlex::update {
namespace {

std::string TrimLine(const std::string& text) {
  const char* blanks = " \t\r\n\f\v";
  const size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return {};
  const size_t last = text.find_last_not_of(blanks);
  return text.substr(first, last - first + 1);
}

std::string Unquote(const std::string& value) {
  if (value.size() >= 2) {
    const char q = value.front();
    if ((q == '"' || q == '\'') && value.back() == q) return value.substr(1, value.size() - 2);
  }
  return value;
}

}  // namespace

std::string AsciiUpper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

std::optional<ProfileFile> ProfileFile::Load(const std::string& path, std::string* err) {
  // O_NONBLOCK: a FIFO must not hold the caller in open().
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    if (err) *err = "Cannot open \"" + path + "\": " + std::strerror(errno) + ".";
    return std::nullopt;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    if (err) *err = "\"" + path + "\" is not a readable file.";
    return std::nullopt;
  }
  std::string text;
  char buffer[4096];
  bool failed = false;
  while (text.size() <= kMaxProfileFileSize) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    failed = got < 0;
    if (got <= 0) break;
    text.append(buffer, static_cast<size_t>(got));
  }
  ::close(fd);
  if (failed) {
    if (err) *err = "Cannot read \"" + path + "\".";
    return std::nullopt;
  }
  if (text.size() > kMaxProfileFileSize) {
    if (err) {
      *err = "\"" + path + "\" is larger than " + std::to_string(kMaxProfileFileSize) +
             " bytes, too large for a control file.";
    }
    return std::nullopt;
  }
  return FromText(text);
}

ProfileFile ProfileFile::FromText(const std::string& text) {
  ProfileFile profile;
  std::map<std::string, std::string>* current = nullptr;
  // A UTF-8 byte-order mark would otherwise hide the first section's header.
  const bool bom = text.rfind("\xEF\xBB\xBF", 0) == 0;
  std::istringstream lines(bom ? text.substr(3) : text);
  std::string raw;
  while (std::getline(lines, raw)) {
    const std::string line = TrimLine(raw);
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      const size_t close = line.find(']');
      const std::string name = AsciiUpper(
          TrimLine(line.substr(1, close == std::string::npos ? std::string::npos : close - 1)));
      current = &profile.sections_[name];  // a repeated section adds to the first one
      continue;
    }
    if (current == nullptr) continue;
    const size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = AsciiUpper(TrimLine(line.substr(0, equals)));
    if (key.empty()) continue;
    current->emplace(key, Unquote(TrimLine(line.substr(equals + 1))));  // first one wins
  }
  return profile;
}

bool ProfileFile::HasKey(const std::string& section, const std::string& key) const {
  const auto s = sections_.find(AsciiUpper(section));
  return s != sections_.end() && s->second.count(AsciiUpper(key)) != 0;
}

std::string ProfileFile::ReadString(const std::string& section, const std::string& key,
                                    const std::string& default_value) const {
  const auto s = sections_.find(AsciiUpper(section));
  if (s == sections_.end()) return default_value;
  const auto k = s->second.find(AsciiUpper(key));
  if (k == s->second.end()) return default_value;
  return k->second;
}

int32_t ProfileFile::ReadInteger(const std::string& section, const std::string& key,
                                 int32_t default_value) const {
  if (!HasKey(section, key)) return default_value;
  return ParseProfileInteger(ReadString(section, key, {})).value_or(default_value);
}

std::optional<int32_t> ParseProfileInteger(const std::string& text) {
  const std::string t = TrimLine(text);
  size_t i = 0;
  bool negative = false;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
  if (i < t.size() && t[i] == '$') {
    ++i;
    if (i == t.size() || t.size() - i > 8) return std::nullopt;
    uint32_t value = 0;
    for (; i < t.size(); ++i) {
      const char c = t[i];
      int digit;
      if (c >= '0' && c <= '9')
        digit = c - '0';
      else if (c >= 'a' && c <= 'f')
        digit = c - 'a' + 10;
      else if (c >= 'A' && c <= 'F')
        digit = c - 'A' + 10;
      else
        return std::nullopt;
      value = value * 16 + static_cast<uint32_t>(digit);
    }
    // Hexadecimal fills all 32 bits, so $FFFFFFFF is -1.
    const auto result = static_cast<int32_t>(value);
    return negative ? static_cast<int32_t>(0u - static_cast<uint32_t>(result)) : result;
  }
  if (i == t.size()) return std::nullopt;
  int64_t value = 0;
  for (; i < t.size(); ++i) {
    if (t[i] < '0' || t[i] > '9') return std::nullopt;
    value = value * 10 + (t[i] - '0');
    if (value > 2147483648LL) return std::nullopt;
  }
  if (negative) value = -value;
  if (value > INT32_MAX || value < INT32_MIN) return std::nullopt;
  return static_cast<int32_t>(value);
}

}  // namespace trawlex::update
