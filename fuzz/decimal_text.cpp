// The size grammar on any text, with either decimal separator: a text in the
// grammar gives exactly what strtod gives in the C locale, or an overflow
// beyond the double range; every other text is a conversion failure, and its
// report, which quotes the text, stays on one line.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "decimal_text.h"
#include "failure_line.h"
#include "fake_platform.h"
#include "reference.h"

namespace {

using reference::Require;

// What a terminal may be given for one character: C0, DEL and C1 as \xNN, a
// lone surrogate as \uXXXX, anything else in UTF-8.
std::string Expected(char32_t ch, bool lone_surrogate) {
  char text[8];
  if (ch < 0x20 || (ch >= 0x7F && ch <= 0x9F)) {
    std::snprintf(text, sizeof text, "\\x%02X", static_cast<unsigned>(ch));
    return text;
  }
  if (lone_surrogate) {
    std::snprintf(text, sizeof text, "\\u%04X", static_cast<unsigned>(ch));
    return text;
  }
  if (ch < 0x80) return std::string(1, static_cast<char>(ch));
  if (ch < 0x800) return {static_cast<char>(0xC0 | ch >> 6), static_cast<char>(0x80 | (ch & 0x3F))};
  if (ch < 0x10000) {
    return {static_cast<char>(0xE0 | ch >> 12), static_cast<char>(0x80 | (ch >> 6 & 0x3F)),
            static_cast<char>(0x80 | (ch & 0x3F))};
  }
  return {static_cast<char>(0xF0 | ch >> 18), static_cast<char>(0x80 | (ch >> 12 & 0x3F)),
          static_cast<char>(0x80 | (ch >> 6 & 0x3F)), static_cast<char>(0x80 | (ch & 0x3F))};
}

std::string ExpectedCause(const std::u16string& cause) {
  std::string expected;
  for (std::size_t i = 0; i < cause.size(); ++i) {
    const char32_t unit = cause[i];
    const bool high = unit >= 0xD800 && unit <= 0xDBFF;
    if (high && i + 1 < cause.size() && cause[i + 1] >= 0xDC00 && cause[i + 1] <= 0xDFFF) {
      expected += Expected(0x10000 + ((unit - 0xD800) << 10) + (cause[++i] - 0xDC00), false);
    } else {
      expected += Expected(unit, unit >= 0xD800 && unit <= 0xDFFF);
    }
  }
  return expected;
}

// The report line is the kind's prefix, then the escaped cause, on one line
// that fits one write; a longer one keeps the cause's start and end around
// the marker.
void CheckReportLine(const Failure& failure) {
  const platform::FailureLine report(KindText(failure.Kind()), failure.Cause(), platform::TextUnits::Utf16, "\n");
  const std::string line(report.Text());
  const std::string prefix = "sizestamp: " + fake::ToAscii(std::u16string(KindText(failure.Kind()))) + " failure: ";
  const std::string cause = ExpectedCause(failure.Cause());
  Require(line.size() <= platform::FailureLine::Limit, "the line fits one write");
  Require(line.compare(0, prefix.size(), prefix) == 0, "the report starts with the failure's kind");
  Require(line.back() == '\n' && line.find('\n') == line.size() - 1, "the report is one line");
  if (prefix.size() + cause.size() + 1 <= platform::FailureLine::Limit) {
    Require(line == prefix + cause + "\n", "the cause is escaped character by character");
    return;
  }
  // The cause may hold the marker's text itself: one of the marker's places
  // must split the line into the cause's start and its end.
  const std::string_view marker = platform::FailureLine::CutMarker;
  bool split = false;
  for (std::size_t head = line.find(marker, prefix.size()); head != std::string::npos && !split;
       head = line.find(marker, head + 1)) {
    const std::size_t tail = line.size() - 1 - (head + marker.size());
    split = line.compare(prefix.size(), head - prefix.size(), cause, 0, head - prefix.size()) == 0 &&
            tail <= cause.size() && line.compare(head + marker.size(), tail, cause, cause.size() - tail, tail) == 0;
  }
  Require(split, "a cut line keeps the cause's start and end around the marker");
  Require(line.size() + 2 * sizeof(platform::EscapedPiece::bytes) > platform::FailureLine::Limit, "a cut line is as long as fits");
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
