// Windows-1252, the ANSI code page of Western European Windows systems, for
// the POSIX side of the OS layer and the test double.
#pragma once

#include <cstddef>
#include <string_view>

// Encodes `text` one byte per character; a character the code page lacks,
// a surrogate pair included, becomes a single '?'. With `bytes` null,
// returns the number of bytes needed; otherwise writes them into `bytes`
// (room for `size`) and returns their number, or 0 when they do not fit.
std::size_t EncodeCp1252(std::u16string_view text, char* bytes, std::size_t size);
