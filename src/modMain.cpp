#include "modMain.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "platform/platform.h"

namespace modMain {
namespace {

constexpr char16_t ParametersNotSet[] = u"Error - Parameters not set";
constexpr char16_t TooLarge[] = u"Error - File can't exceed 4GB";
constexpr char16_t EditedSuccessfully[] = u"Edited successfully.";

// Where the size field starts in the target file (counted from 0) and its length.
constexpr std::uint64_t FieldOffset = 16;
constexpr std::size_t FieldLength = 6;

std::u16string FromAscii(std::string_view Ascii) {
  return std::u16string(Ascii.begin(), Ascii.end());
}

std::u16string NumberText(double Value) {
  std::array<char, 32> Buffer{};
  const auto Converted = std::to_chars(Buffer.data(), Buffer.data() + Buffer.size(), Value);
  return FromAscii(std::string_view(Buffer.data(), static_cast<std::size_t>(Converted.ptr - Buffer.data())));
}

[[noreturn]] void FailOverflow(const std::u16string& Step) {
  throw Failure(FailureKind::Overflow, Step + u" overflows");
}

// Digit positions and counts are 16-bit; leaving that range is a failure, not a wrap.
std::int16_t Checked16(long Value, const char16_t* Step) {
  // GCOVR_EXCL_BR_START: no build leaves the range: digit positions and zero
  // counts stay within 0..256 and HexToDec's position within 0..32767, but
  // every 16-bit step is checked all the same.
  if (Value < std::numeric_limits<std::int16_t>::min() ||
      Value > std::numeric_limits<std::int16_t>::max()) {
    FailOverflow(Step);
  }
  // GCOVR_EXCL_BR_STOP
  return static_cast<std::int16_t>(Value);
}

// Every floating-point step must stay finite: an infinity or NaN ends the run.
double CheckedStep(double Value, const char16_t* Step) {
  if (!std::isfinite(Value)) FailOverflow(Step);
  return Value;
}

// What a failed digit lookup says: only a negative size gets that far.
std::u16string NoDigitFor(double Position, double Value) {
  // GCOVR_EXCL_BR_START: in every build only a negative size fails the digit
  // lookup: floor(T) + 1 is at most 16, as T is below 16 when the inner loop ends.
  if (Value < 0) return u"the size " + NumberText(Value) + u" is negative";
  return u"the size " + NumberText(Value) + u" has no hexadecimal digit at position " + NumberText(Position);
  // GCOVR_EXCL_BR_STOP
}

// Looks up the leading digit of Value at Position (counted from 1). A
// negative Value gives a position below 1. The position is a 32-bit integer,
// so a far negative one overflows before it can be refused.
char16_t DigitAt(double Position, double Value) {
  const double Rounded = std::nearbyint(Position);
  if (!(Rounded >= std::numeric_limits<std::int32_t>::min() &&
        Rounded <= std::numeric_limits<std::int32_t>::max())) {  // GCOVR_EXCL_BR_LINE: as in NoDigitFor
    throw Failure(FailureKind::Overflow, NoDigitFor(Position, Value) + u" and too far below zero");
  }
  const auto Index = static_cast<std::int32_t>(Rounded);
  if (Index < 1 || Index > static_cast<std::int32_t>(HexDigits.size())) {  // GCOVR_EXCL_BR_LINE: as in NoDigitFor
    throw Failure(FailureKind::InvalidArgument, NoDigitFor(Position, Value));
  }
  return HexDigits[static_cast<std::size_t>(Index - 1)];
}

// A hexadecimal digit's value, or -1 for any other character.
int DigitValue(char16_t Ch) {
  if (Ch >= u'0' && Ch <= u'9') return Ch - u'0';
  if (Ch >= u'A' && Ch <= u'F') return Ch - u'A' + 10;
  if (Ch >= u'a' && Ch <= u'f') return Ch - u'a' + 10;
  return -1;
}

std::uint8_t ToByte(double Value) {
  const double Rounded = std::nearbyint(Value);
  // GCOVR_EXCL_BR_START: two hexadecimal digits give 0..255 in every build;
  // the byte is checked all the same, and a double's compare has a branch for NaN.
  if (!(Rounded >= 0 && Rounded <= 255)) FailOverflow(u"the byte value " + NumberText(Value));
  // GCOVR_EXCL_BR_STOP
  return static_cast<std::uint8_t>(Rounded);
}

std::u16string RemoveQuotes(std::u16string Text) {
  std::u16string Result;
  for (const char16_t Ch : Text) {
    if (Ch != u'"') Result += Ch;
  }
  return Result;
}

// Only spaces are trimmed: a tab is part of the value.
std::u16string TrimSpaces(std::u16string Text) {
  const auto First = Text.find_first_not_of(u' ');
  if (First == std::u16string::npos) return {};
  return Text.substr(First, Text.find_last_not_of(u' ') - First + 1);
}

std::u16string SwitchValue(const std::u16string& Piece) {
  return TrimSpaces(RemoveQuotes(Piece.substr(1)));
}

ExitStatus ReportParametersNotSet() {
  platform::ShowMessage(ParametersNotSet, platform::MessageKind::Error);
  return ExitStatus::ParametersNotSet;
}

// Every "/" splits, empty pieces included; each piece's first character is
// its switch letter and the rest its value. The last /s and the last /f win.
ExitStatus RunCommandTail(const std::u16string& Tail) {
  if (Tail.empty()) return ReportParametersNotSet();
  double Size = 0;
  std::u16string FilePath;
  std::size_t PieceStart = 0;
  while (PieceStart <= Tail.size()) {
    std::size_t PieceEnd = Tail.find(u'/', PieceStart);
    if (PieceEnd == std::u16string::npos) PieceEnd = Tail.size();
    const std::u16string Piece = Tail.substr(PieceStart, PieceEnd - PieceStart);
    if (!Piece.empty()) {
      const char16_t Letter = Piece[0];
      if (Letter == u's' || Letter == u'S') Size = platform::TextToDouble(SwitchValue(Piece));
      if (Letter == u'f' || Letter == u'F') FilePath = SwitchValue(Piece);
    }
    PieceStart = PieceEnd + 1;
  }
  if (Size != 0 && !FilePath.empty()) return EditFile(FilePath, Size);
  return ReportParametersNotSet();
}

}  // namespace

void Main() {
  platform::End(RunCommandTail(platform::CommandTail()));
}

ExitStatus EditFile(std::u16string FilePath, double Size) {
  std::u16string Hex = DecToHex(Size);
  if (Hex.size() > 8) {
    platform::ShowMessage(TooLarge, platform::MessageKind::Error);
    return ExitStatus::TooLarge;
  }
  Hex.insert(0, 8 - Hex.size(), HexDigits[0]);

  // Most significant pair first in the text, least significant byte first in the field.
  std::array<std::uint8_t, FieldLength> SizeField{};
  for (std::size_t Pair = 0; Pair < 4; ++Pair) {
    SizeField[5 - Pair] = ToByte(HexToDec(Hex.substr(2 * Pair, 2)));
  }
  platform::WriteFileBlock(FilePath, FieldOffset, SizeField.data(), SizeField.size());
  platform::ShowMessage(FilePath + u"\r\n" + EditedSuccessfully, platform::MessageKind::Information);
  return ExitStatus::Edited;
}

std::u16string DecToHex(double Value) {
  // A fraction would never be used up: each pass would add another "0" forever.
  if (std::isfinite(Value) && Value != std::floor(Value)) {
    throw Failure(FailureKind::InvalidArgument,
                  u"the size " + NumberText(Value) + u" is not a whole number");
  }
  const auto Base = Checked16(static_cast<long>(HexDigits.size()), u"the base");
  std::u16string Result;
  std::int16_t LastPos = 0;
  while (Value != 0) {
    double T = Value;
    std::int16_t Pos = 0;
    while (T >= Base) {
      Pos = Checked16(Pos + 1L, u"the digit position");
      T = CheckedStep(T / Base, u"the division by the base");
    }
    if (LastPos != 0 && Pos != LastPos - 1) {
      const auto Zeros = Checked16(LastPos - Pos - 1L, u"the zero digit count");
      Result.append(static_cast<std::size_t>(Zeros), HexDigits[0]);
    }
    T = std::floor(T);
    Result += DigitAt(CheckedStep(T + 1, u"the digit position"), Value);
    Value = CheckedStep(Value - T * std::ldexp(1.0, 4 * Pos), u"the remaining value");
    LastPos = Pos;
  }
  Result.append(static_cast<std::size_t>(LastPos), HexDigits[0]);
  return Result;
}

double HexToDec(std::u16string Text) {
  if (Text.size() > static_cast<std::size_t>(std::numeric_limits<std::int16_t>::max())) {
    FailOverflow(u"a hexadecimal text of " + NumberText(static_cast<double>(Text.size())) +
                 u" characters");
  }
  double Sum = 0.0;
  double Weight = 1.0;
  for (auto N = static_cast<std::int16_t>(Text.size()); N >= 1; N = Checked16(N - 1L, u"the position")) {
    const int Value = DigitValue(Text[static_cast<std::size_t>(N - 1)]);
    if (Value < 0) return 0;
    Sum = CheckedStep(Sum + Value * Weight, u"the hexadecimal sum");
    Weight = CheckedStep(Weight * 16.0, u"the hexadecimal place value");
  }
  return Sum;
}

}  // namespace modMain
