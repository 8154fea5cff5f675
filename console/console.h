// The console: title, colour, and text output to a console or, when
// standard output is redirected, as bytes in the chosen encoding.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/platform.h"

// How output is encoded when it cannot go to a console. Any other value
// acts as OutputUtf16.
inline constexpr std::int32_t OutputUtf8 = 2;    // UTF-8, no byte-order mark
inline constexpr std::int32_t OutputAnsi = 24;   // the system's ANSI code page
inline constexpr std::int32_t OutputUtf16 = 25;  // UTF-16LE, no byte-order mark

// Takes the standard handles, registers the control handler, sets the title
// if one is given and creates the input lock. Line input starts afresh, with
// nothing read ahead. Always returns 1.
int ConsoleOpen(std::optional<std::u16string_view> title = std::nullopt,
                std::int32_t output_mode = OutputUtf8);

// Returns nonzero when the title was set.
int ConsoleSetTitle(std::u16string_view title);

// Foreground and background from the 16-colour palette; a value of 16 or
// more leaves the colour as it is.
void ConsoleSetColor(std::int32_t foreground, std::int32_t background);

// Writes the text without line end and without flushing. An absent text
// writes nothing.
void ConsolePrint(std::optional<std::u16string_view> text);

// Writes the text and CR LF in one write, then flushes standard output. An
// absent text writes the line end alone. Without memory for the line nothing
// is written.
void ConsolePrintLine(std::optional<std::u16string_view> text);

// True when output since ConsoleOpen was lost: a write or flush failed
// (other than for a reader that has gone away), a line found no memory, or
// closing standard output reported an error.
bool ConsoleOutputLost();

// Deletes the input lock, gives a terminal back its colours, title and modes
// (a Windows console keeps them), and closes standard output, where closing
// can report output lost. Pending input stays as it is.
void ConsoleClose();

// Declines every control event, so the default handling ends the process.
std::uint32_t ConsoleControlHandler(std::uint32_t event);

// The standard input handle taken by ConsoleOpen.
platform::Handle ConsoleInputHandle();
