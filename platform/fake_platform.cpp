// The scripted platform for tests: see fake_platform.h.
#include "platform/fake_platform.h"

#include <algorithm>
#include <cstring>

#include "platform/unicode.h"

namespace fake {

State state;

namespace {

Call& Record(std::string name, platform::Handle handle = 0, std::uint32_t size = 0) {
  state.calls.push_back(Call{std::move(name), handle, size, {}, {}});
  return state.calls.back();
}

std::string ToUtf8(std::u16string_view text) {
  // The real conversion: an unpaired surrogate becomes U+FFFD.
  std::string out(platform::Utf8Size(text), '\0');
  platform::ConvertToUtf8(text, out.data(), out.size());
  return out;
}

// Western European single bytes: ASCII and Latin-1 letters map to
// themselves, everything else becomes '?'.
std::string ToAnsi(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) {
    bool single = c < 0x80 || (c >= 0xA0 && c <= 0xFF);
    out.push_back(single ? static_cast<char>(c) : '?');
  }
  return out;
}

}  // namespace

void Reset() {
  state = State{};
}

void QueueUtf16(std::u16string_view units) {
  QueueBytes(Utf16Bytes(units));
}

void QueueBytes(std::string bytes) {
  if (bytes.empty())
    return;  // a successful read brings at least one byte
  state.byte_reads.push_back(ByteAnswer{platform::ReadStatus::kOk, std::move(bytes), 0});
}

void QueueStatus(platform::ReadStatus status) {
  state.byte_reads.push_back(ByteAnswer{status, {}, 0});
}

std::vector<std::string> CallNames() {
  std::vector<std::string> names;
  for (const Call& call : state.calls)
    names.push_back(call.name);
  return names;
}

std::vector<std::uint32_t> SizesOf(std::string_view name) {
  std::vector<std::uint32_t> sizes;
  for (const Call& call : state.calls) {
    if (call.name == name)
      sizes.push_back(call.size);
  }
  return sizes;
}

std::size_t CountOf(std::string_view name) {
  return static_cast<std::size_t>(std::count_if(
      state.calls.begin(), state.calls.end(), [&](const Call& call) { return call.name == name; }));
}

std::string WrittenBytes() {
  std::string bytes;
  for (const Call& call : state.calls)
    bytes += call.bytes;
  return bytes;
}

std::string Utf16Bytes(std::u16string_view units) {
  std::string bytes;
  for (char16_t unit : units) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

}  // namespace fake

namespace platform {

using fake::Record;
using fake::state;

Handle StandardInput() {
  Record("StandardInput");
  return fake::kInput;
}

Handle StandardOutput() {
  Record("StandardOutput");
  return fake::kOutput;
}

std::optional<WriteStatus> ConsoleWrite(Handle out, std::u16string_view text) {
  Record("ConsoleWrite", out).text = text;
  if (!state.console_write_ok)
    return std::nullopt;
  return state.write_status;
}

void ConsoleSetLineMode(Handle in) {
  Record("ConsoleSetLineMode", in);
}

ConsoleReadStatus ConsoleRead(Handle in, char16_t* buffer, std::uint32_t capacity,
                              std::uint32_t& count) {
  Record("ConsoleRead", in, capacity);
  count = 0;
  if (state.console_reads.empty() || !state.console_reads.front().is_console) {
    if (!state.console_reads.empty())
      state.console_reads.pop_front();
    return ConsoleReadStatus::kNotConsole;
  }
  if (state.console_reads.front().interrupted) {
    state.console_reads.pop_front();
    return ConsoleReadStatus::kInterrupted;
  }
  std::u16string& units = state.console_reads.front().units;
  std::size_t n = std::min<std::size_t>(capacity, units.size());
  std::copy_n(units.begin(), n, buffer);
  units.erase(0, n);
  if (units.empty())
    state.console_reads.pop_front();
  count = static_cast<std::uint32_t>(n);
  return ConsoleReadStatus::kLine;
}

ReadStatus ReadBytes(Handle in, void* buffer, std::uint32_t size, std::uint32_t& count) {
  Record("ReadBytes", in, size);
  count = 0;
  if (state.byte_reads.empty())
    return ReadStatus::kEndOfFile;
  fake::ByteAnswer& answer = state.byte_reads.front();
  if (answer.status != ReadStatus::kOk) {
    ReadStatus status = answer.status;
    state.byte_reads.pop_front();
    return status;
  }
  std::size_t n = std::min<std::size_t>(size, answer.bytes.size() - answer.taken);
  std::memcpy(buffer, answer.bytes.data() + answer.taken, n);
  answer.taken += n;
  if (answer.taken == answer.bytes.size())
    state.byte_reads.pop_front();
  count = static_cast<std::uint32_t>(n);
  return ReadStatus::kOk;
}

WriteStatus WriteBytes(Handle out, const void* bytes, std::size_t size) {
  Record("WriteBytes", out, static_cast<std::uint32_t>(size))
      .bytes.assign(static_cast<const char*>(bytes), size);
  return state.write_status;
}

void Flush(Handle out) {
  Record("Flush", out);
}

bool FlushMatters(Handle out) {
  Record("FlushMatters", out);
  return state.flush_matters;
}

bool SetTitle(std::u16string_view title) {
  Record("SetTitle").text = title;
  return state.title_ok;
}

bool SetTextAttribute(Handle out, std::uint16_t attribute) {
  Record("SetTextAttribute", out, attribute);
  return state.attribute_ok;
}

std::size_t EncodeText(CodePage page, std::u16string_view text, char* bytes, std::size_t size) {
  Record(page == CodePage::kUtf8 ? "EncodeText(utf8)" : "EncodeText(ansi)", 0,
         static_cast<std::uint32_t>(size));
  std::string encoded = page == CodePage::kUtf8 ? fake::ToUtf8(text) : fake::ToAnsi(text);
  if (bytes == nullptr)
    return encoded.size();
  if (size < encoded.size())
    return 0;
  std::memcpy(bytes, encoded.data(), encoded.size());
  return encoded.size();
}

void RegisterControlHandler(ControlHandler handler) {
  Record("RegisterControlHandler");
  state.handler = handler;
}

void LockCreate() {
  Record("LockCreate");
}
void LockEnter() {
  Record("LockEnter");
}
void LockLeave() {
  Record("LockLeave");
}
void LockDelete() {
  Record("LockDelete");
}

}  // namespace platform
