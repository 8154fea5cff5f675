// A scripted stand-in for the OS, for tests. Every platform:: call is
// recorded with its arguments, and reads answer from queues the test fills
// beforehand. Link platform_fake instead of platform_os to use it.
#pragma once

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
// handed out in pieces, as a real console does. An interrupted answer
// (Ctrl+C at a console) hands out nothing.
struct ConsoleAnswer {
  bool is_console = true;
  std::u16string units;
  bool interrupted = false;
};

// One answer to ReadBytes. kOk answers hand out their bytes, at most as many
// as asked for; the rest stays queued for the next read.
struct ByteAnswer {
  platform::ReadStatus status = platform::ReadStatus::kOk;
  std::string bytes;
  std::size_t taken = 0;  // bytes handed out so far
};

// One recorded call. Which fields mean something depends on the call:
// `size` is the capacity or byte count asked for, or the attribute word.
struct Call {
  std::string name;  // the platform:: function, e.g. "ReadBytes"
  platform::Handle handle = 0;
  std::uint32_t size = 0;
  std::string bytes;    // WriteBytes
  std::u16string text;  // ConsoleWrite, SetTitle
};

struct State {
  // The script. An empty console queue means "not a console"; an empty
  // byte queue means end of file.
  std::deque<ConsoleAnswer> console_reads;
  std::deque<ByteAnswer> byte_reads;
  bool console_write_ok = false;
  // What becomes of every write, to the console or as bytes; the bytes are
  // recorded either way.
  platform::WriteStatus write_status = platform::WriteStatus::kWritten;
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

// Views of the record.
std::vector<std::string> CallNames();
std::vector<std::uint32_t> SizesOf(std::string_view name);
std::size_t CountOf(std::string_view name);
std::string WrittenBytes();  // every WriteBytes, joined

// UTF-16 code units as little-endian bytes.
std::string Utf16Bytes(std::u16string_view units);

}  // namespace fake
