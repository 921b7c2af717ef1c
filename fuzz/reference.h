// Models of the program's rules for the fuzz targets to check against. They
// are written from the rules, not from the program, and lean on the C library
// (strtod, strtoull, printf) for the arithmetic, so that a fault in the
// program's own code shows up as a disagreement instead of being repeated.
#pragma once

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "platform/platform.h"

namespace reference {

// Stops the run with a readable reason; libFuzzer keeps the input that did it.
[[noreturn]] inline void Violated(const char* what) {
  std::fprintf(stderr, "property violated: %s\n", what);
  std::abort();
}

inline void Require(bool holds, const char* what) {
  if (!holds) Violated(what);
}

// Fuzz input as 16-bit text. Each byte is widened to one character, as the
// POSIX build does; the byte 0xFF followed by two more gives the character
// with those two bytes (low byte first), so that characters beyond one byte,
// which the Windows build passes on, are reached too.
inline std::u16string Text(const std::uint8_t* data, std::size_t size) {
  std::u16string text;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0xFF && i + 2 < size) {
      text += static_cast<char16_t>(data[i + 1] | data[i + 2] << 8);
      i += 2;
    } else {
      text += static_cast<char16_t>(data[i]);
    }
  }
  return text;
}

inline bool IsDecimalDigit(char16_t ch) { return ch >= u'0' && ch <= u'9'; }

// The size grammar: an optional sign, digits with an optional fraction after
// separator (at least one digit in all), an optional exponent of at least one
// digit. Gives the text in the ASCII form strtod reads, or nothing when the
// text is outside the grammar.
inline std::optional<std::string> DecimalAscii(const std::u16string& text, char16_t separator) {
  std::string ascii;
  std::size_t at = 0;
  const auto take_sign = [&] {
    if (at < text.size() && (text[at] == u'+' || text[at] == u'-')) ascii += static_cast<char>(text[at++]);
  };
  const auto take_digits = [&] {
    std::size_t count = 0;
    for (; at < text.size() && IsDecimalDigit(text[at]); ++at, ++count) ascii += static_cast<char>(text[at]);
    return count;
  };
  take_sign();
  std::size_t digits = take_digits();
  if (at < text.size() && text[at] == separator) {
    ++at;
    ascii += '.';
    digits += take_digits();
  }
  if (digits == 0) return std::nullopt;
  if (at < text.size() && (text[at] == u'e' || text[at] == u'E')) {
    ++at;
    ascii += 'e';
    take_sign();
    if (take_digits() == 0) return std::nullopt;
  }
  if (at != text.size()) return std::nullopt;
  return ascii;
}

// What converting a size text must give: a value, or the failure kind.
struct Number {
  std::optional<double> value;
  FailureKind failure = FailureKind::Conversion;
};

// The C library's reading of the text: out of range upwards is an overflow,
// a value too small for a double becomes what strtod rounds it to (0, or a
// subnormal number).
inline Number Decimal(const std::u16string& text, char16_t separator) {
  const auto ascii = DecimalAscii(text, separator);
  if (!ascii) return {std::nullopt, FailureKind::Conversion};
  errno = 0;
  char* end = nullptr;
  const double value = std::strtod(ascii->c_str(), &end);
  Require(end == ascii->c_str() + ascii->size(), "strtod reads every character the grammar accepts");
  if (errno == ERANGE && std::isinf(value)) return {std::nullopt, FailureKind::Overflow};
  return {value, FailureKind::Conversion};
}

// The upper-case hexadecimal digits of a whole double of at least 1: printf
// below 2^64, and above it the 53-bit significand shifted into place,
// followed by zero digits for the remaining powers of 16.
inline std::string WholeHex(double value) {
  char buffer[80];
  if (value < 18446744073709551616.0) {
    std::snprintf(buffer, sizeof buffer, "%llX", static_cast<unsigned long long>(value));
    return buffer;
  }
  int exponent = 0;
  const double fraction = std::frexp(value, &exponent);
  const auto significand = static_cast<unsigned long long>(std::ldexp(fraction, 53));
  const int shift = exponent - 53;
  std::snprintf(buffer, sizeof buffer, "%llX", significand << (shift % 4));
  return std::string(buffer) + std::string(static_cast<std::size_t>(shift / 4), '0');
}

// The failure DecToHex must raise for a value it refuses, or nothing for a
// value it accepts (zero, or a positive whole number).
inline std::optional<FailureKind> DecToHexRefusal(double value) {
  if (!std::isfinite(value)) return FailureKind::Overflow;
  if (value != std::floor(value)) return FailureKind::InvalidArgument;
  // The digit position floor(value) + 1 is taken as a 32-bit signed integer.
  if (value < 0) return value < -2147483649.0 ? FailureKind::Overflow : FailureKind::InvalidArgument;
  return std::nullopt;
}

// The exit status each failure kind ends the program with.
inline int FailureStatus(FailureKind kind) {
  switch (kind) {
    case FailureKind::Conversion: return 3;
    case FailureKind::InvalidArgument: return 4;
    case FailureKind::Overflow: return 5;
    case FailureKind::File: return 6;
  }
  Violated("unknown failure kind");
}

// Removes every double quote, then the spaces (and only spaces) at both ends.
inline std::u16string Cleaned(const std::u16string& value) {
  std::u16string text;
  for (const char16_t ch : value) {
    if (ch != u'"') text.push_back(ch);
  }
  while (!text.empty() && text.back() == u' ') text.pop_back();
  std::size_t leading = 0;
  while (leading < text.size() && text[leading] == u' ') ++leading;
  return text.substr(leading);
}

// How a run with a command tail must end.
struct TailOutcome {
  enum { ParametersNotSet, TooLarge, Failed, Edited } what = ParametersNotSet;
  FailureKind failure = FailureKind::Conversion;
  std::u16string path;
  std::uint32_t size = 0;
};

// Walks the tail character by character: a "/" closes the piece before it,
// and the end of the tail closes the last one. Each /s value is converted as
// its piece closes, so the first one that fails decides the outcome.
inline TailOutcome PredictTail(const std::u16string& tail) {
  TailOutcome outcome;
  if (tail.empty()) return outcome;
  double size = 0;
  std::u16string piece;
  for (std::size_t at = 0; at <= tail.size(); ++at) {
    if (at < tail.size() && tail[at] != u'/') {
      piece.push_back(tail[at]);
      continue;
    }
    const char16_t letter = piece.empty() ? u'\0' : piece[0];
    if (letter == u's' || letter == u'S') {
      const Number number = Decimal(Cleaned(piece.substr(1)), u'.');
      if (!number.value) {
        outcome.what = TailOutcome::Failed;
        outcome.failure = number.failure;
        return outcome;
      }
      size = *number.value;
    } else if (letter == u'f' || letter == u'F') {
      outcome.path = Cleaned(piece.substr(1));
    }
    piece.clear();
  }
  if (size == 0 || outcome.path.empty()) {
    outcome.what = TailOutcome::ParametersNotSet;
  } else if (const auto refusal = DecToHexRefusal(size)) {
    outcome.what = TailOutcome::Failed;
    outcome.failure = *refusal;
  } else if (size >= 4294967296.0) {
    outcome.what = TailOutcome::TooLarge;
  } else {
    outcome.what = TailOutcome::Edited;
    outcome.size = static_cast<std::uint32_t>(size);
  }
  return outcome;
}

}  // namespace reference
