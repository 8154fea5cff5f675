// FormatDouble and FormatFloat on any bit pattern and any decimals. Besides
// surviving it, each result must
// - leave the text it is appended to alone and add at most 1,024 characters;
// - be "+Infinity", "-Infinity" or "NaN" for the special values;
// - otherwise be the value correctly rounded to the clamped number of
//   decimals (an exact tie may go either way), a zero without its sign, with
//   trailing zeros removed when decimals is -1; the reference digits come
//   from the C library's exact expansion of the value;
// - parse back with strtod to a double that formats to the same text.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory_resource>
#include <string>
#include <string_view>

#include "text/number_text.h"

namespace {

constexpr std::size_t kMaxAppended = 1024;
constexpr std::u16string_view kBefore = u"Wert: ";

[[noreturn]] void Fail(const char* what, double value, std::int32_t decimals,
                       const std::string& text) {
  std::fprintf(stderr, "%s: value %a, decimals %d, text \"%s\"\n", what, value,
               static_cast<int>(decimals), text.c_str());
  std::abort();
}

// Every finite double's decimal expansion ends within 1,074 decimals.
std::string ExactExpansion(double magnitude) {
  std::string text(1500, '\0');
  const int length = std::snprintf(text.data(), text.size(), "%.1100f", magnitude);
  text.resize(static_cast<std::size_t>(length));
  return text;
}

// Adds one unit in the last place of a digit text, carrying over the point.
std::string RoundUp(std::string digits) {
  for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
    if (*it == '.') {
      continue;
    }
    if (*it != '9') {
      ++*it;
      return digits;
    }
    *it = '0';
  }
  return "1" + digits;
}

std::string TrimZeros(std::string text) {
  if (text.find('.') != std::string::npos) {
    text.erase(text.find_last_not_of('0') + 1);
    if (text.back() == '.') {
      text.pop_back();
    }
  }
  return text;
}

// The texts a correct formatter may give for a finite value: one, or two
// when the value lies exactly halfway.
struct Allowed {
  std::string first;
  std::string second;
  bool Holds(const std::string& text) const { return text == first || text == second; }
};

Allowed Reference(double value, std::int32_t decimals) {
  const bool trim = decimals == -1;
  const auto kept = static_cast<std::size_t>(trim ? 10 : std::clamp(decimals, 0, 512));
  const std::string exact = ExactExpansion(std::fabs(value));
  const std::size_t point = exact.find('.');
  const std::size_t cut = kept == 0 ? point : point + 1 + kept;
  const std::string down = exact.substr(0, cut);
  const std::string rest = exact.substr(point + 1 + kept);
  const bool above_half =
      rest[0] > '5' || (rest[0] == '5' && rest.find_first_not_of('0', 1) != std::string::npos);
  const bool tie = rest[0] == '5' && !above_half;

  const std::string sign = std::signbit(value) && value != 0.0 ? "-" : "";
  Allowed allowed;
  allowed.first = sign + (above_half ? RoundUp(down) : down);
  allowed.second = tie ? sign + RoundUp(down) : allowed.first;
  if (trim) {
    allowed.first = TrimZeros(allowed.first);
    allowed.second = TrimZeros(allowed.second);
  }
  return allowed;
}

void FormatNumber(double value, std::int32_t decimals, std::pmr::u16string& out) {
  FormatDouble(value, decimals, out);
}

void FormatNumber(float value, std::int32_t decimals, std::pmr::u16string& out) {
  FormatFloat(value, decimals, out);
}

// Appends behind other text, checks that text and the room, and returns
// the appended part in ASCII (it holds nothing else).
template <typename Number>
std::string Appended(Number value, std::int32_t decimals) {
  std::pmr::u16string out(kBefore);
  FormatNumber(value, decimals, out);
  const std::u16string_view all(out);
  if (!all.starts_with(kBefore)) {
    Fail("text before the number changed", value, decimals, "");
  }
  std::string text;
  for (const char16_t c : all.substr(kBefore.size())) {
    if (c >= 0x80) {
      Fail("non-ASCII character", value, decimals, text);
    }
    text.push_back(static_cast<char>(c));
  }
  if (text.size() > kMaxAppended) {
    Fail("more than 1,024 characters", value, decimals, text);
  }
  return text;
}

template <typename Number>
void Check(Number value, std::int32_t decimals) {
  const std::string text = Appended(value, decimals);
  if (std::isnan(value) || std::isinf(value)) {
    const char* word = std::isnan(value) ? "NaN" : std::signbit(value) ? "-Infinity" : "+Infinity";
    if (text != word) {
      Fail("special value", value, decimals, text);
    }
    return;
  }
  if (!Reference(value, decimals).Holds(text)) {
    Fail("not the correctly rounded text", value, decimals, text);
  }
  if (decimals < -1 || decimals > 512) {
    return;
  }
  // The text stands for a double that gives it again (a float's text too:
  // it was printed from the float widened to double).
  // A small negative value that rounds to zero reads back as -0.0, which
  // prints without its sign.
  const double back = std::strtod(text.c_str(), nullptr);
  const bool signed_zero = back == 0.0 && text.starts_with('-');
  if (Appended(back, decimals) != (signed_zero ? text.substr(1) : text)) {
    Fail("does not parse back to the same text", value, decimals, text);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const auto double_bits = input.ConsumeIntegral<std::uint64_t>();
  const auto float_bits = input.ConsumeIntegral<std::uint32_t>();
  // Mostly decimals in and just around the clamped range, sometimes any.
  const std::int32_t decimals = input.ConsumeBool() ? input.ConsumeIntegral<std::int32_t>()
                                                    : input.ConsumeIntegralInRange(-3, 515);
  Check(std::bit_cast<double>(double_bits), decimals);
  Check(std::bit_cast<float>(float_bits), decimals);
  return 0;
}
