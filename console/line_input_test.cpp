#include "console/line_input.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "console/console.h"
#include "tests/fake_platform.h"
#include "tests/test_support.h"

namespace {

using platform::ReadStatus;
using Lines = std::vector<std::u16string>;
using Sizes = std::vector<std::uint32_t>;
using Ops = std::vector<fake::Op>;
using enum fake::Op;

const std::u16string kEnd(1, kEndOfInput);

// Reads one line after some text already in the caller's string, and checks
// that the line was appended and its length returned.
std::u16string ReadLine() {
  const std::u16string_view before = u"vorher";
  std::pmr::u16string out(before);
  std::size_t length = ConsoleReadLine(out);
  EXPECT_EQ(out.size(), before.size() + length);
  EXPECT_EQ(out.substr(0, before.size()), before);
  return std::u16string(out.substr(before.size()));
}

Lines ReadLines(std::size_t count) {
  Lines lines;
  for (std::size_t i = 0; i < count; ++i)
    lines.push_back(ReadLine());
  return lines;
}

Lines WithEnd(Lines lines, std::size_t ends = 2) {
  lines.insert(lines.end(), ends, kEnd);
  return lines;
}

class LineInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::Reset();
    ConsoleOpen();
    fake::state.calls.clear();
  }
  void TearDown() override { ConsoleClose(); }
};

// --- Console ---------------------------------------------------------------

struct ConsoleCase {
  std::u16string read;
  std::u16string line;
};

TEST_F(LineInputTest, ConsoleLines) {
  const ConsoleCase cases[] = {
      {u"550\r\n", u"550"},
      {u"\r\n", u""},
      {u"\x1A\r\n", kEnd},
      {u"\x1A", kEnd},
      {u"\x1Ax\r\n", u"\x1Ax"},
      {u"ab\rc", u"ab"},  // only the second-to-last code unit is looked at
      {u"ab\r", u"ab\r"},
      {std::u16string(4096, u'x'), std::u16string(4096, u'x')},
      {u"\uFEFF5\r\n", u"\uFEFF5"},  // typed text is never a byte-order mark
  };
  for (const ConsoleCase& c : cases) {
    fake::state.console_reads.push_back({fake::ConsoleAnswer::kLine, c.read});
    fake::state.calls.clear();
    EXPECT_EQ(ReadLine(), c.line);
    EXPECT_EQ(fake::Ops(), (Ops{kConsoleSetLineMode, kConsoleRead}));
    EXPECT_EQ(fake::AskedOf(kConsoleRead), Sizes{4096});
    EXPECT_EQ(fake::state.calls[0].handle, fake::kInput);
  }
}

TEST_F(LineInputTest, ConsoleLineOf4095KeepsItsCrAndTheNextCallGivesTheLf) {
  fake::state.console_reads.push_back(
      {fake::ConsoleAnswer::kLine, std::u16string(4095, u'x') + u"\r\n"});
  EXPECT_EQ(ReadLine(), std::u16string(4095, u'x') + u"\r");
  EXPECT_EQ(ReadLine(), u"\n");
}

TEST_F(LineInputTest, InterruptedConsoleReadIsReadAgain) {
  // Ctrl+C at the prompt: no line, and no fall through to redirected input.
  fake::state.console_reads = {{fake::ConsoleAnswer::kInterrupted, {}},
                               {fake::ConsoleAnswer::kInterrupted, {}},
                               {fake::ConsoleAnswer::kLine, u"550\r\n"}};
  fake::QueueUtf16(u"x\r\n");
  EXPECT_EQ(ReadLine(), u"550");
  EXPECT_EQ(fake::Ops(), (Ops{kConsoleSetLineMode, kConsoleRead, kConsoleRead, kConsoleRead}));
}

TEST_F(LineInputTest, ConsoleLeavesPendingInputAlone) {
  fake::state.console_reads = {{fake::ConsoleAnswer::kNotConsole, {}},
                               {fake::ConsoleAnswer::kLine, u"x\r\n"},
                               {fake::ConsoleAnswer::kNotConsole, {}}};
  fake::QueueUtf16(u"1\r\n2\r\n");
  EXPECT_EQ(ReadLines(3), (Lines{u"1", u"x", u"2"}));
  EXPECT_EQ(fake::CountOf(kReadBytes), 1u);
}

// --- Redirected: splitting -------------------------------------------------

struct SplitCase {
  std::u16string input;
  Lines lines;  // then end of input
};

TEST_F(LineInputTest, RedirectedLinesEndAtCrLfOrCrLf) {
  const std::u16string a62(62, u'a');
  const SplitCase cases[] = {
      {u"a\rb", {u"a", u"b"}},
      {u"a\r\n\r\nb", {u"a", u"", u"b"}},
      {u"a\n\rb", {u"a", u"", u"b"}},
      {u"1\r\n2\r\n", {u"1", u"2"}},
      {u"\r\r\n\n", {u"", u"", u""}},
      {u"", {}},
      {u"\x1A\r\n", {u"\x1A"}},  // Ctrl+Z means nothing here
      // A byte-order mark is skipped as the stream's first code unit only.
      {u"\uFEFFa\r\n", {u"a"}},
      {u"\uFEFF", {}},
      {u"\uFEFF\uFEFFa\r\n\uFEFFb", {u"\uFEFFa", u"\uFEFFb"}},
      {std::u16string(u"a\r\nb\0c\r\n", 8), {u"a", std::u16string(u"b\0c", 3)}},
      // Code units whose high byte is CR or LF: the byte search stops at them,
      // and the 64 units after such a stop are looked at one by one, so the
      // LF byte of U+0A41 lies just behind where the search goes on.
      {u"\u0D41" + a62 + u"\u0A41xy\nz\r\n", {u"\u0D41" + a62 + u"\u0A41xy", u"z"}},
      {u"\u0D41" + a62 + u"\u0A41\nz\r\n", {u"\u0D41" + a62 + u"\u0A41", u"z"}},
  };
  for (const SplitCase& c : cases) {
    SetUp();
    fake::QueueUtf16(c.input);
    Lines expected = WithEnd(c.lines);
    EXPECT_EQ(ReadLines(expected.size()), expected);
  }
}

TEST_F(LineInputTest, PendingLinesAreServedWithoutReading) {
  fake::QueueUtf16(u"1\r\n2\r\n");
  EXPECT_EQ(ReadLine(), u"1");
  EXPECT_EQ(fake::CountOf(kReadBytes), 1u);
  EXPECT_EQ(ReadLine(), u"2");
  EXPECT_EQ(fake::CountOf(kReadBytes), 1u);
  EXPECT_EQ(ReadLine(), kEnd);
  EXPECT_EQ(fake::CountOf(kReadBytes), 2u);
  EXPECT_EQ(fake::CountOf(kLockEnter), 3u);
  EXPECT_EQ(fake::CountOf(kLockLeave), 3u);
  EXPECT_EQ(fake::Ops().back(), kLockLeave);
}

TEST_F(LineInputTest, EightBitTextIsReadAsCodeUnitPairs) {
  fake::QueueBytes("12\r\n");
  EXPECT_EQ(ReadLines(2), (Lines{u"\u3231\u0A0D", kEnd}));
}

struct EndCase {
  std::u16string text;
  ReadStatus status;
  std::u16string after;  // the bytes of the reads after it
  Lines lines;
};

TEST_F(LineInputTest, EndOfInputAndReadErrors) {
  const EndCase cases[] = {
      {u"", ReadStatus::kEndOfInput, u"", {kEnd, kEnd, kEnd}},
      {u"ab", ReadStatus::kEndOfInput, u"", {u"ab", kEnd, kEnd}},
      {u"", ReadStatus::kError, u"", {u"", kEnd}},  // no usable input: an empty line at once
      {u"ab", ReadStatus::kError, u"", {u"ab", kEnd}},
      // An error ends the line read so far; the next call reads on.
      {u"ab", ReadStatus::kError, u"cd\r\n", {u"ab", u"cd", kEnd}},
  };
  for (const EndCase& c : cases) {
    SetUp();
    fake::QueueUtf16(c.text);
    fake::QueueStatus(c.status);
    fake::QueueUtf16(c.after);
    EXPECT_EQ(ReadLines(c.lines.size()), c.lines);
  }
}

// --- Redirected: read sizes ------------------------------------------------

TEST_F(LineInputTest, RoomGrowsOnlyWhenFewerThan512AreFree) {
  const std::pair<std::size_t, std::uint32_t> cases[] = {{3584, 1024}, {3585, 8192}};
  for (auto [first, second_read] : cases) {
    SetUp();
    fake::QueueUtf16(std::u16string(first, u'x'));
    fake::QueueUtf16(u"y\n");
    EXPECT_EQ(ReadLine(), std::u16string(first, u'x') + u"y");
    EXPECT_EQ(fake::AskedOf(kReadBytes), (Sizes{8192, second_read}));
  }
}

TEST_F(LineInputTest, LongLineIsReadWholeInBlocks) {
  // 10,000 code units and CR LF, arriving 3,000 bytes at a time.
  std::string bytes = test_support::Utf16Bytes(std::u16string(10'000, u'x') + u"\r\n");
  for (std::size_t at = 0; at < bytes.size(); at += 3000)
    fake::QueueBytes(bytes.substr(at, 3000));
  EXPECT_EQ(ReadLine(), std::u16string(10'000, u'x'));
  EXPECT_EQ(fake::AskedOf(kReadBytes),
            (Sizes{8192, 5192, 2192, 8192, 7384, 4384, 1384, 8192, 6576}));
}

// --- Redirected: reads that split code units and line ends ----------------

TEST_F(LineInputTest, OddByteJoinsTheNextRead) {
  fake::QueueBytes(std::string("A\0B", 3));
  fake::QueueBytes(std::string("\0C\0", 3));
  EXPECT_EQ(ReadLines(2), (Lines{u"ABC", kEnd}));
  // The held byte takes the first byte of the room.
  EXPECT_EQ(fake::AskedOf(kReadBytes), (Sizes{8192, 8189, 8186, 8192}));
}

TEST_F(LineInputTest, ByteOrderMarkSplitBetweenReadsIsSkipped) {
  const std::string bytes = test_support::Utf16Bytes(u"\uFEFF5\r\n");
  for (std::size_t cut : {1, 2, 3}) {
    SetUp();
    fake::QueueBytes(bytes.substr(0, cut));
    fake::QueueBytes(bytes.substr(cut));
    EXPECT_EQ(ReadLines(2), (Lines{u"5", kEnd})) << cut;
  }
}

TEST_F(LineInputTest, LoneByteAtTheEndIsDropped) {
  fake::QueueBytes(std::string("A\0B", 3));
  EXPECT_EQ(ReadLines(2), (Lines{u"A", kEnd}));
}

TEST_F(LineInputTest, CrLfSplitBetweenReadsIsOneLineEnd) {
  fake::QueueUtf16(u"a\r");
  fake::QueueUtf16(u"\nb\r\n");
  EXPECT_EQ(ReadLine(), u"a");
  EXPECT_EQ(fake::CountOf(kReadBytes), 1u);  // returned without waiting for the LF
  EXPECT_EQ(ReadLines(2), (Lines{u"b", kEnd}));
}

TEST_F(LineInputTest, CrLfSplitAfterPendingInputIsOneLineEnd) {
  fake::QueueUtf16(u"x\ra\r");
  fake::QueueBytes(std::string("\n", 1));  // the LF, split inside its code unit
  fake::QueueBytes(std::string("\0b\0", 3));
  EXPECT_EQ(ReadLines(4), (Lines{u"x", u"a", u"b", kEnd}));
}

// --- Redirected: over-long lines -------------------------------------------

struct OverLongCase {
  std::size_t length;     // code units before the line end
  std::u16string after;   // the line end and what follows it
  Lines lines;            // after the cut line
  std::size_t split = 0;  // if not 0, a read ends after this many bytes
  // Allocations of this many bytes or more fail: room for the line up to
  // the cut in one block, but not for a string doubled past it.
  std::size_t memory_budget = SIZE_MAX;
};

TEST_F(LineInputTest, OverLongLinesAreCutAndTheirRestDropped) {
  constexpr std::size_t kPast = kLineCap + 5000;
  const OverLongCase cases[] = {
      {kLineCap, u"\r\nnext\r\n", {u"next", kEnd}},
      {kLineCap + 1, u"\r\nnext\r\n", {u"next", kEnd}},
      {3 * kLineCap + 5, u"\r\nnext\r\n", {u"next", kEnd}},
      // Past the cut, reads land further on than the code units read so far.
      {kPast, u"", {kEnd, kEnd}},
      {kPast, u"\rnext\r\n", {u"next", kEnd}, 2 * kPast + 1},  // the CR split in two
      {kLineCap, u"\r\nnext\r\n", {u"next", kEnd}, 0, 3 * kLineCap},
  };
  for (const OverLongCase& c : cases) {
    SetUp();
    const std::string bytes = test_support::Utf16Bytes(std::u16string(c.length, u'x') + c.after);
    fake::QueueBytes(bytes.substr(0, c.split != 0 ? c.split : bytes.size()));
    if (c.split != 0)
      fake::QueueBytes(bytes.substr(c.split));
    test_support::TestMemory memory({.large = c.memory_budget});
    std::pmr::u16string out(&memory);
    EXPECT_EQ(ConsoleReadLine(out), std::min(c.length, kLineCap));
    EXPECT_EQ(out.size(), std::min(c.length, kLineCap));
    EXPECT_EQ(out.find_first_not_of(u'x'), out.npos);
    EXPECT_LT(out.capacity(), 2 * kLineCap + 3 * 4096);
    EXPECT_EQ(ReadLines(2), c.lines) << c.length << " " << c.split;
  }
}

// --- Redirected: the same lines however the reads split the bytes ---------

std::u16string RandomText(std::mt19937& rng) {
  // Rich in line ends, and in code units whose bytes look like line ends.
  static constexpr char16_t kUnits[] = {u'\r', u'\r', u'\n',  u'\n',  u'a',   u'b',
                                        0,     0x1A,  0x0D0A, 0x0A0D, 0xFEFF, 0x0D00};
  // Most texts are short; some run over several reads, and those mostly
  // have long lines, so lines cross the reads and the room has to grow.
  bool long_text = rng() % 16 == 0;
  std::size_t plain_per_unit = !long_text ? 0 : rng() % 4 != 0 ? 500 : 8;
  std::u16string text(rng() % (long_text ? 12'000 : 64), u'a');
  for (char16_t& unit : text) {
    if (rng() % (plain_per_unit + 1) == 0)
      unit = kUnits[rng() % std::size(kUnits)];
  }
  return text;
}

void QueueInRandomPieces(const std::string& bytes, std::mt19937& rng) {
  const std::size_t largest[] = {3, 17, 9000};
  std::size_t piece_max = largest[rng() % std::size(largest)];
  for (std::size_t at = 0; at < bytes.size();) {
    std::size_t piece = 1 + rng() % piece_max;
    fake::QueueBytes(bytes.substr(at, piece));
    at += piece;
  }
}

TEST_F(LineInputTest, SameLinesHoweverTheReadsSplit) {
  std::mt19937 rng(20240611);
  for (int n = 0; n < 10'000; ++n) {
    SetUp();
    std::string bytes = test_support::Utf16Bytes(RandomText(rng));
    if (rng() % 4 == 0)
      bytes.push_back('\n');  // a lone byte at the end
    QueueInRandomPieces(bytes, rng);
    fake::QueueStatus(ReadStatus::kEndOfInput);

    const std::u16string units = test_support::Utf16Units(bytes);
    Lines expected;
    for (const test_support::LineSpan& line : test_support::ReferenceLines(units))
      expected.push_back(units.substr(line.start, line.length));
    expected = WithEnd(expected, 3);
    ASSERT_EQ(ReadLines(expected.size()), expected) << "case " << n;
    ConsoleClose();
  }
}

}  // namespace
