// The scripted platform for tests: see fake_platform.h.
#include "tests/fake_platform.h"

#include <algorithm>
#include <cstring>
#include <ostream>

#include "tests/test_support.h"
#include "text/cp1252.h"
#include "text/unicode.h"

namespace fake {

State state;

namespace {

Call& Record(Op op, platform::Handle handle = 0) {
  Call& call = state.calls.emplace_back();
  call.op = op;
  call.handle = handle;
  return call;
}

// The answer to the next write, console or bytes.
platform::WriteStatus NextWrite() {
  if (state.writes.empty())
    return state.later_writes;
  const platform::WriteStatus status = state.writes.front();
  state.writes.pop_front();
  return status;
}

}  // namespace

void PrintTo(Op op, std::ostream* os) {
  static constexpr const char* kNames[] = {
      "StandardInput",    "StandardOutput",
      "ConsoleWrite",     "ConsoleSetLineMode",
      "ConsoleRead",      "ReadBytes",
      "WriteBytes",       "Flush",
      "CloseOutput",      "SetTitle",
      "SetTextAttribute", "RestoreConsole",
      "EncodeText",       "RegisterControlHandler",
      "LockCreate",       "LockEnter",
      "LockLeave",        "LockDelete",
  };
  static_assert(std::size(kNames) == static_cast<std::size_t>(Op::kLockDelete) + 1);
  *os << kNames[static_cast<std::size_t>(op)];
}

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

void AnswerWrite(std::size_t nth, platform::WriteStatus status, Times times) {
  state.writes.assign(nth - 1, platform::WriteStatus::kWritten);
  if (times == Times::kOnce) {
    state.writes.push_back(status);
  } else {
    state.later_writes = status;
  }
}

std::vector<Op> Ops() {
  std::vector<Op> ops;
  for (const Call& call : state.calls)
    ops.push_back(call.op);
  return ops;
}

std::vector<std::uint32_t> AskedOf(Op op) {
  std::vector<std::uint32_t> asked;
  for (const Call& call : state.calls) {
    if (call.op == op)
      asked.push_back(call.asked);
  }
  return asked;
}

std::size_t CountOf(Op op) {
  return static_cast<std::size_t>(std::count_if(state.calls.begin(), state.calls.end(),
                                                [op](const Call& call) { return call.op == op; }));
}

std::string WrittenBytes() {
  std::string bytes;
  for (const Call& call : state.calls) {
    if (call.arrived)
      bytes += call.bytes;
  }
  return bytes;
}

}  // namespace fake

namespace platform {

using fake::NextWrite;
using fake::Op;
using fake::Record;
using fake::state;

Handle StandardInput() {
  Record(Op::kStandardInput);
  return fake::kInput;
}

Handle StandardOutput() {
  Record(Op::kStandardOutput);
  return fake::kOutput;
}

std::optional<WriteStatus> ConsoleWrite(Handle out, std::u16string_view text) {
  Record(Op::kConsoleWrite, out).text = text;
  if (!state.console_write_ok)
    return std::nullopt;
  return NextWrite();
}

void ConsoleSetLineMode(Handle in) {
  Record(Op::kConsoleSetLineMode, in);
}

ConsoleReadStatus ConsoleRead(Handle in, char16_t* buffer, std::uint32_t capacity,
                              std::uint32_t& count) {
  Record(Op::kConsoleRead, in).asked = capacity;
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
  Record(Op::kReadBytes, in).asked = size;
  count = 0;
  if (state.byte_reads.empty())
    return ReadStatus::kEndOfInput;
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
  fake::Call& call = Record(Op::kWriteBytes, out);
  call.bytes.assign(static_cast<const char*>(bytes), size);
  const WriteStatus status = NextWrite();
  call.arrived = status == WriteStatus::kWritten;
  return status;
}

bool Flush(Handle out) {
  Record(Op::kFlush, out);
  return state.flush_ok;
}

bool CloseOutput(Handle out) {
  Record(Op::kCloseOutput, out);
  return state.close_ok;
}

bool SetTitle(std::u16string_view title) {
  Record(Op::kSetTitle).text = title;
  return state.title_ok;
}

bool SetTextAttribute(Handle out, std::uint16_t attribute) {
  Record(Op::kSetTextAttribute, out).attribute = attribute;
  return state.attribute_ok;
}

void RestoreConsole() {
  Record(Op::kRestoreConsole);
}

// The real conversions: an unpaired surrogate becomes U+FFFD in UTF-8, and
// the ANSI code page is Windows-1252.
std::size_t EncodeText(CodePage page, std::u16string_view text, char* bytes, std::size_t size) {
  Record(Op::kEncodeText).page = page;
  return page == CodePage::kAnsi ? EncodeCp1252(text, bytes, size) : EncodeUtf8(text, bytes, size);
}

void RegisterControlHandler(ControlHandler handler) {
  Record(Op::kRegisterControlHandler);
  state.handler = handler;
}

void LockCreate() {
  Record(Op::kLockCreate);
}
void LockEnter() {
  Record(Op::kLockEnter);
}
void LockLeave() {
  Record(Op::kLockLeave);
}
void LockDelete() {
  Record(Op::kLockDelete);
}

}  // namespace platform
