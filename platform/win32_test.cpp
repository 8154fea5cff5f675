// The Windows OS layer against real anonymous pipes and files, and against
// scripted system calls, for the answers real handles seldom give.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <future>
#include <optional>
#include <ostream>
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

// The handle the scripted calls stand for. A write to it fails with
// `write_error`, or takes nothing while the reader is `late`, or else takes
// the whole piece where that holds at most `takes_at_most` bytes and
// nothing otherwise, as a pipe that does not wait takes a write whole or
// not at all.
struct ScriptedHandle {
  DWORD file_type = FILE_TYPE_PIPE;
  std::optional<DWORD> buffer = {};  // what the pipe says of its buffer; none: it cannot be asked
  std::size_t takes_at_most = SIZE_MAX;
  int late = 0;
  DWORD write_error = 0;
  // How far the clock jumps at the first pause, besides the pause itself.
  ULONGLONG jump_ms = 0;
};

struct ReadAnswer {
  BOOL ok;
  DWORD count;
  DWORD error = 0;
};

// Writes beyond this many fail (ERROR_GEN_FAILURE): a write that would go
// on for ever ends, as lost.
constexpr std::size_t kMostWrites = 100000;

struct Script {
  ScriptedHandle handle = {};
  scripted_calls::Answers<ReadAnswer> reads = {};
  std::vector<std::size_t> pieces = {};  // the writes that took something, by size
  std::string taken = {};
  std::size_t writes = 0;
  std::size_t pauses = 0;
  ULONGLONG clock_ms = 0;
  PHANDLER_ROUTINE routine = nullptr;
};
Script script;

BOOL WINAPI ScriptedWriteFile(HANDLE, LPCVOID bytes, DWORD size, LPDWORD taken, LPOVERLAPPED) {
  *taken = 0;
  if (++script.writes > kMostWrites || script.handle.write_error != 0) {
    SetLastError(script.writes > kMostWrites ? ERROR_GEN_FAILURE : script.handle.write_error);
    return FALSE;
  }
  if (script.handle.late > 0) {
    --script.handle.late;
  } else if (size <= script.handle.takes_at_most) {
    *taken = size;
    script.pieces.push_back(size);
    script.taken.append(static_cast<const char*>(bytes), size);
  }
  return TRUE;
}
BOOL WINAPI ScriptedReadFile(HANDLE, LPVOID buffer, DWORD size, LPDWORD read, LPOVERLAPPED) {
  const ReadAnswer answer = script.reads.Next();
  *read = std::min(answer.count, size);
  std::fill_n(static_cast<char*>(buffer), *read, 'r');
  if (!answer.ok)
    SetLastError(answer.error);
  return answer.ok;
}
DWORD WINAPI ScriptedGetFileType(HANDLE) {
  return script.handle.file_type;
}
// The server's end: its output buffer carries what it writes.
BOOL WINAPI ScriptedGetNamedPipeInfo(HANDLE, LPDWORD flags, LPDWORD out_buffer, LPDWORD in_buffer,
                                     LPDWORD) {
  if (!script.handle.buffer) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (flags != nullptr)
    *flags = PIPE_SERVER_END;
  if (out_buffer != nullptr)
    *out_buffer = *script.handle.buffer;
  if (in_buffer != nullptr)
    *in_buffer = 0;
  return TRUE;
}
ULONGLONG WINAPI ScriptedGetTickCount64() {
  return script.clock_ms;
}
// Takes no time: the clock moves on by the pause.
VOID WINAPI ScriptedSleep(DWORD ms) {
  script.clock_ms += ms + (script.pauses++ == 0 ? script.handle.jump_ms : 0);
}
BOOL WINAPI ScriptedSetConsoleCtrlHandler(PHANDLER_ROUTINE routine, BOOL add) {
  script.routine = add ? routine : nullptr;
  return TRUE;
}

std::uint32_t seen_event = 0;
std::uint32_t Take(std::uint32_t event) {
  seen_event = event;
  return 1;
}
std::uint32_t Decline(std::uint32_t event) {
  seen_event = event;
  return 0;
}

// What the call under test returns, which also says which call it is:
// WriteBytes (of "0123456789"), ReadBytes (of up to 8 bytes) or the
// control routine, called for closing the window.
using Outcome = std::variant<platform::WriteStatus, platform::ReadStatus, BOOL>;

struct ScriptedCase {
  const char* name;
  ScriptedHandle handle;
  std::vector<ReadAnswer> reads;
  platform::ControlHandler handler;
  Outcome outcome;
  // The sizes of the writes that took something, or the count read.
  std::vector<std::size_t> arrived = {};
};
void PrintTo(const ScriptedCase& c, std::ostream* os) {
  *os << c.name;
}

class ScriptedCallsTest : public testing::TestWithParam<ScriptedCase> {};

TEST_P(ScriptedCallsTest, AnswersTakenAsTheyCome) {
  const ScriptedCase& c = GetParam();
  const scripted_calls::Swapped swapped(platform::win32_calls);
  platform::Win32Calls& calls = platform::win32_calls;
  calls.WriteFile = ScriptedWriteFile;
  calls.ReadFile = ScriptedReadFile;
  calls.GetFileType = ScriptedGetFileType;
  calls.GetNamedPipeInfo = ScriptedGetNamedPipeInfo;
  calls.GetTickCount64 = ScriptedGetTickCount64;
  calls.Sleep = ScriptedSleep;
  calls.SetConsoleCtrlHandler = ScriptedSetConsoleCtrlHandler;
  script = {.handle = c.handle, .reads = {c.reads, {FALSE, 0, ERROR_GEN_FAILURE}}};
  const platform::Handle handle = 3;
  Outcome outcome;
  if (std::holds_alternative<platform::WriteStatus>(c.outcome)) {
    const std::string bytes = "0123456789";
    outcome = platform::WriteBytes(handle, bytes.data(), bytes.size());
    EXPECT_EQ(script.pieces, c.arrived);
    EXPECT_EQ(script.taken, bytes.substr(0, script.taken.size()));
    EXPECT_LE(script.writes, kMostWrites) << "a write that never ends";
  } else if (std::holds_alternative<platform::ReadStatus>(c.outcome)) {
    char buffer[8];
    std::uint32_t count = 0;
    outcome = platform::ReadBytes(handle, buffer, sizeof buffer, count);
    EXPECT_EQ(std::vector<std::size_t>{count}, c.arrived);
    EXPECT_TRUE(script.reads.AllTaken()) << script.reads.too_many() << " too many";
  } else {
    seen_event = 0;
    platform::RegisterControlHandler(c.handler);
    ASSERT_NE(script.routine, nullptr);
    outcome = script.routine(CTRL_CLOSE_EVENT);
    EXPECT_EQ(seen_event, c.handler != nullptr ? CTRL_CLOSE_EVENT : 0u);
    platform::RegisterControlHandler(nullptr);
  }
  EXPECT_EQ(outcome, c.outcome);
}

constexpr platform::WriteStatus kWritten = platform::WriteStatus::kWritten;
constexpr platform::WriteStatus kLost = platform::WriteStatus::kLost;
constexpr platform::WriteStatus kReaderGone = platform::WriteStatus::kReaderGone;
using platform::ReadStatus;

INSTANTIATE_TEST_SUITE_P(
    Cases, ScriptedCallsTest,
    testing::Values(
        ScriptedCase{"PipeTakesTheWhole", {}, {}, nullptr, kWritten, {10}},
        // Where the pipe names its buffer, a write is cut to its size; where
        // it does not, a piece is halved once the pipe has taken nothing for
        // the stall limit, down to a single byte.
        ScriptedCase{
            "BufferAsked", {.buffer = 4, .takes_at_most = 4}, {}, nullptr, kWritten, {4, 4, 2}},
        ScriptedCase{"BufferCannotBeAsked", {.takes_at_most = 4}, {}, nullptr, kWritten, {2, 4, 4}},
        ScriptedCase{"OneBytePipe",
                     {.takes_at_most = 1},
                     {},
                     nullptr,
                     kWritten,
                     std::vector<std::size_t>(10, 1)},
        // A reader late for less than the stall limit gets each write
        // whole; the limit is the clock's, and a clock that jumps past it
        // halves the write at once.
        ScriptedCase{"ReaderLate", {.late = 3}, {}, nullptr, kWritten, {10}},
        ScriptedCase{"ClockJumps", {.late = 3, .jump_ms = 3600000}, {}, nullptr, kWritten, {2, 8}},
        // Anything but a pipe that takes nothing would only do so again.
        ScriptedCase{
            "DeviceTakesNothing", {.file_type = FILE_TYPE_CHAR, .late = 1}, {}, nullptr, kLost},
        ScriptedCase{"ReaderClosing", {.write_error = ERROR_NO_DATA}, {}, nullptr, kReaderGone},
        ScriptedCase{"ReaderGone", {.write_error = ERROR_BROKEN_PIPE}, {}, nullptr, kReaderGone},
        ScriptedCase{"ReaderGoneUnderWine",
                     {.write_error = ERROR_PIPE_NOT_CONNECTED},
                     {},
                     nullptr,
                     kReaderGone},
        ScriptedCase{"DiskFull", {.write_error = ERROR_DISK_FULL}, {}, nullptr, kLost},
        ScriptedCase{"Read", {}, {{TRUE, 3}}, nullptr, ReadStatus::kOk, {3}},
        ScriptedCase{"EmptyPipeThatDoesNotWait",
                     {},
                     {{FALSE, 0, ERROR_NO_DATA}, {FALSE, 0, ERROR_NO_DATA}, {TRUE, 3}},
                     nullptr,
                     ReadStatus::kOk,
                     {3}},
        // On a pipe a read of nothing is an empty write, not the end.
        ScriptedCase{"EmptyWriteOnAPipe",
                     {.buffer = 4096},
                     {{TRUE, 0}, {TRUE, 3}},
                     nullptr,
                     ReadStatus::kOk,
                     {3}},
        ScriptedCase{"EndOfFile",
                     {.file_type = FILE_TYPE_DISK},
                     {{TRUE, 0}},
                     nullptr,
                     ReadStatus::kEndOfInput,
                     {0}},
        ScriptedCase{
            "LongMessage", {}, {{FALSE, 8, ERROR_MORE_DATA}}, nullptr, ReadStatus::kOk, {8}},
        ScriptedCase{
            "MoreDataButNone", {}, {{FALSE, 0, ERROR_MORE_DATA}}, nullptr, ReadStatus::kError, {0}},
        ScriptedCase{"WriterGone",
                     {},
                     {{FALSE, 0, ERROR_BROKEN_PIPE}},
                     nullptr,
                     ReadStatus::kEndOfInput,
                     {0}},
        ScriptedCase{
            "ReadFails", {}, {{FALSE, 0, ERROR_ACCESS_DENIED}}, nullptr, ReadStatus::kError, {0}},
        ScriptedCase{"ControlEventTaken", {}, {}, Take, TRUE},
        ScriptedCase{"ControlEventDeclined", {}, {}, Decline, FALSE},
        ScriptedCase{"NoControlHandler", {}, {}, nullptr, FALSE}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
