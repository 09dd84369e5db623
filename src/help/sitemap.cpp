#include "help/sitemap.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <optional>

namespace trawlex::help {
namespace {

std::string Lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f';
}

void AppendUtf8(std::string& out, uint32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

/// The code point of a numeric reference body ("#233", "#xE9"); nullopt when it is none.
std::optional<uint32_t> NumericReference(std::string_view body) {
  if (body.size() < 2 || body[0] != '#') return std::nullopt;
  const bool hex = body[1] == 'x' || body[1] == 'X';
  const std::string_view digits = body.substr(hex ? 2 : 1);
  if (digits.empty() || digits.size() > 8) return std::nullopt;
  uint32_t code = 0;
  for (char c : digits) {
    const int value = std::isdigit(static_cast<unsigned char>(c))
                          ? c - '0'
                          : (hex && std::isxdigit(static_cast<unsigned char>(c))
                                 ? std::tolower(static_cast<unsigned char>(c)) - 'a' + 10
                                 : -1);
    if (value < 0) return std::nullopt;
    code = code * (hex ? 16 : 10) + static_cast<uint32_t>(value);
  }
  if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return std::nullopt;
  return code;
}

/// One tag: its lower-case name ("ul", "/ul", "param") and its attributes.
struct Tag {
  std::string name;
  std::vector<std::pair<std::string, std::string>> attributes;

  [[nodiscard]] std::string Attribute(std::string_view key) const {
    for (const auto& [k, v] : attributes)
      if (k == key) return v;
    return {};
  }
};

/// Reads the tag that starts at `html[at]` ('<'); moves `at` past it.
Tag ReadTag(std::string_view html, size_t& at) {
  Tag tag;
  size_t i = at + 1;
  const auto skip_space = [&] {
    while (i < html.size() && IsSpace(html[i])) ++i;
  };
  const size_t name_start = i;
  while (i < html.size() && !IsSpace(html[i]) && html[i] != '>') ++i;
  tag.name = Lower(html.substr(name_start, i - name_start));
  while (true) {
    skip_space();
    if (i >= html.size() || html[i] == '>') break;
    if (html[i] == '/') {
      ++i;
      continue;
    }
    const size_t key_start = i;
    while (i < html.size() && !IsSpace(html[i]) && html[i] != '=' && html[i] != '>') ++i;
    std::string key = Lower(html.substr(key_start, i - key_start));
    skip_space();
    std::string value;
    if (i < html.size() && html[i] == '=') {
      ++i;
      skip_space();
      if (i < html.size() && (html[i] == '"' || html[i] == '\'')) {
        const char quote = html[i++];
        const size_t end = html.find(quote, i);
        const size_t stop = end == std::string_view::npos ? html.size() : end;
        value = DecodeHtmlEntities(html.substr(i, stop - i));
        i = stop == html.size() ? stop : stop + 1;
      } else {
        const size_t value_start = i;
        while (i < html.size() && !IsSpace(html[i]) && html[i] != '>') ++i;
        value = DecodeHtmlEntities(html.substr(value_start, i - value_start));
      }
    }
    if (!key.empty()) tag.attributes.emplace_back(std::move(key), std::move(value));
  }
  at = i < html.size() ? i + 1 : html.size();
  return tag;
}

}  // namespace

std::string DecodeHtmlEntities(std::string_view text) {
  static constexpr std::pair<std::string_view, uint32_t> kNamed[] = {
      {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}, {"nbsp", 0xA0}};
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const size_t semicolon = text[i] == '&' ? text.find(';', i) : std::string_view::npos;
    if (semicolon != std::string_view::npos && semicolon - i <= 10) {
      const std::string_view body = text.substr(i + 1, semicolon - i - 1);
      std::optional<uint32_t> code = NumericReference(body);
      for (const auto& [name, value] : kNamed)
        if (!code && body == name) code = value;
      if (code) {
        AppendUtf8(out, *code);
        i = semicolon;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

std::vector<SitemapEntry> ParseSitemap(std::string_view html) {
  std::vector<SitemapEntry> entries;
  int depth = 0;
  std::optional<SitemapEntry> open;
  for (size_t at = html.find('<'); at != std::string_view::npos; at = html.find('<', at)) {
    if (html.substr(at, 4) == "<!--") {
      const size_t end = html.find("-->", at + 4);
      at = end == std::string_view::npos ? html.size() : end + 3;
      continue;
    }
    const Tag tag = ReadTag(html, at);
    if (tag.name == "ul") {
      ++depth;
    } else if (tag.name == "/ul") {
      depth = std::max(0, depth - 1);
    } else if (tag.name == "object" && Lower(tag.Attribute("type")) == "text/sitemap") {
      open = SitemapEntry{{}, {}, std::max(0, depth - 1)};
    } else if (tag.name == "param" && open) {
      const std::string key = Lower(tag.Attribute("name"));
      if (key == "name") open->name = tag.Attribute("value");
      if (key == "local") open->local = tag.Attribute("value");
    } else if (tag.name == "/object" && open) {
      if (!open->name.empty()) entries.push_back(std::move(*open));
      open.reset();
    }
  }
  return entries;
}

std::string HtmlTitle(std::string_view html) {
  const std::string lower = Lower(html);
  const size_t open = lower.find("<title");
  if (open == std::string::npos) return {};
  const size_t start = lower.find('>', open);
  const size_t end = lower.find("</title", start == std::string::npos ? open : start);
  if (start == std::string::npos || end == std::string::npos) return {};
  const std::string text = DecodeHtmlEntities(html.substr(start + 1, end - start - 1));
  std::string folded;
  for (char c : text) {
    if (IsSpace(c)) {
      if (!folded.empty() && folded.back() != ' ') folded += ' ';
    } else {
      folded += c;
    }
  }
  while (!folded.empty() && folded.back() == ' ') folded.pop_back();
  return folded;
}

}  // namespace trawlex::help
