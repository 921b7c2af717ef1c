// The program's logic: reads the command line and stamps the size field.
#pragma once

#include <string>
#include <string_view>

#include "failure.h"

namespace modMain {

// Digit d of a hexadecimal text is HexDigits[d]; "0" doubles as the fill digit.
inline constexpr std::u16string_view HexDigits = u"0123456789ABCDEF";

// Reads /s and /f from the command tail, stamps the file or reports missing
// parameters, then ends the program. Failures pass through to RunMain.
[[noreturn]] void Main();

// Writes the size field of FilePath: two zero bytes, then Size as an unsigned
// 32-bit little-endian integer. Returns TooLarge, without touching the file,
// when Size needs more than eight hexadecimal digits.
ExitStatus EditFile(std::u16string FilePath, double Size);

// Upper-case hexadecimal digits of a whole number, no leading zeros; 0 gives
// the empty text. Fractional and negative values fail (invalid argument, or
// overflow for whole values below -2^31 - 1).
std::u16string DecToHex(double Value);

// Value of a hexadecimal text, either case; any other character makes it 0.
// Fails (overflow) on texts longer than 32767 characters or past 255 digits.
double HexToDec(std::u16string Text);

}  // namespace modMain
