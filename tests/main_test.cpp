// The command grammar and the size field, driven through the recording fake.
#include <gtest/gtest.h>

#include "fake_platform.h"

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
    EXPECT_EQ(Outcome(tail), ParametersNotSet) << fake::Narrow(tail);
  }
}

TEST(CommandLine, SizesThatFailBeforeAnyWrite) {
  for (const auto* tail : {u"/size 100 /f a.bin", u"/s x /s 5 /f a.bin", u"/s /f a.bin", u"/s\t5 /f a.bin",
                           u"/s 5 x /f a.bin", u"/s inf /f a.bin", u"/s 0x10 /f a.bin"}) {
    EXPECT_EQ(Outcome(tail), ConversionFailure) << fake::Narrow(tail);
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
    EXPECT_EQ(fake::Run(c.tail, c.file_service).log, c.log) << fake::Narrow(c.tail);
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
    ASSERT_EQ(recording.writes.size(), 1u) << fake::Narrow(size);
    EXPECT_EQ(recording.writes[0].offset, 16u);
    EXPECT_EQ(recording.writes[0].bytes, field) << fake::Narrow(size);
  }
}

}  // namespace
