#include "console/console.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/fake_platform.h"

namespace {

using Ops = std::vector<fake::Op>;
using enum fake::Op;

class ConsoleTest : public ::testing::Test {
 protected:
  void SetUp() override { fake::Reset(); }
  void TearDown() override { ConsoleClose(); }

  // Opens the console and forgets the calls that opening made.
  static void Open(std::int32_t mode) {
    ConsoleOpen(std::nullopt, mode);
    fake::state.calls.clear();
  }
};

TEST_F(ConsoleTest, OpenTakesHandlesThenRegistersThenTitlesThenCreatesLock) {
  fake::state.title_ok = false;  // a failing title changes nothing
  EXPECT_EQ(ConsoleOpen(u"Titel", OutputUtf8), 1);
  EXPECT_EQ(fake::Ops(), (Ops{kStandardInput, kStandardOutput, kRegisterControlHandler, kSetTitle,
                              kLockCreate}));
  EXPECT_EQ(fake::state.calls[3].text, u"Titel");
  EXPECT_EQ(fake::state.handler, &ConsoleControlHandler);
  EXPECT_EQ(ConsoleInputHandle(), fake::kInput);

  // The console is given back what the run changed while it is still open.
  fake::state.calls.clear();
  ConsoleClose();
  EXPECT_EQ(fake::Ops(), (Ops{kLockDelete, kRestoreConsole, kCloseOutput}));
  EXPECT_EQ(fake::state.calls[2].handle, fake::kOutput);
}

TEST_F(ConsoleTest, OpenWithoutTitleSetsNone) {
  EXPECT_EQ(ConsoleOpen(), 1);
  EXPECT_EQ(fake::CountOf(kSetTitle), 0u);
}

TEST_F(ConsoleTest, ControlHandlerDeclinesEveryEvent) {
  for (std::uint32_t event : {0u, 1u, 2u, 5u, 6u})
    EXPECT_EQ(ConsoleControlHandler(event), 0u);
}

struct ColorCase {
  std::int32_t foreground, background;
  std::optional<std::uint16_t> attribute;  // absent: no call at all
};

TEST_F(ConsoleTest, SetColorAttributeWords) {
  // Negative values pass the range check and go through as the OR's low 16 bits.
  const ColorCase cases[] = {
      {15, 0, 15}, {15, 15, 255},  {0, 0, 0},       {7, 1, 0x17},    {16, 0, {}},
      {0, 16, {}}, {1000, -1, {}}, {-1, 0, 0xFFFF}, {0, -1, 0xFFF0},
  };
  for (const ColorCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.foreground << ", " << c.background);
    Open(OutputUtf8);
    ConsoleSetColor(c.foreground, c.background);
    if (!c.attribute) {
      EXPECT_TRUE(fake::state.calls.empty());
      continue;
    }
    ASSERT_EQ(fake::Ops(), Ops{kSetTextAttribute});
    EXPECT_EQ(fake::state.calls[0].attribute, *c.attribute);
    EXPECT_EQ(fake::state.calls[0].handle, fake::kOutput);
  }
}

struct OutputCase {
  std::int32_t mode;
  std::u16string text;
  bool line;  // ConsolePrintLine rather than ConsolePrint
  std::string bytes;
};

TEST_F(ConsoleTest, RedirectedOutputIsOneByteWriteInTheModesEncoding) {
  using namespace std::string_literals;
  const std::string a_line = "A\0\r\0\n\0"s;
  const OutputCase cases[] = {
      {OutputUtf8, u"\u00e4", true, "\xC3\xA4\r\n"},
      {OutputUtf8, u"\u00e4", false, "\xC3\xA4"},
      {OutputUtf8, u"\U0001F600", false, "\xF0\x9F\x98\x80"},
      {OutputAnsi, u"\u00e4", false, "\xE4"},
      {OutputAnsi, u"\u00e4", true, "\xE4\r\n"},
      {OutputUtf16, u"A", true, a_line},
      {0, u"A", true, a_line},
      {1, u"A", true, a_line},
      {3, u"A", true, a_line},
      {26, u"A", true, a_line},
      {-2, u"A", true, a_line},
      {OutputUtf16, u"\u00e4", false, "\xE4\0"s},
  };
  for (const OutputCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "mode " << c.mode << (c.line ? " line" : ""));
    Open(c.mode);
    if (c.line) {
      ConsolePrintLine(c.text);
    } else {
      ConsolePrint(c.text);
    }
    EXPECT_EQ(fake::WrittenBytes(), c.bytes);
    EXPECT_EQ(fake::CountOf(kWriteBytes), 1u);
    EXPECT_EQ(fake::CountOf(kFlush), c.line ? 1u : 0u);
  }
}

TEST_F(ConsoleTest, PrintLineIsOneWriteThenAFlushPrintIsNoFlush) {
  Open(OutputUtf16);
  ConsolePrintLine(u"ab");
  ConsolePrint(u"c");
  EXPECT_EQ(fake::Ops(), (Ops{kConsoleWrite, kWriteBytes, kFlush, kConsoleWrite, kWriteBytes}));
  EXPECT_EQ(fake::state.calls[0].text, u"ab\r\n");
  for (const fake::Call& call : fake::state.calls)
    EXPECT_EQ(call.handle, fake::kOutput);

  Open(OutputUtf8);
  ConsolePrint(u"Wellenl\u00e4nge: ");
  EXPECT_EQ(fake::Ops(), (Ops{kConsoleWrite, kEncodeText, kEncodeText, kWriteBytes}));
}

TEST_F(ConsoleTest, AbsentOrEmptyTexts) {
  Open(OutputUtf16);
  ConsolePrint(std::nullopt);
  EXPECT_TRUE(fake::state.calls.empty());

  ConsolePrintLine(std::nullopt);
  ConsolePrintLine(u"");
  using namespace std::string_literals;
  EXPECT_EQ(fake::WrittenBytes(), "\r\0\n\0\r\0\n\0"s);

  // An empty text has no bytes, so no byte write is made for it.
  for (std::int32_t mode : {OutputUtf8, OutputAnsi, OutputUtf16}) {
    Open(mode);
    ConsolePrint(u"");
    EXPECT_EQ(fake::CountOf(kWriteBytes), 0u) << mode;
  }
}

TEST_F(ConsoleTest, AConsoleTakesTheTextWhateverTheMode) {
  for (std::int32_t mode : {OutputUtf8, OutputAnsi, OutputUtf16, 7}) {
    Open(mode);
    fake::state.console_write_ok = true;
    ConsolePrintLine(u"\u00e4");
    ConsolePrint(u"x");
    EXPECT_EQ(fake::Ops(), (Ops{kConsoleWrite, kFlush, kConsoleWrite})) << mode;
    EXPECT_EQ(fake::state.calls[0].text, u"\u00e4\r\n");
  }
}

}  // namespace
