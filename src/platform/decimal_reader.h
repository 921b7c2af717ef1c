// Reads the plain ASCII decimal text that the number grammar builds from the
// size's text. The build picks one reader by what the C++ library offers.
#pragma once

#include <string>

namespace platform {

struct DecimalReading {
  enum class Outcome {
    Read,        // value holds the number, rounded to the nearest double
    OutOfRange,  // beyond the largest double, or below the smallest above 0
    Unread,      // not all of the text was read
  };
  Outcome outcome;
  double value;
};

// ascii is "D.D", optionally followed by "eX": D one or more digits, X an
// optional sign and one or more digits. Neither the locale nor the rounding
// mode of the moment changes the result.
DecimalReading ReadDecimalAscii(const std::string& ascii);

}  // namespace platform
