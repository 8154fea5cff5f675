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

namespace {

using namespace std::string_literals;

platform::Handle AsHandle(HANDLE handle) {
  return reinterpret_cast<platform::Handle>(handle);
}

// An anonymous pipe; either end may be closed early.
struct Pipe {
  HANDLE read = nullptr;
  HANDLE write = nullptr;
  Pipe() { EXPECT_TRUE(CreatePipe(&read, &write, nullptr, 0)); }
  ~Pipe() {
    Close(read);
    Close(write);
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;
  static void Close(HANDLE& handle) {
    if (handle != nullptr)
      CloseHandle(handle);
    handle = nullptr;
  }
};

std::string ReadToEnd(HANDLE handle) {
  std::string bytes;
  char block[4096];
  DWORD count = 0;
  while (ReadFile(handle, block, sizeof block, &count, nullptr) && count > 0)
    bytes.append(block, count);
  return bytes;
}

// A file in the temporary folder holding `bytes`, opened with `access`,
// deleted when its last handle closes.
HANDLE TempFile(std::string_view bytes, DWORD access) {
  wchar_t folder[MAX_PATH];
  wchar_t path[MAX_PATH];
  EXPECT_NE(GetTempPathW(MAX_PATH, folder), 0u);
  EXPECT_NE(GetTempFileNameW(folder, L"hlg", 0, path), 0u);
  HANDLE file =
      CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
  HANDLE opened = CreateFileW(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  CloseHandle(file);
  return opened;
}

// ---- Output ----

TEST(ConsoleOnlyCallsTest, FailOnPipesAndFilesWithoutWriting) {
  Pipe pipe;
  HANDLE file = TempFile("", GENERIC_READ | GENERIC_WRITE);
  for (HANDLE out : {pipe.write, file}) {
    EXPECT_FALSE(platform::ConsoleWrite(AsHandle(out), u"x"));
    EXPECT_FALSE(platform::SetTextAttribute(AsHandle(out), 15));
  }
  Pipe::Close(pipe.write);
  EXPECT_EQ(ReadToEnd(pipe.read), "");
  EXPECT_EQ(ReadToEnd(file), "");
  CloseHandle(file);
}

// FlushFileBuffers on a pipe would wait until the reader has taken every
// byte: only a file on disk is flushed, and flushing a pipe nobody reads
// returns at once.
TEST(FlushTest, ReturnsAtOnceWhereverOutputGoes) {
  Pipe pipe;
  HANDLE null_device =
      CreateFileW(L"NUL", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  HANDLE file = TempFile("", GENERIC_WRITE);
  for (HANDLE out : {pipe.write, null_device, file}) {
    ASSERT_EQ(platform::WriteBytes(AsHandle(out), "abc", 3), platform::WriteStatus::kWritten);
    auto flushed = std::async(std::launch::async, [out] { return platform::Flush(AsHandle(out)); });
    ASSERT_EQ(flushed.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_TRUE(flushed.get());
  }
  CloseHandle(null_device);
  CloseHandle(file);
}

// Output that cannot arrive fails quietly, with no hang and no crash. A
// reader that has gone away did not want it; anything else lost it.
TEST(UndeliveredOutputTest, ReaderGoneIsNoLossAnythingElseIs) {
  Pipe pipe;
  Pipe::Close(pipe.read);
  HANDLE read_only = TempFile("", GENERIC_READ);
  const std::pair<HANDLE, platform::WriteStatus> cases[] = {
      {pipe.write, platform::WriteStatus::kReaderGone},
      {read_only, platform::WriteStatus::kLost},
      {nullptr, platform::WriteStatus::kLost},
      {INVALID_HANDLE_VALUE, platform::WriteStatus::kLost},
  };
  for (const auto& [out, status] : cases)
    EXPECT_EQ(platform::WriteBytes(AsHandle(out), "abc", 3), status);
  EXPECT_EQ(ReadToEnd(read_only), "");
  CloseHandle(read_only);
}

// ---- Input ----

// A console read on a pipe or file fails and leaves the bytes for ReadBytes.
TEST(ConsoleReadTest, FailsOnPipesAndFilesWithoutTakingBytes) {
  Pipe pipe;
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(pipe.write, "AB", 2, &written, nullptr));
  Pipe::Close(pipe.write);
  HANDLE file = TempFile("AB", GENERIC_READ);

  for (HANDLE in : {pipe.read, file}) {
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
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(pipe.write, "", 0, &written, nullptr));
  ASSERT_TRUE(WriteFile(pipe.write, "abc", 3, &written, nullptr));
  // The read must come back with the three bytes while the writer still
  // holds the pipe open, not wait for its buffer to fill.
  auto read = std::async(std::launch::async, [&pipe] {
    char bytes[8192];
    std::uint32_t count = 0;
    auto status = platform::ReadBytes(AsHandle(pipe.read), bytes, sizeof bytes, count);
    return std::make_pair(status, std::string(bytes, count));
  });
  const bool returned_early = read.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
  Pipe::Close(pipe.write);
  EXPECT_TRUE(returned_early);
  EXPECT_EQ(read.get(), std::make_pair(platform::ReadStatus::kOk, "abc"s));

  char bytes[8];
  std::uint32_t count = 0;
  EXPECT_EQ(platform::ReadBytes(AsHandle(pipe.read), bytes, sizeof bytes, count),
            platform::ReadStatus::kEndOfInput);
}

}  // namespace
