// A scripted stand-in for the OS, for tests. Every platform:: call is
// recorded with its arguments, reads answer from queues the test fills
// beforehand, and any write can be told to fail. Link platform_fake instead
// of platform_os to use it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace fake {

// The handles StandardInput() and StandardOutput() hand out.
inline constexpr platform::Handle kInput = 100;
inline constexpr platform::Handle kOutput = 101;

// The platform:: calls, as the record names them.
enum class Op {
  kStandardInput,
  kStandardOutput,
  kConsoleWrite,
  kConsoleSetLineMode,
  kConsoleRead,
  kReadBytes,
  kWriteBytes,
  kFlush,
  kCloseOutput,
  kSetTitle,
  kSetTextAttribute,
  kRestoreConsole,
  kEncodeText,
  kRegisterControlHandler,
  kLockCreate,
  kLockEnter,
  kLockLeave,
  kLockDelete,
};
// Prints the call's name, for test failure messages.
void PrintTo(Op op, std::ostream* os);

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

// One recorded call, with what it was given.
struct Call {
  Op op;
  platform::Handle handle = 0;
  std::uint32_t asked = 0;                              // ConsoleRead: code units; ReadBytes: bytes
  std::uint16_t attribute = 0;                          // SetTextAttribute
  platform::CodePage page = platform::CodePage::kUtf8;  // EncodeText
  std::string bytes;                                    // WriteBytes: the bytes offered
  bool arrived = false;                                 // WriteBytes: whether they went out
  std::u16string text;                                  // ConsoleWrite, SetTitle
};

struct State {
  // The script. An empty console queue means "not a console"; an empty
  // byte queue means end of input; writes, to the console or as bytes,
  // beyond the queue get `later_writes`.
  std::deque<ConsoleAnswer> console_reads;
  std::deque<ByteAnswer> byte_reads;
  bool console_write_ok = false;
  std::deque<platform::WriteStatus> writes;
  platform::WriteStatus later_writes = platform::WriteStatus::kWritten;
  bool flush_ok = true;
  bool close_ok = true;
  bool title_ok = true;
  bool attribute_ok = true;

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

// Gives the `nth` write from now on (counting from 1) `status`: that write
// alone, or with kFromThenOn every write after it too. The writes before
// it go through.
enum class Times { kOnce, kFromThenOn };
void AnswerWrite(std::size_t nth, platform::WriteStatus status, Times times = Times::kOnce);

// Views of the record.
std::vector<Op> Ops();
std::vector<std::uint32_t> AskedOf(Op op);
std::size_t CountOf(Op op);
std::string WrittenBytes();  // the bytes that went out, joined

}  // namespace fake
