// Console setup and output. Text goes to the console as UTF-16 when standard
// output is one; otherwise it is written as bytes in the encoding the output
// mode names.
#include "console/console.h"

#include <memory_resource>
#include <string>

#include "console/line_input.h"

namespace {

// Set once by ConsoleOpen; the values before it are what an unopened
// console falls back to.
std::int32_t output_mode = OutputUtf16;
platform::Handle input_handle = 0;
platform::Handle output_handle = 0;
// Whether ConsolePrintLine flushes: only where flushing cannot wait on
// another process (a file on disk), decided once by ConsoleOpen.
bool flush_matters = false;
bool lock_exists = false;

void WriteBytesIfAny(const void* bytes, std::size_t size) {
  if (size > 0)
    platform::WriteBytes(output_handle, bytes, size);
}

// Converts to `page` (size first, then the conversion) and writes the bytes.
// A text that cannot be converted writes nothing.
void WriteEncoded(platform::CodePage page, std::u16string_view text) {
  std::size_t size = platform::EncodeText(page, text, nullptr, 0);
  if (size == 0)
    return;
  std::pmr::string bytes(size, '\0');  // the string keeps a zero byte after them
  std::size_t written = platform::EncodeText(page, text, bytes.data(), size);
  WriteBytesIfAny(bytes.data(), written);
}

// The one write path of ConsolePrint and ConsolePrintLine. Neither a failed
// nor a short byte write is repeated or reported.
void ConsoleWriteText(std::u16string_view text) {
  if (platform::ConsoleWrite(output_handle, text))
    return;
  switch (output_mode) {
    case OutputUtf8:
      WriteEncoded(platform::CodePage::kUtf8, text);
      break;
    case OutputAnsi:
      WriteEncoded(platform::CodePage::kAnsi, text);
      break;
    default:  // UTF-16 code units as they are in memory: low byte first
      WriteBytesIfAny(text.data(), text.size() * sizeof(char16_t));
      break;
  }
}

}  // namespace

int ConsoleOpen(std::optional<std::u16string_view> title, std::int32_t mode) {
  ConsoleResetInput();
  output_mode = mode;
  input_handle = platform::StandardInput();
  output_handle = platform::StandardOutput();
  flush_matters = platform::FlushMatters(output_handle);
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
  std::pmr::u16string line(text.value_or(std::u16string_view{}));
  line += u"\r\n";
  ConsoleWriteText(line);
  if (flush_matters)
    platform::Flush(output_handle);
}

void ConsoleClose() {
  if (!lock_exists)
    return;
  platform::LockDelete();
  lock_exists = false;
}

std::uint32_t ConsoleControlHandler(std::uint32_t /*event*/) {
  return 0;
}

platform::Handle ConsoleInputHandle() {
  return input_handle;
}
