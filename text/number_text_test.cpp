#include "text/number_text.h"

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace std::string_view_literals;

constexpr double kInf = std::numeric_limits<double>::infinity();
const double kNaNWord = std::bit_cast<double>(std::uint64_t{0xFFF8000000000000});

std::uint64_t Bits(double value) {
  return std::bit_cast<std::uint64_t>(value);
}

std::u16string Widen(std::string_view ascii) {
  return {ascii.begin(), ascii.end()};
}

// Reference conversion: the C library's strtod in the "C" locale, which the
// tests never change.
void ExpectSameAsStrtod(const std::string& text) {
  char* end = nullptr;
  double expected = std::strtod(text.c_str(), &end);
  // Text without a number is +0.0; MinGW's strtod gives -0.0 for "-" or "-e5".
  if (end == text.c_str())
    expected = 0.0;
  EXPECT_EQ(Bits(ParseDouble(Widen(text))), Bits(expected))
      << text.substr(0, 80) << (text.size() > 80 ? "..." : "");
}

TEST(ParseDoubleTest, ReadsTheNumberAtTheStartOfText) {
  const struct {
    std::u16string_view text;
    double expected;
  } cases[] = {
      // clang-format off
      {u"550", 550.0},      {u"  550", 550.0},        {u"550.0nm", 550.0},   {u"+550", 550.0},
      {u"550,5", 550.0},    {u"5.5e2", 550.0},        {u"\t\n\v\f\r550", 550.0},
      {u"5.e1", 50.0},      {u".5", 0.5},             {u"1.2.3", 1.2},       {u"5e", 5.0},
      {u"550e+x", 550.0},   {u"", 0.0},               {u"abc", 0.0},         {u",5", 0.0},
      {u".", 0.0},          {u"+", 0.0},              {u"-", 0.0},           {u"-nan", 0.0},
      {u"-0", -0.0},        {u"-0.0e-99999", -0.0},   {u"1e400", kInf},      {u"-1e400", -kInf},
      {u"1e-400", 0.0},     {u"-1e-400", -0.0},       {u"1e99999999999999999999", kInf},
      {u"0x10", 0.0},       {u"inf", 0.0},            {u"infinity", 0.0},    {u"+INFINITY", kInf},
      {u"-infinity", -kInf}, {u"nan", kNaNWord},      {u" NaN", 0.0},        {u"NaN ", 0.0},
      {u"NAN", kNaNWord},   {u"nAn", kNaNWord},       {u"5501"sv.substr(0, 3), 550.0},
      {u"NaN\0x"sv, kNaNWord},                        {u"55\0" u"9"sv, 55.0},
      {u"-Infinity5", 0.0},  // the longest word, and one more code unit
      {u"5\uFF150", 5.0},   // fullwidth 5 ends the number
      {u"55\u0130", 55.0},  // low byte of U+0130 is '0'
      // clang-format on
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Bits(ParseDouble(c.text)), Bits(c.expected))
        << std::string(c.text.begin(), c.text.end());
  }
}

TEST(ParseDoubleTest, RoundsLikeStrtodAtTheEdgesOfTheRange) {
  const std::string cases[] = {
      // clang-format off
      "4.9406564584124654e-324", "2.4703282292062328e-324", "2.4703282292062327e-324",
      "2.2250738585072011e-308", "1.7976931348623158e308",  "-1.7976931348623159e308",
      "0." + std::string(399, '0') + "1e400",  "0." + std::string(2000, '0') + "3e1700",
      std::string(2000, '1') + "e-2100",      std::string(2000, '7') + "e-2322",
      std::string(1000, '9'),
      // clang-format on
  };
  for (const auto& text : cases) {
    ExpectSameAsStrtod(text);
  }
}

// The exact text d.ddd...e±N of odd * 2^exponent, worked out on integers
// in base 10^9: a long double does not hold every midpoint between two
// doubles on every machine (ARM's is a double, POWER's a pair of them).
std::string ExactScientific(std::uint64_t odd, int exponent) {
  constexpr std::uint32_t kBase = 1'000'000'000;
  std::vector<std::uint32_t> limbs;  // least significant first
  for (; odd != 0; odd /= kBase)
    limbs.push_back(static_cast<std::uint32_t>(odd % kBase));
  // Below 1, odd * 2^-n is odd * 5^n in units of 10^-n.
  for (int left = std::abs(exponent); left > 0; left -= 13) {
    std::uint64_t factor = 1;
    for (int i = 0; i < std::min(left, 13); ++i)
      factor *= exponent > 0 ? 2 : 5;
    std::uint64_t carry = 0;
    for (std::uint32_t& limb : limbs) {
      carry += limb * factor;
      limb = static_cast<std::uint32_t>(carry % kBase);
      carry /= kBase;
    }
    for (; carry != 0; carry /= kBase)
      limbs.push_back(static_cast<std::uint32_t>(carry % kBase));
  }
  std::string digits = std::to_string(limbs.back());
  for (auto limb = limbs.rbegin() + 1; limb != limbs.rend(); ++limb) {
    const std::string part = std::to_string(*limb);
    digits += std::string(9 - part.size(), '0') + part;
  }
  const auto power = static_cast<int>(digits.size()) - 1 + std::min(exponent, 0);
  return digits.substr(0, 1) + "." + digits.substr(1) + "e" + std::to_string(power);
}

// Exact midpoints between neighbouring doubles, and texts just beside them,
// decide correct rounding.
TEST(ParseDoubleTest, RoundsLikeStrtodNearHalfwayPoints) {
  std::mt19937_64 random(2);
  std::vector<double> lows = {0.0, DBL_MAX, 1.0, DBL_MIN, 0x1.fffffffffffffp-1023};
  while (lows.size() < 3000) {
    const double d = std::bit_cast<double>(random() >> 1);
    if (std::isfinite(d)) {
      lows.push_back(d);
    }
  }
  for (const double low : lows) {
    // low = mantissa * 2^exponent; the midpoint is (2 mantissa + 1) * 2^(exponent - 1).
    const std::uint64_t field = Bits(low) >> 52;
    const std::uint64_t mantissa = (Bits(low) & 0xFFFFFFFFFFFFF) | (field != 0 ? 1ULL << 52 : 0);
    const int exponent = static_cast<int>(field != 0 ? field : 1) - 1075;
    const std::string exact = ExactScientific(2 * mantissa + 1, exponent - 1);
    const auto e = exact.find('e');
    const auto last = exact.find_last_not_of('0', e - 1);
    std::string below = exact;
    --below[last];  // a midpoint always ends in a nonzero digit
    ExpectSameAsStrtod(exact);
    ExpectSameAsStrtod("-" + exact);
    ExpectSameAsStrtod(below);
    ExpectSameAsStrtod(exact.substr(0, e) + "1" + exact.substr(e));
    ExpectSameAsStrtod(exact.substr(0, 19) + exact.substr(e));
  }
}

std::string RandomDigits(std::mt19937_64& random) {
  const auto length = static_cast<std::size_t>(random() % 10 == 0 ? random() % 900 : random() % 25);
  std::string digits;
  for (std::size_t i = 0; i < length; ++i) {
    const auto pick = random() % 12;  // favour runs of 0 and 9
    digits += pick >= 10 ? (pick == 10 ? '0' : '9') : static_cast<char>('0' + pick);
  }
  return digits;
}

TEST(ParseDoubleTest, MatchesStrtodOnRandomDecimalText) {
  std::mt19937_64 random(1);
  for (int i = 0; i < 100000; ++i) {
    std::string text =
        std::string(static_cast<std::size_t>(random() % 3), ' ') + "+- "[random() % 3];
    text += RandomDigits(random);
    if (random() % 2 == 0) {
      text += "." + RandomDigits(random);
    }
    if (random() % 2 == 0) {
      text += "eE"[random() % 2] + std::string(random() % 2, "+-"[random() % 2]);
      text += std::to_string(random() % 700);
    }
    ExpectSameAsStrtod(text);
  }
}

// Millions of digits: linear time, and digits far beyond the kept ones
// still decide the rounding.
TEST(ParseDoubleTest, ReadsVeryLongText) {
  const std::string midpoint_after_one = "1.00000000000000011102230246251565404236316680908203125";
  const std::string zeros(3'000'000, '0');
  EXPECT_EQ(ParseDouble(Widen(midpoint_after_one + zeros)), 1.0);
  EXPECT_EQ(ParseDouble(Widen(midpoint_after_one + zeros + "1")), std::nextafter(1.0, 2.0));
  EXPECT_EQ(ParseDouble(Widen("1" + zeros + "e-2999991")), 1e9);
  EXPECT_EQ(ParseDouble(Widen("0." + zeros + "1e3000001")), 1.0);
}

std::string Narrow(const std::pmr::u16string& text) {
  return {text.begin(), text.end()};
}

std::string FormattedDouble(double value, std::int32_t decimals) {
  std::pmr::u16string out;
  FormatDouble(value, decimals, out);
  return Narrow(out);
}

std::string FormattedFloat(float value, std::int32_t decimals) {
  std::pmr::u16string out;
  FormatFloat(value, decimals, out);
  return Narrow(out);
}

TEST(FormatDoubleTest, PrintsFixedDecimals) {
  const struct {
    double value;
    std::int32_t decimals;
    std::string expected;
  } cases[] = {
      // clang-format off
      {87.28521479885603, 3, "87.285"}, {0.0, 3, "0.000"},   {-0.0, 3, "0.000"},
      {-0.0001, 3, "-0.000"},           {550.4, -5, "550"},  {550.6, INT32_MIN, "551"},
      {0.1, 20, "0.10000000000000000555"},
      {1.0, 600, "1." + std::string(512, '0')}, {1.0, INT32_MAX, "1." + std::string(512, '0')},
      {2.5, -1, "2.5"},  {3.0, -1, "3"},  {0.1, -1, "0.1"},  {100.0, -1, "100"},
      {1e-11, -1, "0"},  {-0.0, -1, "0"}, {kInf, 3, "+Infinity"}, {-kInf, -1, "-Infinity"},
      // clang-format on
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FormattedDouble(c.value, c.decimals), c.expected) << c.value << ", " << c.decimals;
  }
}

// The longest fixed text there is: sign, 309 digits, point, 512 decimals.
TEST(FormatDoubleTest, LargestDoubleFitsTheRoom) {
  const std::string text = FormattedDouble(-DBL_MAX, 512);
  EXPECT_EQ(text.size(), 823u);
  EXPECT_TRUE(text.starts_with("-17976931348623157081452742373170435679807056752584499659"));
  EXPECT_TRUE(text.ends_with("124858368." + std::string(512, '0')));
}

TEST(FormatTest, PrintsEveryNaNAsNaN) {
  for (const std::uint64_t bits :
       {0x7FF8000000000000u, 0xFFF8000000000000u, 0x7FF0000000000001u, 0xFFFFFFFFFFFFFFFFu}) {
    EXPECT_EQ(FormattedDouble(std::bit_cast<double>(bits), 3), "NaN") << std::hex << bits;
  }
  for (const std::uint32_t bits : {0x7FC00000u, 0xFFC00000u, 0x7F800001u, 0xFFFFFFFFu}) {
    EXPECT_EQ(FormattedFloat(std::bit_cast<float>(bits), 2), "NaN") << std::hex << bits;
  }
}

TEST(FormatFloatTest, PrintsTheFloatWidened) {
  EXPECT_EQ(FormattedFloat(550.0f, 2), "550.00");
  EXPECT_EQ(FormattedFloat(NarrowToFloat(555.555), 2), "555.55");
  EXPECT_EQ(FormattedFloat(0.1f, -1), "0.1000000015");
  EXPECT_EQ(FormattedFloat(-0.0f, 2), "0.00");
  EXPECT_EQ(FormattedFloat(NarrowToFloat(1e39), 2), "+Infinity");
  EXPECT_EQ(FormattedFloat(-std::numeric_limits<float>::infinity(), 2), "-Infinity");
}

TEST(FormatTest, AppendsToExistingText) {
  std::pmr::u16string out = u"λ = ";
  FormatDouble(550.0, 1, out);
  out += u", ";
  FormatFloat(std::numeric_limits<float>::infinity(), 1, out);
  EXPECT_TRUE(out == u"λ = 550.0, +Infinity");
}

TEST(NarrowToFloatTest, RoundsToNearestOverTheWholeRange) {
  constexpr float kFloatInf = std::numeric_limits<float>::infinity();
  constexpr double kOverflowMidpoint = 0x1.ffffffp127;
  const struct {
    double value;
    float expected;
  } cases[] = {
      // clang-format off
      {1e39, kFloatInf},           {-1e39, -kFloatInf},          {3.4028235e38, FLT_MAX},
      {kOverflowMidpoint, kFloatInf}, {-kOverflowMidpoint, -kFloatInf},
      {std::nextafter(kOverflowMidpoint, 0.0), FLT_MAX},         {DBL_MAX, kFloatInf},
      {-1e-50, -0.0f},             {0x1.000001p0, 1.0f},         {0x1.000003p0, 0x1.000004p0f},
      {555.555, 555.55499267578125f},
      // clang-format on
  };
  for (const auto& c : cases) {
    EXPECT_EQ(std::bit_cast<std::uint32_t>(NarrowToFloat(c.value)),
              std::bit_cast<std::uint32_t>(c.expected))
        << c.value;
  }
  EXPECT_TRUE(std::isnan(NarrowToFloat(std::bit_cast<double>(std::uint64_t{0xFFF8000000000000}))));
}

}  // namespace
