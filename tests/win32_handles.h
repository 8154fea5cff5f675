// Real Windows pipes and files for the Windows tests: made, filled, read to
// their end, and swapped in as standard input or output.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace win32_handles {

// How long a test waits for what should come at once. It only stops a hang:
// a busy machine and Wine may make a step take many times its usual time.
inline constexpr DWORD kHangMs = 300'000;

inline void WriteAll(HANDLE handle, std::string_view bytes) {
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
  ASSERT_EQ(written, bytes.size());
}

enum class PipeMode {
  kBytes,         // an anonymous pipe
  kMessages,      // a named pipe in message mode, as a parent may make one
  kNoWaitReader,  // a named byte pipe whose reading end does not wait (PIPE_NOWAIT)
  kNoWaitWriter,  // a named byte pipe whose writing end does not wait
  // A named message pipe whose writing end does not wait, read in whole
  // messages; that end is read and write, so it may ask the pipe's buffer.
  kNoWaitMessageWriter,
  // A message pipe made to be read from, as a caller that polls it makes
  // it: its writing end is write-only, so it may not ask the pipe's buffer,
  // and neither end waits.
  kNoWaitMessageOutbound,
};

inline bool IsMessagePipe(PipeMode mode) {
  return mode == PipeMode::kMessages || mode == PipeMode::kNoWaitMessageWriter ||
         mode == PipeMode::kNoWaitMessageOutbound;
}

// A pipe from write() to read(). A named pipe is made by the end that does
// not wait, or by the reading end, with `buffer` bytes of room each way.
class Pipe {
 public:
  explicit Pipe(PipeMode mode = PipeMode::kBytes, DWORD buffer = 1 << 16) {
    if (mode == PipeMode::kBytes) {
      EXPECT_TRUE(CreatePipe(&read_, &write_, nullptr, 0));
      return;
    }
    static int serial = 0;
    const std::wstring name = L"\\\\.\\pipe\\helligkeit-test-" +
                              std::to_wstring(GetCurrentProcessId()) + L"-" +
                              std::to_wstring(++serial);
    const DWORD type = (IsMessagePipe(mode) ? PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE
                                            : PIPE_TYPE_BYTE | PIPE_READMODE_BYTE) |
                       (mode == PipeMode::kMessages ? PIPE_WAIT : PIPE_NOWAIT);
    if (mode == PipeMode::kNoWaitReader || mode == PipeMode::kMessages) {
      read_ =
          CreateNamedPipeW(name.c_str(), PIPE_ACCESS_INBOUND, type, 1, buffer, buffer, 0, nullptr);
      write_ = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    } else {
      const DWORD access =
          mode == PipeMode::kNoWaitMessageWriter ? PIPE_ACCESS_DUPLEX : PIPE_ACCESS_OUTBOUND;
      write_ = CreateNamedPipeW(name.c_str(), access, type, 1, buffer, buffer, 0, nullptr);
      // With the right to change its mode, to read whole messages.
      read_ = CreateFileW(name.c_str(), GENERIC_READ | FILE_WRITE_ATTRIBUTES, 0, nullptr,
                          OPEN_EXISTING, 0, nullptr);
      DWORD read_mode = PIPE_READMODE_MESSAGE |
                        (mode == PipeMode::kNoWaitMessageOutbound ? PIPE_NOWAIT : PIPE_WAIT);
      if (IsMessagePipe(mode)) {
        EXPECT_TRUE(SetNamedPipeHandleState(read_, &read_mode, nullptr, nullptr));
      }
    }
    EXPECT_NE(read_, INVALID_HANDLE_VALUE);
    EXPECT_NE(write_, INVALID_HANDLE_VALUE);
  }
  ~Pipe() {
    CloseRead();
    CloseWrite();
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;

  HANDLE read() const { return read_; }
  HANDLE write() const { return write_; }
  void CloseRead() { Close(read_); }
  void CloseWrite() { Close(write_); }

 private:
  static void Close(HANDLE& handle) {
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE)
      CloseHandle(handle);
    handle = nullptr;
  }
  HANDLE read_ = nullptr;
  HANDLE write_ = nullptr;
};

inline std::string ReadToEnd(HANDLE handle) {
  std::string bytes;
  char block[4096];
  DWORD count = 0;
  while (ReadFile(handle, block, sizeof block, &count, nullptr) && count > 0)
    bytes.append(block, count);
  return bytes;
}

// The messages of a message pipe, each whole, until its writer has gone;
// a reading end that does not wait is asked again after a pause.
inline std::vector<std::string> ReadMessages(HANDLE handle) {
  std::vector<std::string> messages;
  char block[4096];
  DWORD count = 0;
  for (;;) {
    if (ReadFile(handle, block, sizeof block, &count, nullptr))
      messages.emplace_back(block, count);
    else if (GetLastError() == ERROR_NO_DATA)
      Sleep(10);
    else
      return messages;
  }
}

// A file in Wine's (or Windows') temporary folder, deleted afterwards.
class TempFile {
 public:
  TempFile() {
    wchar_t folder[MAX_PATH];
    wchar_t path[MAX_PATH];
    EXPECT_NE(GetTempPathW(MAX_PATH, folder), 0u);
    EXPECT_NE(GetTempFileNameW(folder, L"hlg", 0, path), 0u);
    path_ = path;
  }
  ~TempFile() { DeleteFileW(path_.c_str()); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  HANDLE Open(DWORD access) const {
    return CreateFileW(path_.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  void Fill(std::string_view bytes) const {
    HANDLE file = Open(GENERIC_WRITE);
    WriteAll(file, bytes);
    CloseHandle(file);
  }
  std::string Contents() const {
    HANDLE file = Open(GENERIC_READ);
    std::string bytes = ReadToEnd(file);
    CloseHandle(file);
    return bytes;
  }

 private:
  std::wstring path_;
};

// Makes `handle` the process's standard input or output until destroyed.
class StandardHandle {
 public:
  StandardHandle(DWORD which, HANDLE handle) : which_(which), previous_(GetStdHandle(which)) {
    SetStdHandle(which, handle);
  }
  ~StandardHandle() { SetStdHandle(which_, previous_); }
  StandardHandle(const StandardHandle&) = delete;
  StandardHandle& operator=(const StandardHandle&) = delete;

 private:
  DWORD which_;
  HANDLE previous_;
};

}  // namespace win32_handles
