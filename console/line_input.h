// Line input from the console or from redirected UTF-16LE standard input.
#pragma once

#include <cstddef>
#include <memory_resource>
#include <string>

// The line that stands for end of input.
inline constexpr char16_t kEndOfInput = 0x0004;

// The code units that end a line, and the byte-order mark that may start
// redirected input.
inline constexpr char16_t kCr = 0x000D;
inline constexpr char16_t kLf = 0x000A;
inline constexpr char16_t kByteOrderMark = 0xFEFF;

// Code units of room reserved at the start of every call, and added when
// room runs low before a redirected read: so one redirected read brings at
// most this many.
inline constexpr std::size_t kRoomStep = 4096;
// The most code units one console read asks for.
inline constexpr std::size_t kConsoleReadUnits = 4096;

// The longest redirected line kept, in code units: a longer one is cut to
// this length, and the rest of it is read and dropped, so that no input makes
// memory grow without end.
inline constexpr std::size_t kLineCap = 1'048'576;

// Reads one line and appends it, without its line end, to `out`; returns
// its length in code units. At end of input the line is the single code
// unit kEndOfInput. Redirected input is read as UTF-16LE code units; a
// byte-order mark as its very first code unit is skipped. A line longer
// than kLineCap code units, or than memory allows, is cut; the rest of it
// is read and dropped. Never throws. Call only between ConsoleOpen and
// ConsoleClose.
std::size_t ConsoleReadLine(std::pmr::u16string& out);

// Forgets input read ahead of the current line and every other trace of
// earlier reads, so the next ConsoleReadLine starts on a fresh stream.
// ConsoleOpen calls it.
void ConsoleResetInput();
