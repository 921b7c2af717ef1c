// What reaches a terminal: the escaping rule for both kinds of platform text,
// and the failure line that always fits one write.
#include <gtest/gtest.h>

#include <string>

#include "failure_line.h"
#include "terminal_text.h"

namespace {

using platform::EscapedText;
using platform::FailureLine;
using platform::TextUnits;

// POSIX text: each byte widened to one character.
std::u16string Bytes(const std::string& bytes) {
  std::u16string text;
  for (const char byte : bytes) text += static_cast<char16_t>(static_cast<unsigned char>(byte));
  return text;
}

TEST(EscapedText, BytesKeepValidPrintableUtf8AndEscapeTheRest) {
  const struct {
    std::string bytes;
    std::string shown;
  } cases[] = {
      {"plain name.bin", "plain name.bin"},
      {"\xC4\x9B", "\xC4\x9B"},                       // e with caron: its last byte is 9B, still valid
      {"\xE2\x82\xAC \xF0\x9F\x98\x80", "\xE2\x82\xAC \xF0\x9F\x98\x80"},
      {"a\tb\nc\x1B[31m\x7F", "a\\x09b\\x0Ac\\x1B[31m\\x7F"},
      {"\xC2\x9B" "2J", "\\xC2\\x9B" "2J"},           // CSI as a character, U+009B
      {"\xC2\x80\xC2\x9F\xC2\xA0", "\\xC2\\x80\\xC2\\x9F\xC2\xA0"},
      {"\x9B" "2J", "\\x9B" "2J"},                    // CSI as a raw byte
      {"\xC0\xAF \xE0\x80\xAF", "\\xC0\\xAF \\xE0\\x80\\xAF"},  // overlong forms
      {"\xED\xA0\x80", "\\xED\\xA0\\x80"},            // a surrogate
      {"\xF4\x90\x80\x80 \xF8", "\\xF4\\x90\\x80\\x80 \\xF8"},  // past U+10FFFF, no such lead
      {"\xE2\x82", "\\xE2\\x82"},                     // cut short at the end
      {"\xE2" "a", "\\xE2" "a"},                      // cut short by another character
      {std::string("\0", 1), "\\x00"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(EscapedText(Bytes(c.bytes), TextUnits::Bytes), c.shown) << c.shown;
  }
}

TEST(EscapedText, Utf16GoesOutAsUtf8WithControlsAndLoneSurrogatesEscaped) {
  const struct {
    std::u16string text;
    std::string shown;
  } cases[] = {
      {u"C:\\data\\\u011B.bin", "C:\\data\\\xC4\x9B.bin"},
      {u"\u20AC \U0001F600 \uFFFD", "\xE2\x82\xAC \xF0\x9F\x98\x80 \xEF\xBF\xBD"},
      {u"a\r\nb\u001B\u007F", "a\\x0D\\x0Ab\\x1B\\x7F"},
      {u"\u009B2J \u0080\u009F\u00A0", "\\x9B2J \\x80\\x9F\xC2\xA0"},
      {std::u16string(u"x") + char16_t(0xD800) + u"y", "x\\uD800y"},
      {std::u16string(1, char16_t(0xDC00)) + char16_t(0xD83D), "\\uDC00\\uD83D"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(EscapedText(c.text, TextUnits::Utf16), c.shown) << c.shown;
  }
}

TEST(FailureLine, OneLineWithTheCauseEscaped) {
  EXPECT_EQ(FailureLine(u"file", Bytes("cannot open \"a\x1B\xC2\x9B\"\n"), TextUnits::Bytes, "\n").Text(),
            "sizestamp: file failure: cannot open \"a\\x1B\\xC2\\x9B\"\\x0A\n");
  EXPECT_EQ(FailureLine(u"memory", u"out of memory", TextUnits::Utf16, "\r\n").Text(),
            "sizestamp: memory failure: out of memory\r\n");
}

TEST(FailureLine, ALongCauseIsCutInItsMiddleToFitOneWrite) {
  const std::string prefix = "sizestamp: file failure: ";
  const std::size_t fits = FailureLine::Limit - prefix.size() - 1;
  // As long as fits: whole. One byte more: cut.
  const std::string whole = FailureLine(u"file", Bytes(std::string(fits, 'a')), TextUnits::Bytes, "\n").Text().data();
  EXPECT_EQ(whole, prefix + std::string(fits, 'a') + "\n");
  for (const std::size_t length : {fits + 1, fits * 3}) {
    const std::string cause = "cannot open \"" + std::string(length, 'd') + "/end.bin\": No such file";
    const std::string line(FailureLine(u"file", Bytes(cause), TextUnits::Bytes, "\n").Text());
    EXPECT_EQ(line.size(), FailureLine::Limit);
    EXPECT_EQ(line.rfind(prefix + "cannot open \"ddd", 0), 0u);
    EXPECT_NE(line.find("dd[...]dd"), std::string::npos);
    EXPECT_EQ(line.substr(line.size() - 24), "/end.bin\": No such file\n");
  }
  // Escapes and multi-byte characters are never split by the cut: the line
  // stays one line of valid UTF-8 from a text of the widest pieces.
  const std::string line(
      FailureLine(u"file", std::u16string(3000, u'\u0001') + std::u16string(3000, u'\u20AC'), TextUnits::Utf16, "\r\n")
          .Text());
  EXPECT_LE(line.size(), FailureLine::Limit);
  EXPECT_GT(line.size(), FailureLine::Limit - 8);
  const std::size_t marker = line.find("[...]");
  ASSERT_NE(marker, std::string::npos);
  EXPECT_EQ(line.substr(marker - 4, 4), "\\x01");
  EXPECT_EQ(line.substr(marker + 5, 3), "\xE2\x82\xAC");
  EXPECT_EQ(line.substr(line.size() - 5), "\xE2\x82\xAC\r\n");
}

}  // namespace
