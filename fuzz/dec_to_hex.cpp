// DecToHex on any double: it ends; whole values give their upper-case
// hexadecimal digits exactly; negative, fractional and non-finite values fail
// with their kinds.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "modMain.h"
#include "reference.h"

namespace {

using reference::Require;

// Raw bit patterns alone seldom give whole numbers, so most inputs are built
// to be whole, negative or just off a whole number, at every magnitude.
double ValueFrom(FuzzedDataProvider& input) {
  const auto bits = input.ConsumeIntegral<std::uint64_t>();
  switch (input.ConsumeIntegralInRange(0, 4)) {
    case 0: {
      double value = 0;
      std::memcpy(&value, &bits, sizeof value);
      return value;
    }
    case 1: return static_cast<double>(bits >> input.ConsumeIntegralInRange(0, 63));
    case 2: return -static_cast<double>(bits >> input.ConsumeIntegralInRange(0, 63));
    case 3: return static_cast<double>(bits >> 11) + input.ConsumeProbability<double>();
    default:
      return std::ldexp(static_cast<double>(bits >> 11), input.ConsumeIntegralInRange(-1126, 971));
  }
}

std::string AsciiDigits(const std::u16string& text) {
  std::string ascii;
  for (const char16_t ch : text) {
    Require(ch < 128, "hexadecimal digits are ASCII");
    ascii += static_cast<char>(ch);
  }
  return ascii;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const double value = ValueFrom(input);
  const auto refusal = reference::DecToHexRefusal(value);
  try {
    const std::u16string hex = modMain::DecToHex(value);
    Require(!refusal, "DecToHex refuses negative, fractional and non-finite values");
    Require(AsciiDigits(hex) == (value == 0 ? std::string() : reference::WholeHex(value)),
            "DecToHex gives the exact hexadecimal digits");
  } catch (const Failure& failure) {
    Require(refusal && failure.Kind() == *refusal, "DecToHex fails only as decided, with the decided kind");
  }
  return 0;
}
