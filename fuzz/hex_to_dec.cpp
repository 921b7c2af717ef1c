// HexToDec on any text: it never crashes; a text holding anything but
// hexadecimal digits gives 0; 1 to 255 digits give the exact value wherever a
// double holds it; 256 trailing digits or more, or more than 32767
// characters, overflow.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "modMain.h"
#include "reference.h"

namespace {

using reference::Require;

bool IsHexDigit(char16_t ch) {
  return (ch >= u'0' && ch <= u'9') || (ch >= u'a' && ch <= u'f') || (ch >= u'A' && ch <= u'F');
}

// The first byte chooses the form: below 0x80 the rest of the input is the
// text; from 0x80 on, the next two bytes give a length (low byte first) and
// the rest is repeated to fill it, which reaches the length limits that a
// short input cannot.
std::u16string TextFrom(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return {};
  if (data[0] < 0x80 || size < 4) return reference::Text(data + 1, size - 1);
  const std::size_t length = data[1] | static_cast<std::size_t>(data[2]) << 8;
  const std::u16string pattern = reference::Text(data + 3, size - 3);
  std::u16string text;
  while (text.size() < length) text += pattern;
  text.resize(length);
  return text;
}

// The value of an all-digit text when a double holds it exactly, by strtoull
// on the significant digits: trailing zero digits are powers of 16, leading
// ones nothing.
std::optional<double> ExactValue(const std::u16string& digits) {
  const std::size_t first = digits.find_first_not_of(u'0');
  if (first == std::u16string::npos) return 0.0;
  const std::size_t last = digits.find_last_not_of(u'0');
  if (last - first + 1 > 16) return std::nullopt;
  std::string significant;
  for (std::size_t i = first; i <= last; ++i) significant += static_cast<char>(digits[i]);
  const unsigned long long value = std::strtoull(significant.c_str(), nullptr, 16);
  const int span = 64 - __builtin_clzll(value) - __builtin_ctzll(value);
  if (span > 53) return std::nullopt;
  return std::ldexp(static_cast<double>(value), static_cast<int>(4 * (digits.size() - 1 - last)));
}

// Horner's rule in extended precision: near enough to tell a right sum from a wrong one.
long double Approximately(const std::u16string& digits) {
  long double value = 0;
  for (const char16_t ch : digits) {
    const int digit = ch <= u'9' ? ch - u'0' : (ch | 0x20) - u'a' + 10;
    value = value * 16 + digit;
  }
  return value;
}

void CheckValue(const std::u16string& text, double value) {
  std::size_t trailing_digits = 0;
  while (trailing_digits < text.size() && IsHexDigit(text[text.size() - 1 - trailing_digits])) ++trailing_digits;
  Require(text.size() <= 32767 && trailing_digits <= 255, "only texts within the limits convert");
  if (trailing_digits < text.size()) {
    Require(value == 0 && !std::signbit(value), "any other character gives 0");
    return;
  }
  if (const auto exact = ExactValue(text)) {
    Require(value == *exact, "a value a double holds is converted exactly");
  } else {
    const long double close = Approximately(text);
    Require(std::fabs(static_cast<long double>(value) - close) <= close * 0x1p-50L, "a long text's value is close");
  }
}

void CheckFailure(const std::u16string& text, const Failure& failure) {
  Require(failure.Kind() == FailureKind::Overflow, "HexToDec fails only by overflow");
  std::size_t trailing_digits = 0;
  while (trailing_digits < text.size() && IsHexDigit(text[text.size() - 1 - trailing_digits])) ++trailing_digits;
  Require(text.size() > 32767 || trailing_digits >= 256, "HexToDec overflows only beyond its limits");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::u16string text = TextFrom(data, size);
  try {
    CheckValue(text, modMain::HexToDec(text));
  } catch (const Failure& failure) {
    CheckFailure(text, failure);
  }
  return 0;
}
