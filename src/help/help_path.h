#pragma once

#include <string>
#include <string_view>

namespace trawlex::help {

/// What `BuildHelpPath` puts in front of a help path.
enum HelpPathPrefix : int {
  kPrefixNone = 0,
  kPrefixMkMsitStore = 1,  ///< "mk:@MSITStore:"
  kPrefixMsIts = 2,        ///< "ms-its:"
};

/// "file::/topic>window" as the help engine takes it: "%20" read as a blank, blanks trimmed,
/// backslashes in the topic turned into slashes, and the prefix of `prefix_kind` in front.
[[nodiscard]] std::string BuildHelpPath(std::string file, std::string topic,
                                        std::string window_name, int prefix_kind);

/// The parts of a help path that `BuildHelpPath` made (with or without a prefix).
struct HelpPathParts {
  std::string file;
  std::string topic;  ///< "/dir/page.htm", or empty
  std::string window_name;
};
[[nodiscard]] HelpPathParts ParseHelpPath(std::string_view target);

}  // namespace trawlex::help
