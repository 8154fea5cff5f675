#include "text/number_text.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <limits>
#include <string_view>
#include <system_error>

namespace {

constexpr std::u16string_view kPlusInfinityWord = u"+Infinity";
constexpr std::u16string_view kMinusInfinityWord = u"-Infinity";
constexpr std::u16string_view kNotANumberWord = u"NaN";
static_assert(kMinusInfinityWord.size() <= kPlusInfinityWord.size() &&
              kNotANumberWord.size() <= kPlusInfinityWord.size());

constexpr std::uint64_t kPlusInfinityBits = 0x7FF0000000000000;
constexpr std::uint64_t kMinusInfinityBits = 0xFFF0000000000000;
constexpr std::uint64_t kNotANumberBits = 0xFFF8000000000000;  // quiet, sign bit set

// Every halfway point between neighbouring doubles has at most 767
// significant decimal digits. The first 800 digits, plus one sticky '1' when
// anything nonzero was cut off, lie on the same side of each halfway point
// as the full text, so they round to the same double.
constexpr std::size_t kKeptDigits = 800;

// Beyond these decimal exponents every value converts to infinity or zero;
// clamping keeps both the exponent text and its arithmetic small.
constexpr std::int64_t kExponentClamp = 400;

// Exponent digits are summed with saturation, so a huge exponent text
// cannot overflow; any larger magnitude means the same result.
constexpr std::int64_t kExponentSaturation = 1'000'000'000'000;

constexpr std::int32_t kMaxDecimals = 512;
constexpr std::int32_t kTrimmedDecimalsRequest = -1;
constexpr std::int32_t kTrimmedDecimals = 10;

// Room for one formatted number. The longest fixed text of a double with
// 512 decimals is -DBL_MAX: sign, 309 integer digits, point, 512 decimals.
constexpr std::size_t kFormatRoom = 1024;
static_assert(1 + 309 + 1 + kMaxDecimals <= kFormatRoom);

// The decimal number at the start of a text, reduced to its significant
// digits and the decimal exponent of the first of them.
struct DecimalNumber {
  bool found = false;  // the text starts with a number at all
  bool negative = false;
  std::array<char, kKeptDigits + 1> digits{};  // first is nonzero; may end in a sticky '1'
  std::size_t digit_count = 0;                 // 0 when the number is zero
  std::int64_t exponent = 0;                   // value = d.ddd... * 10^exponent
};

bool IsSpace(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\n' || c == u'\v' || c == u'\f' || c == u'\r';
}

bool IsDigit(char16_t c) {
  return c >= u'0' && c <= u'9';
}

char16_t ToLowerAscii(char16_t c) {
  return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

bool EqualsIgnoringAsciiCase(std::u16string_view text, std::u16string_view word) {
  return std::ranges::equal(text, word, {}, ToLowerAscii, ToLowerAscii);
}

// Reads the exponent part at text[pos]: 'e' or 'E', optional sign, at least
// one digit. Without a complete exponent there the number simply ends, which
// counts as exponent 0.
std::int64_t ScanExponent(std::u16string_view text, std::size_t pos) {
  if (pos >= text.size() || (text[pos] != u'e' && text[pos] != u'E')) {
    return 0;
  }
  std::size_t i = pos + 1;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
    negative = text[i] == u'-';
    ++i;
  }
  std::int64_t magnitude = 0;
  for (; i < text.size() && IsDigit(text[i]); ++i) {
    magnitude = std::min(magnitude * 10 + (text[i] - u'0'), kExponentSaturation);
  }
  return negative ? -magnitude : magnitude;
}

// Scans white space, sign, mantissa and exponent in one pass, keeping only
// as many digits as rounding can depend on. Linear in the text length.
DecimalNumber ScanDecimal(std::u16string_view text) {
  DecimalNumber number;
  std::size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) {
    ++i;
  }
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
    number.negative = text[i] == u'-';
    ++i;
  }

  bool any_digit = false;
  bool after_point = false;
  bool sticky = false;
  std::int64_t significant_integer_digits = 0;  // integer digits from the first nonzero on
  std::int64_t leading_fraction_zeros = 0;      // fraction zeros before the first nonzero
  for (; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c == u'.' && !after_point) {
      after_point = true;
      continue;
    }
    if (!IsDigit(c)) {
      break;
    }
    any_digit = true;
    const bool significant = number.digit_count > 0 || c != u'0';
    if (!significant) {
      leading_fraction_zeros += after_point ? 1 : 0;
      continue;
    }
    significant_integer_digits += after_point ? 0 : 1;
    if (number.digit_count < kKeptDigits) {
      number.digits[number.digit_count++] = static_cast<char>(c);
    } else {
      sticky = sticky || c != u'0';
    }
  }
  if (!any_digit) {
    return number;
  }
  number.found = true;
  if (sticky) {
    number.digits[number.digit_count++] = '1';
  }

  const std::int64_t point_exponent = significant_integer_digits > 0
                                          ? significant_integer_digits - 1
                                          : -(leading_fraction_zeros + 1);
  number.exponent = point_exponent + ScanExponent(text, i);
  return number;
}

// Converts nonzero significant digits with a decimal exponent, correctly
// rounded. from_chars reports overflow and underflow alike as out of range
// without giving a value; the sign of the exponent tells which it was.
double ConvertMagnitude(const DecimalNumber& number) {
  const std::int64_t exponent = std::clamp(number.exponent, -kExponentClamp, kExponentClamp);
  std::array<char, kKeptDigits + 16> buffer;  // digits, point, 'e', sign, 3 exponent digits
  char* end = buffer.data();
  *end++ = number.digits[0];
  if (number.digit_count > 1) {
    *end++ = '.';
  }
  end = std::copy_n(number.digits.begin() + 1, number.digit_count - 1, end);
  *end++ = 'e';
  end = std::to_chars(end, buffer.data() + buffer.size(), exponent).ptr;

  double magnitude = 0.0;
  const auto result = std::from_chars(buffer.data(), end, magnitude);
  if (result.ec == std::errc::result_out_of_range) {
    magnitude = exponent > 0 ? std::numeric_limits<double>::infinity() : 0.0;
  }
  return magnitude;
}

// Appends an ASCII text to UTF-16 output.
void AppendAscii(std::string_view text, std::pmr::u16string& out) {
  out.reserve(out.size() + text.size());
  for (const char c : text) {
    out.push_back(static_cast<char16_t>(c));
  }
}

// With decimals -1: drops trailing zeros after the point, then a bare point.
std::string_view TrimTrailingZeros(std::string_view text) {
  if (text.find('.') == std::string_view::npos) {
    return text;
  }
  text.remove_suffix(text.size() - (text.find_last_not_of('0') + 1));
  if (text.ends_with('.')) {
    text.remove_suffix(1);
  }
  return text;
}

// Appends a finite value in fixed notation, exact and correctly rounded.
void AppendFixed(double value, std::int32_t decimals, std::pmr::u16string& out) {
  const bool trim = decimals == kTrimmedDecimalsRequest;
  const int precision = trim ? kTrimmedDecimals : std::clamp(decimals, 0, kMaxDecimals);
  if (value == 0.0) {
    value = 0.0;  // -0.0 prints without its sign
  }
  std::array<char, kFormatRoom> buffer;
  // The room always suffices (see kFormatRoom), so the conversion cannot fail.
  const char* end = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                  std::chars_format::fixed, precision)
                        .ptr;
  std::string_view text(buffer.data(), static_cast<std::size_t>(end - buffer.data()));
  AppendAscii(trim ? TrimTrailingZeros(text) : text, out);
}

}  // namespace

double ParseDouble(std::u16string_view text) {
  // Text ends at its first zero code unit, as zero-terminated text does. The
  // scan of a number stops at a zero by itself, so only the words need the
  // text cut there, and a head one longer than the longest word tells them
  // apart: a long line is not searched to its end for a zero.
  std::u16string_view head = text.substr(0, kPlusInfinityWord.size() + 1);
  head = head.substr(0, head.find(u'\0'));
  if (EqualsIgnoringAsciiCase(head, kPlusInfinityWord)) {
    return std::bit_cast<double>(kPlusInfinityBits);
  }
  if (EqualsIgnoringAsciiCase(head, kMinusInfinityWord)) {
    return std::bit_cast<double>(kMinusInfinityBits);
  }
  if (EqualsIgnoringAsciiCase(head, kNotANumberWord)) {
    return std::bit_cast<double>(kNotANumberBits);
  }

  const DecimalNumber number = ScanDecimal(text);
  if (!number.found) {
    return 0.0;
  }
  const double magnitude = number.digit_count == 0 ? 0.0 : ConvertMagnitude(number);
  return number.negative ? -magnitude : magnitude;
}

void FormatDouble(double value, std::int32_t decimals, std::pmr::u16string& out) {
  const auto bits = std::bit_cast<std::uint64_t>(value);
  if (bits == kPlusInfinityBits) {
    out.append(kPlusInfinityWord);
  } else if (bits == kMinusInfinityBits) {
    out.append(kMinusInfinityWord);
  } else if (std::isnan(value)) {
    out.append(kNotANumberWord);
  } else {
    AppendFixed(value, decimals, out);
  }
}

void FormatFloat(float value, std::int32_t decimals, std::pmr::u16string& out) {
  // Widening is exact: a float infinity becomes the double infinity of the
  // same sign and a NaN stays a NaN, so the double's rules give the float's.
  FormatDouble(static_cast<double>(value), decimals, out);
}

float NarrowToFloat(double value) {
  // Halfway between FLT_MAX and 2^128: from here on, round to nearest (ties
  // to even) gives infinity. Converting such values with a cast would be
  // undefined, so they are mapped here; NaN fails the test and casts safely.
  constexpr double kOverflowThreshold = 0x1.ffffffp127;
  if (std::fabs(value) >= kOverflowThreshold) {
    return std::signbit(value) ? -std::numeric_limits<float>::infinity()
                               : std::numeric_limits<float>::infinity();
  }
  return static_cast<float>(value);
}
