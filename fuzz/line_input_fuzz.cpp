// ConsoleReadLine through the scripted platform, on any byte stream split
// into reads anywhere, with console lines, absent consoles and read failures
// mixed in. Besides surviving it:
// - redirected lines are those of a plain split of the whole byte stream at
//   CR, LF and CR LF, whatever the read boundaries (a code unit or a CR LF
//   pair split between reads is joined), cut to the line cap;
// - a read failing with another error ends the line read so far;
// - console lines are the console's reads with their CR LF removed;
// - at end of input, and at every call after it, the line is 0x0004;
// - each read asks for at most 8,192 bytes, and memory stays bounded by the
//   line cap even for a line of several million code units.
//
// The input is a script of records, each starting with a tag byte:
//   tag % 8 in 0..2  bytes: a length byte L, then L bytes, answered by reads
//   tag % 8 == 3     a run: a pattern length byte P (1..16), a count byte C,
//                    then P bytes, repeated to fill (C + 1) * 64 bytes, or
//                    for C of 248 and more (C - 247) MiB (the whole stream is
//                    kept within 3 MiB)
//   tag % 8 == 4     a read failing with another error
//   tag % 8 == 5     a console line: a length byte L, then L code units
//                    (UTF-16LE); with tag bit 3 set, repeated 32 times
//   tag % 8 == 6     a console read failing: not a console
//   tag % 8 == 7     the end: with tag bit 3 set a broken pipe, else end of
//                    file; the rest of the input is ignored

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory_resource>
#include <string>
#include <string_view>
#include <vector>

#include "console/console.h"
#include "console/line_input.h"
#include "platform/fake_platform.h"

namespace {

constexpr std::size_t kLineCap = std::size_t{1} << 20;
constexpr std::size_t kConsoleReadUnits = 4096;
constexpr std::uint32_t kMaxReadBytes = 8192;
// The line at the cap, its room grown geometrically, and the old room while
// it moves, with some slack.
constexpr std::size_t kMemoryBound = 8 * kLineCap + 65536;

constexpr std::size_t kStreamBudget = 3 * kLineCap;
// Runs of short lines can hold hundreds of thousands of them; checking the
// first few thousand keeps every input quick.
constexpr std::size_t kMaxCalls = 1000;

// The checking code walks millions of code units per input; coverage of it
// would only slow the search down.
#define kUncovered __attribute__((no_sanitize("coverage")))

constexpr char16_t kCr = 0x000D;
constexpr char16_t kLf = 0x000A;

[[noreturn]] void Fail(const char* what, std::size_t call) {
  std::fprintf(stderr, "%s (call %zu)\n", what, call);
  std::abort();
}

// Counts the bytes held from the default memory resource and their peak.
class CountingResource : public std::pmr::memory_resource {
 public:
  std::size_t peak = 0;

 private:
  std::size_t held_ = 0;
  void* do_allocate(std::size_t bytes, std::size_t alignment) override {
    held_ += bytes;
    peak = std::max(peak, held_);
    return std::pmr::new_delete_resource()->allocate(bytes, alignment);
  }
  void do_deallocate(void* p, std::size_t bytes, std::size_t alignment) override {
    held_ -= bytes;
    std::pmr::new_delete_resource()->deallocate(p, bytes, alignment);
  }
  bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override {
    return this == &other;
  }
};

// The redirected byte stream as the script gives it, and where reads fail
// with another error (byte offsets into the stream).
struct Stream {
  std::string bytes;
  std::vector<std::size_t> failures;
};

class ScriptReader {
 public:
  ScriptReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  // Fills the platform's script and returns the redirected stream.
  Stream Load() {
    Stream stream;
    while (pos_ < size_) {
      const std::uint8_t tag = Byte();
      switch (tag % 8) {
        case 3:
          Queue(Run(), stream);
          break;
        case 4:
          stream.failures.push_back(stream.bytes.size());
          fake::QueueStatus(platform::ReadStatus::kOtherError);
          break;
        case 5:
          fake::state.console_reads.push_back({true, ConsoleUnits((tag & 8) != 0)});
          break;
        case 6:
          fake::state.console_reads.push_back({false, {}});
          break;
        case 7:
          fake::QueueStatus((tag & 8) != 0 ? platform::ReadStatus::kBrokenPipe
                                           : platform::ReadStatus::kEndOfFile);
          return stream;
        default:
          Queue(Bytes(Byte()), stream);
          break;
      }
    }
    return stream;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;

  std::uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }

  std::string Bytes(std::size_t count) {
    count = std::min(count, size_ - pos_);
    std::string bytes(reinterpret_cast<const char*>(data_ + pos_), count);
    pos_ += count;
    return bytes;
  }

  // Counts below 248 give short runs, the others runs of whole MiB, which
  // is what a line beyond the cap takes.
  kUncovered std::string Run() {
    const std::size_t length = Byte() % 16 + 1;
    const std::size_t count = Byte();
    const std::size_t total = count < 248 ? (count + 1) * 64 : (count - 247) << 20;
    std::string bytes = Bytes(length);
    const std::size_t pattern = bytes.size();
    if (pattern == 0) return bytes;
    bytes.reserve(total);
    while (bytes.size() * 2 <= total) bytes += bytes;
    bytes.append(bytes, 0, total / pattern * pattern - bytes.size());
    return bytes;
  }

  std::u16string ConsoleUnits(bool repeated) {
    const std::string bytes = Bytes(std::size_t{Byte()} * 2);
    std::u16string units;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
      units.push_back(static_cast<char16_t>(static_cast<std::uint8_t>(bytes[i]) |
                                            static_cast<std::uint8_t>(bytes[i + 1]) << 8));
    }
    std::u16string line;
    for (int i = 0; i < (repeated ? 32 : 1); ++i) line += units;
    return line;
  }

  // Keeps the whole stream within a budget, so that an input of many long
  // runs stays quick.
  static void Queue(std::string bytes, Stream& stream) {
    bytes.resize(std::min(bytes.size(), kStreamBudget - stream.bytes.size()));
    stream.bytes += bytes;
    fake::QueueBytes(std::move(bytes));
  }
};

// The lines of a redirected stream, split plainly: the code units are the
// stream's byte pairs (a lone last byte is no code unit), CR, LF and CR LF
// end a line, a failure ends the line read before it, and end of input ends
// a last line that has no line end. Every line is cut to the cap. Lines are
// kept as places in the code units, which spares copying millions of them.
struct Reference {
  std::vector<char16_t> units;
  struct Line {
    std::size_t start;
    std::size_t length;
  };
  std::vector<Line> lines;

  std::u16string_view Text(std::size_t line) const {
    return {units.data() + lines[line].start, lines[line].length};
  }
};

kUncovered Reference ReferenceLines(const Stream& stream) {
  Reference reference;
  const std::size_t count = stream.bytes.size() / 2;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(stream.bytes.data());
  reference.units.resize(count);
  for (std::size_t i = 0; i < count; ++i) {
    reference.units[i] = static_cast<char16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
  }

  std::size_t start = 0;
  auto end_line = [&](std::size_t end, std::size_t next) {
    reference.lines.push_back({start, std::min(end - start, kLineCap)});
    start = next;
  };
  bool after_cr = false;
  std::size_t failure = 0;
  for (std::size_t i = 0; i <= count; ++i) {
    // A failure comes before the code unit whose last byte lies behind it.
    while (failure < stream.failures.size() && stream.failures[failure] <= 2 * i + 1) {
      end_line(i, i);
      ++failure;
    }
    if (i == count) break;
    const char16_t unit = reference.units[i];
    const bool pair_end = after_cr && unit == kLf;
    after_cr = unit == kCr;
    if (pair_end) {
      start = i + 1;
    } else if (unit == kCr || unit == kLf) {
      end_line(i, i + 1);
    }
  }
  if (start < count) end_line(count, count);
  return reference;
}

// What the next call should give when the console answers it.
std::u16string ConsoleLine() {
  const std::u16string& units = fake::state.console_reads.front().units;
  std::u16string line = units.substr(0, kConsoleReadUnits);
  if (line.size() >= 2 && line[line.size() - 2] == kCr) line.resize(line.size() - 2);
  if (line == u"\x1a") line = kEndOfInput;
  return line;
}

bool ConsoleAnswersNext() {
  return !fake::state.console_reads.empty() && fake::state.console_reads.front().is_console;
}

bool Same(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() &&
         (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(char16_t)) == 0);
}

void CheckCall(std::size_t call, std::u16string_view expected) {
  std::pmr::u16string out(u"vorher");
  const std::size_t length = ConsoleReadLine(out);
  const std::u16string_view all(out);
  if (!all.starts_with(u"vorher")) Fail("text before the line changed", call);
  if (length != out.size() - 6) Fail("returned length is not the line's", call);
  if (!Same(all.substr(6), expected)) Fail("line differs from the reference", call);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fake::Reset();
  const Stream stream = ScriptReader(data, size).Load();
  const Reference reference = ReferenceLines(stream);

  CountingResource counting;
  std::pmr::memory_resource* const previous = std::pmr::set_default_resource(&counting);
  ConsoleOpen();
  std::size_t next_line = 0;
  std::size_t call = 0;
  std::size_t after_end = 0;
  while (after_end < 2 && call < kMaxCalls) {
    if (ConsoleAnswersNext()) {
      CheckCall(call, ConsoleLine());
    } else if (next_line < reference.lines.size()) {
      CheckCall(call, reference.Text(next_line++));
    } else {
      CheckCall(call, std::u16string_view(&kEndOfInput, 1));
      ++after_end;
    }
    ++call;
  }
  ConsoleClose();
  std::pmr::set_default_resource(previous);

  if (counting.peak > kMemoryBound) Fail("memory beyond the bound of the line cap", call);
  for (const std::uint32_t asked : fake::SizesOf("ReadBytes")) {
    if (asked == 0 || asked > kMaxReadBytes) Fail("read size out of range", call);
  }
  fake::Reset();  // frees the record, so that no input looks like a leak
  return 0;
}
