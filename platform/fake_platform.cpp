// The scripted platform for tests: see fake_platform.h.
#include "platform/fake_platform.h"

#include <algorithm>
#include <cstring>

#include "platform/cp1252.h"
#include "platform/unicode.h"
#include "tests/test_support.h"

namespace fake {

State state;

namespace {

Call& Record(std::string name, platform::Handle handle = 0) {
  Call& call = state.calls.emplace_back();
  call.name = std::move(name);
  call.handle = handle;
  return call;
}

// The answer to the next write, console or bytes.
WriteAnswer NextWrite() {
  if (state.writes.empty())
    return state.later_writes;
  const WriteAnswer answer = state.writes.front();
  state.writes.pop_front();
  return answer;
}

}  // namespace

void Reset() {
  state = State{};
}

void QueueUtf16(std::u16string_view units) {
  QueueBytes(test_support::Utf16Bytes(units));
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

void AnswerWrite(std::size_t nth, WriteAnswer answer, Times times) {
  state.writes.assign(nth - 1, WriteAnswer{});
  if (times == Times::kOnce) {
    state.writes.push_back(answer);
  } else {
    state.later_writes = answer;
  }
}

std::vector<std::uint32_t> AskedOf(std::string_view name) {
  std::vector<std::uint32_t> asked;
  for (const Call& call : state.calls) {
    if (call.name == name)
      asked.push_back(call.asked);
  }
  return asked;
}

std::size_t CountOf(std::string_view name) {
  return static_cast<std::size_t>(std::count_if(
      state.calls.begin(), state.calls.end(), [&](const Call& call) { return call.name == name; }));
}

std::string WrittenBytes() {
  std::string bytes;
  for (const Call& call : state.calls)
    bytes.append(call.bytes, 0, call.taken);
  return bytes;
}

}  // namespace fake

namespace platform {

using fake::NextWrite;
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
  return NextWrite().status;
}

void ConsoleSetLineMode(Handle in) {
  Record("ConsoleSetLineMode", in);
}

ConsoleReadStatus ConsoleRead(Handle in, char16_t* buffer, std::uint32_t capacity,
                              std::uint32_t& count) {
  Record("ConsoleRead", in).asked = capacity;
  count = 0;
  if (state.console_reads.empty())
    return ConsoleReadStatus::kNotConsole;
  switch (state.console_reads.front().kind) {
    case fake::ConsoleAnswer::kNotConsole:
      state.console_reads.pop_front();
      return ConsoleReadStatus::kNotConsole;
    case fake::ConsoleAnswer::kInterrupted:
      state.console_reads.pop_front();
      return ConsoleReadStatus::kInterrupted;
    case fake::ConsoleAnswer::kLine:
      break;
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
  Record("ReadBytes", in).asked = size;
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

void WaitForInput(Handle in) {
  Record("WaitForInput", in);
}

WriteStatus WriteBytes(Handle out, const void* bytes, std::size_t size, std::size_t& written) {
  fake::Call& call = Record("WriteBytes", out);
  call.bytes.assign(static_cast<const char*>(bytes), size);
  const fake::WriteAnswer answer = NextWrite();
  written = answer.status == WriteStatus::kWritten ? std::min(size, answer.taken) : 0;
  call.taken = written;
  return answer.status;
}

void WaitForOutput(Handle out) {
  Record("WaitForOutput", out);
}

bool Flush(Handle out) {
  Record("Flush", out);
  return state.flush_ok;
}

bool CloseOutput(Handle out) {
  Record("CloseOutput", out);
  return state.close_ok;
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
  Record("SetTextAttribute", out).attribute = attribute;
  return state.attribute_ok;
}

// The real conversions: an unpaired surrogate becomes U+FFFD in UTF-8, and
// the ANSI code page is Windows-1252.
std::size_t EncodeText(CodePage page, std::u16string_view text, char* bytes, std::size_t size) {
  Record(page == CodePage::kUtf8 ? "EncodeText(utf8)" : "EncodeText(ansi)");
  if (page == CodePage::kAnsi)
    return EncodeCp1252(text, bytes, size);
  return bytes == nullptr ? Utf8Size(text) : ConvertToUtf8(text, bytes, size);
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
