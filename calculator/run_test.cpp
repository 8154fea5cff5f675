// The whole run through the scripted platform: its exit status, and how it
// ends when memory runs out at any one of its allocations.
#include "calculator/run.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <memory_resource>
#include <string>
#include <vector>

#include "tests/fake_platform.h"
#include "tests/test_support.h"

namespace {

using platform::WriteStatus;
using test_support::Joined;
using test_support::TestMemory;
using Writes = std::vector<std::string>;

// Every write of a redirected run on the input 550, in order.
const Writes kDialogue = test_support::DialogueWrites("550.00", "84.120");

// Redirected input: `line` at the prompt, then an empty line for the wait.
void Script(const std::u16string& line) {
  fake::Reset();
  fake::QueueUtf16(line + u"\r\n\r\n");
}

Writes WrittenPieces() {
  Writes pieces;
  for (const fake::Call& call : fake::state.calls) {
    if (call.op == fake::Op::kWriteBytes)
      pieces.push_back(call.bytes);
  }
  return pieces;
}

bool IsSubsequence(const Writes& part, const Writes& whole) {
  std::size_t next = 0;
  for (const std::string& piece : whole) {
    if (next < part.size() && part[next] == piece)
      ++next;
  }
  return next == part.size();
}

struct StatusCase {
  const char* name;
  bool console;
  std::size_t nth;  // the write that gets `answer`; 0 for every write
  WriteStatus answer;
  int exit_code;
  bool flush_ok = true;
  bool close_ok = true;
};

TEST(RunTest, ExitCodeSaysWhetherOutputWasLost) {
  using enum WriteStatus;
  const StatusCase cases[] = {
      {"written", false, 0, kWritten, 0},
      {"reader gone", false, 0, kReaderGone, 0},
      {"lost", false, 0, kLost, 1},
      {"one write lost, the later ones fine", false, 3, kLost, 1},
      {"flush fails", false, 0, kWritten, 1, false},
      {"closing the output fails", false, 0, kWritten, 1, true, false},
      {"console", true, 0, kWritten, 0},
      {"console lost", true, 0, kLost, 1},
      {"one console write lost", true, 3, kLost, 1},
  };
  for (const StatusCase& c : cases) {
    SCOPED_TRACE(c.name);
    Script(u"550");
    fake::state.console_write_ok = c.console;
    if (c.nth == 0) {
      fake::state.later_writes = c.answer;
    } else {
      fake::AnswerWrite(c.nth, c.answer);
    }
    fake::state.flush_ok = c.flush_ok;
    fake::state.close_ok = c.close_ok;
    EXPECT_EQ(::Run(), c.exit_code);
    // Every line is offered whatever becomes of it, and where nothing is
    // lost, every byte arrives.
    EXPECT_EQ(IsSubsequence(kDialogue, WrittenPieces()), !c.console);
    if (!c.console && c.answer == kWritten) {
      EXPECT_EQ(fake::WrittenBytes(), Joined(kDialogue));
    }
    EXPECT_EQ(fake::CountOf(fake::Op::kConsoleSetLineMode), 2u);
    EXPECT_EQ(fake::CountOf(fake::Op::kCloseOutput), 1u);
    EXPECT_EQ(fake::CountOf(fake::Op::kRestoreConsole), 1u);
  }
}

// Runs on `memory` and checks that the run read both lines and ended
// normally: with exit code 0 and the whole dialogue, or with 1 and the lines
// it could write, each of them unchanged.
void ExpectNormalEnd(std::pmr::memory_resource& memory) {
  const int exit_code = ::Run(memory);
  const Writes written = WrittenPieces();
  EXPECT_TRUE(IsSubsequence(written, kDialogue));
  EXPECT_EQ(exit_code, written == kDialogue ? 0 : 1);
  EXPECT_EQ(fake::CountOf(fake::Op::kConsoleSetLineMode), 2u);
  // A read that asks for nothing would find end of file on a pipe.
  for (std::uint32_t size : fake::AskedOf(fake::Op::kReadBytes))
    EXPECT_GT(size, 0u);
}

// Whichever allocation fails, or whichever are too large to be had, the run
// ends normally. A long line that cannot grow is cut, and its number is
// still read.
TEST(RunTest, EveryAllocationFailureEndsTheRunNormally) {
  const std::u16string lines[] = {u"550", u"550" + std::u16string(200'000, u' ')};
  for (const std::u16string& line : lines) {
    Script(line);
    TestMemory counting;
    ASSERT_EQ(::Run(counting), 0);
    ASSERT_EQ(WrittenPieces(), kDialogue);
    const std::size_t allocations = counting.allocations();

    std::vector<TestMemory::Failures> cases;
    for (std::size_t k = 1; k <= allocations; ++k) {
      cases.push_back({.first = k});
      cases.push_back({.first = k, .and_after = true});
    }
    for (std::size_t large : {256, 4096, 8192, 65536})
      cases.push_back({.large = large});
    for (const TestMemory::Failures& failures : cases) {
      SCOPED_TRACE(testing::Message()
                   << "line of " << line.size() << ", allocation " << failures.first
                   << (failures.and_after ? " and on" : "") << ", large " << failures.large);
      Script(line);
      TestMemory memory(failures);
      ExpectNormalEnd(memory);
    }
  }
}

}  // namespace
