#include "help/help_path.h"

#include <algorithm>
#include <cctype>

namespace trawlex::help {
namespace {

constexpr std::string_view kMkMsitStore = "mk:@MSITStore:";
constexpr std::string_view kMsIts = "ms-its:";

std::string ReplaceAll(std::string text, std::string_view from, std::string_view to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

/// Trims blanks and control characters at both ends, as the help engine's callers do.
std::string Trim(const std::string& text) {
  const auto keep = [](unsigned char c) { return c > ' '; };
  const auto first = std::find_if(text.begin(), text.end(), keep);
  const auto last = std::find_if(text.rbegin(), text.rend(), keep).base();
  return first < last ? std::string(first, last) : std::string();
}

std::string Clean(const std::string& text) {
  return Trim(ReplaceAll(text, "%20", " "));
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) ==
                  std::tolower(static_cast<unsigned char>(b));
         });
}

}  // namespace

std::string BuildHelpPath(std::string file, std::string topic, std::string window_name,
                          int prefix_kind) {
  file = Clean(file);
  topic = Clean(topic);
  window_name = Clean(window_name);

  std::string result = file;
  if (!topic.empty()) {
    std::replace(topic.begin(), topic.end(), '\\', '/');
    if (topic.front() != '/') topic.insert(0, "/");
    result = file.empty() ? topic : file + "::" + topic;
  }
  if (!window_name.empty()) result += ">" + window_name;

  if (prefix_kind == kPrefixMkMsitStore) result.insert(0, kMkMsitStore);
  if (prefix_kind == kPrefixMsIts) result.insert(0, kMsIts);
  return result;
}

HelpPathParts ParseHelpPath(std::string_view target) {
  if (StartsWithNoCase(target, kMkMsitStore))
    target.remove_prefix(kMkMsitStore.size());
  else if (StartsWithNoCase(target, kMsIts))
    target.remove_prefix(kMsIts.size());

  HelpPathParts parts;
  // A window name follows the last ">" and holds no path.
  const size_t window_at = target.rfind('>');
  if (window_at != std::string_view::npos &&
      target.find_first_of("/\\:", window_at) == std::string_view::npos) {
    parts.window_name = std::string(target.substr(window_at + 1));
    target = target.substr(0, window_at);
  }
  const size_t topic_at = target.find("::");
  if (topic_at == std::string_view::npos) {
    parts.file = std::string(target);
  } else {
    parts.file = std::string(target.substr(0, topic_at));
    parts.topic = std::string(target.substr(topic_at + 2));
  }
  return parts;
}

}  // namespace trawlex::help
