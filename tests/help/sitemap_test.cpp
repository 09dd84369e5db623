// Topic lists and page titles as help files write them.

#include "help/sitemap.h"

#include <gtest/gtest.h>

namespace {

TEST(Sitemap, NestingEntitiesAndLooseMarkup) {
  const auto entries = trawlex::help::ParseSitemap(R"(
    <UL><!-- <LI><OBJECT type="text/sitemap"><param name="Name" value="hidden"></OBJECT> -->
      <LI><OBJECT type="text/sitemap"><param name="Name" value="Start &amp; finish">
          <param name=Local value=start.htm></OBJECT>
      <UL>
        <li><object type="text/sitemap"><param name="Local" value="a.htm#x"><param name="Name" value='A &#233;&#x20AC;'></object>
        <li><object type="text/site properties"><param name="Name" value="not an entry"></object>
      </UL>
      <LI><OBJECT type="text/sitemap"><param name="Name" value="Folder only"></OBJECT>
    </UL>)");
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].name, "Start & finish");
  EXPECT_EQ(entries[0].local, "start.htm");
  EXPECT_EQ(entries[0].depth, 0);
  EXPECT_EQ(entries[1].name, "A \xC3\xA9\xE2\x82\xAC");
  EXPECT_EQ(entries[1].local, "a.htm#x");
  EXPECT_EQ(entries[1].depth, 1);
  EXPECT_EQ(entries[2].local, "");
  EXPECT_EQ(entries[2].depth, 0);
  EXPECT_TRUE(trawlex::help::ParseSitemap("<ul><li><object type=\"text/sitemap\"><param").empty());
}

TEST(Sitemap, TitlesAndEntities) {
  EXPECT_EQ(trawlex::help::HtmlTitle("<html><TITLE>\n  The  scan &lt;1&gt;\n</TITLE>"),
            "The scan <1>");
  EXPECT_EQ(trawlex::help::HtmlTitle("<html><body>no title"), "");
  EXPECT_EQ(trawlex::help::DecodeHtmlEntities("&unknown; &#0; &#xD800; & &amp"),
            "&unknown; &#0; &#xD800; & &amp");
}

}  // namespace
