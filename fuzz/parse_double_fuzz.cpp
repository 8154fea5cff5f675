// ParseDouble on any UTF-16 text. Besides surviving it, the result must be
// bit for bit what strtod in the C locale gives for the number at the start
// of the text, which is cut out here by a plain scanner of its own; the
// three special words, in any letter case, give their fixed bit patterns.
//
// The first input byte picks how the rest becomes text: even, one code unit
// per byte (so number texts are easy to reach); odd, UTF-16LE pairs (any
// code unit at all).

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "tests/test_support.h"
#include "text/number_text.h"

namespace {

bool IsAsciiSpace(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\n' || c == u'\v' || c == u'\f' || c == u'\r';
}

bool IsAsciiDigit(char16_t c) {
  return c >= u'0' && c <= u'9';
}

// Puts the text in ASCII lower case into `lower`; false when the text holds
// anything outside ASCII, as no special word does.
bool LowerAscii(std::u16string_view text, std::string& lower) {
  for (const char16_t c : text) {
    if (c >= 0x80) {
      return false;
    }
    const char ascii = static_cast<char>(c);
    lower.push_back(ascii >= 'A' && ascii <= 'Z' ? static_cast<char>(ascii - 'A' + 'a') : ascii);
  }
  return true;
}

// Appends the digits starting at text[i] to `number`; returns how many.
std::size_t TakeDigits(std::u16string_view text, std::size_t& i, std::string& number) {
  std::size_t count = 0;
  for (; i < text.size() && IsAsciiDigit(text[i]); ++i, ++count) {
    number.push_back(static_cast<char>(text[i]));
  }
  return count;
}

// The number at the start of `text` as plain ASCII: white space skipped,
// then sign, digits with at most one '.', and an exponent only when it has
// a digit. Empty when the text does not start with a number.
std::string NumberPrefix(std::u16string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsAsciiSpace(text[i])) {
    ++i;
  }
  std::string number;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
    number.push_back(static_cast<char>(text[i++]));
  }
  std::size_t digits = TakeDigits(text, i, number);
  if (i < text.size() && text[i] == u'.') {
    number.push_back('.');
    ++i;
    digits += TakeDigits(text, i, number);
  }
  if (digits == 0) {
    return {};
  }
  const std::size_t mantissa_end = number.size();
  const std::size_t exponent_start = i;
  if (i < text.size() && (text[i] == u'e' || text[i] == u'E')) {
    number.push_back('e');
    ++i;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
      number.push_back(static_cast<char>(text[i++]));
    }
    if (TakeDigits(text, i, number) == 0) {
      number.resize(mantissa_end);
      i = exponent_start;
    }
  }
  return number;
}

std::uint64_t Expected(std::u16string_view text) {
  std::string lower;
  if (LowerAscii(text, lower)) {
    if (lower == "+infinity")
      return 0x7FF0000000000000;
    if (lower == "-infinity")
      return 0xFFF0000000000000;
    if (lower == "nan")
      return 0xFFF8000000000000;
  }
  const std::string number = NumberPrefix(text);
  if (number.empty()) {
    return std::bit_cast<std::uint64_t>(0.0);
  }
  return std::bit_cast<std::uint64_t>(std::strtod(number.c_str(), nullptr));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  const bool pairs = (data[0] & 1) != 0;
  const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::u16string decoded =
      pairs ? test_support::Utf16Units(bytes) : std::u16string(data + 1, data + size);
  // Exactly sized, so that reading past the end is caught.
  const auto units = std::make_unique<char16_t[]>(decoded.size());
  std::copy(decoded.begin(), decoded.end(), units.get());
  const std::u16string_view text(units.get(), decoded.size());

  const auto got = std::bit_cast<std::uint64_t>(ParseDouble(text));
  // The text ends at its first zero code unit.
  const std::uint64_t expected = Expected(text.substr(0, text.find(u'\0')));
  if (got != expected) {
    std::fprintf(stderr, "ParseDouble gave %016llx, expected %016llx\n",
                 static_cast<unsigned long long>(got), static_cast<unsigned long long>(expected));
    std::abort();
  }
  return 0;
}
