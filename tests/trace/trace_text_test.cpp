// The bounded UTF-16 helpers behind the shared text fields: cutting never splits a character or overruns.
#include <string>

#include <gtest/gtest.h>

#include "trace/trace_text.h"

namespace {

TEST(TraceTextTest, AppendingToAFieldCutsWithoutSplittingACharacter) {
  struct Case {
    const char* name;
    std::u16string before;  // the field's content; size 4 means no terminator
    std::wstring text;
    std::u16string after;
  };
  const Case cases[] = {
      {"fits", u"a", L"bc", u"abc"},
      {"cut at the end", u"", L"abcdef", u"abc"},
      {"pair that does not fit is left out", u"ab", L"\U0001F600", u"ab"},
      {"pair that fits", u"a", L"\U0001F600", u"a\U0001F600"},
      {"field without terminator is treated as full", u"wxyz", L"q", u"wxy"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    char16_t field[5] = {u'#', u'#', u'#', u'#', u'!'};  // [4] is a guard outside the field
    for (size_t i = 0; i < c.before.size(); ++i) field[i] = c.before[i];
    if (c.before.size() < 4) field[c.before.size()] = 0;
    qvtrace::AppendUtf16(field, 4, c.text.c_str());
    EXPECT_EQ(std::u16string(field), c.after);
    EXPECT_EQ(field[4], u'!');
  }
}

TEST(TraceTextTest, ReadingAFieldStopsAtItsEndAndReplacesBrokenPairs) {
  const char16_t unterminated[3] = {u'a', u'b', u'c'};
  wchar_t out[8];
  qvtrace::Utf16ToWide(unterminated, 3, out, 8);
  EXPECT_EQ(std::wstring(out), L"abc");
  const char16_t broken[] = {0xD83D, u'x', 0xDE00, 0};
  qvtrace::Utf16ToWide(broken, 4, out, 8);
  EXPECT_EQ(std::wstring(out), L"\uFFFDx\uFFFD");
  qvtrace::Utf16ToWide(unterminated, 3, out, 2);
  EXPECT_EQ(std::wstring(out), L"a");
}

TEST(TraceTextTest, FormattingIsCutAndTerminated) {
  wchar_t out[6];
  qvtrace::FormatWide(out, 6, L"%ls-%d", L"abcdefgh", 12);
  EXPECT_EQ(std::wstring(out), L"abcde");
  EXPECT_EQ(qvtrace::WideToUtf8(L"\u00e9\U0001F600"), "\xC3\xA9\xF0\x9F\x98\x80");
  EXPECT_EQ(qvtrace::Utf8ToWide("\xC3\xA9\xF0\x9F\x98\x80\xFF"), L"\u00e9\U0001F600\uFFFD");
}

}  // namespace
