// System calls scripted for the tests of an OS layer: its table of calls
// swapped for a test's stand-ins and put back afterwards, the answers each
// stand-in hands out, in order, and the rows of a table of scripted cases.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <ostream>
#include <variant>
#include <vector>

namespace scripted_calls {

// Keeps a copy of `table` and puts it back when it goes.
template <class Table>
struct Swapped {
  Table& table;
  const Table saved = table;
  ~Swapped() { table = saved; }
};

// The answers of one call, in order. A call beyond them gets `spent`, an
// error, and is counted as one too many: a loop that would ask for ever
// ends, and the test sees that it asked more than the script says.
template <class Answer>
struct Answers {
  std::vector<Answer> answers = {};
  Answer spent = {};
  std::size_t next = 0, too_many = 0;

  Answer Next() {
    if (next < answers.size())
      return answers[next++];
    ++too_many;
    return spent;
  }
  // Whether the calls took every answer and asked for no more.
  testing::AssertionResult AllTaken() const {
    return testing::AssertionResult(next == answers.size() && too_many == 0)
           << answers.size() - next << " answers left, " << too_many << " calls too many";
  }
};

// A row of a table of scripted cases goes by its name, in messages and, with
// testing::PrintToStringParamName(), in the test's name.
struct Row {
  Row(const char* name) : name(name) {}  // a row starts with its name, no braces round it
  const char* name;
  friend std::ostream& operator<<(std::ostream& os, const Row& row) { return os << row.name; }
};

// What the call under test returns. The type of `expected`'s value says
// which of `calls` it is: the one that takes a value of that type.
template <class Outcome, class... Calls>
Outcome Call(const Outcome& expected, Calls... calls) {
  struct : Calls... {
    using Calls::operator()...;
  } call{calls...};
  return std::visit([&](auto type) -> Outcome { return call(type); }, expected);
}

}  // namespace scripted_calls
