// System calls scripted for the tests of an OS layer: its table of calls
// swapped for a test's stand-ins and put back afterwards, and the answers
// each stand-in hands out, in order.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

namespace scripted_calls {

// Keeps a copy of `table` and puts it back when it goes.
template <class Table>
class Swapped {
 public:
  explicit Swapped(Table& table) : table_(table), saved_(table) {}
  ~Swapped() { table_ = saved_; }
  Swapped(const Swapped&) = delete;
  Swapped& operator=(const Swapped&) = delete;

 private:
  Table& table_;
  Table saved_;
};

// The answers of one call, in order. A call beyond them gets `spent`, an
// error, and is counted as one too many: a loop that would ask for ever
// ends, and the test sees that it asked more than the script says.
template <class Answer>
class Answers {
 public:
  Answers() = default;
  Answers(std::vector<Answer> answers, Answer spent)
      : answers_(std::move(answers)), spent_(spent) {}

  Answer Next() {
    if (next_ < answers_.size())
      return answers_[next_++];
    ++too_many_;
    return spent_;
  }
  // Whether the calls took every answer and asked for no more.
  bool AllTaken() const { return next_ == answers_.size() && too_many_ == 0; }
  std::size_t too_many() const { return too_many_; }

 private:
  std::vector<Answer> answers_;
  Answer spent_{};
  std::size_t next_ = 0;
  std::size_t too_many_ = 0;
};

}  // namespace scripted_calls
