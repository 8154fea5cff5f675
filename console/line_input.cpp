// Line input. At a console the console does the line editing and we take
// the finished line. Redirected input is a raw stream of UTF-16LE code units
// that we split into lines at CR, LF or CR LF ourselves, keeping what was read
// past the current line for the next call.
//
// Redirected code units stay as the stream has them, low byte first, until
// their line is taken: line ends are found in those bytes, and only the code
// units kept are put into the machine's byte order, so a big-endian machine
// never converts what it reads past the cut only to drop it.
#include "console/line_input.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <new>
#include <optional>

#include "console/console.h"
#include "platform/platform.h"

namespace {

// Code units of room added whenever fewer than kLowWater are free before a
// redirected read.
constexpr std::size_t kLowWater = 512;
// A console read lands in the room of the first reservation.
static_assert(kConsoleReadUnits <= kRoomStep);
// Past the cut a read lands on the first multiple of kReadAlign bytes at or
// after it (see ReadSpot), so at most kAlignSlack code units further on.
constexpr std::size_t kReadAlign = 64;
constexpr std::size_t kAlignSlack = kReadAlign / sizeof(char16_t) - 1;

// Redirected input read past the last line returned, low byte first. It lies
// within the data of a single read (at most kRoomStep code units), so it fits
// here.
std::array<char16_t, kRoomStep> pending;
std::size_t pending_length = 0;
// The first byte of a code unit whose second byte has not been read yet. It
// belongs right after the pending code units.
std::optional<unsigned char> odd_byte;
// The last line ended at a CR that was the last code unit read so far; a LF
// that comes next completes that CR LF and is skipped.
bool after_cr = false;
// No whole code unit of redirected input has been read yet: the next one is
// the first of the stream, where a byte-order mark is skipped.
bool at_stream_start = true;

// Where the line is read when the caller's text cannot get even the first
// reservation: the line is then cut to what that text takes without growing.
std::array<char16_t, kRoomStep> spare;

// The line being read: the caller's text from `start` on, or the spare room.
struct WorkingBuffer {
  std::pmr::u16string& text;
  std::size_t start = 0;
  char16_t* units = nullptr;
  std::size_t capacity = 0;  // code units reserved
  std::size_t length = 0;    // code units read
  // The longest line kept; the rest of a longer line is read and dropped.
  std::size_t cut = kLineCap;

  bool InSpare() const { return units == spare.data(); }

  // Makes room for `wanted` code units in all, or, when memory for that
  // cannot be had, cuts the line (and what was read of it) short instead, so
  // that the room it has leaves kLowWater code units free to read the rest
  // of the line through.
  void ReserveOrCut(std::size_t wanted) {
    if (!InSpare() && Grow(wanted))
      return;
    if (capacity < kRoomStep) {
      units = spare.data();
      capacity = kRoomStep;
    }
    cut = std::min(cut, capacity - kLowWater);
    length = std::min(length, cut);
  }

 private:
  // The string's own storage grows geometrically, so a long line costs time
  // linear in its length.
  bool Grow(std::size_t wanted) {
    ReserveUpToTheCut(wanted);
    try {
      text.resize(start + wanted);
    } catch (const std::bad_alloc&) {
      return false;
    }
    units = text.data() + start;
    capacity = wanted;
    return true;
  }

  // A line that is getting long gets room up to the cut in one step:
  // growing the string by doubling would copy it and touch fresh pages at
  // every step. Without memory for that much it grows step by step.
  void ReserveUpToTheCut(std::size_t wanted) {
    const std::size_t most = start + kLineCap + kAlignSlack + kRoomStep;
    if (wanted <= 16 * kRoomStep || text.capacity() >= most)
      return;
    try {
      text.reserve(most);
    } catch (const std::bad_alloc&) {
    }
  }
};

// Appends a line read into the spare room to `out`, as much of it as memory
// allows, and returns how much that was.
std::size_t AppendFromSpare(std::pmr::u16string& out, std::size_t length) {
  try {
    out.append(spare.data(), length);
    return length;
  } catch (const std::bad_alloc&) {
    const std::size_t fits = std::min(length, out.capacity() - out.size());
    out.append(spare.data(), fits);
    return fits;
  }
}

// A console read ends in CR LF unless it is the first part of a line too long
// for one read; only the second-to-last code unit tells.
std::size_t TrimConsoleLine(char16_t* units, std::size_t n) {
  if (n >= 2 && units[n - 2] == kCr)
    n -= 2;
  if (n == 1 && units[0] == platform::kCtrlZ)
    units[0] = kEndOfInput;
  return n;
}

// The code unit at `unit` as redirected input has it, low byte first.
char16_t StreamUnit(const char16_t& unit) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(&unit);
  return static_cast<char16_t>(bytes[0] | bytes[1] << 8);
}

bool IsLineEnd(const char16_t& unit) {
  const char16_t value = StreamUnit(unit);
  return value == kCr || value == kLf;
}

// Puts the first `length` code units, low byte first as read, into the
// machine's byte order.
void ToMachineOrder(char16_t* units, std::size_t length) {
  if constexpr (std::endian::native != std::endian::little) {
    for (std::size_t i = 0; i < length; ++i)
      units[i] = StreamUnit(units[i]);
  }
}

// Drops the first code unit of a line that holds some, when it is `unit`.
void DropLeading(WorkingBuffer& line, char16_t unit) {
  char16_t* units = line.units;
  if (StreamUnit(units[0]) != unit)
    return;
  std::memmove(units, units + 1, (line.length - 1) * sizeof(char16_t));
  --line.length;
}

void SkipLfAfterCr(WorkingBuffer& line) {
  if (!after_cr || line.length == 0)
    return;
  after_cr = false;
  DropLeading(line, kLf);
}

// Code units looked at one by one after a CR or LF byte that ends no line,
// before the byte search goes on: a run of such bytes costs no more than a
// plain loop.
constexpr std::size_t kCheckedAfterMiss = 64;

// The offset of the first byte `value` in bytes [from, to), or `to`.
std::size_t FindByte(const unsigned char* bytes, std::size_t from, std::size_t to,
                     unsigned char value) {
  const void* hit = std::memchr(bytes + from, value, to - from);
  return hit != nullptr ? static_cast<std::size_t>(static_cast<const unsigned char*>(hit) - bytes)
                        : to;
}

// The first CR or LF code unit from `from` on. The C library's memchr, which
// every machine has in a vectorised form, finds the bytes 0x0D and 0x0A; a
// byte found is a line end when it is the low byte of its code unit and the
// high byte is zero. The next LF byte is searched for again only once the
// search has passed it, so no byte is searched twice, whatever the input.
std::optional<std::size_t> FindLineEnd(const WorkingBuffer& line, std::size_t from) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(line.units);
  const std::size_t size = line.length * sizeof(char16_t);
  std::size_t k = from;
  std::size_t lf = FindByte(bytes, std::min(k * sizeof(char16_t), size), size, kLf);
  while (k < line.length) {
    const std::size_t at = k * sizeof(char16_t);
    if (lf < at)
      lf = FindByte(bytes, at, size, kLf);
    const std::size_t found = FindByte(bytes, at, lf, kCr);  // else the LF, if any
    if (found == size)
      return std::nullopt;
    k = found / sizeof(char16_t);
    const std::size_t stop = std::min(line.length, k + kCheckedAfterMiss);
    for (; k < stop; ++k) {
      if (IsLineEnd(line.units[k]))
        return k;
    }
  }
  return std::nullopt;
}

// Ends the line at the line end at `k` and keeps what follows it for the next
// call. A LF completes a CR only when it has been read already: the line is
// not held back waiting for it.
void TakeLine(WorkingBuffer& line, std::size_t k) {
  const char16_t* units = line.units;
  std::size_t next = k + 1;
  if (StreamUnit(units[k]) == kCr) {
    if (next == line.length) {
      after_cr = true;
    } else if (StreamUnit(units[next]) == kLf) {
      ++next;
    }
  }
  pending_length = line.length - next;
  std::copy_n(units + next, pending_length, pending.begin());
  line.length = std::min(k, line.cut);
}

// A byte-order mark as the stream's very first code unit (a file saved as
// "Unicode" starts with one) is no text; U+FEFF anywhere else stays. At the
// stream's start nothing was read before, so the line holds only this read.
void SkipByteOrderMark(WorkingBuffer& line) {
  at_stream_start = false;
  DropLeading(line, kByteOrderMark);
}

// Where the next read lands. Up to the cut: right after the code units read
// so far. Past it, what is read is only searched for the line end and
// dropped, so it may land anywhere, and it lands on the first 64-byte
// boundary at or after the cut. Linux on x86-64 copies a read into user
// memory markedly slower when the destination starts 1 to 31 bytes past
// where the source starts in its page (the benchmark in CONTRIBUTING.md
// shows by how much); a file read in whole blocks is read from page starts,
// and `units + cut` often lies 16 bytes past one (a large string's storage
// does). The code units skipped over are never searched.
std::size_t ReadSpot(const WorkingBuffer& line) {
  if (line.length < line.cut)
    return line.length;
  auto address = reinterpret_cast<std::uintptr_t>(line.units + line.cut);
  return line.cut + (kReadAlign - address % kReadAlign) % kReadAlign / sizeof(char16_t);
}

// Reads into the free room from `at` on (see ReadSpot). A byte held from the
// last read goes first, so a code unit split between two reads is joined
// whole.
platform::ReadStatus ReadMore(WorkingBuffer& line, std::size_t at, platform::Handle in) {
  auto* bytes = reinterpret_cast<unsigned char*>(line.units + at);
  std::size_t held = 0;
  if (odd_byte) {
    bytes[0] = *odd_byte;
    held = 1;
  }
  auto asked = static_cast<std::uint32_t>((line.capacity - at) * 2 - held);
  std::uint32_t count = 0;
  const platform::ReadStatus status = platform::ReadBytes(in, bytes + held, asked, count);
  if (status != platform::ReadStatus::kOk)
    return status;
  if (count == 0)
    return platform::ReadStatus::kEndOfInput;
  std::size_t total = held + std::min(count, asked);
  line.length = at + total / 2;
  odd_byte.reset();
  if (total % 2 != 0)
    odd_byte = bytes[total - 1];
  if (at_stream_start && line.length > 0)
    SkipByteOrderMark(line);
  return platform::ReadStatus::kOk;
}

void ReadRedirected(WorkingBuffer& line, platform::Handle in) {
  std::copy_n(pending.begin(), pending_length, line.units);
  line.length = pending_length;
  pending_length = 0;
  std::size_t scan = 0;
  for (;;) {
    SkipLfAfterCr(line);
    if (std::optional<std::size_t> k = FindLineEnd(line, scan)) {
      TakeLine(line, *k);
      ToMachineOrder(line.units, line.length);
      return;
    }
    line.length = std::min(line.length, line.cut);
    scan = ReadSpot(line);
    if (line.capacity < scan + kLowWater) {
      line.ReserveOrCut(scan + kRoomStep);
      scan = ReadSpot(line);  // the room may have moved, or the cut come closer
    }
    switch (ReadMore(line, scan, in)) {
      case platform::ReadStatus::kOk:
        break;
      case platform::ReadStatus::kEndOfInput:
        odd_byte.reset();  // half a code unit at the end is no text
        ToMachineOrder(line.units, line.length);
        if (line.length == 0) {
          line.units[0] = kEndOfInput;
          line.length = 1;
        }
        return;
      case platform::ReadStatus::kError:
        ToMachineOrder(line.units, line.length);
        return;
    }
  }
}

}  // namespace

std::size_t ConsoleReadLine(std::pmr::u16string& out) {
  WorkingBuffer line{out, out.size()};
  line.ReserveOrCut(kRoomStep);
  platform::Handle in = ConsoleInputHandle();
  platform::ConsoleSetLineMode(in);
  std::uint32_t count = 0;
  platform::ConsoleReadStatus status;
  // A read that Ctrl+C or Ctrl+Break ended is no line: it is read again,
  // while the default handling of the event ends the process.
  do {
    status = platform::ConsoleRead(in, line.units, kConsoleReadUnits, count);
  } while (status == platform::ConsoleReadStatus::kInterrupted);
  if (status == platform::ConsoleReadStatus::kLine) {
    line.length = TrimConsoleLine(line.units, std::min<std::size_t>(count, kConsoleReadUnits));
  } else {
    platform::LockEnter();
    ReadRedirected(line, in);
    platform::LockLeave();
  }
  if (line.InSpare())
    return AppendFromSpare(out, line.length);
  out.resize(line.start + line.length);
  return line.length;
}

void ConsoleResetInput() {
  pending_length = 0;
  odd_byte.reset();
  after_cr = false;
  at_stream_start = true;
}
