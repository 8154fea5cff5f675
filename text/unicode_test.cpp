#include "text/unicode.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace {

// Whole-text conversions, built from the per-character functions the way
// their callers use them.
void AppendUtf8(std::u16string_view text, std::string& out) {
  char unit[4];
  for (std::size_t pos = 0; pos < text.size();)
    out.append(unit, PutUtf8(NextCodePointUtf16(text, pos), unit));
}

void AppendUtf16(std::string_view bytes, std::u16string& out) {
  char16_t units[2];
  for (std::size_t pos = 0; pos < bytes.size();)
    out.append(units, PutUtf16(NextCodePointUtf8(bytes, pos), units));
}

struct ToUtf8Case {
  const char* name;
  std::u16string text;
  std::string bytes;
};
void PrintTo(const ToUtf8Case& c, std::ostream* os) {
  *os << c.name;
}

class ToUtf8 : public testing::TestWithParam<ToUtf8Case> {};

TEST_P(ToUtf8, AppendSizeAndBufferConversionAgree) {
  const ToUtf8Case& c = GetParam();
  std::string appended;
  AppendUtf8(c.text, appended);
  EXPECT_EQ(appended, c.bytes);
  EXPECT_EQ(EncodeUtf8(c.text, nullptr, 0), c.bytes.size());

  std::string buffer(c.bytes.size(), '\0');
  EXPECT_EQ(EncodeUtf8(c.text, buffer.data(), buffer.size()), c.bytes.size());
  EXPECT_EQ(buffer, c.bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ToUtf8,
    testing::Values(
        ToUtf8Case{"Empty", u"", ""}, ToUtf8Case{"Ascii", u"550 nm", "550 nm"},
        ToUtf8Case{"Zero", std::u16string(1, u'\0'), std::string(1, '\0')},
        ToUtf8Case{"TwoByte", u"\u00E4\u07FF", "\xC3\xA4\xDF\xBF"},
        ToUtf8Case{"ThreeByte", u"\u0800\u20AC\uFFFF", "\xE0\xA0\x80\xE2\x82\xAC\xEF\xBF\xBF"},
        ToUtf8Case{"SurrogatePair", u"\U0001F600\U0010FFFF", "\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF"},
        ToUtf8Case{"LoneHigh", u"a\xD83Dz", "a\xEF\xBF\xBDz"},
        ToUtf8Case{"LoneHighAtEnd", u"a\xD83D", "a\xEF\xBF\xBD"},
        ToUtf8Case{"LoneLow", u"\xDE00z", "\xEF\xBF\xBDz"},
        ToUtf8Case{"ReversedPair", u"\xDE00\xD83D", "\xEF\xBF\xBD\xEF\xBF\xBD"},
        ToUtf8Case{"HighThenPair", u"\xD83D\xD83D\xDE00", "\xEF\xBF\xBD\xF0\x9F\x98\x80"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ToUtf8Buffer, TooSmallBufferGivesZero) {
  char buffer[4] = {};
  EXPECT_EQ(EncodeUtf8(u"\u00E4\u00E4\u00E4", buffer, 5), 0u);  // needs 6
  EXPECT_EQ(EncodeUtf8(u"abc", buffer, 2), 0u);
  EXPECT_EQ(EncodeUtf8(u"ab", buffer, 4), 2u);
}

struct ToUtf16Case {
  const char* name;
  std::string bytes;
  std::u16string text;
};
void PrintTo(const ToUtf16Case& c, std::ostream* os) {
  *os << c.name;
}

class ToUtf16 : public testing::TestWithParam<ToUtf16Case> {};

TEST_P(ToUtf16, Converts) {
  std::u16string text;
  AppendUtf16(GetParam().bytes, text);
  EXPECT_EQ(text, GetParam().text);
}

constexpr char16_t kBad = 0xFFFD;

INSTANTIATE_TEST_SUITE_P(
    Valid, ToUtf16,
    testing::Values(
        ToUtf16Case{"Ascii", "550\n", u"550\n"},
        ToUtf16Case{"Boundaries", "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80",
                    u"\u007F\u0080\u07FF\u0800\uD7FF\uE000"},
        ToUtf16Case{"Supplementary", "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", u"\U00010000\U0010FFFF"}),
    [](const auto& info) { return std::string(info.param.name); });

// Each maximal subpart of an ill-formed sequence gives one U+FFFD, and the
// byte that broke a sequence starts the next one.
INSTANTIATE_TEST_SUITE_P(
    Invalid, ToUtf16,
    testing::Values(ToUtf16Case{"StrayContinuation", "a\x80z", {u'a', kBad, u'z'}},
                    ToUtf16Case{"NeverValidBytes", "\xC0\xC1\xF5\xFF", {kBad, kBad, kBad, kBad}},
                    ToUtf16Case{"OverlongTwoByte", "\xC0\xAF", {kBad, kBad}},
                    ToUtf16Case{"OverlongThreeByte", "\xE0\x80\xAF", {kBad, kBad, kBad}},
                    ToUtf16Case{"OverlongFourByte", "\xF0\x8F\xBF\xBF", {kBad, kBad, kBad, kBad}},
                    ToUtf16Case{"EncodedSurrogate", "\xED\xA0\x80z", {kBad, kBad, kBad, u'z'}},
                    ToUtf16Case{"AboveMaximum", "\xF4\x90\x80\x80", {kBad, kBad, kBad, kBad}},
                    ToUtf16Case{"TruncatedThreeByte", "\xE2\x82z", {kBad, u'z'}},
                    ToUtf16Case{"TruncatedFourByteAtEnd", "a\xF0\x9F\x98", {u'a', kBad}},
                    ToUtf16Case{"LeadInterruptedByLead", "\xC3\xC3\xA4", {kBad, u'\u00E4'}},
                    ToUtf16Case{"AsciiInterrupts", "\xE2\x82\n", {kBad, u'\n'}},
                    // The first continuation byte just outside the range its lead allows,
                    // below and above: overlong forms, encoded surrogates and values above
                    // U+10FFFF of every length.
                    ToUtf16Case{"TwoByteBelowRange", "\xC2\x7F", {kBad, 0x7F}},
                    ToUtf16Case{"TwoByteAboveRange", "\xDF\xC0", {kBad, kBad}},
                    ToUtf16Case{"OverlongTwoByteHighest", "\xC1\xBF", {kBad, kBad}},
                    ToUtf16Case{"OverlongThreeByteHighest", "\xE0\x9F\xBF", {kBad, kBad, kBad}},
                    ToUtf16Case{"ThreeByteE0AboveRange", "\xE0\xC0\x80", {kBad, kBad, kBad}},
                    ToUtf16Case{"ThreeByteBelowRange", "\xE1\x7F", {kBad, 0x7F}},
                    ToUtf16Case{"ThreeByteAboveRange", "\xEF\xC0\x80", {kBad, kBad, kBad}},
                    ToUtf16Case{"EncodedSurrogateHighest", "\xED\xBF\xBF", {kBad, kBad, kBad}},
                    ToUtf16Case{"ThreeByteEDBelowRange", "\xED\x7F", {kBad, 0x7F}},
                    // Would be '5' if C0 could follow F0.
                    ToUtf16Case{"FourByteF0AboveRange", "\xF0\xC0\x80\xB5",
                                std::u16string(4, kBad)},
                    ToUtf16Case{"FourByteBelowRange", "\xF1\x7F", {kBad, 0x7F}},
                    ToUtf16Case{"FourByteAboveRange", "\xF3\xC0\x80\x80", std::u16string(4, kBad)},
                    ToUtf16Case{"FourByteF4BelowRange", "\xF4\x7F", {kBad, 0x7F}},
                    ToUtf16Case{"AboveMaximumHighest", "\xF4\xBF\xBF\xBF", std::u16string(4, kBad)},
                    // Leads of four bytes beyond U+10FFFF, and of five and six.
                    ToUtf16Case{"LeadsF5ToFF",
                                "\xF5\x80\x80\x80\xF7\xBF\xBF\xBF\xF8\x88\x80\x80\x80"
                                "\xFC\x84\x80\x80\x80\x80\xFE\xFF",
                                std::u16string(21, kBad)},
                    // A later continuation byte outside 80..BF.
                    ToUtf16Case{"ThreeByteLastBelowRange", "\xE2\x82\x7F", {kBad, 0x7F}},
                    ToUtf16Case{"ThreeByteLastAboveRange", "\xE2\x82\xC0", {kBad, kBad}},
                    ToUtf16Case{"FourByteSecondAboveRange", "\xF0\x9F\xC0\x80", {kBad, kBad, kBad}},
                    ToUtf16Case{"FourByteLastBelowRange", "\xF4\x8F\xBF\x7F", {kBad, 0x7F}},
                    ToUtf16Case{"FourByteLastAboveRange", "\xF0\x9F\x98\xC0", {kBad, kBad}},
                    // Cut short by the end of the input, at every length.
                    ToUtf16Case{"TruncatedTwoByteAtEnd", "a\xC3", {u'a', kBad}},
                    ToUtf16Case{"TruncatedThreeByteAtEnd", "\xE2\x82", {kBad}},
                    ToUtf16Case{"TruncatedFourByteAfterOne", "\xF0\x9Fz", {kBad, u'z'}}),
    [](const auto& info) { return std::string(info.param.name); });

// Every scalar value survives UTF-16 -> UTF-8 -> UTF-16.
TEST(RoundTrip, EveryScalarValue) {
  std::u16string text;
  for (char32_t c = 0; c <= 0x10FFFF; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF)
      continue;
    char16_t units[2];
    text.append(units, PutUtf16(c, units));
  }
  std::string bytes;
  AppendUtf8(text, bytes);
  std::u16string back;
  AppendUtf16(bytes, back);
  EXPECT_TRUE(back == text);
  EXPECT_EQ(EncodeUtf8(text, nullptr, 0), bytes.size());
}

}  // namespace
