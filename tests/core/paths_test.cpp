// The path rules: which delimiter counts where, and how a path splits into its
// folder and its name.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "funcoes/paths.h"

namespace {

// "|" stands for PathDelim, so that one table serves both systems.
std::u16string P(std::u16string text) {
  for (char16_t& c : text)
    if (c == u'|') c = PathDelim;
  return text;
}

std::string Narrow(const std::u16string& text) { return std::string(text.begin(), text.end()); }

}  // namespace

TEST(IncludeTrailingPathDelimiter, OnlyTheProgramsOwnDelimiterCounts) {
  struct Case {
    std::u16string path, want;
  };
  const std::vector<Case> cases = {
      {u"", P(u"|")},
      {P(u"|"), P(u"|")},
      {P(u"|media|clips"), P(u"|media|clips|")},
      {P(u"|media|clips|"), P(u"|media|clips|")},
#ifdef _WIN32
      // Windows reads "/" as well, but a trailing one is not the delimiter written.
      {u"C:/media/", u"C:/media/\\"},
#else
      {u"/media\\", u"/media\\/"},
#endif
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IncludeTrailingPathDelimiter(c.path), c.want) << Narrow(c.path);
    EXPECT_TRUE(IsPathDelimiter(c.want, c.want.size() - 1)) << Narrow(c.want);
  }
  EXPECT_FALSE(IsPathDelimiter(u"", 0));
  EXPECT_FALSE(IsPathDelimiter(P(u"a|"), 2));  // past the end
}

TEST(ExtractFilePath, FolderAndNameOfAPath) {
  struct Case {
    std::u16string path, filePath, name, dir;
  };
  const std::vector<Case> cases = {
      {P(u"|media|clip.mov"), P(u"|media|"), u"clip.mov", P(u"|media")},
      {P(u"|media"), P(u"|"), u"media", P(u"|")},
      {P(u"|"), P(u"|"), u"", P(u"|")},
      {P(u"|media||clip"), P(u"|media||"), u"clip", P(u"|media")},
      {u"clip.mov", u"", u"clip.mov", u""},
      {u"", u"", u"", u""},
#ifdef _WIN32
      {u"C:\\media\\clip.mov", u"C:\\media\\", u"clip.mov", u"C:\\media"},
      {u"C:\\media", u"C:\\", u"media", u"C:\\"},
      {u"C:\\", u"C:\\", u"", u"C:\\"},
      {u"C:clip.mov", u"C:", u"clip.mov", u"C:"},
      {u"C:/media/clip.mov", u"C:/media/", u"clip.mov", u"C:/media"},
      {u"\\\\server\\share", u"\\\\server\\", u"share", u"\\\\server"},
#else
      // Elsewhere "\" and ":" are characters of a name.
      {u"/media/a:b\\c", u"/media/", u"a:b\\c", u"/media"},
      {u"C:\\media", u"", u"C:\\media", u""},
#endif
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.path));
    EXPECT_EQ(ExtractFilePath(c.path), c.filePath);
    EXPECT_EQ(ExtractFileName(c.path), c.name);
    EXPECT_EQ(ExtractFileDir(c.path), c.dir);
    EXPECT_EQ(ExtractFilePath(c.path) + ExtractFileName(c.path), c.path);
  }
}

TEST(IsFullPath, Table) {
  struct Case {
    std::u16string path;
    bool full;
  };
  const std::vector<Case> cases = {
      {u"", false},
      {u"media", false},
      {u".", false},
#ifdef _WIN32
      {u"C:\\media", true},
      {u"c:/media", true},
      {u"\\\\server\\share", true},
      {u"//server/share", true},
      {u"C:media", false},  // relative to drive C's current folder
      {u"\\media", false},  // relative to the current drive
      {u"/usr/bin", false},
#else
      {u"/usr/bin", true}, {u"/", true},      {u"C:\\media", false}, {u"./bin", false},
#endif
  };
  for (const Case& c : cases) EXPECT_EQ(IsFullPath(c.path), c.full) << Narrow(c.path);
}
