// Console setup and output. Text goes to the console as UTF-16 when standard
// output is one; otherwise it is written as bytes in the encoding the output
// mode names.
#include "console/console.h"

#include <bit>
#include <memory_resource>
#include <new>
#include <string>

#include "console/line_input.h"

namespace {

// Set once by ConsoleOpen; the values before it are what an unopened
// console falls back to.
std::int32_t output_mode = OutputUtf16;
platform::Handle input_handle = 0;
platform::Handle output_handle = 0;
bool lock_exists = false;
// Some output since ConsoleOpen did not arrive, for another reason than its
// reader having gone away.
bool output_lost = false;

using platform::WriteStatus;

// Converts to `page` (size first, then the conversion) and writes the bytes.
// A text that cannot be converted, or whose bytes find no memory, writes
// nothing.
WriteStatus WriteEncoded(platform::CodePage page, std::u16string_view text) {
  const std::size_t size = platform::EncodeText(page, text, nullptr, 0);
  if (size == 0)
    return WriteStatus::kLost;
  std::pmr::string bytes;
  try {
    bytes.resize(size);  // the string keeps a zero byte after them
  } catch (const std::bad_alloc&) {
    return WriteStatus::kLost;
  }
  const std::size_t converted = platform::EncodeText(page, text, bytes.data(), size);
  if (converted == 0)
    return WriteStatus::kLost;
  return platform::WriteBytes(output_handle, bytes.data(), converted);
}

// Writes the code units low byte first, whatever the machine's byte order:
// as they are in memory on a little-endian machine, from a copy elsewhere.
// Without memory for the copy nothing is written.
WriteStatus WriteUtf16(std::u16string_view text) {
  if constexpr (std::endian::native == std::endian::little) {
    return platform::WriteBytes(output_handle, text.data(), text.size() * sizeof(char16_t));
  } else {
    std::pmr::string bytes;
    try {
      bytes.reserve(text.size() * sizeof(char16_t));
    } catch (const std::bad_alloc&) {
      return WriteStatus::kLost;
    }
    for (const char16_t unit : text) {
      bytes.push_back(static_cast<char>(unit & 0xFF));
      bytes.push_back(static_cast<char>(unit >> 8));
    }
    return platform::WriteBytes(output_handle, bytes.data(), bytes.size());
  }
}

// Writes `text` as bytes in the encoding the output mode names. An empty
// text has no bytes, and no write is made for it.
WriteStatus WriteRedirected(std::u16string_view text) {
  if (text.empty())
    return WriteStatus::kWritten;
  switch (output_mode) {
    case OutputUtf8:
      return WriteEncoded(platform::CodePage::kUtf8, text);
    case OutputAnsi:
      return WriteEncoded(platform::CodePage::kAnsi, text);
    default:
      return WriteUtf16(text);
  }
}

// The one write path of ConsolePrint and ConsolePrintLine. A failed write is
// not repeated; one that loses output is remembered.
void ConsoleWriteText(std::u16string_view text) {
  std::optional<WriteStatus> status = platform::ConsoleWrite(output_handle, text);
  if (!status)
    status = WriteRedirected(text);
  if (*status == WriteStatus::kLost)
    output_lost = true;
}

}  // namespace

int ConsoleOpen(std::optional<std::u16string_view> title, std::int32_t mode) {
  ConsoleResetInput();
  output_lost = false;
  output_mode = mode;
  input_handle = platform::StandardInput();
  output_handle = platform::StandardOutput();
  platform::RegisterControlHandler(ConsoleControlHandler);
  if (title)
    platform::SetTitle(*title);
  if (!lock_exists) {
    platform::LockCreate();
    lock_exists = true;
  }
  return 1;
}

int ConsoleSetTitle(std::u16string_view title) {
  return platform::SetTitle(title) ? 1 : 0;
}

void ConsoleSetColor(std::int32_t foreground, std::int32_t background) {
  if (foreground >= 16 || background >= 16)
    return;
  // Negative values pass the check above; the attribute is then the low
  // 16 bits of the same OR, computed on unsigned values so nothing overflows.
  auto fg = static_cast<std::uint32_t>(foreground);
  auto bg = static_cast<std::uint32_t>(background);
  platform::SetTextAttribute(output_handle, static_cast<std::uint16_t>((bg << 4) | fg));
}

void ConsolePrint(std::optional<std::u16string_view> text) {
  if (text)
    ConsoleWriteText(*text);
}

void ConsolePrintLine(std::optional<std::u16string_view> text) {
  const std::u16string_view body = text.value_or(std::u16string_view{});
  constexpr std::u16string_view kLineEnd = u"\r\n";
  std::pmr::u16string line;
  try {
    line.reserve(body.size() + kLineEnd.size());
  } catch (const std::bad_alloc&) {
    // Without memory for the copy the line is neither written nor flushed.
    output_lost = true;
    return;
  }
  line += body;
  line += kLineEnd;
  ConsoleWriteText(line);
  if (!platform::Flush(output_handle))
    output_lost = true;
}

void ConsoleClose() {
  if (!lock_exists)
    return;
  platform::LockDelete();
  lock_exists = false;
  // While standard output is still open. What becomes of these sequences
  // says nothing about the dialogue, so it does not count as lost output.
  platform::RestoreConsole();
  if (!platform::CloseOutput(output_handle))
    output_lost = true;
}

std::uint32_t ConsoleControlHandler(std::uint32_t /*event*/) {
  return 0;
}

bool ConsoleOutputLost() {
  return output_lost;
}

platform::Handle ConsoleInputHandle() {
  return input_handle;
}
