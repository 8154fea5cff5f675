// The whole run through the scripted platform: its exit status, and how it
// ends when memory runs out at any one of its allocations.
#include "calculator/run.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <memory_resource>
#include <new>
#include <string>
#include <vector>

#include "platform/fake_platform.h"

namespace {

using platform::WriteStatus;
using Writes = std::vector<std::string>;

// Every write of a redirected run on the input 550, in order.
const Writes kDialogue = {
    "\r\n",
    " ******* Interpolation Vollstfarbenhelligkeit nach Valdrup *******\r\n",
    "\r\n",
    "               Berechnungsbereich 380 nm bis 700 nm\r\n",
    "   Eingabe der Spektralwellenl\xC3\xA4nge: [nm] mit Dezimalpunkt:   ",
    "\r\n",
    "   Helligkeit Vollstfarbe 550.00nm :  84.120\r\n",
    "\r\n",
    "   Druecke eine Taste um das Programm zu beenden.\r\n",
};

// Redirected input: `line` at the prompt, then an empty line for the wait.
void Script(const std::u16string& line) {
  fake::Reset();
  fake::QueueUtf16(line + u"\r\n\r\n");
}

Writes WrittenPieces() {
  Writes pieces;
  for (const fake::Call& call : fake::state.calls) {
    if (call.name == "WriteBytes")
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
  WriteStatus status;  // of every write
  int exit_code;
};

TEST(RunTest, ExitCodeSaysWhetherOutputWasLost) {
  const StatusCase cases[] = {
      {"written", false, WriteStatus::kWritten, 0},
      {"reader gone", false, WriteStatus::kReaderGone, 0},
      {"lost", false, WriteStatus::kLost, 1},
      {"console", true, WriteStatus::kWritten, 0},
      {"console lost", true, WriteStatus::kLost, 1},
  };
  for (const StatusCase& c : cases) {
    SCOPED_TRACE(c.name);
    Script(u"550");
    fake::state.console_write_ok = c.console;
    fake::state.write_status = c.status;
    EXPECT_EQ(::Run(), c.exit_code);
    // The dialogue itself is the same whatever becomes of it.
    EXPECT_EQ(WrittenPieces(), c.console ? Writes{} : kDialogue);
    EXPECT_EQ(fake::CountOf("ConsoleSetLineMode"), 2u);
  }
}

// Memory from new and delete, except that allocation number `first_failure`
// (counting from 1) fails, and with `keeps_failing` every one after it too.
// 0 fails none; the count then tells how many allocations a run makes.
class FailingResource : public std::pmr::memory_resource {
 public:
  FailingResource(std::size_t first_failure, bool keeps_failing)
      : first_failure_(first_failure), keeps_failing_(keeps_failing) {}

  std::size_t allocations() const { return allocations_; }

 private:
  void* do_allocate(std::size_t bytes, std::size_t alignment) override {
    ++allocations_;
    if (allocations_ == first_failure_ ||
        (keeps_failing_ && first_failure_ != 0 && allocations_ > first_failure_)) {
      throw std::bad_alloc();
    }
    return std::pmr::new_delete_resource()->allocate(bytes, alignment);
  }
  void do_deallocate(void* p, std::size_t bytes, std::size_t alignment) override {
    std::pmr::new_delete_resource()->deallocate(p, bytes, alignment);
  }
  bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override {
    return this == &other;
  }

  std::size_t first_failure_;
  bool keeps_failing_;
  std::size_t allocations_ = 0;
};

// Whichever allocation fails, the run reads both lines and ends normally:
// with exit code 0 and the whole dialogue, or with 1 and the lines it could
// write, each of them unchanged. A long line that cannot grow is cut, and
// its number is still read.
TEST(RunTest, EveryAllocationFailureEndsTheRunNormally) {
  const std::u16string lines[] = {u"550", u"550" + std::u16string(200'000, u' ')};
  for (const std::u16string& line : lines) {
    Script(line);
    FailingResource counting(0, false);
    ASSERT_EQ(::Run(counting), 0);
    ASSERT_EQ(WrittenPieces(), kDialogue);
    const std::size_t allocations = counting.allocations();
    ASSERT_GT(allocations, 0u);

    for (bool keeps_failing : {false, true}) {
      for (std::size_t k = 1; k <= allocations; ++k) {
        SCOPED_TRACE(testing::Message() << "line of " << line.size() << ", allocation " << k
                                        << (keeps_failing ? " and on" : ""));
        Script(line);
        FailingResource memory(k, keeps_failing);
        const int exit_code = ::Run(memory);
        const Writes written = WrittenPieces();
        EXPECT_TRUE(IsSubsequence(written, kDialogue));
        EXPECT_EQ(exit_code, written == kDialogue ? 0 : 1);
        EXPECT_EQ(fake::CountOf("ConsoleSetLineMode"), 2u);
      }
    }
  }
}

}  // namespace
