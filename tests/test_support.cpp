#include "tests/test_support.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "console/line_input.h"

namespace test_support {

std::vector<std::string> DialogueWrites(std::string_view wavelength, std::string_view brightness) {
  std::string report(kReportStart);
  report.append(wavelength).append(kReportMiddle).append(brightness).append("\r\n");
  return {
      "\r\n",
      " ******* Interpolation Vollstfarbenhelligkeit nach Valdrup *******\r\n",
      "\r\n",
      "               Berechnungsbereich 380 nm bis 700 nm\r\n",
      "   Eingabe der Spektralwellenl\xC3\xA4nge: [nm] mit Dezimalpunkt:   ",
      "\r\n",
      report,
      "\r\n",
      "   Druecke eine Taste um das Programm zu beenden.\r\n",
  };
}

std::string Joined(const std::vector<std::string>& pieces) {
  std::string bytes;
  for (const std::string& piece : pieces)
    bytes += piece;
  return bytes;
}

std::string Utf16Bytes(std::u16string_view units) {
  std::string bytes;
  for (char16_t unit : units) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

std::u16string Utf16Units(std::string_view bytes) {
  std::u16string units(bytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i) {
    units[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                     static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
  }
  return units;
}

std::vector<LineSpan> ReferenceLines(std::u16string_view units,
                                     std::span<const std::size_t> failures) {
  std::vector<LineSpan> lines;
  std::size_t start = 0;
  auto end_line = [&](std::size_t end, std::size_t next) {
    lines.push_back({start, std::min(end - start, kLineCap)});
    start = next;
  };
  bool after_cr = false;
  std::size_t failure = 0;
  for (std::size_t i = 0; i <= units.size(); ++i) {
    while (failure < failures.size() && failures[failure] <= 2 * i + 1) {
      end_line(i, i);
      ++failure;
    }
    if (i == units.size())
      break;
    const char16_t unit = units[i];
    if (i == 0 && unit == kByteOrderMark) {
      start = 1;
      continue;
    }
    const bool pair_end = after_cr && unit == kLf;
    after_cr = unit == kCr;
    if (pair_end) {
      start = i + 1;
    } else if (unit == kCr || unit == kLf) {
      end_line(i, i + 1);
    }
  }
  if (start < units.size())
    end_line(units.size(), units.size());
  return lines;
}

void* TestMemory::do_allocate(std::size_t bytes, std::size_t alignment) {
  ++allocations_;
  const Failures& f = failures_;
  if (allocations_ == f.first || (f.and_after && f.first != 0 && allocations_ > f.first) ||
      bytes >= f.large) {
    throw std::bad_alloc();
  }
  void* block = pool_.allocate(bytes, alignment);
  std::memset(block, 0xFF, bytes);
  held_bytes_ += bytes;
  peak_bytes_ = std::max(peak_bytes_, held_bytes_);
  last_block_ = block;
  last_bytes_ = bytes;
  return block;
}

void TestMemory::do_deallocate(void* block, std::size_t bytes, std::size_t alignment) {
  held_bytes_ -= bytes;
  pool_.deallocate(block, bytes, alignment);
}

}  // namespace test_support
