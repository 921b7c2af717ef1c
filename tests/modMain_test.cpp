// The logic of modMain: the command grammar and the size field, driven through
// the recording fake, and the exact digits and checked limits of DecToHex and HexToDec.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "fake_platform.h"
#include "modMain.h"

namespace {

using Log = std::vector<std::string>;

// The log with each failure's cause cut off, leaving its kind.
Log Outcome(const std::u16string& tail, fake::FileService file_service = fake::FileService::Writes) {
  Log log = fake::Run(tail, file_service).log;
  for (auto& entry : log) {
    if (entry.rfind("failure ", 0) == 0) entry = entry.substr(0, entry.find(':'));
  }
  return log;
}

Log Edited(const std::string& path, const std::string& field) {
  return {"write " + path + " at 16: " + field, "information: " + path + "\r\nEdited successfully.", "end 0"};
}

const Log ParametersNotSet = {"error: Error - Parameters not set", "end 1"};
const Log TooLarge = {"error: Error - File can't exceed 4GB", "end 2"};
const Log ConversionFailure = {"failure conversion", "end 3"};
const Log InvalidArgumentFailure = {"failure invalid argument", "end 4"};
const Log OverflowFailure = {"failure overflow", "end 5"};

TEST(CommandLine, SwitchesAndValues) {
  EXPECT_EQ(Outcome(u"/s 305419896 /f \"C:\\data\\target.bin\""),
            Edited("C:\\data\\target.bin", "00 00 78 56 34 12"));
  EXPECT_EQ(Outcome(u"/S1024/F x.bin"), Edited("x.bin", "00 00 00 04 00 00"));
  EXPECT_EQ(Outcome(u"s 100 /f a.bin"), Edited("a.bin", "00 00 64 00 00 00"));
  EXPECT_EQ(Outcome(u"/file a.bin /s 5"), Edited("ile a.bin", "00 00 05 00 00 00"));
  EXPECT_EQ(Outcome(u"/f C:/data/a.bin /s 5"), Edited("C:", "00 00 05 00 00 00"));
  EXPECT_EQ(Outcome(u"/f \"my file\".bin /s 5"), Edited("my file.bin", "00 00 05 00 00 00"));
  EXPECT_EQ(Outcome(u"/s 1 /f a.bin /s 7 /f b.bin"), Edited("b.bin", "00 00 07 00 00 00"));
  EXPECT_EQ(Outcome(u"/s \"  12 \" /f   a b  "), Edited("a b", "00 00 0C 00 00 00"));
  EXPECT_EQ(Outcome(u"//x/s 9//f a.bin/"), Edited("a.bin", "00 00 09 00 00 00"));
  // Whole sizes written with a fraction or an exponent are whole.
  EXPECT_EQ(Outcome(u"/s 1024.0 /f a.bin"), Edited("a.bin", "00 00 00 04 00 00"));
  EXPECT_EQ(Outcome(u"/s 1e3 /f a.bin"), Edited("a.bin", "00 00 E8 03 00 00"));
  EXPECT_EQ(Outcome(u"/s +4294967295 /f a.bin"), Edited("a.bin", "00 00 FF FF FF FF"));
  // The size is a double: a fraction below its precision is gone before the whole-number check.
  EXPECT_EQ(Outcome(u"/s 1.00000000000000000001 /f a.bin"), Edited("a.bin", "00 00 01 00 00 00"));
}

TEST(CommandLine, ParametersNotSet) {
  for (const auto* tail : {u"", u"   ", u"/ s 5 /f a.bin", u"/s 5", u"/f a.bin", u"/s 0 /f a.bin",
                           u"/s -0 /f a.bin", u"/s 5 /f a.bin /s 0", u"/s 5 /f \"\"", u"/s 5 /f   ",
                           u"/s 1e-400 /f a.bin", u"/", u"/x 5 /y a.bin"}) {
    EXPECT_EQ(Outcome(tail), ParametersNotSet) << fake::ToAscii(tail);
  }
}

TEST(CommandLine, SizesThatFailBeforeAnyWrite) {
  for (const auto* tail : {u"/size 100 /f a.bin", u"/s x /s 5 /f a.bin", u"/s /f a.bin", u"/s\t5 /f a.bin",
                           u"/s 5 x /f a.bin", u"/s inf /f a.bin", u"/s 0x10 /f a.bin"}) {
    EXPECT_EQ(Outcome(tail), ConversionFailure) << fake::ToAscii(tail);
  }
  EXPECT_EQ(Outcome(u"/s 1e400 /f a.bin"), OverflowFailure);
  EXPECT_EQ(Outcome(u"/s -5 /f a.bin"), InvalidArgumentFailure);
  EXPECT_EQ(Outcome(u"/s 1.5 /f a.bin"), InvalidArgumentFailure);
  EXPECT_EQ(Outcome(u"/s 4294967295.5 /f a.bin"), InvalidArgumentFailure);
  EXPECT_EQ(Outcome(u"/s -2147483649 /f a.bin"), InvalidArgumentFailure);
  EXPECT_EQ(Outcome(u"/s -2147483650 /f a.bin"), OverflowFailure);
  EXPECT_EQ(Outcome(u"/s 4294967296 /f a.bin"), TooLarge);
  EXPECT_EQ(Outcome(u"/s 1e300 /f a.bin"), TooLarge);
  EXPECT_EQ(Outcome(u"/s 4294967295.99999999999 /f a.bin"), TooLarge);
}

TEST(CommandLine, FailureReportNamesTheCause) {
  const struct {
    const char16_t* tail;
    fake::FileService file_service;
    Log log;
  } cases[] = {
      {u"/size 100 /f a.bin", fake::FileService::Writes,
       {"failure conversion: the size \"ize 100\" is not a number", "end 3"}},
      {u"/s -5 /f a.bin", fake::FileService::Writes, {"failure invalid argument: the size -5 is negative", "end 4"}},
      {u"/s -2147483650 /f a.bin", fake::FileService::Writes,
       {"failure overflow: the size -2147483650 is negative and too far below zero", "end 5"}},
      {u"/s 2 /f a.bin", fake::FileService::Refuses, {"failure file: cannot open \"a.bin\": refused", "end 6"}},
      // What is not the program's own failure ends it the same way, with a status of its own.
      {u"/s 2 /f a.bin", fake::FileService::RunsOutOfMemory, {"failure memory: out of memory", "end 7"}},
      {u"/s 2 /f a.bin", fake::FileService::ThrowsLengthError,
       {"failure unexpected: basic_string::_M_create", "end 7"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(fake::Run(c.tail, c.file_service).log, c.log) << fake::ToAscii(c.tail);
  }
}

TEST(SizeField, Layout) {
  const std::pair<const char16_t*, std::vector<std::uint8_t>> cases[] = {
      {u"1", {0, 0, 0x01, 0, 0, 0}},          {u"255", {0, 0, 0xFF, 0, 0, 0}},
      {u"256", {0, 0, 0x00, 0x01, 0, 0}},     {u"305419896", {0, 0, 0x78, 0x56, 0x34, 0x12}},
      {u"4294967295", {0, 0, 0xFF, 0xFF, 0xFF, 0xFF}}, {u"16777216", {0, 0, 0, 0, 0, 0x01}},
  };
  for (const auto& [size, field] : cases) {
    const auto recording = fake::Run(u"/s " + std::u16string(size) + u" /f t.bin");
    ASSERT_EQ(recording.writes.size(), 1u) << fake::ToAscii(size);
    EXPECT_EQ(recording.writes[0].offset, 16u);
    EXPECT_EQ(recording.writes[0].bytes, field) << fake::ToAscii(size);
  }
}

}  // namespace

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
