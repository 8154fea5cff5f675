#include "text/cp1252.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Cp1252Case {
  std::u16string text;
  std::string bytes;
};

TEST(Cp1252, SizeThenConversion) {
  const Cp1252Case cases[] = {
      {u"", ""},
      {u"550 nm\r\n", "550 nm\r\n"},
      {u"\x01\x7F", "\x01\x7F"},  // the ends of ASCII, DEL included
      {u"\u00E4\u00A0\u00FF", "\xE4\xA0\xFF"},
      {u"\u20AC\u201A\u017E\u0178", "\x80\x82\x9E\x9F"},
      // Characters the code page lacks, a pair counting as one.
      {u"\u0100\u0081\u03A9", "???"},
      {u"a\U0001F600b", "a?b"},
  };
  for (const Cp1252Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    const std::size_t size = EncodeCp1252(c.text, nullptr, 0);
    EXPECT_EQ(size, c.bytes.size());
    std::string bytes(size, '\0');
    EXPECT_EQ(EncodeCp1252(c.text, bytes.data(), bytes.size()), size);
    EXPECT_EQ(bytes, c.bytes);
    if (size > 0) {
      EXPECT_EQ(EncodeCp1252(c.text, bytes.data(), size - 1), 0u) << "too small a buffer";
    }
  }
}

}  // namespace
