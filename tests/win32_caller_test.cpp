// The console layer and the whole program on real Windows pipes and files:
// the bytes of each output mode, the lines read from pipes and files swapped
// in as standard input, and the program started the way other programs start
// it, with the pipes they give it.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <limits>
#include <memory_resource>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "console/console.h"
#include "console/line_input.h"
#include "tests/test_support.h"
#include "tests/win32_handles.h"

namespace {

using namespace std::string_literals;
using namespace win32_handles;
using test_support::Utf16Bytes;

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
    // A writer that flushes a pipe waits until the reader has taken the
    // bytes, so they are collected on a thread of their own.
    auto bytes = std::async(std::launch::async, ReadToEnd, pipe.read());
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

// Lines read by the console layer from a real pipe or file.
enum class Source {
  kPipe,           // written in pieces with pauses, then closed: a broken pipe
  kMessagePipe,    // an empty message, then the whole text as one, then closed
  kFile,           // read to its end
  kWriteOnlyFile,  // every read fails with an error other than a broken pipe
  kNoWaitPipe,     // a pipe whose reading end does not wait (callers only)
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

// The processor time, in seconds, that the program started with
// `command_line` has used so far; nothing when it cannot be read. Under Wine
// the program is a Linux process whose times GetProcessTimes does not give:
// they are read from Linux's /proc, where Wine shows its command line.
std::optional<double> ProcessorSeconds(HANDLE process, const std::string& command_line) {
  using DosFileName = WCHAR*(CDECL*)(const char*);
  const auto dos_file_name = reinterpret_cast<DosFileName>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_dos_file_name")));
  if (dos_file_name == nullptr) {
    FILETIME created, ended, kernel, user;
    if (!GetProcessTimes(process, &created, &ended, &kernel, &user))
      return std::nullopt;
    const ULARGE_INTEGER in_kernel{{kernel.dwLowDateTime, kernel.dwHighDateTime}};
    const ULARGE_INTEGER in_user{{user.dwLowDateTime, user.dwHighDateTime}};
    return static_cast<double>(in_kernel.QuadPart + in_user.QuadPart) / 1e7;  // 100 ns units
  }
  WCHAR* proc = dos_file_name("/proc");
  std::error_code error;
  const std::filesystem::directory_iterator processes(proc != nullptr ? proc : L"", error);
  HeapFree(GetProcessHeap(), 0, proc);
  for (const auto& entry : processes) {
    // The arguments, each ended by a zero byte.
    std::ifstream cmdline(entry.path() / "cmdline", std::ios::binary);
    std::string arguments(std::istreambuf_iterator<char>(cmdline), {});
    std::replace(arguments.begin(), arguments.end(), '\0', ' ');
    if (arguments.substr(0, arguments.find_last_not_of(' ') + 1) != command_line)
      continue;
    // After the name in parentheses, fields 3 to 13, then the user and the
    // system time in ticks of 1/100 s.
    std::ifstream stat(entry.path() / "stat", std::ios::binary);
    stat.ignore(std::numeric_limits<std::streamsize>::max(), ')');
    std::string field;
    for (int skipped = 3; skipped <= 13; ++skipped)
      stat >> field;
    double user = 0;
    double system = 0;
    if (stat >> user >> system)
      return (user + system) / 100;
  }
  return std::nullopt;
}

struct CallerCase {
  const char* name;
  Source source;      // standard input: kPipe, kMessagePipe, kFile or kNoWaitPipe
  std::string input;  // written in one write (one message), then closed
  // Standard output: a pipe that waits, read once the program has ended; or
  // a pipe that does not wait with `room` bytes of room, read meanwhile,
  // each of whose messages, where it is a message pipe with room for every
  // write, must be one whole write, and where the program may ask its
  // buffer, a write or a piece of one as large as the buffer.
  PipeMode output = PipeMode::kBytes;
  DWORD room = 64;
  int input_after_ms = 0;   // how long the caller takes to write the input
  int reader_after_ms = 0;  // how long the reader of a pipe that does not wait takes to start
};

std::vector<CallerCase> CallerCases() {
  const std::string input = Utf16Bytes(u"550\r\n\r\n");
  // 550 and spaces, 10,004 bytes with the line end: longer than one read.
  const std::string long_line = Utf16Bytes(u"550" + std::u16string(4997, u' ') + u"\r\n");
  return {
      {"WaitsForTheEndBeforeReading", Source::kPipe, input},
      {"MessagePipeOneLongMessage", Source::kMessagePipe, long_line},
      {"FileWithByteOrderMark", Source::kFile, "\xFF\xFE" + Utf16Bytes(u"550\r\n")},
      // A read finds nothing yet, then the input comes: it is waited for.
      {"NoWaitInputPipeWithLateInput", Source::kNoWaitPipe, input, PipeMode::kBytes, 64, 1000},
      // Writes find the pipe full and take part of the bytes or none: the
      // rest is written once the reader has made room.
      {"NoWaitOutputPipeWithLateReader", Source::kPipe, input, PipeMode::kNoWaitWriter, 64, 0,
       1000},
      {"NoWaitMessagePipeGetsWholeLines", Source::kPipe, input, PipeMode::kNoWaitMessageWriter, 100,
       0, 1000},
      // The same where the program may not ask the pipe's buffer size, and
      // the reader, later still, polls it.
      {"OutboundMessagePipeGetsWholeLines", Source::kPipe, input, PipeMode::kNoWaitMessageOutbound,
       100, 0, 1500},
      // A line that never fits: cut once the pipe has taken nothing for long.
      {"OutboundMessagePipeSmallerThanALine", Source::kPipe, input,
       PipeMode::kNoWaitMessageOutbound, 64},
      // Where the program may ask the buffer, a longer line is cut to it at
      // once: the banner comes as 64 + 4 bytes.
      {"NoWaitMessagePipeSmallerThanALine", Source::kPipe, input, PipeMode::kNoWaitMessageWriter,
       64, 0, 1000},
  };
}

// Each of `writes` as messages of at most `most` bytes, as a message pipe of
// that buffer gets them from a writer that asks it.
std::vector<std::string> CutToSize(const std::vector<std::string>& writes, std::size_t most) {
  std::vector<std::string> messages;
  for (const std::string& write : writes) {
    for (std::size_t at = 0; at < write.size(); at += most)
      messages.push_back(write.substr(at, most));
  }
  return messages;
}

// Far more than the program uses by the time it has started and waited,
// pausing between tries, and far less than a program that retries at once
// uses while it waits a second.
constexpr double kMostProcessorSeconds = 0.1;

class CallerTest : public testing::TestWithParam<CallerCase> {};

// As a batch file, script or build tool runs it: the caller writes the
// input, waits for the program to end, and only then reads its output,
// which waits in the pipe meanwhile; or it hands over pipes that do not
// wait, which the program waits on as on any other, without keeping a
// processor busy. Either way the whole dialogue arrives.
TEST_P(CallerTest, ProgramGivesTheWholeDialogue) {
  const CallerCase& c = GetParam();
  Pipe out(c.output, c.room);
  std::optional<Pipe> in;
  std::optional<TempFile> file;
  HANDLE child_in = nullptr;
  if (c.source == Source::kFile) {
    file.emplace();
    file->Fill(c.input);
    child_in = file->Open(GENERIC_READ);
  } else {
    in.emplace(c.source == Source::kPipe          ? PipeMode::kBytes
               : c.source == Source::kMessagePipe ? PipeMode::kMessages
                                                  : PipeMode::kNoWaitReader);
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
  // The program ignores its arguments; these tell this run from others.
  const std::string command_line =
      "helligkeit.exe caller-test " + std::to_string(GetCurrentProcessId()) + " " + c.name;
  std::wstring wide_command_line(command_line.begin(), command_line.end());
  ASSERT_TRUE(CreateProcessW(program.c_str(), wide_command_line.data(), nullptr, nullptr, TRUE, 0,
                             nullptr, nullptr, &startup, &process))
      << "cannot start the program: error " << GetLastError();
  CloseHandle(process.hThread);
  out.CloseWrite();
  // What the program used while it waited, taken just before the caller
  // lets it go on.
  std::optional<double> waiting_seconds;
  auto measure = [&] {
    waiting_seconds = ProcessorSeconds(process.hProcess, command_line);
    EXPECT_TRUE(waiting_seconds) << "cannot read the program's processor time";
  };
  std::future<std::vector<std::string>> output_meanwhile;
  if (c.output != PipeMode::kBytes) {
    output_meanwhile = std::async(std::launch::async, [&] {
      Sleep(static_cast<DWORD>(c.reader_after_ms));
      if (c.reader_after_ms > 0)
        measure();
      if (IsMessagePipe(c.output))
        return ReadMessages(out.read());
      return std::vector<std::string>{ReadToEnd(out.read())};
    });
  }
  if (file) {
    CloseHandle(child_in);
  } else {
    in->CloseRead();
    Sleep(static_cast<DWORD>(c.input_after_ms));
    if (c.input_after_ms > 0)
      measure();
    WriteAll(in->write(), c.input);
    in->CloseWrite();
  }

  const DWORD waited = WaitForSingleObject(process.hProcess, kHangMs);
  EXPECT_EQ(waited, WAIT_OBJECT_0)
      << "the program was still running " << kHangMs / 1000 << " s after its input";
  if (waited != WAIT_OBJECT_0)
    TerminateProcess(process.hProcess, 1);
  DWORD exit_code = 1;
  GetExitCodeProcess(process.hProcess, &exit_code);
  CloseHandle(process.hProcess);
  EXPECT_EQ(exit_code, 0u);
  const std::vector<std::string> dialogue = test_support::DialogueWrites("550.00", "84.120");
  const std::vector<std::string> output = c.output == PipeMode::kBytes
                                              ? std::vector<std::string>{ReadToEnd(out.read())}
                                              : output_meanwhile.get();
  const bool room_for_every_write = std::all_of(
      dialogue.begin(), dialogue.end(), [&c](const std::string& w) { return w.size() <= c.room; });
  if (c.output == PipeMode::kNoWaitMessageWriter ||
      (IsMessagePipe(c.output) && room_for_every_write)) {
    EXPECT_EQ(output, CutToSize(dialogue, c.room));
  } else {
    EXPECT_EQ(test_support::Joined(output), test_support::Joined(dialogue));
  }
  if (waiting_seconds) {
    EXPECT_LT(*waiting_seconds, kMostProcessorSeconds);
  }
}

INSTANTIATE_TEST_SUITE_P(Program, CallerTest, testing::ValuesIn(CallerCases()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
