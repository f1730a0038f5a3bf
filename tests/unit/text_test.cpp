#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "platform/platform.h"

namespace {

TEST(Text, WsprintfFormatsIntegersAndNothingElse) {
  WCHAR out[128];
  const int written = wsprintfW(out, u"%d|%d|%d", INT_MIN, 7, 0);
  EXPECT_EQ(std::u16string(out), u"-2147483648|7|0");
  EXPECT_EQ(written, static_cast<int>(std::u16string(out).size()));
  EXPECT_EQ(wsprintfW(out, u"a=%d, b=%s", 1, u"x"), -1);
  EXPECT_EQ(std::u16string(out), u"a=1, b=") << "the text ends at the conversion it cannot make";
}

TEST(Text, WsprintfWritesAtMost1024UnitsWithTheTerminator) {
  const std::u16string longFormat = u"a" + std::u16string(2000, u'x') + u"%d";
  std::u16string out(1100, u'#');
  EXPECT_EQ(wsprintfW(&out[0], longFormat.c_str(), 5), 1023);
  EXPECT_EQ(out[0], u'a');
  EXPECT_EQ(out[1022], u'x');
  EXPECT_EQ(out[1023], u'\0');
  EXPECT_EQ(out[1024], u'#');
}

TEST(Text, LengthAndComparisonWorkOnSixteenBitUnits) {
  EXPECT_EQ(wcslen(u""), 0u);
  EXPECT_EQ(wcslen(u"COM10:"), 6u);
  EXPECT_EQ(wcsncmp(u"COM1:", u"COM2:", 3), 0);
  EXPECT_LT(wcsncmp(u"COM1:", u"COM2:", 4), 0);
  EXPECT_GT(wcsncmp(u"com1:", u"COM1:", 3), 0);
  EXPECT_GT(wcsncmp(u"\xFFFF", u"A", 1), 0) << "units compare unsigned";
  EXPECT_LT(wcsncmp(u"CO", u"COM", 3), 0);
  EXPECT_EQ(wcsncmp(u"AB", u"AB", 10), 0) << "comparison stops at the terminator";
}

}  // namespace
