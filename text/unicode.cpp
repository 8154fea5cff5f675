#include "text/unicode.h"

#include <cstdint>

namespace {

bool IsHighSurrogate(char16_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLowSurrogate(char16_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

// The well-formed UTF-8 sequences: how many bytes follow a lead byte, and
// the range allowed for the first of them (the later ones are always
// 80..BF). The narrowed ranges after E0, ED, F0 and F4 are what exclude
// overlong forms, surrogates and values above U+10FFFF.
struct Lead {
  int trail_count;  // 0: not a lead byte
  std::uint8_t first_min;
  std::uint8_t first_max;
};

Lead ClassifyLead(std::uint8_t byte) {
  if (byte >= 0xC2 && byte <= 0xDF)
    return {1, 0x80, 0xBF};
  if (byte == 0xE0)
    return {2, 0xA0, 0xBF};
  if (byte == 0xED)
    return {2, 0x80, 0x9F};
  if (byte >= 0xE1 && byte <= 0xEF)
    return {2, 0x80, 0xBF};
  if (byte == 0xF0)
    return {3, 0x90, 0xBF};
  if (byte >= 0xF1 && byte <= 0xF3)
    return {3, 0x80, 0xBF};
  if (byte == 0xF4)
    return {3, 0x80, 0x8F};
  return {0, 0, 0};
}

std::size_t Utf8Length(char32_t c) {
  if (c < 0x80)
    return 1;
  if (c < 0x800)
    return 2;
  if (c < 0x10000)
    return 3;
  return 4;
}

}  // namespace

char32_t NextCodePointUtf16(std::u16string_view text, std::size_t& pos) {
  const char16_t unit = text[pos++];
  if (IsHighSurrogate(unit)) {
    if (pos < text.size() && IsLowSurrogate(text[pos])) {
      const char16_t low = text[pos++];
      return 0x10000 + ((char32_t{unit} - 0xD800) << 10) + (char32_t{low} - 0xDC00);
    }
    return kReplacementCharacter;
  }
  if (IsLowSurrogate(unit))
    return kReplacementCharacter;
  return unit;
}

char32_t NextCodePointUtf8(std::string_view bytes, std::size_t& pos) {
  const auto lead_byte = static_cast<std::uint8_t>(bytes[pos++]);
  if (lead_byte < 0x80)
    return lead_byte;
  const Lead lead = ClassifyLead(lead_byte);
  if (lead.trail_count == 0)
    return kReplacementCharacter;

  char32_t value = lead_byte & (0x3Fu >> lead.trail_count);
  for (int i = 0; i < lead.trail_count; ++i) {
    const std::uint8_t low = i == 0 ? lead.first_min : 0x80;
    const std::uint8_t high = i == 0 ? lead.first_max : 0xBF;
    // A byte that cannot continue the sequence is not consumed: it starts
    // the next one, so a truncated sequence costs only one U+FFFD.
    if (pos == bytes.size())
      return kReplacementCharacter;
    const auto byte = static_cast<std::uint8_t>(bytes[pos]);
    if (byte < low || byte > high)
      return kReplacementCharacter;
    ++pos;
    value = (value << 6) | (byte & 0x3Fu);
  }
  return value;
}

std::size_t PutUtf8(char32_t c, char* out) {
  const auto byte = [](char32_t bits) {
    return static_cast<char>(static_cast<std::uint8_t>(bits));
  };
  switch (Utf8Length(c)) {
    case 1:
      out[0] = byte(c);
      return 1;
    case 2:
      out[0] = byte(0xC0 | (c >> 6));
      out[1] = byte(0x80 | (c & 0x3F));
      return 2;
    case 3:
      out[0] = byte(0xE0 | (c >> 12));
      out[1] = byte(0x80 | ((c >> 6) & 0x3F));
      out[2] = byte(0x80 | (c & 0x3F));
      return 3;
    default:
      out[0] = byte(0xF0 | (c >> 18));
      out[1] = byte(0x80 | ((c >> 12) & 0x3F));
      out[2] = byte(0x80 | ((c >> 6) & 0x3F));
      out[3] = byte(0x80 | (c & 0x3F));
      return 4;
  }
}

std::size_t PutUtf16(char32_t c, char16_t* out) {
  if (c < 0x10000) {
    out[0] = static_cast<char16_t>(c);
    return 1;
  }
  const char32_t offset = c - 0x10000;
  out[0] = static_cast<char16_t>(0xD800 + (offset >> 10));
  out[1] = static_cast<char16_t>(0xDC00 + (offset & 0x3FF));
  return 2;
}

std::size_t EncodeUtf8(std::u16string_view text, char* bytes, std::size_t size) {
  std::size_t written = 0;
  for (std::size_t pos = 0; pos < text.size();) {
    const char32_t c = NextCodePointUtf16(text, pos);
    if (bytes == nullptr) {
      written += Utf8Length(c);
      continue;
    }
    char unit[4];
    const std::size_t n = PutUtf8(c, unit);
    if (n > size - written)
      return 0;
    for (std::size_t i = 0; i < n; ++i)
      bytes[written++] = unit[i];
  }
  return written;
}
