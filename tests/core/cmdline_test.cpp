#include "funcoes/cmdline.h"

#include <gtest/gtest.h>

#include <algorithm>

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

#include "platform/text.h"

namespace {

using Args = std::vector<std::u16string>;

// '|' stands for the path delimiter, so one table serves both systems.
std::u16string P(std::u16string text) {
  for (auto& c : text)
    if (c == u'|') c = PathDelim;
  return text;
}

const Args PreservingOptions = {u"/MIR",
                                u"/XX",
                                u"/FFT",
                                u"/Z",
                                u"/XA:H",
                                u"/R:0",
                                u"/XD",
                                u"$Recycle.bin",
                                u"Boot",
                                u"Recycler",
                                u"System Volume Information",
                                u"/XF",
                                u"*.exe"};
const Args MirroringOptions = {u"/MIR", u"/FFT",         u"/Z",   u"/XA:H",    u"/R:0",
                               u"/XD",  u"$Recycle.bin", u"Boot", u"Recycler", u"System Volume Information",
                               u"/XF",  u"*.exe"};

struct LineCase {
  std::u16string source, destination;
  bool preserve;
  std::u16string wantSource, wantDestination;  // as the child receives them
  std::u16string exactLine;                    // when non-empty, the whole line
};

TEST(MirrorCommandLine, BuildsTheLineAndEachFolderSplitsBackAsOneArgument) {
  const std::u16string preservingTail =
      u"  /MIR  /XX /FFT /Z /XA:H  /R:0 /XD $Recycle.bin Boot Recycler \"System Volume Information\"  /XF *.exe  ";
  const std::u16string mirroringTail =
      u"  /MIR  /FFT /Z /XA:H  /R:0 /XD $Recycle.bin Boot Recycler \"System Volume Information\"  /XF *.exe  ";
  ASSERT_EQ(preservingTail.size(), 103u);
  ASSERT_EQ(mirroringTail.size(), 99u);
  const LineCase cases[] = {
      {P(u"|media|in"), P(u"|media|out"), true, P(u"|media|in|"), P(u"|media|out|"),
       P(u"robocopy |media|in| |media|out|") + preservingTail},
      {P(u"|media|in"), P(u"|media|out"), false, P(u"|media|in|"), P(u"|media|out|"),
       P(u"robocopy |media|in| |media|out|") + mirroringTail},
      // A root that already ends in the delimiter gets no second one.
      {P(u"|"), P(u"|media|out|"), true, P(u"|"), P(u"|media|out|"), P(u"robocopy | |media|out|") + preservingTail},
      // An empty root becomes a lone delimiter.
      {u"", P(u"|out"), false, P(u"|"), P(u"|out|"), P(u"robocopy | |out|") + mirroringTail},
      {P(u"|out"), u"", true, P(u"|out|"), P(u"|"), P(u"robocopy |out| |") + preservingTail},
      // Blanks, tabs and quotes: one argument each, delimiter included.
      {P(u"|my clips"), P(u"|out dir|"), true, P(u"|my clips|"), P(u"|out dir|"), {}},
      {P(u"|a\tb"), P(u"|c  d"), false, P(u"|a\tb|"), P(u"|c  d|"), {}},
      {P(u"|say \"hi\""), P(u"|q\""), true, P(u"|say \"hi\"|"), P(u"|q\"|"), {}},
      {P(u"|x\\\"y z"), P(u"|\"\""), false, P(u"|x\\\"y z|"), P(u"|\"\"|"), {}},
      // Backslashes at the end of a quoted path must not escape its closing quote.
      {P(u"|x\\ y\\\\"),
       P(u"|end\\"),
       true,
       P(u"|x\\ y\\\\") + (PathDelim == u'\\' ? u"" : P(u"|")),
       P(u"|end\\") + (PathDelim == u'\\' ? u"" : P(u"|")),
       {}},
      {P(u"|M\u00eddia a\u00e7\u00e3o"), P(u"|out"), true, P(u"|M\u00eddia a\u00e7\u00e3o|"), P(u"|out|"), {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(platform::ToUtf8(c.source) + " -> " + platform::ToUtf8(c.destination));
    const std::u16string line = MirrorCommandLine(c.source, c.destination, c.preserve);
    if (!c.exactLine.empty()) EXPECT_EQ(platform::ToUtf8(line), platform::ToUtf8(c.exactLine));
    Args want = {u"robocopy", c.wantSource, c.wantDestination};
    for (const auto& option : c.preserve ? PreservingOptions : MirroringOptions) want.push_back(option);
    EXPECT_EQ(SplitCommandLine(line), want);
    EXPECT_EQ(SplitCommandLine(TrimControl(line)), want);
  }
}

struct SplitCase {
  std::u16string line;
  Args want;
};

TEST(SplitCommandLine, FollowsTheWindowsRules) {
  const SplitCase cases[] = {
      {u"", {}},
      {u"prog", {u"prog"}},
      {u"prog a b", {u"prog", u"a", u"b"}},
      {u"prog  a\tb  \t", {u"prog", u"a", u"b"}},
      // The program name: quoted up to the next quote, no escapes.
      {u"\"C:\\Program Files\\x.exe\" a", {u"C:\\Program Files\\x.exe", u"a"}},
      {u"\"pro\\\"g x", {u"pro\\", u"g", u"x"}},
      {u"p\\x\\ a", {u"p\\x\\", u"a"}},
      // Backslashes are literal unless a quote follows them.
      {u"p a\\\\b c\\", {u"p", u"a\\\\b", u"c\\"}},
      // 2n backslashes + quote: n backslashes, the quote opens or closes.
      {u"p a\\\\\\\\\"b c\"", {u"p", u"a\\\\b c"}},
      {u"p \"a b\\\\\" c", {u"p", u"a b\\", u"c"}},
      // 2n+1 backslashes + quote: n backslashes and a literal quote.
      {u"p a\\\\\\\"b", {u"p", u"a\\\"b"}},
      {u"p \\\"x\\\"", {u"p", u"\"x\""}},
      {u"p \"a b\\\" c", {u"p", u"a b\" c"}},
      // Quotes may open and close inside an argument.
      {u"p a\"b c\"d e", {u"p", u"ab cd", u"e"}},
      // Empty quoted arguments count.
      {u"p \"\"", {u"p", u""}},
      {u"p \"\" x", {u"p", u"", u"x"}},
      // A pair of quotes inside quoting gives a quote and ends the quoting.
      {u"p \"a\"\"b c\"", {u"p", u"a\"b", u"c"}},
      {u"p \"\"\"\" x", {u"p", u"\" x"}},
      {u"p \"\"\"a b\"\"\" c", {u"p", u"\"a", u"b\"", u"c"}},
      // An unclosed quote runs to the end.
      {u"p \"a b", {u"p", u"a b"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(platform::ToUtf8(c.line));
    EXPECT_EQ(SplitCommandLine(c.line), c.want);
#ifdef _WIN32
    // The system's own splitter agrees (it answers an empty line differently).
    if (c.line.empty()) continue;
    int count = 0;
    wchar_t** argv = CommandLineToArgvW(reinterpret_cast<const wchar_t*>(c.line.c_str()), &count);
    ASSERT_NE(argv, nullptr);
    Args system;
    for (int i = 0; i < count; ++i) system.emplace_back(reinterpret_cast<const char16_t*>(argv[i]));
    LocalFree(argv);
    EXPECT_EQ(system, c.want);
#endif
  }
}

TEST(TrimControl, StripsCodesUpTo32AtBothEndsOnly) {
  const std::pair<std::u16string, std::u16string> cases[] = {
      {u"", u""},
      {u" \t\r\n\x01", u""},
      {u"  robocopy a  b\t\n", u"robocopy a  b"},
      {u"\x1f"
       u"x\x7f",
       u"x\x7f"},
      {u"\u00a0x", u"\u00a0x"},
  };
  for (const auto& [in, want] : cases) EXPECT_EQ(TrimControl(in), want);
}

TEST(PurgesExtras, MirrorOrPurgeWithoutKeepingExtras) {
  const struct {
    std::u16string line;
    bool purges;
  } cases[] = {
      {MirrorCommandLine(u"/s", u"/d", false), true},
      {MirrorCommandLine(u"/s", u"/d", true), false},
      {MirrorCommandLine(u"/s x", u"/d y", false), true},
      {u"robocopy a b /purge", true},
      {u"robocopy a b /e", false},
      {u"robocopy a b /mir /xx", false},
      {u"robocopy a \"b /MIR\"", false},  // a folder's name, not an option
      {u"", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(platform::ToUtf8(c.line));
    EXPECT_EQ(PurgesExtras(c.line), c.purges);
  }
}

TEST(MirrorLeavesOut, WhatTheMirrorCommandLineSkips) {
  const auto path = [](std::u16string text) {
    std::replace(text.begin(), text.end(), u'/', PathDelim);
    return text;
  };
  const struct {
    std::u16string relative;
    bool isFile, hidden, leftOut;
  } cases[] = {
      {u"clip.mxf", true, false, false},
      {u".clip.mxf.Xa12bc", true, true, true},  // a writer's hidden temporary
      {u"dia1/.DS_Store", true, true, true},
      {u".ocultas/clip.mxf", true, false, false},  // a hidden folder's files are copied
      {u"setup.exe", true, false, true},
      {u"dia1/Setup.EXE", true, false, true},
      {u".exe", true, false, true},
      {u"clip.exe.mxf", true, false, false},
      {u"ferramentas.exe", false, false, false},  // a folder named like a program
      {u"$RECYCLE.BIN/clip.mxf", true, false, true},
      {u"dia1/System Volume Information/x", true, false, true},
      {u"recycler", false, false, true},
      {u"Boot", true, false, false},  // a file, not the folder
      {u"Boots/clip.mxf", true, false, false},
      {u"", false, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(platform::ToUtf8(c.relative));
    EXPECT_EQ(MirrorLeavesOut(path(c.relative), c.isFile, c.hidden), c.leftOut);
  }
}

}  // namespace
