// The only door to the operating system. Everything the console layer needs
// from the OS goes through these few calls; platform/posix.cpp and
// platform/win32.cpp implement them, and tests link a scripted double instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace platform {

// A standard stream: a HANDLE on Windows, a file descriptor elsewhere.
using Handle = std::intptr_t;

Handle StandardInput();
Handle StandardOutput();

// What became of a write.
enum class WriteStatus {
  kWritten,     // every byte went out
  kReaderGone,  // the reading end of a pipe was closed: nobody wants the rest
  kLost,        // anything else (disk full, I/O error, a closed or read-only
                // handle): output that should have arrived did not
};

// Writes UTF-16 text to a console. Returns nothing when `out` is not a
// console, which tells the caller to write bytes instead.
std::optional<WriteStatus> ConsoleWrite(Handle out, std::u16string_view text);

// Switches the console to line input with echo and processed control keys.
// Does nothing (and reports nothing) when `in` is not a console. A terminal's
// modes as first found are kept for RestoreConsole; a Windows console keeps
// the mode the run set.
void ConsoleSetLineMode(Handle in);

// What a console read hands back, alone or before CR LF, for the end of
// input typed at the console: Ctrl+Z and Enter at a Windows console, Ctrl+D
// on an empty line at a Linux terminal.
inline constexpr char16_t kCtrlZ = 0x001A;

enum class ConsoleReadStatus {
  kLine,         // `count` code units of a typed line were read
  kNotConsole,   // `in` is not a console (or the console cannot be read)
  kInterrupted,  // Ctrl+C or Ctrl+Break ended the read: no line, no input
};

// Reads the code units of one typed line, its CR LF included, at most
// `capacity` of them. A line too long for one call is continued by the
// next.
ConsoleReadStatus ConsoleRead(Handle in, char16_t* buffer, std::uint32_t capacity,
                              std::uint32_t& count);

enum class ReadStatus {
  kOk,          // `count` bytes were read, at least one
  kEndOfInput,  // no more bytes will come: the end of a file, or of a pipe
                // whose writing end has closed
  kError,       // anything else; the stream is unusable
};

// Reads up to `size` bytes from a file or pipe, waiting until some arrive;
// a stream that does not wait (O_NONBLOCK, PIPE_NOWAIT) is waited on without
// keeping a processor busy. A pipe message longer than `size` comes in
// pieces, one per call.
ReadStatus ReadBytes(Handle in, void* buffer, std::uint32_t size, std::uint32_t& count);

// Writes all of `bytes` to a file or pipe, across short writes and a full
// pipe that does not wait, which is waited on like one that does. Each
// write to a message pipe goes out as one message where the pipe's buffer
// can hold it, unless the pipe takes nothing at all for several seconds.
// A write that the system answers by taking nothing, where waiting would
// not help, is lost.
WriteStatus WriteBytes(Handle out, const void* bytes, std::size_t size);

// Pushes written bytes out where that is worth doing and cannot wait on
// another process: to a file on disk. False when that fails: output
// written earlier did not arrive.
bool Flush(Handle out);

// Closes standard output at the end of the run. False when the system
// reports only then that output written earlier was lost (a network or
// user-space file system may report a write error at close).
bool CloseOutput(Handle out);

// Sets the console window title. Returns false when there is none. A
// terminal is first asked to save the title it has, once, on its stack of
// titles where it keeps one, for RestoreConsole. A terminal's title is cut
// after some 4,000 bytes.
bool SetTitle(std::u16string_view title);

// Makes a 16-colour attribute word (foreground bits 0-3, background bits
// 4-7) current for text written afterwards. Returns false when `out` is
// not a console.
bool SetTextAttribute(Handle out, std::uint16_t attribute);

// Puts back what SetTitle, SetTextAttribute and ConsoleSetLineMode changed
// on a terminal: its default colours, the title it saved, and its modes as
// found; each once, and nothing where they changed nothing. On POSIX every
// signal that ends the process does the same first, and so does Ctrl+Z
// (SIGTSTP) before the process stops; when it goes on in the foreground
// (SIGCONT, `fg`), the changes are made again. A Windows console keeps the
// title and colour the run set, as console programs leave them, so there it
// does nothing.
void RestoreConsole();

enum class CodePage { kUtf8, kAnsi };

// Converts UTF-16 text to bytes of `page`, size first, then conversion:
// with `bytes` null, returns the number of bytes the conversion needs;
// otherwise converts into `bytes` (room for `size`) and returns the number
// of bytes written. Returns 0 when the text cannot be converted.
std::size_t EncodeText(CodePage page, std::u16string_view text, char* bytes, std::size_t size);

// Console control events: 0 Ctrl+C, 1 Ctrl+Break, 2 close, 5 logoff,
// 6 shutdown. A handler returns nonzero when it has handled the event;
// zero leaves it to the default handling, which ends the process.
using ControlHandler = std::uint32_t (*)(std::uint32_t event);

// Adds `handler` in front of the default handling of control events. On
// POSIX this also makes a write to a closed pipe, or one past the file-size
// limit, fail instead of ending the process, and has every other signal
// that ends or stops the process give the terminal back first (see
// RestoreConsole).
void RegisterControlHandler(ControlHandler handler);

// The one lock of the process, guarding input read ahead of the current line.
void LockCreate();
void LockEnter();
void LockLeave();
void LockDelete();

}  // namespace platform
