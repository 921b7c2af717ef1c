// What the platform implementations share and the portable logic must not
// see. Included by platform_posix.cpp, platform_win32.cpp, platform_common.cpp,
// the recording fake of the services in tests/support and the fuzzers.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "failure.h"

namespace platform {

// Throws the file failure "cannot <action> "<path>": <reason>", the one form
// every platform gives them.
[[noreturn]] void FailFile(const std::u16string& path, const char16_t* action, const std::u16string& reason);

// Hands put each character of text, with control characters written as \xNN,
// so that a name cannot drive a terminal or break a line. Allocates nothing.
template <typename Put>
void PutEscaped(std::u16string_view text, Put put) {
  constexpr std::u16string_view Hex = u"0123456789ABCDEF";
  for (const char16_t ch : text) {
    if (ch < 0x20 || ch == 0x7F) {
      put(u'\\');
      put(u'x');
      put(Hex[ch >> 4]);
      put(Hex[ch & 0xF]);
    } else {
      put(ch);
    }
  }
}

// Hands put each character of the failure report's one line, "sizestamp:
// <kind> failure: <cause>", the cause escaped. Allocates nothing, so that it
// can report exhausted memory.
template <typename Put>
void PutFailureLine(std::u16string_view kind, std::u16string_view cause, Put put) {
  for (const char16_t ch : std::u16string_view(u"sizestamp: ")) put(ch);
  for (const char16_t ch : kind) put(ch);
  for (const char16_t ch : std::u16string_view(u" failure: ")) put(ch);
  PutEscaped(cause, put);
}

// Collects bytes in a buffer of its own and hands them to write, which
// returns whether all of them went out, when it is full and on Flush. It needs
// no memory, and once a write fails the rest is dropped rather than sent in
// pieces.
template <typename Write>
class FixedBufferWriter {
 public:
  explicit FixedBufferWriter(Write write) : write_(write) {}
  void Put(char byte) {
    if (used_ == sizeof buffer_) Flush();
    buffer_[used_++] = byte;
  }
  void Flush() {
    delivering_ = delivering_ && write_(buffer_, used_);
    used_ = 0;
  }

 private:
  Write write_;
  bool delivering_ = true;
  std::size_t used_ = 0;
  char buffer_[256];
};

// The same line as one text.
std::u16string FailureLine(std::u16string_view kind, std::u16string_view cause);

// The number grammar shared by every platform's TextToDouble: optional sign,
// digits with an optional fraction after decimal_separator, optional exponent.
// Throws Failure as TextToDouble does.
double ParseDecimalText(const std::u16string& text, char16_t decimal_separator);

}  // namespace platform
