// The POSIX OS layer against real descriptors (pipes, files, directories
// and pseudo-terminals standing in for the console) and against scripted
// system calls, for the answers real descriptors seldom give.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <pty.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <utility>
#include <variant>
#include <vector>

#include "platform/platform.h"
#include "platform/posix_calls.h"
#include "tests/scripted_calls.h"

namespace platform {
namespace {

using namespace std::chrono_literals;

class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  UniqueFd& operator=(UniqueFd&&) = delete;
  ~UniqueFd() { Close(); }
  int get() const { return fd_; }
  void Close() {
    if (fd_ >= 0)
      close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

struct Pipe {
  UniqueFd read_end, write_end;
  static Pipe Make() {
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    return {UniqueFd(fds[0]), UniqueFd(fds[1])};
  }
};

void SetNonBlocking(int fd) {
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

// Reads from `fd` until end of file.
std::string ReadToEnd(int fd) {
  std::string data;
  char chunk[65536];
  ssize_t n;
  while ((n = read(fd, chunk, sizeof chunk)) > 0)
    data.append(chunk, static_cast<std::size_t>(n));
  return data;
}

std::string Pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<char>(i * 7 + i / 251);
  return bytes;
}

// ---------------------------------------------------------------------------
// Bytes to files and pipes

class WriteToFile : public testing::TestWithParam<std::size_t> {};

TEST_P(WriteToFile, EveryByteArrivesInOneWrite) {
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  const int fd = fileno(file);
  const std::string bytes = Pattern(GetParam());
  EXPECT_EQ(WriteBytes(fd, bytes.data(), bytes.size()), WriteStatus::kWritten);
  EXPECT_TRUE(Flush(fd));
  lseek(fd, 0, SEEK_SET);
  EXPECT_TRUE(ReadToEnd(fd) == bytes);
  std::fclose(file);
}

INSTANTIATE_TEST_SUITE_P(Sizes, WriteToFile, testing::Values(0u, 1u, 4096u, 3u << 20));

// A pipe holds 64 KiB; a larger write has to wait for the reader, through
// short writes (blocking) or writes that take nothing until it has read
// (non-blocking), and every byte arrives.
class WriteToPipe : public testing::TestWithParam<bool> {};

TEST_P(WriteToPipe, LargeWriteArrivesWhileReadConcurrently) {
  const bool non_blocking = GetParam();
  Pipe pipe = Pipe::Make();
  if (non_blocking)
    SetNonBlocking(pipe.write_end.get());
  std::string received;
  std::thread reader([&] {
    std::this_thread::sleep_for(50ms);  // the pipe fills up first
    received = ReadToEnd(pipe.read_end.get());
  });
  const std::string bytes = Pattern(4u << 20);
  EXPECT_EQ(WriteBytes(pipe.write_end.get(), bytes.data(), bytes.size()), WriteStatus::kWritten);
  pipe.write_end.Close();
  reader.join();
  EXPECT_EQ(received.size(), bytes.size());
  EXPECT_TRUE(received == bytes);
}

INSTANTIATE_TEST_SUITE_P(Modes, WriteToPipe, testing::Values(false, true),
                         [](const auto& info) { return info.param ? "NonBlocking" : "Blocking"; });

// ---------------------------------------------------------------------------
// Bytes from pipes and other descriptors

TEST(ReadBytes, DataThenEndOfFile) {
  Pipe pipe = Pipe::Make();
  ASSERT_EQ(write(pipe.write_end.get(), "abc", 3), 3);
  pipe.write_end.Close();

  char buffer[16];
  std::uint32_t count = 99;
  ASSERT_EQ(ReadBytes(pipe.read_end.get(), buffer, sizeof buffer, count), ReadStatus::kOk);
  EXPECT_EQ(std::string(buffer, count), "abc");
  EXPECT_EQ(ReadBytes(pipe.read_end.get(), buffer, sizeof buffer, count), ReadStatus::kEndOfInput);
  EXPECT_EQ(count, 0u);
}

// Data that comes later is waited for: on a non-blocking pipe (EAGAIN:
// nothing yet), and on a read interrupted by a signal whose handler does not
// restart it (EINTR).
void Nothing(int) {}

class ReadWaits : public testing::TestWithParam<bool> {};

TEST_P(ReadWaits, UntilDataArrives) {
  const bool interrupt = GetParam();
  Pipe pipe = Pipe::Make();
  if (!interrupt)
    SetNonBlocking(pipe.read_end.get());
  struct sigaction action {
  }, previous{};
  action.sa_handler = Nothing;  // no SA_RESTART
  sigaction(SIGUSR1, &action, &previous);

  const pthread_t reader = pthread_self();
  std::thread writer([&] {
    std::this_thread::sleep_for(50ms);
    if (interrupt)
      pthread_kill(reader, SIGUSR1);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(write(pipe.write_end.get(), "x", 1), 1);
  });
  char buffer[4];
  std::uint32_t count = 0;
  EXPECT_EQ(ReadBytes(pipe.read_end.get(), buffer, sizeof buffer, count), ReadStatus::kOk);
  EXPECT_EQ(std::string(buffer, count), "x");
  writer.join();
  sigaction(SIGUSR1, &previous, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Causes, ReadWaits, testing::Values(false, true), [](const auto& info) {
  return info.param ? "Interrupted" : "NonBlocking";
});

TEST(ReadBytes, UnreadableDescriptorsAreErrors) {
  UniqueFd directory(open("/", O_RDONLY | O_DIRECTORY));
  ASSERT_GE(directory.get(), 0);
  UniqueFd closed(open("/dev/null", O_RDONLY));
  const int closed_fd = closed.get();
  closed.Close();
  // An empty pipe that does not wait, where the wait for data fails: with
  // no descriptor allowed (ulimit -n 0), poll refuses to watch even one.
  Pipe empty = Pipe::Make();
  SetNonBlocking(empty.read_end.get());
  rlimit files;
  getrlimit(RLIMIT_NOFILE, &files);
  const rlimit no_files{0, files.rlim_max};
  setrlimit(RLIMIT_NOFILE, &no_files);

  for (const int fd : {directory.get(), closed_fd, empty.read_end.get()}) {
    char buffer[4];
    std::uint32_t count = 99;
    EXPECT_EQ(ReadBytes(fd, buffer, sizeof buffer, count), ReadStatus::kError) << fd;
    EXPECT_EQ(count, 0u);
  }
  setrlimit(RLIMIT_NOFILE, &files);
}

// ---------------------------------------------------------------------------
// Scripted system calls

// What a scripted call returns, and the errno it leaves: with an error, or
// beside a count as a stale errno from an earlier call.
struct Answer {
  ssize_t result;
  int error = 0;
};
constexpr ssize_t kAll = SSIZE_MAX;  // a write that takes everything offered

// The answers of write, read or close, and of poll; the bytes the writes
// took, and the events each poll waited for.
struct Script {
  scripted_calls::Answers<Answer> calls = {}, polls = {};
  std::string taken = {};
  std::vector<short> waited_for = {};
} script;

// The next of `answers`, a count of at most `size`, with its errno; what a
// write takes of `bytes` goes to `script.taken`.
ssize_t Next(scripted_calls::Answers<Answer>& answers, std::size_t size, const void* bytes) {
  const Answer answer = answers.Next();
  const ssize_t n = std::min(answer.result, static_cast<ssize_t>(size));
  if (bytes != nullptr && n > 0)
    script.taken.append(static_cast<const char*>(bytes), static_cast<std::size_t>(n));
  errno = answer.error;
  return n;
}

// What WriteBytes ("abcdef"), ReadBytes (8 bytes) or CloseOutput returns.
using Outcome = std::variant<WriteStatus, ReadStatus, bool>;

struct ScriptedCase : scripted_calls::Row {
  std::vector<Answer> answers, polls;  // of write, read or close; of poll
  Outcome outcome;
  std::size_t arrived = 0;  // the bytes written or read, in order
};

class ScriptedCalls : public testing::TestWithParam<ScriptedCase> {};

TEST_P(ScriptedCalls, AnswersTakenAsTheyCome) {
  const ScriptedCase& c = GetParam();
  const scripted_calls::Swapped<PosixCalls> swapped{posix_calls};
  posix_calls.write = [](int, const void* bytes, std::size_t size) {
    return Next(script.calls, size, bytes);
  };
  posix_calls.read = [](int, void*, std::size_t size) { return Next(script.calls, size, nullptr); };
  posix_calls.close = [](int) { return static_cast<int>(Next(script.calls, 1, nullptr)); };
  posix_calls.poll = [](pollfd* entries, nfds_t, int) {
    script.waited_for.push_back(entries[0].revents = entries[0].events);
    return static_cast<int>(Next(script.polls, 1, nullptr));
  };
  script = {.calls = {c.answers, {-1, EIO}}, .polls = {c.polls, {-1, EINVAL}}};
  const std::string bytes = "abcdef";
  char buffer[8];
  std::uint32_t count = 99;
  const Outcome outcome = scripted_calls::Call(
      c.outcome, [&](WriteStatus) { return WriteBytes(3, bytes.data(), bytes.size()); },
      [&](ReadStatus) { return ReadBytes(3, buffer, sizeof buffer, count); },
      [](bool) { return CloseOutput(3); });
  EXPECT_EQ(outcome, c.outcome);
  const bool read = std::holds_alternative<ReadStatus>(c.outcome);
  EXPECT_EQ(read ? count : script.taken.size(), c.arrived);
  EXPECT_EQ(script.taken, bytes.substr(0, script.taken.size()));
  EXPECT_TRUE(script.calls.AllTaken());
  EXPECT_TRUE(script.polls.AllTaken());
  EXPECT_EQ(script.waited_for,
            std::vector<short>(script.waited_for.size(), read ? POLLIN : POLLOUT));
}

using enum WriteStatus;
using enum ReadStatus;

INSTANTIATE_TEST_SUITE_P(
    Cases, ScriptedCalls,
    testing::ValuesIn(std::vector<ScriptedCase>{
        {"WriteWhole", {{kAll}}, {}, kWritten, 6},
        {"ShortWrites", {{2}, {3}, {kAll}}, {}, kWritten, 6},
        {"OneByteAtATime", {{1}, {1}, {1}, {1}, {1}, {1}}, {}, kWritten, 6},
        {"WriteInterrupted", {{2}, {-1, EINTR}, {kAll}}, {}, kWritten, 6},
        // A full pipe or terminal that does not wait is waited on; a wait
        // that fails, as poll does under `ulimit -n 0`, loses the output.
        {"FullThenRoom", {{-1, EAGAIN}, {kAll}}, {{1}}, kWritten, 6},
        {"WaitInterrupted", {{-1, EAGAIN}, {kAll}}, {{-1, EINTR}, {1}}, kWritten, 6},
        {"WaitForRoomFails", {{3}, {-1, EAGAIN}}, {{-1, EINVAL}}, kLost, 3},
        // A write that takes nothing and reports no error, as some drivers
        // do, would only do so again: lost at once, whatever errno still
        // says from before.
        {"TakesNothing", {{0}}, {}, kLost},
        {"TakesNothingAfterEagain", {{2}, {0, EAGAIN}}, {}, kLost, 2},
        {"ReaderGone", {{4}, {-1, EPIPE}}, {}, kReaderGone, 4},
        {"DeviceFull", {{-1, ENOSPC}}, {}, kLost},
        {"Read", {{3}}, {}, kOk, 3},
        {"ReadInterrupted", {{-1, EINTR}, {3}}, {}, kOk, 3},
        {"NothingYet", {{-1, EAGAIN}, {-1, EAGAIN}, {2}}, {{1}, {1}}, kOk, 2},
        {"WaitForDataFails", {{-1, EAGAIN}}, {{-1, ENOMEM}}, kError},
        {"ReadFails", {{-1, EIO}}, {}, kError},
        {"EndOfInput", {{0, EAGAIN}}, {}, kEndOfInput},
        // NFS and FUSE may report a lost write only when the file is
        // closed. After EINTR it is closed all the same; EBADF: there was
        // nothing to close, whose writes have failed already.
        {"Closed", {{0}}, {}, true},
        {"CloseReportsEio", {{-1, EIO}}, {}, false},
        {"CloseReportsNoSpace", {{-1, ENOSPC}}, {}, false},
        {"CloseInterrupted", {{-1, EINTR}}, {}, true},
        {"CloseWithoutDescriptor", {{-1, EBADF}}, {}, true}}),
    testing::PrintToStringParamName());

// ---------------------------------------------------------------------------
// Control events, SIGPIPE and SIGXFSZ, each in a child process of its own

std::uint32_t Decline(std::uint32_t) {
  return 0;
}

volatile sig_atomic_t seen_event = -1;
std::uint32_t Accept(std::uint32_t event) {
  seen_event = static_cast<sig_atomic_t>(event);
  return 1;
}

// Runs `body` in a child and returns its wait status.
template <class Body>
int RunInChild(Body body) {
  const pid_t child = fork();
  if (child == 0) {
    const rlimit no_core{0, 0};
    setrlimit(RLIMIT_CORE, &no_core);
    body();
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return status;
}

struct SignalCase {
  int signal;
  std::uint32_t event;
};
void PrintTo(const SignalCase& c, std::ostream* os) {
  *os << "signal " << c.signal;
}

class ControlSignal : public testing::TestWithParam<SignalCase> {};

TEST_P(ControlSignal, DeclinedEndsTheProcessAsByDefault) {
  const int signal = GetParam().signal;
  const int status = RunInChild([&] {
    RegisterControlHandler(Decline);
    raise(signal);
  });
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  EXPECT_EQ(WTERMSIG(status), signal);
}

TEST_P(ControlSignal, HandledReachesTheHandlerWithItsEvent) {
  const int status = RunInChild([&] {
    RegisterControlHandler(Accept);
    raise(GetParam().signal);
    _exit(10 + seen_event);
  });
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 10 + static_cast<int>(GetParam().event));
}

INSTANTIATE_TEST_SUITE_P(Events, ControlSignal,
                         testing::Values(SignalCase{SIGINT, 0}, SignalCase{SIGQUIT, 1},
                                         SignalCase{SIGHUP, 2}, SignalCase{SIGTERM, 6}),
                         [](const auto& info) { return std::to_string(info.param.signal); });

TEST(ControlHandlerRegistration, SignalIgnoredAtStartStaysIgnored) {
  const int status = RunInChild([] {
    signal(SIGHUP, SIG_IGN);  // as under nohup
    RegisterControlHandler(Decline);
    raise(SIGHUP);
  });
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// Writes that would end the process by default fail instead once the
// handler is registered: to a pipe whose reader has gone (SIGPIPE), no loss,
// and past the file-size limit (SIGXFSZ, as under `ulimit -f 0`), lost.
TEST(ControlHandlerRegistration, WritesThatWouldRaiseASignalFailInstead) {
  for (const bool file_size_limit : {false, true}) {
    const int status = RunInChild([&] {
      RegisterControlHandler(Decline);
      Pipe pipe = Pipe::Make();
      pipe.read_end.Close();
      int fd = pipe.write_end.get();
      if (file_size_limit) {
        const rlimit no_bytes{0, RLIM_INFINITY};
        setrlimit(RLIMIT_FSIZE, &no_bytes);
        fd = fileno(std::tmpfile());
      }
      _exit(static_cast<int>(WriteBytes(fd, "lost", 4)));
    });
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status),
              static_cast<int>(file_size_limit ? WriteStatus::kLost : WriteStatus::kReaderGone));
  }
}

// ---------------------------------------------------------------------------
// A pseudo-terminal as the console

struct Terminal {
  UniqueFd master, slave;

  static Terminal Open() {
    int master = -1, slave = -1;
    EXPECT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    return {UniqueFd(master), UniqueFd(slave)};
  }

  // Output reaches the master unchanged (no LF -> CR LF).
  void RawOutput() {
    termios mode;
    tcgetattr(slave.get(), &mode);
    mode.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tcsetattr(slave.get(), TCSANOW, &mode);
  }

  // Everything written to the slave so far: a marker byte is written after
  // it, and the master is read up to the marker.
  std::string Output() {
    const char marker = '\x01';
    EXPECT_EQ(write(slave.get(), &marker, 1), 1);
    std::string data;
    char c;
    while (read(master.get(), &c, 1) == 1 && c != marker)
      data += c;
    return data;
  }

  void Type(const std::string& keys) {
    EXPECT_EQ(write(master.get(), keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
  }
};

// Swaps a descriptor in as standard output and TERM for one test.
class TerminalAsStdout {
 public:
  TerminalAsStdout(int fd, const char* term) : saved_stdout_(dup(STDOUT_FILENO)) {
    std::fflush(stdout);
    dup2(fd, STDOUT_FILENO);
    if (const char* old = getenv("TERM"))
      saved_term_ = old;
    if (term != nullptr) {
      setenv("TERM", term, 1);
    } else {
      unsetenv("TERM");
    }
  }
  ~TerminalAsStdout() {
    dup2(saved_stdout_, STDOUT_FILENO);
    close(saved_stdout_);
    if (saved_term_) {
      setenv("TERM", saved_term_->c_str(), 1);
    } else {
      unsetenv("TERM");
    }
  }

 private:
  int saved_stdout_;
  std::optional<std::string> saved_term_;
};

TEST(TerminalOutput, TextArrivesAsUtf8) {
  Terminal terminal = Terminal::Open();
  terminal.RawOutput();
  EXPECT_TRUE(ConsoleWrite(terminal.slave.get(), u"\u00E4\u20AC\U0001F600\xD800!\r\n"));
  EXPECT_EQ(terminal.Output(), "\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80\xEF\xBF\xBD!\r\n");
}

// Redirected output gets neither text nor escape sequences from these.
TEST(TerminalOutput, NotATerminalWritesNothing) {
  Pipe pipe = Pipe::Make();
  {
    TerminalAsStdout swap(pipe.write_end.get(), "xterm");
    EXPECT_FALSE(ConsoleWrite(STDOUT_FILENO, u"text"));
    EXPECT_FALSE(SetTextAttribute(STDOUT_FILENO, 15));
    EXPECT_FALSE(SetTitle(u"Helligkeit"));
    RestoreConsole();
  }
  pipe.write_end.Close();
  EXPECT_EQ(ReadToEnd(pipe.read_end.get()), "");
}

struct TitleCase {
  const char* name;
  const char* term;  // null: TERM unset
  std::u16string title;
  std::optional<std::string> sequence;  // none: SetTitle fails
};
void PrintTo(const TitleCase& c, std::ostream* os) {
  *os << c.name;
}

class Title : public testing::TestWithParam<TitleCase> {};

TEST_P(Title, SequenceOnlyWhereTheTerminalTakesIt) {
  const TitleCase& c = GetParam();
  Terminal terminal = Terminal::Open();
  terminal.RawOutput();
  bool set;
  {
    TerminalAsStdout swap(terminal.slave.get(), c.term);
    set = SetTitle(c.title);
    RestoreConsole();
  }
  EXPECT_EQ(set, c.sequence.has_value());
  // Saved on the terminal's stack of titles first, taken back at the end.
  EXPECT_EQ(terminal.Output(), c.sequence ? "\x1b[22;0t" + *c.sequence + "\x1b[23;0t" : "");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Title,
    testing::Values(TitleCase{"Xterm", "xterm", u"Helligkeit", "\x1b]0;Helligkeit\a"},
                    TitleCase{"Utf8", "xterm-256color", u"H\u00E4", "\x1b]0;H\xC3\xA4\a"},
                    // A BEL or ESC in the title would end the sequence early.
                    TitleCase{"ControlsLeftOut", "xterm", u"a\a\x1b]b\u009C", "\x1b]0;a]b\a"},
                    TitleCase{"Dumb", "dumb", u"Helligkeit", std::nullopt},
                    TitleCase{"EmptyTerm", "", u"Helligkeit", std::nullopt},
                    TitleCase{"NoTerm", nullptr, u"Helligkeit", std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

struct ColourCase {
  std::uint16_t attribute;
  const char* term;
  std::optional<std::string> sequence;  // none: SetTextAttribute fails
};
void PrintTo(const ColourCase& c, std::ostream* os) {
  *os << "attribute " << c.attribute << " on " << c.term;
}

class Colour : public testing::TestWithParam<ColourCase> {};

TEST_P(Colour, AttributeBecomesSgr) {
  Terminal terminal = Terminal::Open();
  terminal.RawOutput();
  bool set;
  {
    TerminalAsStdout swap(terminal.slave.get(), GetParam().term);
    set = SetTextAttribute(terminal.slave.get(), GetParam().attribute);
    RestoreConsole();
  }
  EXPECT_EQ(set, GetParam().sequence.has_value());
  // The terminal's default colours come back at the end.
  EXPECT_EQ(terminal.Output(), GetParam().sequence ? *GetParam().sequence + "\x1b[39;49m" : "");
}

INSTANTIATE_TEST_SUITE_P(Attributes, Colour,
                         testing::Values(ColourCase{15, "xterm", "\x1b[97;40m"},    // bright white
                                         ColourCase{0x04, "xterm", "\x1b[31;40m"},  // red
                                         ColourCase{0x01, "xterm", "\x1b[34;40m"},  // blue
                                         ColourCase{0x1E, "xterm",
                                                    "\x1b[93;44m"},  // yellow on blue
                                         ColourCase{0xF0, "xterm", "\x1b[30;107m"},  // on white
                                         ColourCase{0x8B, "xterm", "\x1b[96;100m"},  // on grey
                                         ColourCase{15, "dumb", std::nullopt}));

// ---------------------------------------------------------------------------
// Reading typed lines from the terminal

struct TypedCase {
  const char* name;
  std::string keys;
  std::uint32_t capacity;
  std::vector<std::u16string> reads;  // what each console read hands back
  // Only line editing and echo off at the start, the input flags already as
  // the program sets them; otherwise raw input.
  bool only_line_editing_off = false;
};
void PrintTo(const TypedCase& c, std::ostream* os) {
  *os << c.name;
}

class TypedLine : public testing::TestWithParam<TypedCase> {};

// Each case starts from a terminal with line editing off, so the line mode
// has to be switched on for the keys to arrive as a line.
TEST_P(TypedLine, ComesBackAsAWindowsConsoleGivesIt) {
  const TypedCase& c = GetParam();
  Terminal terminal = Terminal::Open();
  termios raw;
  tcgetattr(terminal.slave.get(), &raw);
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  if (c.only_line_editing_off) {
    raw.c_iflag |= IUTF8;
  } else {
    raw.c_lflag &= ~static_cast<tcflag_t>(ISIG);
    raw.c_iflag &= ~static_cast<tcflag_t>(ICRNL | IUTF8);
    raw.c_iflag |= IGNCR;
  }
  tcsetattr(terminal.slave.get(), TCSANOW, &raw);

  ConsoleSetLineMode(terminal.slave.get());
  // The echo is read away so that it cannot fill the terminal's buffer.
  std::thread drain_echo([&] { ReadToEnd(terminal.master.get()); });
  terminal.Type(c.keys);
  std::vector<std::u16string> reads;
  std::vector<char16_t> buffer(c.capacity);
  for (std::size_t i = 0; i < c.reads.size(); ++i) {
    std::uint32_t count = 0;
    ASSERT_EQ(ConsoleRead(terminal.slave.get(), buffer.data(), c.capacity, count),
              ConsoleReadStatus::kLine);
    reads.emplace_back(buffer.data(), count);
  }
  EXPECT_TRUE(reads == c.reads);
  // The end of the run puts back the modes as found.
  RestoreConsole();
  termios after;
  tcgetattr(terminal.slave.get(), &after);
  EXPECT_TRUE(after.c_lflag == raw.c_lflag && after.c_iflag == raw.c_iflag);
  terminal.slave.Close();  // ends the drain: the master reads EIO
  drain_echo.join();
}

const std::u16string kLongest(4095, u'a');

INSTANTIATE_TEST_SUITE_P(
    Cases, TypedLine,
    testing::Values(
        TypedCase{"Number", "550\r", 4096, {u"550\r\n"}},
        TypedCase{"EnterAlone", "\r", 4096, {u"\r\n"}},
        TypedCase{"TwoLinesTwoReads", "1\r2\r", 4096, {u"1\r\n", u"2\r\n"}},
        TypedCase{"Utf8", "\xC3\xA4\r", 4096, {u"\u00E4\r\n"}},
        TypedCase{"EraseIsLineEditing", "abc\x7F\r", 4096, {u"ab\r\n"}},
        TypedCase{"EraseTakesWholeCharacter", "a\xC3\xA4\x7F\r", 4096, {u"a\r\n"}},
        TypedCase{"CtrlDOnEmptyLine", "\x04", 4096, {u"\x1A"}},
        TypedCase{"CtrlDMidLine", "ab\x04", 4096, {u"ab"}},
        TypedCase{"SplitByCapacity", "abcdef\r", 4, {u"abcd", u"ef\r\n"}},
        TypedCase{"SplitBetweenCrAndLf", "abc\r", 4, {u"abc\r", u"\n"}},
        TypedCase{"LongestLine", std::string(4095, 'a') + "\r", 4096, {kLongest + u"\r", u"\n"}},
        // The terminal itself drops what is typed beyond 4095 bytes.
        TypedCase{"TooLongLine", std::string(5000, 'a') + "\r", 4096, {kLongest + u"\r", u"\n"}},
        TypedCase{"OnlyLineEditingOff", "abc\x7F\r", 4096, {u"ab\r\n"}, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TerminalInput, EchoIsSeen) {
  Terminal terminal = Terminal::Open();
  ConsoleSetLineMode(terminal.slave.get());
  terminal.Type("550\r");
  char16_t buffer[16];
  std::uint32_t count = 0;
  ASSERT_EQ(ConsoleRead(terminal.slave.get(), buffer, 16, count), ConsoleReadStatus::kLine);
  EXPECT_EQ(terminal.Output(), "550\r\n");
}

TEST(TerminalInput, NotATerminal) {
  Pipe pipe = Pipe::Make();
  ASSERT_EQ(write(pipe.write_end.get(), "550\n", 4), 4);
  ConsoleSetLineMode(pipe.read_end.get());
  char16_t buffer[16];
  std::uint32_t count = 99;
  EXPECT_EQ(ConsoleRead(pipe.read_end.get(), buffer, 16, count), ConsoleReadStatus::kNotConsole);
  EXPECT_EQ(count, 0u);
  // The bytes are still there for the byte read.
  char bytes[8];
  EXPECT_EQ(ReadBytes(pipe.read_end.get(), bytes, sizeof bytes, count), ReadStatus::kOk);
  EXPECT_EQ(count, 4u);
}

// ---------------------------------------------------------------------------
// Text to bytes

// Each code page goes to its encoder; the ANSI code page here is
// Windows-1252.
TEST(EncodeText, SizeThenConversionInEachCodePage) {
  const std::pair<CodePage, std::string> cases[] = {
      {CodePage::kUtf8, "\xC3\xA4\xE2\x82\xAC"},
      {CodePage::kAnsi, "\xE4\x80"},
  };
  for (const auto& [page, expected] : cases) {
    const std::u16string_view text = u"\u00E4\u20AC";
    std::string bytes(EncodeText(page, text, nullptr, 0), '\0');
    EXPECT_EQ(EncodeText(page, text, bytes.data(), bytes.size()), expected.size());
    EXPECT_EQ(bytes, expected);
  }
}

}  // namespace
}  // namespace platform
