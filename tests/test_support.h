// What the test programs share: the dialogue as it arrives on redirected
// output, redirected input as bytes and as the lines it holds, and memory
// that counts, fails and shows what it hands out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory_resource>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace test_support {

// The report line's text before the wavelength, and between the wavelength
// and the brightness.
inline constexpr std::string_view kReportStart = "   Helligkeit Vollstfarbe ";
inline constexpr std::string_view kReportMiddle = "nm :  ";

// The writes of one run whose output is redirected, in order, as they
// arrive (UTF-8, CR LF line ends), for a report of `wavelength` and
// `brightness` as shown (e.g. "550.00" and "84.120"). The first line is
// read after write kPromptWrite (the prompt), the last after the final
// write; write kReportWrite is the report line.
std::vector<std::string> DialogueWrites(std::string_view wavelength, std::string_view brightness);
inline constexpr std::size_t kPromptWrite = 4;
inline constexpr std::size_t kReportWrite = 6;

std::string Joined(const std::vector<std::string>& pieces);

// UTF-16 code units as redirected input carries them: low byte first.
std::string Utf16Bytes(std::u16string_view units);

// And back: each pair of bytes, low byte first, is a code unit; a lone last
// byte is none.
std::u16string Utf16Units(std::string_view bytes);

// Where a line lies in the code units it was split from.
struct LineSpan {
  std::size_t start;
  std::size_t length;
};

// The lines of redirected input, split plainly from its whole stream of code
// units: a byte-order mark as the first of them is no text; CR, LF and CR LF
// end a line; a last line without an end counts; every line is cut to the
// line cap. A read that fails at byte offset F of the stream (one of
// `failures`, ascending) ends the line read so far before the code unit
// whose last byte lies at F or beyond.
std::vector<LineSpan> ReferenceLines(std::u16string_view units,
                                     std::span<const std::size_t> failures = {});

// Memory for a test from a pool of its own, which hands everything back when
// it goes, as the program's pool does. It counts the allocations asked of it
// and the bytes it holds (with their peak), fails the allocations it is told
// to fail, and fills each block it hands out with 0xFF bytes (NaN as a
// double), so that a missing zero fill shows.
class TestMemory : public std::pmr::memory_resource {
 public:
  // Which allocations fail: number `first` (counting from 1; 0 for none),
  // with `and_after` every one after it too, and every one of `large`
  // bytes or more.
  struct Failures {
    std::size_t first = 0;
    bool and_after = false;
    std::size_t large = SIZE_MAX;
  };

  TestMemory() = default;
  explicit TestMemory(Failures failures) : failures_(failures) {}

  std::size_t allocations() const { return allocations_; }
  std::size_t peak_bytes() const { return peak_bytes_; }
  // The block handed out last, and its size.
  void* last_block() const { return last_block_; }
  std::size_t last_bytes() const { return last_bytes_; }

 private:
  void* do_allocate(std::size_t bytes, std::size_t alignment) override;
  void do_deallocate(void* block, std::size_t bytes, std::size_t alignment) override;
  bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override {
    return this == &other;
  }

  Failures failures_;
  std::size_t allocations_ = 0;
  std::size_t held_bytes_ = 0;
  std::size_t peak_bytes_ = 0;
  void* last_block_ = nullptr;
  std::size_t last_bytes_ = 0;
  std::pmr::unsynchronized_pool_resource pool_{std::pmr::new_delete_resource()};
};

}  // namespace test_support
