// The number grammar shared by every platform's TextToDouble.
#pragma once

#include <string>

namespace platform {

// All of text as a double: optional sign, digits with an optional fraction
// after decimal_separator, optional exponent. Throws Failure: Conversion when
// text is not such a number, Overflow when it lies beyond the double range.
double ParseDecimalText(const std::u16string& text, char16_t decimal_separator);

}  // namespace platform
