// The OS layer on Linux. Standard input and output are file descriptors 0
// and 1, and a "console" is a terminal: text goes to it as UTF-8, colour and
// title as escape sequences, and a typed line comes back as UTF-16 ending in
// CR LF, the way a Windows console hands it over. Streams that do not wait
// (O_NONBLOCK) are waited on with poll. Every system call goes through the
// table of posix_calls.h, which the tests may script.
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
#include <iterator>
#include <mutex>
#include <optional>
#include <string_view>

#include "platform/platform.h"
#include "platform/posix_calls.h"
#include "text/cp1252.h"
#include "text/unicode.h"

namespace platform {

constinit PosixCalls posix_calls{
    .isatty = ::isatty,
    .read = ::read,
    .write = ::write,
    .poll = ::poll,
    .close = ::close,
    .tcgetattr = ::tcgetattr,
    .tcsetattr = ::tcsetattr,
    .tcgetpgrp = ::tcgetpgrp,
    .getpgrp = ::getpgrp,
    .sigaction = ::sigaction,
    .pthread_sigmask = ::pthread_sigmask,
    .raise = ::raise,
};

namespace {

int Descriptor(Handle handle) {
  return static_cast<int>(handle);
}

bool IsTerminal(Handle handle) {
  return posix_calls.isatty(Descriptor(handle)) == 1;
}

// Blocks until `fd` is ready for `events` (or has an error or hang-up to
// report, which the next read or write then returns). False when poll
// itself fails.
bool WaitUntilReady(int fd, short events) {
  pollfd entry{fd, events, 0};
  while (posix_calls.poll(&entry, 1, -1) < 0) {
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
    const ssize_t n = posix_calls.read(fd, buffer, size);
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
    const ssize_t n = posix_calls.write(fd, bytes, size);
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

  // Puts `text` as UTF-8.
  void PutText(std::u16string_view text) {
    for (std::size_t pos = 0; pos < text.size();) {
      const char32_t c = NextCodePointUtf16(text, pos);
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
// Leaving the terminal as found, also when the run stops or ends on a signal

// The sequences that put back the terminal's own default colours, and the
// title it had: xterm's window operations 22 and 23 (XTWINOPS) save the
// window and icon title on the terminal's stack of titles and take it back
// from there. A terminal without such a stack ignores both.
constexpr std::string_view kDefaultColours = "\x1b[39;49m";
constexpr std::string_view kSaveTitle = "\x1b[22;0t";
constexpr std::string_view kRestoreTitle = "\x1b[23;0t";

// An escape sequence built once and kept, so that a signal handler can
// write it again without building it. What does not fit is left out: a
// title is cut after some 4,000 bytes, at a whole character.
struct Sequence {
  char bytes[4096] = {};
  std::size_t size = 0;

  std::string_view View() const { return {bytes, size}; }
  void Append(std::string_view ascii) {
    if (sizeof bytes - size >= ascii.size())
      size += ascii.copy(bytes + size, ascii.size());
  }
  void AppendNumber(int number) {
    const std::to_chars_result end = std::to_chars(bytes + size, bytes + sizeof bytes, number);
    if (end.ec == std::errc{})
      size = static_cast<std::size_t>(end.ptr - bytes);
  }
  // Appends `text` as UTF-8 without C0 and C1 control characters, which
  // could end the sequence early, and leaves `reserve` bytes free.
  void AppendText(std::u16string_view text, std::size_t reserve) {
    for (std::size_t pos = 0; pos < text.size();) {
      const char32_t c = NextCodePointUtf16(text, pos);
      if (c < 0x20 || (c >= 0x7F && c <= 0x9F))
        continue;
      char unit[4];
      const std::size_t n = PutUtf8(c, unit);
      if (sizeof bytes - size < n + reserve)
        return;
      Append(std::string_view(unit, n));
    }
  }
};

// A change the run made on a terminal. `on` is the descriptor it went to
// while it is in force, else -1; `stopped_on` the descriptor while it is
// undone because the process stopped, to be made again when the run goes
// on. Whoever undoes or makes it again takes the descriptor (swaps in -1):
// the end of the run, or a signal handler.
struct TerminalChange {
  std::atomic<int> on{-1};
  std::atomic<int> stopped_on{-1};
  std::string_view undo;
  Sequence redo;
};
static_assert(std::atomic<int>::is_always_lock_free, "signal handlers take the changes");
constinit TerminalChange colours_set{.undo = kDefaultColours, .redo = {}};
constinit TerminalChange title_saved{.undo = kRestoreTitle, .redo = {}};
// In the order they are undone; they are made again in the reverse order.
TerminalChange* const kTerminalChanges[] = {&colours_set, &title_saved};

// The modes of the terminal on standard input as the run found them, and as
// it set them; `on` and `stopped_on` as for a TerminalChange.
struct ModeChange {
  std::atomic<int> on{-1};
  std::atomic<int> stopped_on{-1};
  termios found{};
  termios set{};
};
constinit ModeChange modes_set{};

// Whether the process is a job in the background of the terminal `fd`, as
// after `bg`: changing the terminal's modes would stop it (SIGTTOU), and
// its title and colours belong to the shell. Not so for a terminal that is
// not the process's own.
bool InBackground(int fd) {
  const pid_t group = posix_calls.tcgetpgrp(fd);
  return group > 0 && group != posix_calls.getpgrp();
}

// How long a signal handler gives a terminal that takes no output (stopped
// with Ctrl+S, or full) to take a sequence: the process is stopping or
// ending and does not wait for it.
constexpr int kSignalWriteMs = 100;

// Async-signal-safe. True when all of `bytes` went out.
bool WriteFromSignal(int fd, std::string_view bytes) {
  pollfd entry{fd, POLLOUT, 0};
  return posix_calls.poll(&entry, 1, kSignalWriteMs) == 1 && (entry.revents & POLLOUT) != 0 &&
         posix_calls.write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

// Takes the descriptor out of `from` and, where `step` succeeds on it, hands
// it to `to`; otherwise puts it back.
template <class Step>
void HandOver(std::atomic<int>& from, std::atomic<int>& to, Step step) {
  const int fd = from.exchange(-1);
  if (fd >= 0)
    (step(fd) ? to : from).store(fd);
}

// In a signal handler, so async-signal-safe calls only: undoes every change
// in force and keeps it to be made again (see ResumeTerminal). A change that
// cannot be undone stays in force.
void SuspendTerminal() {
  for (TerminalChange* change : kTerminalChanges) {
    HandOver(change->on, change->stopped_on,
             [change](int fd) { return WriteFromSignal(fd, change->undo); });
  }
  HandOver(modes_set.on, modes_set.stopped_on, [](int fd) {
    return !InBackground(fd) && posix_calls.tcsetattr(fd, TCSANOW, &modes_set.found) == 0;
  });
}

// In a signal handler: makes again what SuspendTerminal undid, once the run
// goes on in the foreground. In the background it waits for the next time.
void ResumeTerminal() {
  HandOver(modes_set.stopped_on, modes_set.on, [](int fd) {
    return !InBackground(fd) && posix_calls.tcsetattr(fd, TCSANOW, &modes_set.set) == 0;
  });
  for (std::size_t i = std::size(kTerminalChanges); i-- > 0;) {
    TerminalChange* change = kTerminalChanges[i];
    HandOver(change->stopped_on, change->on, [change](int fd) {
      return !InBackground(fd) && WriteFromSignal(fd, change->redo.View());
    });
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
  if (posix_calls.tcgetattr(fd, &mode) == 0 && (mode.c_lflag & ECHO) != 0)
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

// The other signals whose default action ends the process: requests from
// other processes and timers, and faults of the program itself. The
// program has no use for any of them: each still ends it, and gives the
// terminal back first.
constexpr int kRequestSignals[] = {
    SIGUSR1,   SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGIO, SIGXCPU,
#ifdef SIGPWR
    SIGPWR,
#endif
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
};
constexpr int kFaultSignals[] = {SIGABRT, SIGBUS, SIGFPE, SIGILL, SIGSEGV, SIGSYS, SIGTRAP};

// The signals whose handlers undo or make again the terminal changes, held
// back while the run itself makes or undoes one: all but the faults, which
// cannot wait. Made once.
const sigset_t& HeldSignals() {
  static const sigset_t held = [] {
    sigset_t signals;
    sigemptyset(&signals);
    for (const SignalEvent& entry : kSignalEvents)
      sigaddset(&signals, entry.signal);
    for (const int signal : kRequestSignals)
      sigaddset(&signals, signal);
    for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal)
      sigaddset(&signals, signal);
    sigaddset(&signals, SIGTSTP);
    sigaddset(&signals, SIGCONT);
    return signals;
  }();
  return held;
}

class SignalsHeld {
 public:
  SignalsHeld() { posix_calls.pthread_sigmask(SIG_BLOCK, &HeldSignals(), &previous_); }
  ~SignalsHeld() { posix_calls.pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t previous_;
};

// Runs in signal context, as do the two handlers below: only
// async-signal-safe calls. A control event goes to the control handler;
// when that declines it, or for any other signal, the terminal gets back its
// colours, title and modes, the default action is restored and the signal
// raised again. It stays blocked until this function returns, and is then
// delivered and ends the process exactly as it would have without a
// handler.
void OnSignal(int signal) {
  const int saved_errno = errno;
  const ControlHandler handler = control_handler.load();
  for (const SignalEvent& entry : kSignalEvents) {
    if (entry.signal == signal && handler != nullptr && handler(entry.event) != 0) {
      errno = saved_errno;
      return;
    }
  }
  SuspendTerminal();
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  posix_calls.sigaction(signal, &action, nullptr);
  posix_calls.raise(signal);
  errno = saved_errno;
}

// Ctrl+Z: the terminal gets back its colours, title and modes, and the
// process stops right here, as the default action would stop it. When it
// goes on (SIGCONT, after `fg`), the run's changes are made again and the
// read that was waiting goes on waiting; an input line typed but not ended
// was dropped by the terminal at Ctrl+Z.
void OnStop(int signal) {
  const int saved_errno = errno;
  SuspendTerminal();
  struct sigaction stop {};
  struct sigaction ours {};
  stop.sa_handler = SIG_DFL;
  sigemptyset(&stop.sa_mask);
  posix_calls.sigaction(signal, &stop, &ours);
  sigset_t just_this;
  sigemptyset(&just_this);
  sigaddset(&just_this, signal);
  posix_calls.raise(signal);
  posix_calls.pthread_sigmask(SIG_UNBLOCK, &just_this, nullptr);  // stops here
  posix_calls.pthread_sigmask(SIG_BLOCK, &just_this, nullptr);
  posix_calls.sigaction(signal, &ours, nullptr);
  // Not stopped at all where the kernel drops the signal (a process group
  // that no shell controls), or continued in the background: either way,
  // made again only in the foreground.
  ResumeTerminal();
  errno = saved_errno;
}

// The process goes on after a stop that was not its own (SIGSTOP), or after
// `bg` and then `fg`.
void OnContinue(int) {
  const int saved_errno = errno;
  ResumeTerminal();
  errno = saved_errno;
}

// Sets `on` to handle `signal`, with every held signal and SIGTTOU blocked
// meanwhile (in the background, a terminal write or mode change then goes
// through instead of stopping the process, even with `stty tostop`). A
// signal ignored from the start stays ignored: nohup and background jobs
// rely on that, and a handler would make the signal end the run. One with
// another's handler (a sanitizer's) keeps it. Each is set and the one
// before put back where it has to stay, in one call mostly; the caller
// blocks every signal meanwhile, and putting back "ignore" drops one that
// came in between.
void HandleSignal(int signal, void (*on)(int)) {
  struct sigaction action {};
  action.sa_handler = on;
  action.sa_flags = SA_RESTART;
  action.sa_mask = HeldSignals();
  sigaddset(&action.sa_mask, SIGTTOU);
  struct sigaction previous {};
  if (posix_calls.sigaction(signal, &action, &previous) == 0 && previous.sa_handler != SIG_DFL &&
      previous.sa_handler != on) {
    posix_calls.sigaction(signal, &previous, nullptr);
  }
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
  writer.PutText(text);
  return writer.Finish();
}

void ConsoleSetLineMode(Handle in) {
  const int fd = Descriptor(in);
  termios mode;
  if (posix_calls.tcgetattr(fd, &mode) != 0)
    return;  // not a terminal
  const termios found = mode;
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
  // only change what needs changing. A failure is ignored. The modes as
  // first found are kept, to be put back when the run stops or ends.
  if (mode.c_lflag != local || mode.c_iflag != input) {
    const SignalsHeld held;
    if (modes_set.on.load() < 0)
      modes_set.found = found;
    modes_set.set = mode;
    modes_set.on.store(fd);
    posix_calls.tcsetattr(fd, TCSANOW, &mode);
  }
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
  return posix_calls.close(Descriptor(out)) == 0 || errno == EINTR || errno == EBADF;
}

// The sequences are kept for making the change again after a stop. A
// signal that comes meanwhile waits until the change is made and recorded.
bool SetTitle(std::u16string_view title) {
  if (!TakesEscapes(STDOUT_FILENO))
    return false;
  const SignalsHeld held;
  Sequence& sequence = title_saved.redo;
  sequence.size = 0;
  sequence.Append(kSaveTitle);
  sequence.Append("\x1b]0;");
  sequence.AppendText(title, 1);
  sequence.Append("\a");
  std::string_view bytes = sequence.View();
  int none = -1;
  if (!title_saved.on.compare_exchange_strong(none, STDOUT_FILENO))
    bytes.remove_prefix(kSaveTitle.size());  // saved once
  WriteAll(STDOUT_FILENO, bytes.data(), bytes.size());
  return true;
}

bool SetTextAttribute(Handle out, std::uint16_t attribute) {
  if (!TakesEscapes(out))
    return false;
  const SignalsHeld held;
  Sequence& sequence = colours_set.redo;
  sequence.size = 0;
  sequence.Append("\x1b[");
  sequence.AppendNumber(ColourCode(attribute & 0xFu, 30, 90));
  sequence.Append(";");
  sequence.AppendNumber(ColourCode((attribute >> 4) & 0xFu, 40, 100));
  sequence.Append("m");
  colours_set.on.store(Descriptor(out));
  WriteAll(Descriptor(out), sequence.bytes, sequence.size);
  return true;
}

void RestoreConsole() {
  // A signal that comes meanwhile waits until the terminal is given back,
  // and then finds nothing left to undo, nor to make again.
  const SignalsHeld held;
  for (TerminalChange* change : kTerminalChanges) {
    change->stopped_on.store(-1);
    const int fd = change->on.exchange(-1);
    if (fd >= 0)
      WriteAll(fd, change->undo.data(), change->undo.size());
  }
  modes_set.stopped_on.store(-1);
  const int fd = modes_set.on.exchange(-1);
  if (fd >= 0 && !InBackground(fd))
    posix_calls.tcsetattr(fd, TCSANOW, &modes_set.found);
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
  posix_calls.sigaction(SIGPIPE, &ignore, nullptr);
  posix_calls.sigaction(SIGXFSZ, &ignore, nullptr);

  // Every signal that would end or stop the process first gives the
  // terminal back.
  sigset_t all, previous;
  sigfillset(&all);
  posix_calls.pthread_sigmask(SIG_BLOCK, &all, &previous);
  for (const SignalEvent& entry : kSignalEvents)
    HandleSignal(entry.signal, OnSignal);
  for (const int signal : kRequestSignals)
    HandleSignal(signal, OnSignal);
  for (const int signal : kFaultSignals)
    HandleSignal(signal, OnSignal);
  for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal)
    HandleSignal(signal, OnSignal);
  HandleSignal(SIGTSTP, OnStop);
  HandleSignal(SIGCONT, OnContinue);
  posix_calls.pthread_sigmask(SIG_SETMASK, &previous, nullptr);
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
