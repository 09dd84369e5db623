#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace trawlex::help {

/// One entry of a help file's topic list (its .hhc sitemap).
struct SitemapEntry {
  std::string name;   ///< what the list shows
  std::string local;  ///< the page it opens, relative to the help file's root; may be empty
  int depth = 0;      ///< 0 for the top level
};

/// The entries of a sitemap in the order written, nested by its <UL> lists. Tolerant of the
/// loose HTML these files hold; what it cannot read it skips.
[[nodiscard]] std::vector<SitemapEntry> ParseSitemap(std::string_view html);

/// The text of a page's <title>, entities decoded and blanks folded; empty when it has none.
[[nodiscard]] std::string HtmlTitle(std::string_view html);

/// `text` with &amp; &lt; &gt; &quot; &apos; &nbsp; and numeric character references decoded
/// (to UTF-8); anything else is kept as written.
[[nodiscard]] std::string DecodeHtmlEntities(std::string_view text);

}  // namespace trawlex::help
