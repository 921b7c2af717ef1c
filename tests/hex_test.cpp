// DecToHex and HexToDec: exact digits, the checked limits, and failure kinds.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "modMain.h"

namespace {

using modMain::DecToHex;
using modMain::HexToDec;

// first followed by count copies of digit.
std::u16string Digits(char16_t first, std::size_t count, char16_t digit) {
  std::u16string text(count + 1, digit);
  text[0] = first;
  return text;
}

FailureKind KindOf(void (*step)()) {
  try {
    step();
  } catch (const Failure& failure) {
    return failure.Kind();
  }
  ADD_FAILURE() << "no failure raised";
  return FailureKind::File;
}

TEST(DecToHex, WholeNumbers) {
  EXPECT_EQ(DecToHex(0), u"");
  EXPECT_EQ(DecToHex(1), u"1");
  EXPECT_EQ(DecToHex(15), u"F");
  EXPECT_EQ(DecToHex(16), u"10");
  EXPECT_EQ(DecToHex(255), u"FF");
  EXPECT_EQ(DecToHex(256), u"100");
  EXPECT_EQ(DecToHex(4096), u"1000");
  EXPECT_EQ(DecToHex(4097), u"1001");
  EXPECT_EQ(DecToHex(65535), u"FFFF");
  EXPECT_EQ(DecToHex(0x10000001), u"10000001");
  EXPECT_EQ(DecToHex(0x12345678), u"12345678");
  EXPECT_EQ(DecToHex(4294967295.0), u"FFFFFFFF");
  EXPECT_EQ(DecToHex(4294967296.0), u"100000000");
  EXPECT_EQ(DecToHex(std::ldexp(1.0, 63)), u"8000000000000000");
  EXPECT_EQ(DecToHex(9007199254740991.0), u"1FFFFFFFFFFFFF");
  // The largest double has 256 hexadecimal digits: 0xFFFFFFFFFFFFF8 followed by 242 zeros.
  EXPECT_EQ(DecToHex(std::numeric_limits<double>::max()), u"FFFFFFFFFFFFF8" + std::u16string(242, u'0'));
}

TEST(DecToHex, RefusedValues) {
  EXPECT_EQ(KindOf([] { DecToHex(-1); }), FailureKind::InvalidArgument);
  EXPECT_EQ(KindOf([] { DecToHex(-0.5); }), FailureKind::InvalidArgument);
  EXPECT_EQ(KindOf([] { DecToHex(-2147483649.0); }), FailureKind::InvalidArgument);
  EXPECT_EQ(KindOf([] { DecToHex(-2147483650.0); }), FailureKind::Overflow);
  EXPECT_EQ(KindOf([] { DecToHex(-1e300); }), FailureKind::Overflow);
  // Fractions would otherwise add zero digits forever.
  EXPECT_EQ(KindOf([] { DecToHex(0.5); }), FailureKind::InvalidArgument);
  EXPECT_EQ(KindOf([] { DecToHex(16.25); }), FailureKind::InvalidArgument);
  EXPECT_EQ(KindOf([] { DecToHex(-2147483649.5); }), FailureKind::InvalidArgument);
  EXPECT_EQ(KindOf([] { DecToHex(std::numeric_limits<double>::denorm_min()); }), FailureKind::InvalidArgument);
  // Values that never reach the program still end.
  EXPECT_EQ(KindOf([] { DecToHex(std::numeric_limits<double>::infinity()); }), FailureKind::Overflow);
  EXPECT_EQ(KindOf([] { DecToHex(std::nan("")); }), FailureKind::Overflow);
}

TEST(HexToDec, Values) {
  EXPECT_EQ(HexToDec(u""), 0);
  EXPECT_EQ(HexToDec(u"00"), 0);
  EXPECT_EQ(HexToDec(u"7f"), 127);
  EXPECT_EQ(HexToDec(u"FF"), 255);
  EXPECT_EQ(HexToDec(u"Ff"), 255);
  EXPECT_EQ(HexToDec(u"1A2B"), 6699);
  EXPECT_EQ(HexToDec(u"fFfFfFfF"), 4294967295.0);
  for (const auto* spoiled : {u"0g", u"9:", u"G", u" 1", u"@", u"`", u"/", u"-1", u"0x1", u"FF\u0661"}) {
    EXPECT_EQ(HexToDec(spoiled), 0) << testing::PrintToString(std::u16string(spoiled).size());
  }
}

TEST(HexToDec, Limits) {
  EXPECT_EQ(HexToDec(std::u16string(255, u'0')), 0);
  EXPECT_EQ(HexToDec(Digits(u'1', 254, u'0')), std::ldexp(1.0, 4 * 254));
  EXPECT_EQ(KindOf([] { HexToDec(std::u16string(256, u'0')); }), FailureKind::Overflow);
  // A bad character is met only after the last 256 digits have overflowed.
  EXPECT_EQ(KindOf([] { HexToDec(Digits(u'g', 256, u'1')); }), FailureKind::Overflow);
  EXPECT_EQ(HexToDec(std::u16string(300, u'1') + u"g"), 0);
  EXPECT_EQ(HexToDec(Digits(u'g', 255, u'1')), 0);
  EXPECT_EQ(KindOf([] { HexToDec(std::u16string(32768, u'g')); }), FailureKind::Overflow);
  EXPECT_EQ(HexToDec(std::u16string(32767, u'g')), 0);
}

}  // namespace
