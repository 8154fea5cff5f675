#include "fuzz/input_script.h"

#include <algorithm>

#include "console/line_input.h"
#include "tests/fake_platform.h"

// The checking code walks millions of code units per input; coverage of it
// would only slow the search down.
#define UNCOVERED __attribute__((no_sanitize("coverage")))

namespace fuzz {
namespace {

// Bytes in the whole stream: enough for a line of three times the cap, which
// would need more memory than the cap allows; more would only be slow.
constexpr std::size_t kStreamBudget = 6 * kLineCap;

class ScriptReader {
 public:
  ScriptReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

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
          fake::QueueStatus(platform::ReadStatus::kError);
          break;
        case 5:
          fake::state.console_reads.push_back(
              {fake::ConsoleAnswer::kLine, ConsoleUnits((tag & 8) != 0)});
          break;
        case 6:
          fake::state.console_reads.push_back({(tag & 8) != 0 ? fake::ConsoleAnswer::kInterrupted
                                                              : fake::ConsoleAnswer::kNotConsole,
                                               {}});
          break;
        case 7:
          fake::QueueStatus(platform::ReadStatus::kEndOfInput);
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
  UNCOVERED std::string Run() {
    const std::size_t length = Byte() % 16 + 1;
    const std::size_t count = Byte();
    const std::size_t total = count < 248 ? (count + 1) * 64 : (count - 247) << 20;
    std::string bytes = Bytes(length);
    const std::size_t pattern = bytes.size();
    if (pattern == 0)
      return bytes;
    bytes.reserve(total);
    while (bytes.size() * 2 <= total)
      bytes += bytes;
    bytes.append(bytes, 0, total / pattern * pattern - bytes.size());
    return bytes;
  }

  std::u16string ConsoleUnits(bool repeated) {
    const std::u16string units = test_support::Utf16Units(Bytes(std::size_t{Byte()} * 2));
    std::u16string line;
    for (int i = 0; i < (repeated ? 32 : 1); ++i)
      line += units;
    return line;
  }

  static void Queue(std::string bytes, Stream& stream) {
    bytes.resize(std::min(bytes.size(), kStreamBudget - stream.bytes.size()));
    stream.bytes += bytes;
    fake::QueueBytes(std::move(bytes));
  }
};

// The console answer the next call takes its line from, or none when it
// reads redirected input. Interrupted reads are read again.
const fake::ConsoleAnswer* ConsoleAnswerNext() {
  for (const fake::ConsoleAnswer& answer : fake::state.console_reads) {
    if (answer.kind == fake::ConsoleAnswer::kNotConsole)
      return nullptr;
    if (answer.kind == fake::ConsoleAnswer::kLine)
      return &answer;
  }
  return nullptr;
}

}  // namespace

Stream LoadScript(const std::uint8_t* data, std::size_t size) {
  return ScriptReader(data, size).Load();
}

// The redirected lines of the stream's code units, kept as places in them,
// which spares copying millions of them.
UNCOVERED ExpectedLines::ExpectedLines(const Stream& stream)
    : units_(test_support::Utf16Units(stream.bytes)),
      lines_(test_support::ReferenceLines(units_, stream.failures)) {}

// A console read is the console's next piece of at most 4,096 code units,
// without the CR LF that ends a line; Ctrl+Z alone is end of input.
std::u16string_view ExpectedLines::Next() {
  if (const fake::ConsoleAnswer* answer = ConsoleAnswerNext()) {
    console_line_ = answer->units.substr(0, kConsoleReadUnits);
    const std::size_t n = console_line_.size();
    if (n >= 2 && console_line_[n - 2] == kCr)
      console_line_.resize(n - 2);
    if (console_line_.size() == 1 && console_line_[0] == platform::kCtrlZ)
      console_line_[0] = kEndOfInput;
    return console_line_;
  }
  if (next_ < lines_.size()) {
    const test_support::LineSpan line = lines_[next_++];
    return {units_.data() + line.start, line.length};
  }
  return {&kEndOfInput, 1};
}

bool ExpectedLines::AtEnd() const {
  return next_ == lines_.size() && fake::state.console_reads.empty();
}

}  // namespace fuzz
