// A scripted stand-in for the OS, for tests. Every platform:: call is
// recorded with its arguments, and reads answer from queues the test fills
// beforehand. Link platform_fake instead of platform_os to use it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace fake {

// The handles StandardInput() and StandardOutput() hand out.
inline constexpr platform::Handle kInput = 100;
inline constexpr platform::Handle kOutput = 101;

// One answer to ConsoleRead. A line longer than the capacity asked for is
// handed out in pieces, as a real console does.
struct ConsoleAnswer {
  enum Kind {
    kLine,         // hands out `units`
    kNotConsole,   // the handle is no console
    kInterrupted,  // Ctrl+C ended the read: no line
  };
  Kind kind = kLine;
  std::u16string units;
};

// One answer to ReadBytes. kOk answers hand out their bytes, at most as many
// as asked for; the rest stays queued for the next read.
struct ByteAnswer {
  platform::ReadStatus status = platform::ReadStatus::kOk;
  std::string bytes;
  std::size_t taken = 0;  // bytes handed out so far
};

// One answer to a write, to the console or as bytes. A byte write with
// status kWritten takes at most `taken` of the bytes offered (0: a full
// non-blocking pipe); a console write takes all or nothing.
struct WriteAnswer {
  platform::WriteStatus status = platform::WriteStatus::kWritten;
  std::size_t taken = SIZE_MAX;
};

// One recorded call, with what it was given.
struct Call {
  std::string name;  // the platform:: function, e.g. "ReadBytes"
  platform::Handle handle = 0;
  std::uint32_t asked = 0;      // ConsoleRead: code units; ReadBytes: bytes
  std::uint16_t attribute = 0;  // SetTextAttribute
  std::string bytes;            // WriteBytes: the bytes offered
  std::size_t taken = 0;        // WriteBytes: how many of them went out
  std::u16string text;          // ConsoleWrite, SetTitle
};

struct State {
  // The script. An empty console queue means "not a console"; an empty
  // byte queue means end of file; writes beyond the queue get
  // `later_writes`.
  std::deque<ConsoleAnswer> console_reads;
  std::deque<ByteAnswer> byte_reads;
  bool console_write_ok = false;
  std::deque<WriteAnswer> writes;
  WriteAnswer later_writes;
  bool flush_ok = true;
  bool close_ok = true;
  bool title_ok = true;
  bool attribute_ok = true;
  bool flush_matters = true;

  // The record.
  std::vector<Call> calls;
  platform::ControlHandler handler = nullptr;
};

extern State state;

// Forgets the script and the record.
void Reset();

// Queues `units` as redirected input: UTF-16, low byte first.
void QueueUtf16(std::u16string_view units);
void QueueBytes(std::string bytes);
void QueueStatus(platform::ReadStatus status);

// Gives the `nth` write from now on (counting from 1) `answer`: that write
// alone, or with kFromThenOn every write after it too. The writes before
// it go through.
enum class Times { kOnce, kFromThenOn };
void AnswerWrite(std::size_t nth, WriteAnswer answer, Times times = Times::kOnce);

// Views of the record.
std::vector<std::string> CallNames();
std::vector<std::uint32_t> AskedOf(std::string_view name);
std::size_t CountOf(std::string_view name);
std::string WrittenBytes();  // the bytes that went out, joined

}  // namespace fake
