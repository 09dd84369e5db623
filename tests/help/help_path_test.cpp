// Help paths as the help engine takes them, and the parts read back from them.

#include "help/help_path.h"

#include <gtest/gtest.h>

namespace {

using trawlex::help::BuildHelpPath;
using trawlex::help::ParseHelpPath;

TEST(BuildHelpPath, Examples) {
  struct Case {
    const char* file;
    const char* topic;
    const char* window;
    int prefix;
    const char* expected;
  };
  const Case cases[] = {
      {"a%20b.chm ", "", "", 0, "a b.chm"},
      {"a%20b.chm ", "dir\\page.htm", "", 0, "a b.chm::/dir/page.htm"},
      {"a%20b.chm ", "", "main", 0, "a b.chm>main"},
      {"a%20b.chm ", "", "", 1, "mk:@MSITStore:a b.chm"},
      {"a%20b.chm ", "/page.htm", "%20main ", 2, "ms-its:a b.chm::/page.htm>main"},
      {"", "page.htm", "", 0, "/page.htm"},
      {"  ", "", "", 0, ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(BuildHelpPath(c.file, c.topic, c.window, c.prefix), c.expected)
        << c.file << " | " << c.topic << " | " << c.window << " | " << c.prefix;
}

TEST(BuildHelpPath, PartsReadBackWithOrWithoutPrefix) {
  for (int prefix : {0, 1, 2}) {
    const auto parts =
        ParseHelpPath(BuildHelpPath("/opt/x/help.chm", "dir\\p.htm", "main", prefix));
    EXPECT_EQ(parts.file, "/opt/x/help.chm");
    EXPECT_EQ(parts.topic, "/dir/p.htm");
    EXPECT_EQ(parts.window_name, "main");
  }
  const auto plain = ParseHelpPath("/opt/a>b/help.chm");
  EXPECT_EQ(plain.file, "/opt/a>b/help.chm") << "a '>' inside a folder name is no window";
  EXPECT_EQ(plain.window_name, "");
}

}  // namespace
