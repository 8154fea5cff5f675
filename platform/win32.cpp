// The OS layer on Windows, over the KERNEL32 console and file functions.
// Handles are HANDLEs carried as integers. Besides passing calls on, it
// waits out pipes that do not wait (PIPE_NOWAIT), which a caller may hand
// over as standard input or output, and writes what a pipe does not take at
// once. Every system call goes through the table of win32_calls.h, which
// the tests may script.
//
// char16_t and wchar_t are both UTF-16 code units on Windows; text is
// handed to the system by reinterpreting the pointer, which is only read
// or written on the system's side.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdint>
#include <memory_resource>
#include <new>
#include <optional>
#include <string>

#include "platform/platform.h"
#include "platform/win32_calls.h"

namespace platform {

constinit Win32Calls win32_calls{
    .GetStdHandle = ::GetStdHandle,
    .GetFileType = ::GetFileType,
    .GetNamedPipeInfo = ::GetNamedPipeInfo,
    .WriteConsoleW = ::WriteConsoleW,
    .SetConsoleMode = ::SetConsoleMode,
    .ReadConsoleW = ::ReadConsoleW,
    .ReadFile = ::ReadFile,
    .WriteFile = ::WriteFile,
    .FlushFileBuffers = ::FlushFileBuffers,
    .GetTickCount64 = ::GetTickCount64,
    .Sleep = ::Sleep,
    .SetConsoleTitleW = ::SetConsoleTitleW,
    .SetConsoleTextAttribute = ::SetConsoleTextAttribute,
    .SetConsoleCtrlHandler = ::SetConsoleCtrlHandler,
};

namespace {

HANDLE ToHandle(Handle handle) {
  return reinterpret_cast<HANDLE>(handle);
}
Handle FromHandle(HANDLE handle) {
  return reinterpret_cast<Handle>(handle);
}

const wchar_t* Wide(const char16_t* text) {
  return reinterpret_cast<const wchar_t*>(text);
}
wchar_t* Wide(char16_t* text) {
  return reinterpret_cast<wchar_t*>(text);
}

// The largest piece one call takes: counts are DWORDs.
constexpr std::size_t kMaxPiece = MAXDWORD;

// GetFileType says FILE_TYPE_PIPE for sockets too; only a pipe (anonymous
// pipes are named pipes underneath) answers GetNamedPipeInfo.
bool IsPipe(HANDLE handle) {
  return win32_calls.GetFileType(handle) == FILE_TYPE_PIPE &&
         win32_calls.GetNamedPipeInfo(handle, nullptr, nullptr, nullptr, nullptr) != 0;
}

std::atomic<ControlHandler> control_handler{nullptr};

// Called by the system on a thread of its own for each control event.
BOOL WINAPI OnControlEvent(DWORD event) {
  const ControlHandler handler = control_handler.load();
  return handler != nullptr && handler(event) != 0 ? TRUE : FALSE;
}

CRITICAL_SECTION input_lock;

// Whether a write failed because nobody reads the pipe any more: its
// reading end is being closed (ERROR_NO_DATA) or is gone
// (ERROR_BROKEN_PIPE, and ERROR_PIPE_NOT_CONNECTED, which Wine gives for a
// host pipe whose reader has gone).
bool ReaderHasGone(DWORD error) {
  return error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED;
}

// A pipe in non-blocking mode (PIPE_NOWAIT) has nothing to wait on: a pipe
// handle is no waitable object, and overlapped I/O needs a handle opened for
// it. Sleeping a little between tries costs no processor time, and leaves
// the pipe's mode, which the caller's end shares, as the caller set it.
void PausePipe() {
  win32_calls.Sleep(10);
}

// How long, in milliseconds, a pipe that does not wait may take nothing at
// all before a write to it is cut into smaller pieces: far longer than a
// reader that is only slow to start keeps it full.
constexpr ULONGLONG kStallLimit = 5000;

// How many bytes one write to the pipe `out` may hold: the buffer on its
// reader's side, as the pipe was made. Nothing when the pipe does not say
// (a write-only end may not ask; a buffer of 0 grows as needed).
std::optional<std::size_t> PipeBuffer(HANDLE out) {
  DWORD flags = 0;
  DWORD out_buffer = 0;
  DWORD in_buffer = 0;
  if (win32_calls.GetNamedPipeInfo(out, &flags, &out_buffer, &in_buffer, nullptr) == 0)
    return std::nullopt;
  // The server's output buffer carries what the server writes; its input
  // buffer what the client writes.
  const DWORD buffer = (flags & PIPE_SERVER_END) != 0 ? out_buffer : in_buffer;
  if (buffer == 0)
    return std::nullopt;
  return buffer;
}

}  // namespace

Handle StandardInput() {
  return FromHandle(win32_calls.GetStdHandle(STD_INPUT_HANDLE));
}
Handle StandardOutput() {
  return FromHandle(win32_calls.GetStdHandle(STD_OUTPUT_HANDLE));
}

std::optional<WriteStatus> ConsoleWrite(Handle out, std::u16string_view text) {
  // Fails at once, whatever the length, when `out` is not a console.
  bool first = true;
  do {
    const std::size_t piece = std::min(text.size(), kMaxPiece);
    DWORD written = 0;
    if (win32_calls.WriteConsoleW(ToHandle(out), Wide(text.data()), static_cast<DWORD>(piece),
                                  &written, nullptr) == 0) {
      if (first)
        return std::nullopt;
      return WriteStatus::kLost;
    }
    first = false;
    text.remove_prefix(piece);
  } while (!text.empty());
  return WriteStatus::kWritten;
}

void ConsoleSetLineMode(Handle in) {
  // Processed input, line input, echo: the console edits the line, and
  // Ctrl+C stays a control event. Fails on a redirected handle; ignored.
  win32_calls.SetConsoleMode(ToHandle(in),
                             ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT);
}

ConsoleReadStatus ConsoleRead(Handle in, char16_t* buffer, std::uint32_t capacity,
                              std::uint32_t& count) {
  DWORD read = 0;
  count = 0;
  // Ctrl+C or Ctrl+Break ends a line read at once, before any line end, and
  // the system starts the control handling on a thread of its own: the read
  // either succeeds with nothing or fails as aborted, depending on the
  // Windows version. A read that ends a typed line brings at least its CR.
  if (win32_calls.ReadConsoleW(ToHandle(in), Wide(buffer), capacity, &read, nullptr) == 0) {
    return GetLastError() == ERROR_OPERATION_ABORTED ? ConsoleReadStatus::kInterrupted
                                                     : ConsoleReadStatus::kNotConsole;
  }
  if (read == 0)
    return ConsoleReadStatus::kInterrupted;
  count = read;
  return ConsoleReadStatus::kLine;
}

ReadStatus ReadBytes(Handle in, void* buffer, std::uint32_t size, std::uint32_t& count) {
  count = 0;
  for (;;) {
    DWORD read = 0;
    if (win32_calls.ReadFile(ToHandle(in), buffer, size, &read, nullptr) != 0) {
      if (read > 0) {
        count = read;
        return ReadStatus::kOk;
      }
      // Nothing read: the end of a file, but on a pipe an empty write (or
      // empty message) of the writer, whose end shows as ERROR_BROKEN_PIPE.
      if (!IsPipe(ToHandle(in)))
        return ReadStatus::kEndOfInput;
      continue;
    }
    switch (GetLastError()) {
      case ERROR_MORE_DATA:
        // A pipe message longer than `size`: its first `size` bytes are
        // here, the next read brings more of it.
        if (read == 0)
          return ReadStatus::kError;
        count = read;
        return ReadStatus::kOk;
      case ERROR_NO_DATA:
        // A pipe in non-blocking mode that is empty for now.
        PausePipe();
        continue;
      case ERROR_BROKEN_PIPE:
        return ReadStatus::kEndOfInput;
      default:
        return ReadStatus::kError;
    }
  }
}

WriteStatus WriteBytes(Handle out, const void* bytes, std::size_t size) {
  const HANDLE handle = ToHandle(out);
  const char* next = static_cast<const char*>(bytes);
  // The most offered in one write: counts are DWORDs, and a pipe in
  // non-blocking mode takes a write whole or not at all (a message pipe
  // always, a byte pipe under Wine), so a write larger than its buffer never
  // fits. Where the pipe names its buffer, a write is cut to that size;
  // otherwise it is offered whole, and again after each pause while the pipe
  // takes nothing, so that each write arrives as one message. Only once the
  // pipe has taken nothing for kStallLimit, longer than a reader that is
  // merely late leaves it full, is a piece offered in halves as well, down
  // to a single byte before each pause: a write larger than a buffer that
  // cannot be asked must not hang the program.
  std::size_t whole = kMaxPiece;
  std::size_t most = whole;
  bool buffer_asked = false;
  std::optional<ULONGLONG> stalled_since;
  while (size > 0) {
    const std::size_t piece = std::min(size, most);
    DWORD taken = 0;
    if (win32_calls.WriteFile(handle, next, static_cast<DWORD>(piece), &taken, nullptr) == 0)
      return ReaderHasGone(GetLastError()) ? WriteStatus::kReaderGone : WriteStatus::kLost;
    if (taken > 0) {
      next += taken;
      size -= taken;
      most = whole;
      stalled_since.reset();
      continue;
    }
    // Anything but a pipe that takes nothing would only be asked again and
    // again. (A write-only pipe handle may not be asked what pipe it is.)
    if (win32_calls.GetFileType(handle) != FILE_TYPE_PIPE)
      return WriteStatus::kLost;
    if (!buffer_asked) {
      buffer_asked = true;
      whole = PipeBuffer(handle).value_or(kMaxPiece);
      most = whole;
      if (piece > whole)
        continue;
    }
    const ULONGLONG now = win32_calls.GetTickCount64();
    if (!stalled_since)
      stalled_since = now;
    if (now - *stalled_since >= kStallLimit && piece > 1) {
      most = piece / 2;
      continue;
    }
    PausePipe();  // full: wait for the reader to make room
    most = whole;
  }
  return WriteStatus::kWritten;
}

// On a pipe FlushFileBuffers waits until the reader has taken every byte,
// which would hang a caller that reads our output only after we have ended;
// and WriteFile keeps no buffer of ours there. On a console, a character
// device (NUL) or a socket there is nothing to flush either: only a file on
// disk is flushed.
bool Flush(Handle out) {
  const HANDLE handle = ToHandle(out);
  return win32_calls.GetFileType(handle) != FILE_TYPE_DISK ||
         win32_calls.FlushFileBuffers(handle) != 0;
}

// Windows reports a lost write when it is written or flushed; closing the
// handle at the end of the run would add nothing.
bool CloseOutput(Handle) {
  return true;
}

bool SetTitle(std::u16string_view title) {
  // The system wants a zero-terminated title; without memory for that copy
  // the title stays as it is.
  try {
    std::pmr::u16string terminated(title);
    return win32_calls.SetConsoleTitleW(Wide(terminated.c_str())) != 0;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool SetTextAttribute(Handle out, std::uint16_t attribute) {
  return win32_calls.SetConsoleTextAttribute(ToHandle(out), attribute) != 0;
}

// The console keeps the title and colour the run set, for whatever runs in
// it next, as Windows console programs leave it.
void RestoreConsole() {}

std::size_t EncodeText(CodePage page, std::u16string_view text, char* bytes, std::size_t size) {
  // WideCharToMultiByte counts in ints.
  if (text.size() > static_cast<std::size_t>(INT_MAX))
    return 0;
  const UINT code_page = page == CodePage::kUtf8 ? CP_UTF8 : CP_ACP;
  const int room = bytes == nullptr ? 0 : static_cast<int>(std::min<std::size_t>(size, INT_MAX));
  const int converted =
      WideCharToMultiByte(code_page, 0, Wide(text.data()), static_cast<int>(text.size()), bytes,
                          room, nullptr, nullptr);
  return converted > 0 ? static_cast<std::size_t>(converted) : 0;
}

void RegisterControlHandler(ControlHandler handler) {
  control_handler.store(handler);
  win32_calls.SetConsoleCtrlHandler(OnControlEvent, TRUE);
}

void LockCreate() {
  InitializeCriticalSection(&input_lock);
}
void LockEnter() {
  EnterCriticalSection(&input_lock);
}
void LockLeave() {
  LeaveCriticalSection(&input_lock);
}
void LockDelete() {
  DeleteCriticalSection(&input_lock);
}

}  // namespace platform
