// The Windows OS layer against real pipes (anonymous, and named in message
// mode) and files, alone and with the console layer on top of it, swapped in
// as standard input and output with SetStdHandle; and the program itself
// started the way other programs start it.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <future>
#include <memory_resource>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "console/console.h"
#include "console/line_input.h"
#include "platform/platform.h"

namespace {

using namespace std::string_literals;

platform::Handle AsHandle(HANDLE handle) {
  return reinterpret_cast<platform::Handle>(handle);
}

// The bytes of UTF-16 text, low byte first, as redirected input carries it.
std::string Utf16Bytes(std::u16string_view text) {
  std::string bytes;
  for (char16_t unit : text) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

void WriteAll(HANDLE handle, std::string_view bytes) {
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
  ASSERT_EQ(written, bytes.size());
}

enum class PipeMode {
  kBytes,    // an anonymous pipe
  kMessages  // a named pipe in message mode, as a parent may make one
};

class Pipe {
 public:
  explicit Pipe(PipeMode mode = PipeMode::kBytes) {
    if (mode == PipeMode::kBytes) {
      EXPECT_TRUE(CreatePipe(&read_, &write_, nullptr, 0));
      return;
    }
    // The server end reads one message at a time; each write of the
    // client end is one message.
    static int serial = 0;
    const std::wstring name = L"\\\\.\\pipe\\helligkeit-test-" +
                              std::to_wstring(GetCurrentProcessId()) + L"-" +
                              std::to_wstring(++serial);
    read_ = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_INBOUND,
                             PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 1 << 16,
                             1 << 16, 0, nullptr);
    write_ = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
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

std::string ReadToEnd(HANDLE handle) {
  std::string bytes;
  char block[4096];
  DWORD count = 0;
  while (ReadFile(handle, block, sizeof block, &count, nullptr) && count > 0)
    bytes.append(block, count);
  return bytes;
}

// A writer that flushes a pipe waits until the reader has taken the bytes,
// so what arrives at a pipe is collected on a thread of its own.
std::future<std::string> ReadToEndMeanwhile(HANDLE read) {
  return std::async(std::launch::async, ReadToEnd, read);
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

// ---- Output: the console layer's bytes in each output mode ----

enum class Sink { kPipe, kFile };

struct OutputCase {
  const char* name;
  std::int32_t mode;
  std::u16string prompt;  // written with ConsolePrint
  std::u16string line;    // written with ConsolePrintLine
  std::string bytes;      // what arrives
};

std::string Repeated(std::string_view piece, int times) {
  std::string bytes;
  for (int i = 0; i < times; ++i)
    bytes += piece;
  return bytes;
}

std::vector<OutputCase> OutputCases() {
  return {
      {"Utf8", OutputUtf8, u"", u"\u00e4", "\xC3\xA4\r\n"},
      {"Utf8PromptThenLine", OutputUtf8, u"nm:  ", u"550", "nm:  550\r\n"},
      {"Utf8EmptyLine", OutputUtf8, u"", u"", "\r\n"},
      // U+FFFD for the lone surrogate, as on Linux.
      {"Utf8UnpairedSurrogate", OutputUtf8, u"", std::u16string{0xD800, u'A'},
       "\xEF\xBF\xBD" + "A\r\n"s},
      {"Utf16", OutputUtf16, u"", u"A", "A\0\r\0\n\0"s},
      // Far more than a pipe buffer holds: nothing may be cut off.
      {"Utf8Long", OutputUtf8, std::u16string(70000, u'\u00e4'), u"",
       Repeated("\xC3\xA4", 70000) + "\r\n"},
  };
}

class OutputTest : public testing::TestWithParam<std::tuple<Sink, OutputCase>> {};

// Opens the console with `sink` as standard output, writes the case's texts
// and returns the bytes that arrived.
std::string WriteThrough(Sink sink, const OutputCase& c) {
  auto write = [&c](HANDLE out) {
    StandardHandle swap(STD_OUTPUT_HANDLE, out);
    ConsoleOpen(std::nullopt, c.mode);
    ConsolePrint(c.prompt);
    ConsolePrintLine(c.line);
    ConsoleClose();
  };
  if (sink == Sink::kPipe) {
    Pipe pipe;
    auto bytes = ReadToEndMeanwhile(pipe.read());
    write(pipe.write());
    pipe.CloseWrite();
    return bytes.get();
  }
  TempFile file;
  HANDLE out = file.Open(GENERIC_WRITE);
  write(out);
  CloseHandle(out);
  return file.Contents();
}

TEST_P(OutputTest, WritesTheBytesOfTheOutputMode) {
  const auto& [sink, c] = GetParam();
  EXPECT_EQ(WriteThrough(sink, c), c.bytes);
}

std::string OutputCaseName(const testing::TestParamInfo<OutputTest::ParamType>& info) {
  const auto& [sink, c] = info.param;
  return (sink == Sink::kPipe ? "Pipe"s : "File"s) + c.name;
}

INSTANTIATE_TEST_SUITE_P(Redirected, OutputTest,
                         testing::Combine(testing::Values(Sink::kPipe, Sink::kFile),
                                          testing::ValuesIn(OutputCases())),
                         OutputCaseName);

// The ANSI code page is the system's; Wine picks it from the locale.
TEST(AnsiOutputTest, WritesTheWesternEuropeanCodePage) {
  if (GetACP() != 1252)
    GTEST_SKIP() << "ANSI code page is " << GetACP() << ", not 1252";
  const OutputCase c{"Ansi", OutputAnsi, u"", u"\u00e4\u00df", "\xE4\xDF\r\n"};
  EXPECT_EQ(WriteThrough(Sink::kPipe, c), c.bytes);
  EXPECT_EQ(WriteThrough(Sink::kFile, c), c.bytes);
}

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

    StandardHandle swap(STD_OUTPUT_HANDLE, c.out);
    ConsoleOpen();
    ConsolePrintLine(u"550");
    EXPECT_EQ(ConsoleOutputLost(), c.status == platform::WriteStatus::kLost);
    ConsoleClose();
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

// Lines read by the console layer from a real pipe or file.
enum class Source {
  kPipe,          // written in pieces with pauses, then closed: a broken pipe
  kMessagePipe,   // an empty message, then the whole text as one, then closed
  kFile,          // read to its end
  kWriteOnlyFile  // every read fails with an error other than a broken pipe
};

struct InputCase {
  const char* name;
  Source source;
  std::u16string text;
  std::vector<std::u16string> lines;  // the calls' results, in order
};

const std::u16string kEnd(1, kEndOfInput);

std::vector<InputCase> InputCases() {
  const std::u16string long_line(10000, u'7');
  return {
      {"PipeLines", Source::kPipe, u"550\r\n\u00e4\r\n", {u"550", u"\u00e4", kEnd, kEnd}},
      {"PipeLoneLineEnds", Source::kPipe, u"1\r2\n\n3", {u"1", u"2", u"", u"3", kEnd}},
      {"PipeLongLine", Source::kPipe, long_line + u"\n8", {long_line, u"8", kEnd}},
      {"PipeClosedUnwritten", Source::kPipe, u"", {kEnd, kEnd}},
      // A message longer than one read comes in pieces; an empty message
      // is no end of input.
      {"MessagePipeLongLine", Source::kMessagePipe, long_line + u"\n8", {long_line, u"8", kEnd}},
      {"FileLines", Source::kFile, u"550\r\n\u00e4", {u"550", u"\u00e4", kEnd, kEnd}},
      {"FileEmpty", Source::kFile, u"", {kEnd, kEnd}},
      {"FileByteOrderMark", Source::kFile, u"\uFEFF550\r\n\uFEFF", {u"550", u"\uFEFF", kEnd}},
      {"WriteOnlyFile", Source::kWriteOnlyFile, u"550\r\n", {u"", u""}},
  };
}

class InputTest : public testing::TestWithParam<InputCase> {};

// Feeds `bytes` into the pipe in uneven pieces, with pauses so that each
// arrives alone: odd counts split code units between reads, and the first
// CR LF of "550\r\n" is split between two.
void WriteInPieces(HANDLE write, const std::string& bytes) {
  std::size_t at = 0;
  for (std::size_t piece : {3, 1, 4, 5, 4096}) {
    if (at >= bytes.size())
      break;
    WriteAll(write, std::string_view(bytes).substr(at, piece));
    at += piece;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (at < bytes.size())
    WriteAll(write, std::string_view(bytes).substr(at));
}

std::vector<std::u16string> ReadLines(HANDLE in, std::size_t count) {
  StandardHandle swap(STD_INPUT_HANDLE, in);
  ConsoleOpen();
  std::vector<std::u16string> lines;
  for (std::size_t i = 0; i < count; ++i) {
    std::pmr::u16string line;
    ConsoleReadLine(line);
    lines.emplace_back(line);
  }
  ConsoleClose();
  return lines;
}

TEST_P(InputTest, ReadsTheLines) {
  const InputCase& c = GetParam();
  const std::string bytes = Utf16Bytes(c.text);
  std::vector<std::u16string> lines;
  if (c.source == Source::kPipe || c.source == Source::kMessagePipe) {
    Pipe pipe(c.source == Source::kPipe ? PipeMode::kBytes : PipeMode::kMessages);
    std::thread writer([&pipe, &bytes, &c] {
      if (c.source == Source::kPipe) {
        WriteInPieces(pipe.write(), bytes);
      } else {
        WriteAll(pipe.write(), "");
        WriteAll(pipe.write(), bytes);
      }
      pipe.CloseWrite();
    });
    lines = ReadLines(pipe.read(), c.lines.size());
    writer.join();
  } else {
    TempFile file;
    file.Fill(bytes);
    HANDLE in = file.Open(c.source == Source::kFile ? GENERIC_READ : GENERIC_WRITE);
    lines = ReadLines(in, c.lines.size());
    CloseHandle(in);
  }
  EXPECT_EQ(lines, c.lines);
}

INSTANTIATE_TEST_SUITE_P(Redirected, InputTest, testing::ValuesIn(InputCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- The program started by another program ----

// The program's path: PROGRAM_FROM_TEST is where it lies from here.
std::wstring ProgramPath() {
  wchar_t self[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring path(self, length);
  path.erase(path.find_last_of(L"\\/") + 1);
  for (char c : std::string_view(PROGRAM_FROM_TEST))
    path += c == '/' ? L'\\' : static_cast<wchar_t>(c);
  return path;
}

struct CallerCase {
  const char* name;
  Source source;      // standard input: kPipe, kMessagePipe or kFile
  std::string input;  // written in one write (one message), then closed
};

std::vector<CallerCase> CallerCases() {
  // 550 and spaces, 10,004 bytes with the line end: longer than one read.
  const std::string long_line = Utf16Bytes(u"550" + std::u16string(4997, u' ') + u"\r\n");
  return {
      {"WaitsForTheEndBeforeReading", Source::kPipe, Utf16Bytes(u"550\r\n\r\n")},
      {"MessagePipeOneLongMessage", Source::kMessagePipe, long_line},
      {"FileWithByteOrderMark", Source::kFile, "\xFF\xFE" + Utf16Bytes(u"550\r\n")},
  };
}

class CallerTest : public testing::TestWithParam<CallerCase> {};

// As a batch file, script or build tool runs it: the caller writes the
// input, waits for the program to end, and only then reads its output,
// which waits in the pipe meanwhile.
TEST_P(CallerTest, ProgramEndsBeforeItsOutputIsReadAndReportsTheLine) {
  const CallerCase& c = GetParam();
  Pipe out;
  std::optional<Pipe> in;
  std::optional<TempFile> file;
  HANDLE child_in = nullptr;
  if (c.source == Source::kFile) {
    file.emplace();
    file->Fill(c.input);
    child_in = file->Open(GENERIC_READ);
  } else {
    in.emplace(c.source == Source::kPipe ? PipeMode::kBytes : PipeMode::kMessages);
    child_in = in->read();
  }
  // Only the child's ends are inherited, so that the pipes end with it.
  SetHandleInformation(child_in, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  SetHandleInformation(out.write(), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = child_in;
  startup.hStdOutput = out.write();
  startup.hStdError = out.write();
  PROCESS_INFORMATION process{};
  const std::wstring program = ProgramPath();
  std::wstring command_line = L"helligkeit.exe";
  ASSERT_TRUE(CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, TRUE, 0,
                             nullptr, nullptr, &startup, &process))
      << "cannot start the program: error " << GetLastError();
  CloseHandle(process.hThread);
  out.CloseWrite();
  if (file) {
    CloseHandle(child_in);
  } else {
    in->CloseRead();
    WriteAll(in->write(), c.input);
    in->CloseWrite();
  }

  const DWORD waited = WaitForSingleObject(process.hProcess, 15000);
  EXPECT_EQ(waited, WAIT_OBJECT_0) << "the program was still running 15 s after its input";
  if (waited != WAIT_OBJECT_0)
    TerminateProcess(process.hProcess, 1);
  DWORD exit_code = 1;
  GetExitCodeProcess(process.hProcess, &exit_code);
  CloseHandle(process.hProcess);
  EXPECT_EQ(exit_code, 0u);
  const std::string output = ReadToEnd(out.read());
  EXPECT_NE(output.find("   Helligkeit Vollstfarbe 550.00nm :  84.120\r\n"), std::string::npos)
      << output;
}

INSTANTIATE_TEST_SUITE_P(Program, CallerTest, testing::ValuesIn(CallerCases()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
