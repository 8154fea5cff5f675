// The Windows OS layer against real anonymous pipes and files, and against
// scripted system calls, for the answers real handles seldom give.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <future>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "platform/platform.h"
#include "platform/win32_calls.h"
#include "tests/scripted_calls.h"
#include "tests/win32_handles.h"

namespace {

using namespace std::string_literals;
using namespace win32_handles;

platform::Handle AsHandle(HANDLE handle) {
  return reinterpret_cast<platform::Handle>(handle);
}

// ---- Output ----

TEST(ConsoleOnlyCallsTest, FailOnPipesAndFilesWithoutWriting) {
  Pipe pipe;
  TempFile file;
  HANDLE file_out = file.Open(GENERIC_WRITE);
  for (HANDLE out : {pipe.write(), file_out}) {
    EXPECT_FALSE(platform::ConsoleWrite(AsHandle(out), u"x"));
    EXPECT_FALSE(platform::SetTextAttribute(AsHandle(out), 15));
  }
  pipe.CloseWrite();
  CloseHandle(file_out);
  EXPECT_EQ(ReadToEnd(pipe.read()), "");
  EXPECT_EQ(file.Contents(), "");
}

// FlushFileBuffers on a pipe would wait until the reader has taken every
// byte: only a file on disk is flushed, and flushing a pipe nobody reads
// returns at once.
TEST(FlushTest, ReturnsAtOnceWhereverOutputGoes) {
  Pipe pipe;
  HANDLE null_device =
      CreateFileW(L"NUL", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  TempFile temp_file;
  HANDLE file = temp_file.Open(GENERIC_WRITE);
  for (HANDLE out : {pipe.write(), null_device, file}) {
    ASSERT_EQ(platform::WriteBytes(AsHandle(out), "abc", 3), platform::WriteStatus::kWritten);
    auto flushed = std::async(std::launch::async, [out] { return platform::Flush(AsHandle(out)); });
    ASSERT_EQ(flushed.wait_for(std::chrono::milliseconds(kHangMs)), std::future_status::ready);
    EXPECT_TRUE(flushed.get());
  }
  CloseHandle(null_device);
  CloseHandle(file);
}

// Output that cannot arrive fails quietly, with no hang and no crash. A
// reader that has gone away did not want it; anything else lost it.
TEST(UndeliveredOutputTest, ReaderGoneIsNoLossAnythingElseIs) {
  Pipe pipe;
  pipe.CloseRead();
  TempFile file;
  HANDLE read_only = file.Open(GENERIC_READ);
  const std::pair<HANDLE, platform::WriteStatus> cases[] = {
      {pipe.write(), platform::WriteStatus::kReaderGone},
      {read_only, platform::WriteStatus::kLost},
      {nullptr, platform::WriteStatus::kLost},
      {INVALID_HANDLE_VALUE, platform::WriteStatus::kLost},
  };
  for (const auto& [out, status] : cases)
    EXPECT_EQ(platform::WriteBytes(AsHandle(out), "abc", 3), status);
  CloseHandle(read_only);
  EXPECT_EQ(file.Contents(), "");
}

// ---- Input ----

// A console read on a pipe or file fails and leaves the bytes for ReadBytes.
TEST(ConsoleReadTest, FailsOnPipesAndFilesWithoutTakingBytes) {
  Pipe pipe;
  WriteAll(pipe.write(), "AB");
  pipe.CloseWrite();
  TempFile temp_file;
  temp_file.Fill("AB");
  HANDLE file = temp_file.Open(GENERIC_READ);

  for (HANDLE in : {pipe.read(), file}) {
    char16_t units[8];
    std::uint32_t count = 0;
    platform::ConsoleSetLineMode(AsHandle(in));
    EXPECT_EQ(platform::ConsoleRead(AsHandle(in), units, 8, count),
              platform::ConsoleReadStatus::kNotConsole);
    char bytes[8];
    EXPECT_EQ(platform::ReadBytes(AsHandle(in), bytes, sizeof bytes, count),
              platform::ReadStatus::kOk);
    EXPECT_EQ(std::string(bytes, count), "AB");
    EXPECT_EQ(platform::ReadBytes(AsHandle(in), bytes, sizeof bytes, count),
              platform::ReadStatus::kEndOfInput);
  }
  CloseHandle(file);
}

TEST(ReadBytesTest, PipeGivesWhatHasArrivedThenEndOfInput) {
  Pipe pipe;
  // On Windows the reader sees an empty write as a read of 0 bytes, which
  // is not the end of the pipe. (Wine does not pass it on.)
  WriteAll(pipe.write(), "");
  WriteAll(pipe.write(), "abc");
  // The read must come back with the three bytes while the writer still
  // holds the pipe open, not wait for its buffer to fill.
  auto read = std::async(std::launch::async, [&pipe] {
    char bytes[8192];
    std::uint32_t count = 0;
    auto status = platform::ReadBytes(AsHandle(pipe.read()), bytes, sizeof bytes, count);
    return std::make_pair(status, std::string(bytes, count));
  });
  const bool returned_early =
      read.wait_for(std::chrono::milliseconds(kHangMs)) == std::future_status::ready;
  pipe.CloseWrite();
  EXPECT_TRUE(returned_early);
  EXPECT_EQ(read.get(), std::make_pair(platform::ReadStatus::kOk, "abc"s));

  char bytes[8];
  std::uint32_t count = 0;
  EXPECT_EQ(platform::ReadBytes(AsHandle(pipe.read()), bytes, sizeof bytes, count),
            platform::ReadStatus::kEndOfInput);
}

// ---- Scripted system calls ----

struct ReadAnswer {
  DWORD count;
  DWORD error = 0;  // the read fails with it
};
constexpr ReadAnswer kEmpty = {0, ERROR_NO_DATA};  // of a pipe that does not wait

// Writes beyond this many fail (ERROR_GEN_FAILURE): a write that would go
// on for ever ends, as lost.
constexpr std::size_t kMostWrites = 100000;

// The handle the scripted calls stand for, as a row sets it up, and what the
// calls did with it. A write to it fails with `write_error`, or takes
// nothing while the reader is `late`, or else takes the whole piece where
// that holds at most `takes_at_most` bytes and nothing otherwise, as a pipe
// that does not wait takes a write whole or not at all.
struct Script {
  DWORD file_type = FILE_TYPE_PIPE;
  std::optional<DWORD> buffer = {};  // what the pipe says of its buffer; none: it cannot be asked
  std::size_t takes_at_most = SIZE_MAX;
  int late = 0;
  DWORD write_error = 0;
  ULONGLONG jump_ms = 0;  // how far the clock jumps at the first pause, besides the pause
  scripted_calls::Answers<ReadAnswer> reads = {};
  platform::ControlHandler handler = nullptr;
  std::vector<std::size_t> pieces = {};  // the writes that took something, by size
  std::string taken = {};
  std::size_t writes = 0;
  ULONGLONG clock_ms = 0;
  PHANDLER_ROUTINE routine = nullptr;
  std::uint32_t event = 0;  // what the handler was called for

  static Script now;  // the running test's

  static BOOL Fail(DWORD error) { return SetLastError(error), FALSE; }
  static BOOL WINAPI WriteFile(HANDLE, LPCVOID bytes, DWORD size, LPDWORD taken, LPOVERLAPPED) {
    *taken = 0;
    if (++now.writes > kMostWrites || now.write_error != 0)
      return Fail(now.writes > kMostWrites ? ERROR_GEN_FAILURE : now.write_error);
    if (now.late-- <= 0 && size <= now.takes_at_most) {
      now.pieces.push_back(*taken = size);
      now.taken.append(static_cast<const char*>(bytes), size);
    }
    return TRUE;
  }
  static BOOL WINAPI ReadFile(HANDLE, LPVOID buffer, DWORD size, LPDWORD read, LPOVERLAPPED) {
    const ReadAnswer answer = now.reads.Next();
    std::fill_n(static_cast<char*>(buffer), *read = std::min(answer.count, size), 'r');
    return answer.error == 0 ? TRUE : Fail(answer.error);
  }
  static DWORD WINAPI GetFileType(HANDLE) { return now.file_type; }
  // The server's end: its output buffer carries what it writes.
  static BOOL WINAPI GetNamedPipeInfo(HANDLE, LPDWORD flags, LPDWORD out, LPDWORD in, LPDWORD) {
    if (!now.buffer)
      return Fail(ERROR_ACCESS_DENIED);
    for (auto [field, value] :
         {std::pair<LPDWORD, DWORD>{flags, PIPE_SERVER_END}, {out, *now.buffer}, {in, 0}})
      if (field != nullptr)
        *field = value;
    return TRUE;
  }
  static ULONGLONG WINAPI GetTickCount64() { return now.clock_ms; }
  // Takes no time: the clock moves on by the pause.
  static VOID WINAPI Sleep(DWORD ms) { now.clock_ms += ms + std::exchange(now.jump_ms, 0); }
  static BOOL WINAPI SetConsoleCtrlHandler(PHANDLER_ROUTINE routine, BOOL add) {
    return now.routine = add ? routine : nullptr, TRUE;
  }
  // A control handler that notes the event, and takes it or not.
  template <std::uint32_t kTakes>
  static std::uint32_t Handler(std::uint32_t event) {
    return now.event = event, kTakes;
  }
};
Script Script::now;

// What WriteBytes (of "0123456789"), ReadBytes (of up to 8 bytes) or the
// control routine, called for closing the window, returns.
using Outcome = std::variant<platform::WriteStatus, platform::ReadStatus, BOOL>;

struct ScriptedCase : scripted_calls::Row {
  Script script;
  Outcome outcome;
  std::vector<std::size_t> arrived = {};  // the writes that took something, by size; the count read
};

class ScriptedCallsTest : public testing::TestWithParam<ScriptedCase> {};

TEST_P(ScriptedCallsTest, AnswersTakenAsTheyCome) {
  using namespace platform;
  const ScriptedCase& c = GetParam();
  const scripted_calls::Swapped<Win32Calls> swapped{win32_calls};
  win32_calls.WriteFile = Script::WriteFile;
  win32_calls.ReadFile = Script::ReadFile;
  win32_calls.GetFileType = Script::GetFileType;
  win32_calls.GetNamedPipeInfo = Script::GetNamedPipeInfo;
  win32_calls.GetTickCount64 = Script::GetTickCount64;
  win32_calls.Sleep = Script::Sleep;
  win32_calls.SetConsoleCtrlHandler = Script::SetConsoleCtrlHandler;
  Script& script = Script::now = c.script;
  script.reads.spent = {0, ERROR_GEN_FAILURE};
  const std::string bytes = "0123456789";
  char buffer[8];
  std::uint32_t count = 0;
  const Outcome outcome = scripted_calls::Call(
      c.outcome, [&](WriteStatus) { return WriteBytes(3, bytes.data(), bytes.size()); },
      [&](ReadStatus) { return ReadBytes(3, buffer, sizeof buffer, count); },
      [&](BOOL) {
        RegisterControlHandler(c.script.handler);
        return script.routine != nullptr ? script.routine(CTRL_CLOSE_EVENT) : -1;
      });
  EXPECT_EQ(outcome, c.outcome);
  const bool read = std::holds_alternative<ReadStatus>(c.outcome);
  EXPECT_EQ(read ? std::vector<std::size_t>{count} : script.pieces, c.arrived);
  EXPECT_EQ(script.taken, bytes.substr(0, script.taken.size()));
  EXPECT_LE(script.writes, kMostWrites) << "a write that never ends";
  EXPECT_TRUE(script.reads.AllTaken());
  EXPECT_EQ(script.event, c.script.handler != nullptr ? CTRL_CLOSE_EVENT : 0u);
}

using enum platform::WriteStatus;
using enum platform::ReadStatus;
constexpr platform::ControlHandler kTake = Script::Handler<1>, kDecline = Script::Handler<0>;

INSTANTIATE_TEST_SUITE_P(
    Cases, ScriptedCallsTest,
    testing::ValuesIn(std::vector<ScriptedCase>{
        {"PipeTakesTheWhole", {}, kWritten, {10}},
        // Where the pipe names its buffer, a write is cut to its size; where
        // it does not, a piece is halved once the pipe has taken nothing for
        // the stall limit, down to a single byte.
        {"BufferAsked", {.buffer = 4, .takes_at_most = 4}, kWritten, {4, 4, 2}},
        {"BufferCannotBeAsked", {.takes_at_most = 4}, kWritten, {2, 4, 4}},
        {"OneBytePipe", {.takes_at_most = 1}, kWritten, std::vector<std::size_t>(10, 1)},
        // A reader late for less than the stall limit gets each write
        // whole; the limit is the clock's, and a clock that jumps past it
        // halves the write at once.
        {"ReaderLate", {.late = 3}, kWritten, {10}},
        {"ClockJumps", {.late = 3, .jump_ms = 3600000}, kWritten, {2, 8}},
        // Anything but a pipe that takes nothing would only do so again.
        {"DeviceTakesNothing", {.file_type = FILE_TYPE_CHAR, .late = 1}, kLost},
        {"ReaderClosing", {.write_error = ERROR_NO_DATA}, kReaderGone},
        {"ReaderGone", {.write_error = ERROR_BROKEN_PIPE}, kReaderGone},
        {"ReaderGoneUnderWine", {.write_error = ERROR_PIPE_NOT_CONNECTED}, kReaderGone},
        {"DiskFull", {.write_error = ERROR_DISK_FULL}, kLost},
        {"Read", {.reads = {{{3}}}}, kOk, {3}},
        {"EmptyPipeThatDoesNotWait", {.reads = {{kEmpty, kEmpty, {3}}}}, kOk, {3}},
        // On a pipe a read of nothing is an empty write, not the end.
        {"EmptyWriteOnAPipe", {.buffer = 4096, .reads = {{{0}, {3}}}}, kOk, {3}},
        {"EndOfFile", {.file_type = FILE_TYPE_DISK, .reads = {{{0}}}}, kEndOfInput, {0}},
        {"LongMessage", {.reads = {{{8, ERROR_MORE_DATA}}}}, kOk, {8}},
        {"MoreDataButNone", {.reads = {{{0, ERROR_MORE_DATA}}}}, kError, {0}},
        {"WriterGone", {.reads = {{{0, ERROR_BROKEN_PIPE}}}}, kEndOfInput, {0}},
        {"ReadFails", {.reads = {{{0, ERROR_ACCESS_DENIED}}}}, kError, {0}},
        {"ControlEventTaken", {.handler = kTake}, TRUE},
        {"ControlEventDeclined", {.handler = kDecline}, FALSE},
        {"NoControlHandler", {}, FALSE}}),
    testing::PrintToStringParamName());

}  // namespace
