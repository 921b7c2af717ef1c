// The size grammar on any text, with either decimal separator: a text in the
// grammar gives exactly what strtod gives in the C locale, or an overflow
// beyond the double range; every other text is a conversion failure, and its
// report, which quotes the text, stays on one line.
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/platform_common.h"
#include "reference.h"

namespace {

using reference::Require;

int HexValue(char16_t ch) { return ch <= u'9' ? ch - u'0' : ch - u'A' + 10; }

// The report line is the kind's prefix, then the cause with each control
// character written as \xNN and every other character as it is.
void CheckReportLine(const Failure& failure) {
  const std::u16string line = platform::FailureLine(KindText(failure.Kind()), failure.Cause());
  const std::u16string prefix = u"sizestamp: " + std::u16string(KindText(failure.Kind())) + u" failure: ";
  Require(line.compare(0, prefix.size(), prefix) == 0, "the report starts with the failure's kind");
  std::size_t at = prefix.size();
  for (const char16_t ch : failure.Cause()) {
    if (ch < 0x20 || ch == 0x7F) {
      Require(line.size() >= at + 4 && line[at] == u'\\' && line[at + 1] == u'x' &&
                  HexValue(line[at + 2]) * 16 + HexValue(line[at + 3]) == ch,
              "a control character is written as \\xNN");
      at += 4;
    } else {
      Require(at < line.size() && line[at] == ch, "any other character is kept");
      ++at;
    }
  }
  Require(at == line.size(), "the report ends with the cause");
}

void Check(const std::u16string& text, char16_t separator) {
  const reference::Number expected = reference::Decimal(text, separator);
  try {
    const double value = platform::ParseDecimalText(text, separator);
    Require(expected.value.has_value(), "only texts in the grammar and the double range convert");
    Require(std::memcmp(&value, &*expected.value, sizeof value) == 0, "the value is strtod's, sign of zero included");
  } catch (const Failure& failure) {
    CheckReportLine(failure);
    Require(!expected.value && failure.Kind() == expected.failure,
            "a text outside the grammar is a conversion failure, one beyond the range an overflow");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::u16string text = reference::Text(data, size);
  Check(text, u'.');
  Check(text, u',');
  return 0;
}
