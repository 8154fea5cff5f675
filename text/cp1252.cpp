// Windows-1252, the ANSI code page of Western European Windows systems.
#include "text/cp1252.h"

#include <iterator>

#include "text/unicode.h"

namespace {

// The characters of bytes 0x80 to 0x9F; 0 where the code page has none.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,       // 88
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,  // 98
};

char Cp1252Byte(char32_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
    return static_cast<char>(c);
  for (std::size_t i = 0; i < std::size(kCp1252High); ++i) {
    if (kCp1252High[i] != 0 && kCp1252High[i] == c)
      return static_cast<char>(0x80 + i);
  }
  return '?';
}

}  // namespace

std::size_t EncodeCp1252(std::u16string_view text, char* bytes, std::size_t size) {
  std::size_t written = 0;
  for (std::size_t pos = 0; pos < text.size();) {
    const char32_t c = NextCodePointUtf16(text, pos);
    if (bytes != nullptr) {
      if (written == size)
        return 0;
      bytes[written] = Cp1252Byte(c);
    }
    ++written;
  }
  return written;
}
