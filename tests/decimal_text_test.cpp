// The number grammar of the size text.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "decimal_text.h"
#include "failure.h"

namespace {

double Parse(const std::u16string& text, char16_t separator = u'.') {
  return platform::ParseDecimalText(text, separator);
}

TEST(DecimalText, Numbers) {
  EXPECT_EQ(Parse(u"5"), 5);
  EXPECT_EQ(Parse(u"5."), 5);
  EXPECT_EQ(Parse(u".5"), 0.5);
  EXPECT_EQ(Parse(u"+5"), 5);
  EXPECT_EQ(Parse(u"-5"), -5);
  EXPECT_EQ(Parse(u"1e3"), 1000);
  EXPECT_EQ(Parse(u"1E+3"), 1000);
  EXPECT_EQ(Parse(u"25e-1"), 2.5);
  EXPECT_EQ(Parse(u"0000305419896"), 305419896);
  EXPECT_EQ(Parse(u"4294967295.000"), 4294967295.0);
  EXPECT_EQ(Parse(u"0.1"), 0.1);
  EXPECT_EQ(Parse(u"1,5", u','), 1.5);
  EXPECT_EQ(Parse(u"1.7976931348623157e308"), 1.7976931348623157e308);
  EXPECT_TRUE(std::signbit(Parse(u"-0")));
}

// Each reader must give the double nearest to the decimal value, ties to the
// even one. The compiler reads the literals correctly rounded; the halfway
// cases name their neighbours.
TEST(DecimalText, RoundsToNearest) {
  const double two_53 = 9007199254740992.0;
  const struct {
    const char16_t* text;
    double expected;
  } cases[] = {
      {u"9007199254740993", two_53},                                          // halfway: to even, down
      {u"9007199254740995", two_53 + 4},                                      // halfway: to even, up
      {u"9007199254740993.000000000000000000000000001", two_53 + 2},          // just past halfway
      {u"1.00000000000000011102230246251565404236316680908203125", 1.0},      // 1 + 2^-53, halfway
      {u"1.00000000000000011102230246251565404236316680908203126", std::nextafter(1.0, 2.0)},
      {u"1.00000000000000011102230246251565404236316680908203124", 1.0},
      {u"0.1", 0.1},
      {u"0.30000000000000001665", 0.30000000000000001665},
      {u"2.2250738585072011e-308", 2.2250738585072011e-308},                  // below the normal range
      {u"2.2250738585072014e-308", 2.2250738585072014e-308},                  // the smallest normal
      {u"4.9406564584124654e-324", 4.9406564584124654e-324},                  // the smallest subnormal
      {u"1.7976931348623158e308", 1.7976931348623157e308},                    // rounds down to the largest
      {u"4294967295.49999999999999999999", 4294967295.49999999999999999999},
      {u"123456789012345678901234567890e-10", 12345678901234567890.123456789},
      {u"0.000000000000000000000000000000000000000000000000000000000000000000000000000001e78", 1.0},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(std::string(row.text, row.text + std::char_traits<char16_t>::length(row.text)));
    EXPECT_EQ(Parse(row.text), row.expected);
  }
}

TEST(DecimalText, TooSmallBecomesZero) {
  EXPECT_EQ(Parse(u"1e-400"), 0);
  EXPECT_EQ(Parse(u"-1e-99999999999999999999"), 0);
  EXPECT_EQ(Parse(u"0e99999999999999999999"), 0);
  EXPECT_EQ(Parse(u"0.0000000000000000001e-310"), 0);
  EXPECT_GT(Parse(u"5e-324"), 0);
}

TEST(DecimalText, BeyondTheRangeOverflows) {
  const std::u16string two_e308 = u"2" + std::u16string(308, u'0');
  for (const std::u16string text : {u"1e309", u"-1e309", u"1e99999999999999999999", u"1.8e308", u"0.00001e314",
                                    two_e308.c_str()}) {
    try {
      Parse(text);
      ADD_FAILURE() << "accepted text of length " << text.size();
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.Kind(), FailureKind::Overflow);
    }
  }
}

TEST(DecimalText, NotNumbers) {
  for (const auto* text : {u"", u".", u"e5", u"5e", u"5e+", u"--5", u"+-5", u"+", u"-", u"5 x", u" 5", u"5 ",
                           u"\t5", u"inf", u"nan", u"infinity", u"0x10", u"1,000", u"1.5.", u"1e3.5", u"5\u0665",
                           u"1_000", u"5f", u"e", u".e1", u"1..5"}) {
    try {
      Parse(text);
      ADD_FAILURE() << "accepted a text of length " << std::u16string(text).size();
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.Kind(), FailureKind::Conversion);
    }
  }
  // The locale's separator replaces ".", it does not add to it.
  EXPECT_THROW(Parse(u"1.5", u','), Failure);
}

}  // namespace
