// The Windows OS layer against real pipes (anonymous, and named in message
// mode) and files.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <future>
#include <string>
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
  EXPECT_FALSE(platform::ConsoleWrite(AsHandle(pipe.write()), u"x"));
  EXPECT_FALSE(platform::SetTextAttribute(AsHandle(pipe.write()), 15));
  pipe.CloseWrite();
  EXPECT_EQ(ReadToEnd(pipe.read()), "");

  TempFile file;
  HANDLE out = file.Open(GENERIC_WRITE);
  EXPECT_FALSE(platform::ConsoleWrite(AsHandle(out), u"x"));
  EXPECT_FALSE(platform::SetTextAttribute(AsHandle(out), 15));
  CloseHandle(out);
  EXPECT_EQ(file.Contents(), "");
}

// FlushFileBuffers on a pipe would wait for the reader: only a file on disk
// is flushed.
TEST(FlushMattersTest, OnlyForAFileOnDisk) {
  Pipe pipe;
  EXPECT_FALSE(platform::FlushMatters(AsHandle(pipe.write())));
  HANDLE null_device =
      CreateFileW(L"NUL", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_FALSE(platform::FlushMatters(AsHandle(null_device)));
  CloseHandle(null_device);
  TempFile file;
  HANDLE out = file.Open(GENERIC_WRITE);
  EXPECT_TRUE(platform::FlushMatters(AsHandle(out)));
  CloseHandle(out);
}

// Output that cannot arrive fails quietly, with no hang and no crash. A
// reader that has gone away did not want it; anything else lost it.
TEST(UndeliveredOutputTest, ReaderGoneIsNoLossAnythingElseIs) {
  Pipe pipe;
  pipe.CloseRead();
  TempFile file;
  HANDLE read_only = file.Open(GENERIC_READ);
  struct Case {
    const char* name;
    HANDLE out;
    platform::WriteStatus status;
  };
  const Case cases[] = {
      {"reader gone", pipe.write(), platform::WriteStatus::kReaderGone},
      {"no write access", read_only, platform::WriteStatus::kLost},
      {"no handle", nullptr, platform::WriteStatus::kLost},
      {"invalid handle", INVALID_HANDLE_VALUE, platform::WriteStatus::kLost},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::size_t written = 0;
    EXPECT_EQ(platform::WriteBytes(AsHandle(c.out), "abc", 3, written), c.status);
    EXPECT_EQ(written, 0u);
  }
  CloseHandle(read_only);
  EXPECT_EQ(file.Contents(), "");
}

// ---- Input ----

// A console read on a pipe or file fails and leaves the bytes for ReadBytes.
TEST(ConsoleReadTest, FailsOnPipesAndFilesWithoutTakingBytes) {
  Pipe pipe;
  WriteAll(pipe.write(), "AB");
  pipe.CloseWrite();
  TempFile file;
  file.Fill("AB");
  HANDLE in = file.Open(GENERIC_READ);

  for (HANDLE handle : {pipe.read(), in}) {
    char16_t units[8];
    std::uint32_t count = 0;
    platform::ConsoleSetLineMode(AsHandle(handle));
    EXPECT_EQ(platform::ConsoleRead(AsHandle(handle), units, 8, count),
              platform::ConsoleReadStatus::kNotConsole);
    char bytes[8];
    EXPECT_EQ(platform::ReadBytes(AsHandle(handle), bytes, sizeof bytes, count),
              platform::ReadStatus::kOk);
    EXPECT_EQ(std::string(bytes, count), "AB");
  }
  CloseHandle(in);
}

TEST(ReadBytesTest, PipeGivesWhatHasArrivedThenBrokenPipe) {
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
  const bool returned_early = read.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
  pipe.CloseWrite();
  EXPECT_TRUE(returned_early);
  EXPECT_EQ(read.get(), std::make_pair(platform::ReadStatus::kOk, "abc"s));

  char bytes[8];
  std::uint32_t count = 0;
  EXPECT_EQ(platform::ReadBytes(AsHandle(pipe.read()), bytes, sizeof bytes, count),
            platform::ReadStatus::kBrokenPipe);
}

}  // namespace
