// UTF-8 decoding of names and stored values: strict, so that no two byte
// strings decode to the same text and no overlong form yields "/" or a NUL.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/text.h"

using namespace std::string_literals;

TEST(FromUtf8, DecodesStrictly) {
  struct Case {
    std::string bytes;
    std::u16string text;
  };
  const std::u16string R = u"\uFFFD";
  const std::vector<Case> cases = {
      {"plain/ascii", u"plain/ascii"},
      {"Cart\xC3\xB5"
       "es \xE2\x82\xAC",
       u"Cartões €"},
      {"\xF0\x9F\x8E\xAC", u"🎬"},
      {"\xEF\xBF\xBF", u"\uFFFF"},
      {"\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
      // Overlong forms of "/", NUL and "." never decode to them.
      {"a\xC0\xAF"
       "b",
       u"a" + R + R + u"b"},
      {"a\xC0\x80"
       "b",
       u"a" + R + R + u"b"},
      {"\xE0\x80\xAF", R + R + R},
      {"\xF0\x80\x80\xAF", R + R + R + R},
      {"\xC1\xBF", R + R},
      // Surrogates and values past U+10FFFF.
      {"\xED\xA0\x80", R + R + R},
      {"\xF4\x90\x80\x80", R + R + R + R},
      {"\xF5\x80", R + R},
      // A sequence cut short is one U+FFFD, and what follows is kept.
      {"\xE2\x82"
       "x",
       R + u"x"},
      {"\xF0\x9F\x8E", R},
      {"\x80\xBF", R + R},
      {"\xFF\xFE", R + R},
      {"nul\0in"s, u"nul\0in"s},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    EXPECT_EQ(platform::FromUtf8(c.bytes), c.text);
  }
}

TEST(PathToUtf8, RefusesAPathHoldingANul) {
  EXPECT_EQ(platform::PathToUtf8(u"/media/cartão"), std::optional<std::string>("/media/cart\xC3\xA3o"));
  EXPECT_EQ(platform::PathToUtf8(u"/media\0/other"s), std::nullopt);
  EXPECT_EQ(platform::PathToUtf8(u""), std::optional<std::string>(""));
}
