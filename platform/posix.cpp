// The OS layer on Linux. Standard input and output are file descriptors 0
// and 1, and a "console" is a terminal: text goes to it as UTF-8, colour and
// title as escape sequences, and a typed line comes back as UTF-16 ending in
// CR LF, the way a Windows console hands it over. Streams that do not wait
// (O_NONBLOCK) are waited on with poll.
#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string_view>

#include "platform/platform.h"
#include "text/cp1252.h"
#include "text/unicode.h"

namespace platform {
namespace {

int Descriptor(Handle handle) {
  return static_cast<int>(handle);
}

bool IsTerminal(Handle handle) {
  return isatty(Descriptor(handle)) == 1;
}

// Blocks until `fd` is ready for `events` (or has an error or hang-up to
// report, which the next read or write then returns). False when poll
// itself fails.
bool WaitUntilReady(int fd, short events) {
  pollfd entry{fd, events, 0};
  while (poll(&entry, 1, -1) < 0) {
    if (errno != EINTR)
      return false;
  }
  return true;
}

bool WouldBlock() {
  return errno == EAGAIN || errno == EWOULDBLOCK;
}

// One read(2), tried again when a signal interrupts it, and after a wait
// when a non-blocking descriptor has nothing yet. Returns what read returns.
ssize_t ReadWaiting(int fd, void* buffer, std::size_t size) {
  for (;;) {
    const ssize_t n = read(fd, buffer, size);
    if (n >= 0)
      return n;
    if (errno != EINTR && !(WouldBlock() && WaitUntilReady(fd, POLLIN)))
      return n;
  }
}

// Writes all of `bytes`, across short writes, signals, and a full
// non-blocking pipe or terminal, which is waited on. EPIPE means the reader
// has gone; any other error (ENOSPC, EIO, EBADF, EFBIG past a file-size
// limit, ...) that output was lost, and so does a write that takes nothing
// without an error, which asking again would only repeat.
WriteStatus WriteAll(int fd, const char* bytes, std::size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, bytes, size);
    if (n > 0) {
      bytes += n;
      size -= static_cast<std::size_t>(n);
    } else if (n == 0) {
      return WriteStatus::kLost;
    } else if (errno == EPIPE) {
      return WriteStatus::kReaderGone;
    } else if (errno != EINTR && !(WouldBlock() && WaitUntilReady(fd, POLLOUT))) {
      return WriteStatus::kLost;
    }
  }
  return WriteStatus::kWritten;
}

// ---------------------------------------------------------------------------
// Terminal output

// Collects terminal output in a stack buffer and writes it in pieces, so
// that no text, however long, needs a heap copy.
class TerminalWriter {
 public:
  explicit TerminalWriter(int fd) : fd_(fd) {}
  ~TerminalWriter() { Flush(); }
  TerminalWriter(const TerminalWriter&) = delete;
  TerminalWriter& operator=(const TerminalWriter&) = delete;

  // Writes what is still collected; the status of the first write that
  // did not go through, if any.
  WriteStatus Finish() {
    Flush();
    return status_;
  }

  void PutAscii(std::string_view ascii) {
    for (char c : ascii) {
      MakeRoom(1);
      buffer_[used_++] = c;
    }
  }

  void PutNumber(int number) {
    MakeRoom(16);
    used_ = static_cast<std::size_t>(
        std::to_chars(buffer_ + used_, buffer_ + sizeof buffer_, number).ptr - buffer_);
  }

  // Puts `text` as UTF-8; with `skip_controls`, leaves out C0 and C1
  // control characters (which could end an escape sequence early).
  void PutText(std::u16string_view text, bool skip_controls) {
    for (std::size_t pos = 0; pos < text.size();) {
      const char32_t c = NextCodePointUtf16(text, pos);
      if (skip_controls && (c < 0x20 || (c >= 0x7F && c <= 0x9F)))
        continue;
      MakeRoom(4);
      used_ += PutUtf8(c, buffer_ + used_);
    }
  }

 private:
  void MakeRoom(std::size_t bytes) {
    if (sizeof buffer_ - used_ < bytes)
      Flush();
  }
  void Flush() {
    const WriteStatus status = WriteAll(fd_, buffer_, used_);
    if (status_ == WriteStatus::kWritten)
      status_ = status;
    used_ = 0;
  }

  int fd_;
  WriteStatus status_ = WriteStatus::kWritten;
  std::size_t used_ = 0;
  char buffer_[4096];
};

// Escape sequences go only to a terminal that is known to take them: a
// TERM of "dumb" (or none at all) says it would print them literally.
bool TakesEscapes(Handle out) {
  if (!IsTerminal(out))
    return false;
  const char* term = getenv("TERM");
  return term != nullptr && *term != '\0' && strcmp(term, "dumb") != 0;
}

// SGR colour code of a 16-colour palette number. The palette's bits are
// 1 blue, 2 green, 4 red, 8 bright; ANSI numbers red 1, green 2, blue 4.
int ColourCode(unsigned colour, int normal_base, int bright_base) {
  const int index = ((colour & 4u) ? 1 : 0) | ((colour & 2u) ? 2 : 0) | ((colour & 1u) ? 4 : 0);
  return ((colour & 8u) ? bright_base : normal_base) + index;
}

// ---------------------------------------------------------------------------
// Leaving the terminal as found

// The sequences that put back the terminal's own default colours, and the
// title it had: xterm's window operations 22 and 23 (XTWINOPS) save the
// window and icon title on the terminal's stack of titles and take it back
// from there. A terminal without such a stack ignores both.
constexpr std::string_view kDefaultColours = "\x1b[39;49m";
constexpr std::string_view kSaveTitle = "\x1b[22;0t";
constexpr std::string_view kRestoreTitle = "\x1b[23;0t";

// A change the run made on a terminal: the descriptor it went to, or -1, and
// the sequence that undoes it. The descriptor is stored before the change
// goes out, so that a signal in between restores rather than misses it, and
// is taken (swapped for -1) by whoever restores it, the end of the run or a
// signal that ends the process, so that it is undone once.
struct TerminalChange {
  std::atomic<int> on{-1};
  std::string_view undo;
};
static_assert(std::atomic<int>::is_always_lock_free, "signal handlers take the changes");
constinit TerminalChange colours_set{.undo = kDefaultColours};
constinit TerminalChange title_saved{.undo = kRestoreTitle};
TerminalChange* const kTerminalChanges[] = {&colours_set, &title_saved};

// How long a signal that ends the process gives a terminal that takes no
// output (stopped with Ctrl+S, or full) to take the undoing sequences.
constexpr int kSignalRestoreMs = 100;

// In a signal handler, so async-signal-safe calls only. The process is
// ending: a terminal that does not take the sequences soon is not waited for.
void RestoreFromSignal() {
  for (TerminalChange* change : kTerminalChanges) {
    const int fd = change->on.exchange(-1);
    if (fd < 0)
      continue;
    pollfd entry{fd, POLLOUT, 0};
    if (poll(&entry, 1, kSignalRestoreMs) == 1 && (entry.revents & POLLOUT) != 0) {
      [[maybe_unused]] const ssize_t written = write(fd, change->undo.data(), change->undo.size());
    }
  }
}

// ---------------------------------------------------------------------------
// Terminal input

// One read from a terminal in canonical mode returns at most one line. A
// Linux terminal keeps at most 4095 bytes of a line plus its LF: it drops
// what is typed beyond that (cutting a multi-byte character, if need be,
// which then reads as U+FFFD), so one read of 4096 bytes always holds the
// whole line. Other systems keep even less (MAX_CANON).
constexpr std::size_t kTerminalReadSize = 4096;

// The line read last from the terminal, converted, and how much of it the
// caller has taken. Only the main thread reads the console.
struct TerminalLine {
  char bytes[kTerminalReadSize];
  // Each byte converts to at most one code unit; plus the CR before LF.
  char16_t units[kTerminalReadSize + 1];
  std::uint32_t taken = 0;
  std::uint32_t length = 0;
};
constinit TerminalLine terminal_line{};

// Ctrl+D ends a read without a line end, and the terminal echoes none, so
// the cursor would stay on the line typed. Writes the line end that Enter
// would have echoed, to the terminal alone (redirected output never gets
// it), so that what follows starts on a new line; not where the terminal
// echoes nothing.
void EchoLineEnd(int fd) {
  termios mode;
  if (tcgetattr(fd, &mode) == 0 && (mode.c_lflag & ECHO) != 0)
    WriteAll(fd, "\n", 1);
}

// Reads the next line from the terminal into `terminal_line`. Returns
// false when the read fails.
bool ReadTerminalLine(int fd) {
  TerminalLine& line = terminal_line;
  const ssize_t n = ReadWaiting(fd, line.bytes, sizeof line.bytes);
  if (n < 0)
    return false;
  line.taken = 0;
  line.length = 0;
  if (n == 0 || line.bytes[n - 1] != '\n')
    EchoLineEnd(fd);
  if (n == 0) {
    // Ctrl+D on an empty line: end of input, which a Windows console
    // signals with Ctrl+Z.
    line.units[line.length++] = kCtrlZ;
    return true;
  }

  // A read without LF at its end is a line ended by Ctrl+D: it is handed
  // back as it is, without a line end.
  std::string_view bytes(line.bytes, static_cast<std::size_t>(n));
  const bool ends_line = bytes.back() == '\n';
  if (ends_line)
    bytes.remove_suffix(1);
  for (std::size_t pos = 0; pos < bytes.size();) {
    line.length += static_cast<std::uint32_t>(
        PutUtf16(NextCodePointUtf8(bytes, pos), line.units + line.length));
  }
  if (ends_line) {
    line.units[line.length++] = u'\r';
    line.units[line.length++] = u'\n';
  }
  return true;
}

// ---------------------------------------------------------------------------
// Control events

std::atomic<ControlHandler> control_handler{nullptr};
static_assert(std::atomic<ControlHandler>::is_always_lock_free,
              "the signal handler reads the control handler");

struct SignalEvent {
  int signal;
  std::uint32_t event;
};
// The signals that stand for the console control events: Ctrl+C, Ctrl+\ as
// Ctrl+Break, the terminal going away as closing the window, and a polite
// request to end as shutdown.
constexpr SignalEvent kSignalEvents[] = {
    {SIGINT, 0},
    {SIGQUIT, 1},
    {SIGHUP, 2},
    {SIGTERM, 6},
};

// Runs in signal context: only async-signal-safe calls. When the handler
// declines, the terminal gets back its colours and title, the default
// action is restored and the signal raised again. It stays blocked until
// this function returns, and is then delivered and ends the process
// exactly as it would have without a handler.
void OnSignal(int signal) {
  const int saved_errno = errno;
  std::uint32_t event = 0;
  for (const SignalEvent& entry : kSignalEvents) {
    if (entry.signal == signal)
      event = entry.event;
  }
  const ControlHandler handler = control_handler.load();
  if (handler == nullptr || handler(event) == 0) {
    RestoreFromSignal();
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
    raise(signal);
  }
  errno = saved_errno;
}

std::mutex input_lock;

}  // namespace

Handle StandardInput() {
  return STDIN_FILENO;
}
Handle StandardOutput() {
  return STDOUT_FILENO;
}

std::optional<WriteStatus> ConsoleWrite(Handle out, std::u16string_view text) {
  if (!IsTerminal(out))
    return std::nullopt;
  TerminalWriter writer(Descriptor(out));
  writer.PutText(text, false);
  return writer.Finish();
}

void ConsoleSetLineMode(Handle in) {
  const int fd = Descriptor(in);
  termios mode;
  if (tcgetattr(fd, &mode) != 0)
    return;  // not a terminal
  const tcflag_t local = mode.c_lflag;
  const tcflag_t input = mode.c_iflag;
  // Line editing with echo (ECHOE, ECHOK: erasing shows on screen), Ctrl+C
  // and friends as signals, Enter (CR) read as LF so it ends the line, and
  // erasing by UTF-8 character rather than byte.
  mode.c_lflag |= ICANON | ECHO | ECHOE | ECHOK | ISIG;
  mode.c_iflag |= ICRNL;
  mode.c_iflag &= ~static_cast<tcflag_t>(INLCR | IGNCR);
#ifdef IUTF8
  mode.c_iflag |= IUTF8;
#endif
  // Changing the mode from a background job would stop it (SIGTTOU), so
  // only change what needs changing. A failure is ignored.
  if (mode.c_lflag != local || mode.c_iflag != input)
    tcsetattr(fd, TCSANOW, &mode);
}

// Never kInterrupted here: Ctrl+C raises SIGINT, which ends the process, and
// a read that a signal interrupts is retried.
ConsoleReadStatus ConsoleRead(Handle in, char16_t* buffer, std::uint32_t capacity,
                              std::uint32_t& count) {
  count = 0;
  if (!IsTerminal(in))
    return ConsoleReadStatus::kNotConsole;
  TerminalLine& line = terminal_line;
  // What did not fit last time is handed back before the terminal is read
  // again. A failed read makes this look like no console at all, and the
  // byte read that follows meets the same error and reports it.
  if (line.taken == line.length && !ReadTerminalLine(Descriptor(in)))
    return ConsoleReadStatus::kNotConsole;
  count = std::min(capacity, line.length - line.taken);
  std::copy_n(line.units + line.taken, count, buffer);
  line.taken += count;
  return ConsoleReadStatus::kLine;
}

ReadStatus ReadBytes(Handle in, void* buffer, std::uint32_t size, std::uint32_t& count) {
  count = 0;
  // A pipe whose writer has gone ends like a file: POSIX has no separate
  // broken-pipe error on the reading side.
  const ssize_t n = ReadWaiting(Descriptor(in), buffer, size);
  if (n < 0)
    return ReadStatus::kError;
  if (n == 0)
    return ReadStatus::kEndOfInput;
  count = static_cast<std::uint32_t>(n);
  return ReadStatus::kOk;
}

WriteStatus WriteBytes(Handle out, const void* bytes, std::size_t size) {
  return WriteAll(Descriptor(out), static_cast<const char*>(bytes), size);
}

// Every write is an unbuffered system call, so its bytes are already with
// the file, pipe or terminal when it returns. Flushing is about other
// processes seeing the output, not about durability, so there is no fsync.
bool Flush(Handle) {
  return true;
}

// Some file systems (NFS, FUSE) report a failed write only when the file
// is closed: EIO, ENOSPC, EDQUOT. After EINTR the descriptor is closed all
// the same on Linux, and its outcome unknown; EBADF means there was no
// descriptor to close, whose writes have said so already.
bool CloseOutput(Handle out) {
  return close(Descriptor(out)) == 0 || errno == EINTR || errno == EBADF;
}

bool SetTitle(std::u16string_view title) {
  if (!TakesEscapes(STDOUT_FILENO))
    return false;
  TerminalWriter writer(STDOUT_FILENO);
  int none = -1;
  if (title_saved.on.compare_exchange_strong(none, STDOUT_FILENO))
    writer.PutAscii(kSaveTitle);
  writer.PutAscii("\x1b]0;");
  writer.PutText(title, true);
  writer.PutAscii("\a");
  return true;
}

bool SetTextAttribute(Handle out, std::uint16_t attribute) {
  if (!TakesEscapes(out))
    return false;
  colours_set.on.store(Descriptor(out));
  TerminalWriter writer(Descriptor(out));
  writer.PutAscii("\x1b[");
  writer.PutNumber(ColourCode(attribute & 0xFu, 30, 90));
  writer.PutAscii(";");
  writer.PutNumber(ColourCode((attribute >> 4) & 0xFu, 40, 100));
  writer.PutAscii("m");
  return true;
}

void RestoreConsole() {
  // A control signal that comes meanwhile waits until the sequences are
  // out, and then finds nothing left to undo.
  sigset_t held, previous;
  sigemptyset(&held);
  for (const SignalEvent& entry : kSignalEvents)
    sigaddset(&held, entry.signal);
  pthread_sigmask(SIG_BLOCK, &held, &previous);
  for (TerminalChange* change : kTerminalChanges) {
    const int fd = change->on.exchange(-1);
    if (fd >= 0)
      WriteAll(fd, change->undo.data(), change->undo.size());
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

std::size_t EncodeText(CodePage page, std::u16string_view text, char* bytes, std::size_t size) {
  return page == CodePage::kAnsi ? EncodeCp1252(text, bytes, size) : EncodeUtf8(text, bytes, size);
}

void RegisterControlHandler(ControlHandler handler) {
  control_handler.store(handler);

  // A write to a pipe whose reader has gone fails with EPIPE, and one past
  // the file-size limit (ulimit -f) with EFBIG, instead of ending the
  // process: the first is no loss, the second is lost output.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, nullptr);
  sigaction(SIGXFSZ, &ignore, nullptr);

  struct sigaction action {};
  action.sa_handler = OnSignal;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (const SignalEvent& entry : kSignalEvents)
    sigaddset(&action.sa_mask, entry.signal);
  for (const SignalEvent& entry : kSignalEvents) {
    // A signal ignored from the start stays ignored: nohup and background
    // jobs rely on that, and a handler would make the signal end the run.
    struct sigaction previous {};
    if (sigaction(entry.signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) {
      continue;
    }
    sigaction(entry.signal, &action, nullptr);
  }
}

void LockCreate() {}
void LockEnter() {
  input_lock.lock();
}
void LockLeave() {
  input_lock.unlock();
}
void LockDelete() {}

}  // namespace platform
