#include "calculator/run.h"

#include <memory_resource>
#include <new>
#include <string>
#include <string_view>

#include "calculator/segment_table.h"
#include "console/console.h"
#include "console/line_input.h"
#include "text/number_text.h"

namespace {

constexpr std::u16string_view kTitle = u"Interpolation Vollstfarbenhelligkeit nach Valdrup";
constexpr std::u16string_view kBanner =
    u" ******* Interpolation Vollstfarbenhelligkeit nach Valdrup *******";
constexpr std::u16string_view kRange = u"               Berechnungsbereich 380 nm bis 700 nm";
constexpr std::u16string_view kPrompt =
    u"   Eingabe der Spektralwellenl\u00e4nge: [nm] mit Dezimalpunkt:   ";
constexpr std::u16string_view kReportStart = u"   Helligkeit Vollstfarbe ";
constexpr std::u16string_view kReportMiddle = u"nm :  ";
constexpr std::u16string_view kClosing = u"   Druecke eine Taste um das Programm zu beenden.";
constexpr std::u16string_view kEmpty = u"";

constexpr std::int32_t kWhite = 15;
constexpr std::int32_t kBlack = 0;

// Appends the report line for one wavelength and its brightness to
// `report`. False when memory for it ran out; `report` is then incomplete.
bool BuildReport(double wavelength, double brightness, std::pmr::u16string& report) {
  try {
    report += kReportStart;
    // Only the shown wavelength is narrowed; the lookup used the double.
    FormatFloat(NarrowToFloat(wavelength), 2, report);
    report += kReportMiddle;
    FormatDouble(brightness, 3, report);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

// Asks for one wavelength, prints its brightness, and waits for a last line.
// Returns false when a line could not be built for want of memory.
bool Dialogue() {
  ConsoleOpen();
  ConsoleSetTitle(kTitle);
  ConsoleSetColor(kWhite, kBlack);
  ConsolePrintLine(kEmpty);
  ConsolePrintLine(kBanner);
  ConsolePrintLine(kEmpty);
  ConsolePrintLine(kRange);
  ConsolePrint(kPrompt);

  std::pmr::u16string input;
  ConsoleReadLine(input);
  ConsolePrintLine(kEmpty);

  const double wavelength = ParseDouble(input);
  // The table is loaded only once the input is in: nothing of it is needed
  // while the user types.
  LoadSegmentTable();
  const double brightness = EvaluateBrightness(wavelength);

  std::pmr::u16string report;
  const bool reported = BuildReport(wavelength, brightness, report);
  if (reported)
    ConsolePrintLine(report);

  ConsolePrintLine(kEmpty);
  ConsolePrintLine(kClosing);
  std::pmr::u16string last_line;
  ConsoleReadLine(last_line);
  ConsoleClose();
  return reported && !ConsoleOutputLost();
}

}  // namespace

int Run(std::pmr::memory_resource& memory) {
  std::pmr::memory_resource* const previous = std::pmr::set_default_resource(&memory);
  const bool all_written = Dialogue();
  std::pmr::set_default_resource(previous);
  return all_written ? 0 : 1;
}

int Run() {
  // Every allocation of the run comes from this pool, which hands back what
  // it holds in one go when the run ends.
  std::pmr::unsynchronized_pool_resource pool;
  return Run(pool);
}
