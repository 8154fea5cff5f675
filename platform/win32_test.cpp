// The Windows OS layer against real anonymous pipes and files.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <future>
#include <string>
#include <string_view>
#include <utility>

#include "platform/platform.h"
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

}  // namespace
