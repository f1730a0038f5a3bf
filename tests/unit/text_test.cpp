#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "platform/platform.h"

namespace {

TEST(Text, WsprintfFormatsAsWin32) {
  WCHAR out[128];
  const int written = wsprintfW(out, u"%d|%i|%u|%s|%%|%ld|%q|%s", INT_MIN, 7, 4294967295u, u"ab",
                                -5, static_cast<LPCWSTR>(nullptr));
  EXPECT_EQ(std::u16string(out), u"-2147483648|7|4294967295|ab|%|-5|q|(null)");
  EXPECT_EQ(written, static_cast<int>(std::u16string(out).size()));
}

TEST(Text, WsprintfWritesAtMost1024UnitsWithTheTerminator) {
  const std::u16string longText(2000, u'x');
  std::u16string out(1100, u'#');
  EXPECT_EQ(wsprintfW(&out[0], u"a%s", longText.c_str()), 1023);
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
