// Services the portable logic takes from the operating system. Each platform
// implements them in its own file; nothing here names an OS type.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <utility>

// The process exit status of each outcome; scripts rely on these numbers.
enum class ExitStatus : int {
  Edited = 0,
  ParametersNotSet = 1,
  TooLarge = 2,
  ConversionFailure = 3,
  InvalidArgumentFailure = 4,
  OverflowFailure = 5,
  FileFailure = 6,
};

enum class FailureKind { Conversion, InvalidArgument, Overflow, File };

// The one failure type: thrown where a step fails, caught only by RunMain.
class Failure : public std::exception {
 public:
  Failure(FailureKind kind, std::u16string cause) : kind_(kind), cause_(std::move(cause)) {}
  FailureKind Kind() const noexcept { return kind_; }
  // What went wrong, in the program's own text, ready to show the user.
  const std::u16string& Cause() const noexcept { return cause_; }
  const char* what() const noexcept override { return KindName(kind_); }

  // "conversion", "invalid argument", "overflow" or "file".
  static const char* KindName(FailureKind kind) noexcept {
    switch (kind) {
      case FailureKind::Conversion: return "conversion";
      case FailureKind::InvalidArgument: return "invalid argument";
      case FailureKind::Overflow: return "overflow";
      case FailureKind::File: return "file";
    }
    return "unknown";
  }

  static ExitStatus StatusOf(FailureKind kind) noexcept {
    switch (kind) {
      case FailureKind::Conversion: return ExitStatus::ConversionFailure;
      case FailureKind::InvalidArgument: return ExitStatus::InvalidArgumentFailure;
      case FailureKind::Overflow: return ExitStatus::OverflowFailure;
      case FailureKind::File: return ExitStatus::FileFailure;
    }
    return ExitStatus::FileFailure;
  }

 private:
  FailureKind kind_;
  std::u16string cause_;
};

namespace platform {

enum class MessageKind { Error, Information };

// The command line after the program's name and the blanks after it; may be empty.
std::u16string CommandTail();

// Shows one message and returns once the user has seen it. Never fails: a
// message that cannot be delivered is dropped rather than changing the outcome.
void ShowMessage(const std::u16string& text, MessageKind kind);

// All of text as a finite double. Throws Failure: Conversion when text is not
// a number, Overflow when it lies beyond the double range.
double TextToDouble(const std::u16string& text);

// Opens path for reading and writing (creating it empty when missing, never
// truncating), writes count bytes at offset, flushes them to stable storage
// and closes. Only regular files are written. Throws Failure(File) naming the
// path and the system's reason; the file is closed on every path.
void WriteFileBlock(const std::u16string& path, std::uint64_t offset,
                    const std::uint8_t* bytes, std::size_t count);

// Tells the user which kind of failure ended the program, and why. Never fails.
void ReportFailure(const Failure& failure);

// Ends the process at once with status.
[[noreturn]] void End(ExitStatus status);

// Throws the file failure "cannot <action> "<path>": <reason>", the one form
// every platform gives them.
[[noreturn]] void FailFile(const std::u16string& path, const char16_t* action, const std::u16string& reason);

// The failure report's one line: "sizestamp: <kind> failure: <cause>", with
// control characters in the cause written as \xNN so that it stays one line.
std::u16string FailureLine(const Failure& failure);

// The number grammar shared by every platform's TextToDouble: optional sign,
// digits with an optional fraction after decimal_separator, optional exponent.
// Throws Failure as TextToDouble does.
double ParseDecimalText(const std::u16string& text, char16_t decimal_separator);

}  // namespace platform
