// ConsoleReadLine through the scripted platform (see input_script.h), on any
// byte stream split into reads anywhere, with console lines, absent consoles,
// interrupted console reads and read failures mixed in. Besides surviving it:
// - redirected lines are those of a plain split of the whole byte stream at
//   CR, LF and CR LF, whatever the read boundaries (a code unit or a CR LF
//   pair split between reads is joined), cut to the line cap;
// - a byte-order mark as the stream's first code unit is skipped;
// - a read failing with another error ends the line read so far;
// - console lines are the console's reads with their CR LF removed, and an
//   interrupted console read is read again;
// - at end of input, and at every call after it, the line is 0x0004;
// - the line is appended to the caller's text and its length returned;
// - each read asks for at most 8,192 bytes, and memory stays bounded by the
//   line cap even for a line of several million code units.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory_resource>
#include <string>
#include <string_view>

#include "console/console.h"
#include "console/line_input.h"
#include "fuzz/input_script.h"
#include "tests/fake_platform.h"
#include "tests/test_support.h"

namespace {

constexpr std::size_t kMaxReadBytes = kRoomStep * sizeof(char16_t);
// The line at the cap takes 2 MiB; its room, grown geometrically, at most
// twice that, and the old room is held while it moves: 6 MiB, and some
// slack. A line kept whole up to the 3 Mi code units of the longest stream
// would take 12 MiB.
constexpr std::size_t kMemoryBound = 7 * kLineCap;
// Runs of short lines can hold hundreds of thousands of them; checking the
// first thousand keeps every input quick.
constexpr std::size_t kMaxCalls = 1000;
// Calls checked after the end of input.
constexpr std::size_t kCallsAfterEnd = 2;

constexpr std::u16string_view kBefore = u"vorher";

[[noreturn]] void Fail(const char* what, std::size_t call) {
  std::fprintf(stderr, "%s (call %zu)\n", what, call);
  std::abort();
}

bool Same(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() &&
         (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(char16_t)) == 0);
}

void CheckCall(std::size_t call, std::u16string_view expected) {
  std::pmr::u16string out(kBefore);
  const std::size_t length = ConsoleReadLine(out);
  const std::u16string_view all(out);
  if (!all.starts_with(kBefore))
    Fail("text before the line changed", call);
  if (length != all.size() - kBefore.size())
    Fail("returned length is not the line's", call);
  if (!Same(all.substr(kBefore.size()), expected))
    Fail("line differs from the reference", call);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fake::Reset();
  fuzz::ExpectedLines expected(fuzz::LoadScript(data, size));

  test_support::TestMemory counting;
  std::pmr::memory_resource* const previous = std::pmr::set_default_resource(&counting);
  ConsoleOpen();
  std::size_t call = 0;
  for (; call < kMaxCalls && !expected.AtEnd(); ++call) {
    CheckCall(call, expected.Next());
  }
  if (call < kMaxCalls) {
    for (std::size_t after = 0; after < kCallsAfterEnd; ++after, ++call) {
      CheckCall(call, std::u16string_view(&kEndOfInput, 1));
    }
  }
  ConsoleClose();
  std::pmr::set_default_resource(previous);

  if (counting.peak_bytes() > kMemoryBound)
    Fail("memory beyond the bound of the line cap", call);
  for (const std::uint32_t asked : fake::AskedOf(fake::Op::kReadBytes)) {
    if (asked == 0 || asked > kMaxReadBytes)
      Fail("read size out of range", call);
  }
  fake::Reset();  // frees the record, so that no input looks like a leak
  return 0;
}
