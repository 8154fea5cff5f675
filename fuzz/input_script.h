// Fuzzer input as a script for the platform double: redirected bytes split
// into reads anywhere, console lines, absent consoles and read failures. And
// the lines a correct ConsoleReadLine gives for it, worked out plainly.
//
// The input is a script of records, each starting with a tag byte:
//   tag % 8 in 0..2  bytes: a length byte L, then L bytes, answered by reads
//   tag % 8 == 3     a run: a pattern length byte P (1..16), a count byte C,
//                    then P bytes, repeated to fill (C + 1) * 64 bytes, or
//                    for C of 248 and more (C - 247) MiB (the whole stream is
//                    kept within 6 MiB)
//   tag % 8 == 4     a read failing with an error
//   tag % 8 == 5     a console line: a length byte L, then L code units
//                    (UTF-16LE); with tag bit 3 set, repeated 32 times
//   tag % 8 == 6     a console read failing: not a console; with tag bit 3
//                    set, a console read that Ctrl+C interrupted instead
//   tag % 8 == 7     the end of input; the rest of the input is ignored
// Reads beyond the script find the end of input; console reads beyond it
// find no console.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "console/line_input.h"
#include "tests/test_support.h"

namespace fuzz {

// The redirected byte stream as the script gives it, and where reads fail
// with another error (byte offsets into the stream).
struct Stream {
  std::string bytes;
  std::vector<std::size_t> failures;
};

// Fills the read queues of fake::state from the script and returns the
// redirected stream.
Stream LoadScript(const std::uint8_t* data, std::size_t size);

// The lines ConsoleReadLine should give, one call after the other, for the
// script loaded last. Ask for each right before the call: a console line
// depends on what the console has still queued.
class ExpectedLines {
 public:
  explicit ExpectedLines(const Stream& stream);

  std::u16string_view Next();

  // True once the redirected lines are used up and no console read is queued.
  bool AtEnd() const;

 private:
  std::u16string units_;                       // the redirected stream's code units
  std::vector<test_support::LineSpan> lines_;  // the redirected lines, as places in units_
  std::size_t next_ = 0;
  std::u16string console_line_;
};

}  // namespace fuzz
