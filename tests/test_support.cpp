#include "tests/test_support.h"

#include <algorithm>
#include <cstring>
#include <new>

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
