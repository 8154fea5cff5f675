// The whole run through the scripted platform, on any input (see
// input_script.h; the first input byte says whether the output goes to a
// console, whether title and colour can be set, and what becomes of every
// write or of one of them). Besides surviving it, the run must return 1 when writes lose
// output and 0 otherwise, and show, in this order: the banner, the prompt, a
// read, exactly one report line of its four pieces, the closing message and
// a last read. The report shows the first line as the wavelength, narrowed
// to single precision with two decimals, and a brightness with three
// decimals: on the curve (380 to 780 nm) between 0.5 and 99.5, 0.000 off it.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "calculator/run.h"
#include "fuzz/input_script.h"
#include "tests/fake_platform.h"
#include "tests/test_support.h"
#include "text/number_text.h"
#include "text/unicode.h"

namespace {

// Stands for a read in the transcript; no UTF-8 text holds this byte.
constexpr char kRead = '\xFF';

using test_support::kReportMiddle;

// The transcript up to the report's wavelength, and after its brightness.
struct Frame {
  std::string opening;
  std::string closing;
};

Frame DialogueFrame() {
  const std::vector<std::string> writes = test_support::DialogueWrites("", "");
  Frame frame;
  for (std::size_t i = 0; i < test_support::kReportWrite; ++i) {
    frame.opening += writes[i];
    if (i == test_support::kPromptWrite)
      frame.opening += kRead;
  }
  frame.opening += test_support::kReportStart;
  frame.closing = "\r\n";  // the report line's end
  for (std::size_t i = test_support::kReportWrite + 1; i < writes.size(); ++i)
    frame.closing += writes[i];
  frame.closing += kRead;
  return frame;
}

[[noreturn]] void Fail(const char* what, const std::string& transcript) {
  std::fprintf(stderr, "%s; transcript:\n%s\n", what, transcript.c_str());
  std::abort();
}

std::string Utf8(std::u16string_view text) {
  std::string bytes(EncodeUtf8(text, nullptr, 0), '\0');
  EncodeUtf8(text, bytes.data(), bytes.size());
  return bytes;
}

// What the user sees, in UTF-8, with a mark for each read.
std::string Transcript(bool console_output) {
  std::string transcript;
  for (const fake::Call& call : fake::state.calls) {
    if (call.op == fake::Op::kConsoleSetLineMode) {
      transcript += kRead;
    } else if (call.op == fake::Op::kConsoleWrite && console_output) {
      transcript += Utf8(call.text);
    } else if (call.op == fake::Op::kWriteBytes) {
      transcript += call.bytes;
    }
  }
  return transcript;
}

std::string Ascii(std::u16string_view text) {
  std::string ascii;
  for (const char16_t c : text)
    ascii.push_back(static_cast<char>(c));
  return ascii;
}

bool IsFixed(std::string_view text, std::size_t decimals) {
  const std::size_t point = text.find('.');
  if (point == std::string_view::npos || text.size() - point - 1 != decimals)
    return false;
  const std::size_t first = text.starts_with('-') ? 1 : 0;
  if (point == first)
    return false;
  for (std::size_t i = first; i < text.size(); ++i) {
    if (i != point && (text[i] < '0' || text[i] > '9'))
      return false;
  }
  return true;
}

void CheckReport(std::string_view wavelength_text, std::string_view brightness_text,
                 double wavelength, const std::string& transcript) {
  std::pmr::u16string shown;
  FormatFloat(NarrowToFloat(wavelength), 2, shown);
  if (wavelength_text != Ascii(shown))
    Fail("wavelength is not the line read", transcript);
  if (!IsFixed(brightness_text, 3))
    Fail("brightness is no number of 3 decimals", transcript);
  if (wavelength >= 380.0 && wavelength <= 780.0) {
    const double brightness = std::strtod(std::string(brightness_text).c_str(), nullptr);
    if (!(brightness >= 0.5 && brightness <= 99.5))
      Fail("brightness off the curve", transcript);
  } else if (brightness_text != "0.000") {
    Fail("brightness beside the curve", transcript);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0)
    return 0;
  fake::Reset();
  fake::state.console_write_ok = (data[0] & 1) != 0;
  fake::state.title_ok = (data[0] & 2) != 0;
  fake::state.attribute_ok = (data[0] & 4) != 0;
  constexpr platform::WriteStatus kWriteStatuses[] = {
      platform::WriteStatus::kWritten, platform::WriteStatus::kReaderGone,
      platform::WriteStatus::kLost, platform::WriteStatus::kWritten};
  // Every write, or (for 1 to 7) that one write alone; a run makes nine.
  const platform::WriteStatus answer = kWriteStatuses[(data[0] >> 3) & 3];
  const std::size_t nth = (data[0] >> 5) & 7;
  if (nth == 0) {
    fake::state.later_writes = answer;
  } else {
    fake::AnswerWrite(nth, answer);
  }
  const int exit_code = answer == platform::WriteStatus::kLost ? 1 : 0;
  fuzz::ExpectedLines expected(fuzz::LoadScript(data + 1, size - 1));
  const std::u16string first_line(expected.Next());

  if (Run() != exit_code)
    Fail("wrong exit code", "");

  static const Frame frame = DialogueFrame();
  const std::string transcript = Transcript(fake::state.console_write_ok);
  const std::string_view rest(transcript);
  if (!rest.starts_with(frame.opening))
    Fail("opening differs", transcript);
  if (!rest.ends_with(frame.closing))
    Fail("closing differs", transcript);
  const std::string_view report =
      rest.substr(frame.opening.size(), rest.size() - frame.opening.size() - frame.closing.size());
  const std::size_t middle = report.find(kReportMiddle);
  if (middle == std::string_view::npos)
    Fail("no report line", transcript);
  CheckReport(report.substr(0, middle), report.substr(middle + kReportMiddle.size()),
              ParseDouble(first_line), transcript);

  fake::Reset();  // frees the record, so that no input looks like a leak
  return 0;
}
