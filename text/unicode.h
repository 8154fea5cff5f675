// UTF-16 <-> UTF-8 conversion, for the POSIX side of the OS layer and the
// test double. Malformed input never fails:
// an unpaired surrogate, or each maximal ill-formed UTF-8 subsequence, comes
// out as U+FFFD, the way Windows converts since Vista.
#pragma once

#include <cstddef>
#include <string_view>

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

// Decodes the code point that starts at text[pos] and moves pos past it.
// An unpaired surrogate gives U+FFFD. Requires pos < text.size().
char32_t NextCodePointUtf16(std::u16string_view text, std::size_t& pos);

// Decodes the code point that starts at bytes[pos] and moves pos past it.
// Overlong forms, encoded surrogates, values above U+10FFFF, stray
// continuation bytes and truncated sequences give U+FFFD, one for each
// maximal subpart of the ill-formed sequence. Requires pos < bytes.size().
char32_t NextCodePointUtf8(std::string_view bytes, std::size_t& pos);

// Encodes a scalar value (not a surrogate, at most U+10FFFF) into `out`,
// which has room for 4 bytes; returns the number of bytes written.
std::size_t PutUtf8(char32_t c, char* out);

// Encodes a scalar value into `out`, which has room for 2 code units;
// returns the number of code units written.
std::size_t PutUtf16(char32_t c, char16_t* out);

// Encodes `text` as UTF-8. With `bytes` null, returns the number of bytes
// needed; otherwise writes them into `bytes` (room for `size`) and returns
// their number, or 0 when they do not all fit.
std::size_t EncodeUtf8(std::u16string_view text, char* bytes, std::size_t size);
