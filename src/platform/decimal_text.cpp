// The number grammar of every platform's TextToDouble. It is checked here,
// character by character, so that no library parser's extras (inf, nan, hex
// floats, white space, locale rules) slip through.
#include "decimal_text.h"

#include <algorithm>
#include <string>

#include "decimal_reader.h"
#include "failure.h"

namespace platform {
namespace {

bool IsDigit(char16_t ch) { return ch >= u'0' && ch <= u'9'; }

[[noreturn]] void FailNotANumber(const std::u16string& text) {
  throw Failure(FailureKind::Conversion, u"the size \"" + text + u"\" is not a number");
}

// The parts of a number, rewritten in the ASCII form the reader reads.
struct DecimalParts {
  bool negative = false;
  std::string digits;      // integer and fraction digits, without the separator
  long long point = 0;     // how many of digits stand before the separator
  std::string exponent;    // digits of the exponent, sign first when given
};

DecimalParts Split(const std::u16string& text, char16_t separator) {
  DecimalParts parts;
  std::size_t i = 0;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) parts.negative = text[i++] == u'-';
  for (; i < text.size() && IsDigit(text[i]); ++i) parts.digits += static_cast<char>(text[i]);
  parts.point = static_cast<long long>(parts.digits.size());
  if (i < text.size() && text[i] == separator) {
    for (++i; i < text.size() && IsDigit(text[i]); ++i) parts.digits += static_cast<char>(text[i]);
  }
  if (parts.digits.empty()) FailNotANumber(text);
  if (i < text.size() && (text[i] == u'e' || text[i] == u'E')) {
    ++i;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) parts.exponent += static_cast<char>(text[i++]);
    const std::size_t first_digit = i;
    for (; i < text.size() && IsDigit(text[i]); ++i) parts.exponent += static_cast<char>(text[i]);
    if (i == first_digit) FailNotANumber(text);
  }
  if (i != text.size()) FailNotANumber(text);
  return parts;
}

// The exponent's value, held at a bound far beyond any double so that a
// thousand-digit exponent cannot overflow the arithmetic.
long long BoundedExponent(const std::string& exponent) {
  long long value = 0;
  for (const char ch : exponent) {
    // In every build an exponent holds digits and a leading sign, and both signs lie below "0".
    if (ch >= '0' && ch <= '9') value = std::min(value * 10 + (ch - '0'), 1000000000000LL);  // GCOVR_EXCL_BR_LINE: see above
  }
  return !exponent.empty() && exponent[0] == '-' ? -value : value;
}

// The reader reports overflow and underflow alike as out of range; the decimal
// exponent of the leading digit tells them apart, as the two lie hundreds of
// decades apart.
bool IsTooLarge(const DecimalParts& parts) {
  const auto leading = parts.digits.find_first_not_of('0');
  if (leading == std::string::npos) return false;  // GCOVR_EXCL_BR_LINE: no reader calls zero out of range
  return BoundedExponent(parts.exponent) + (parts.point - static_cast<long long>(leading)) > 0;
}

}  // namespace

double ParseDecimalText(const std::u16string& text, char16_t decimal_separator) {
  const DecimalParts parts = Split(text, decimal_separator);
  // The leading and trailing "0" keep forms like "5." and ".5" unambiguous.
  std::string ascii = "0" + parts.digits + "0";
  ascii.insert(static_cast<std::size_t>(parts.point) + 1, 1, '.');
  if (!parts.exponent.empty()) ascii += "e" + parts.exponent;
  const DecimalReading reading = ReadDecimalAscii(ascii);
  double value = reading.value;
  if (reading.outcome == DecimalReading::Outcome::OutOfRange) {
    if (IsTooLarge(parts)) {
      throw Failure(FailureKind::Overflow, u"the size \"" + text + u"\" is beyond the range of numbers");
    }
    value = 0;
  } else if (reading.outcome != DecimalReading::Outcome::Read) {  // GCOVR_EXCL_BR_LINE: every build's reader reads the text built here whole
    FailNotANumber(text);
  }
  return parts.negative ? -value : value;
}

}  // namespace platform
