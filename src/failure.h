// The program's one failure type and the exit status of each outcome: every
// part of the program, the logic and each platform, uses them.
#pragma once

#include <string>
#include <string_view>
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
  // Anything that is not a Failure, exhausted memory above all.
  UnexpectedFailure = 7,
};

enum class FailureKind { Conversion, InvalidArgument, Overflow, File };

// "conversion", "invalid argument", "overflow" or "file", as the failure report names the kind.
inline std::u16string_view KindText(FailureKind kind) noexcept {
  switch (kind) {  // GCOVR_EXCL_BR_LINE: a kind outside the four; no build makes one
    case FailureKind::Conversion: return u"conversion";
    case FailureKind::InvalidArgument: return u"invalid argument";
    case FailureKind::Overflow: return u"overflow";
    case FailureKind::File: return u"file";
  }
  return u"unknown";
}

inline ExitStatus StatusOf(FailureKind kind) noexcept {
  switch (kind) {  // GCOVR_EXCL_BR_LINE: a kind outside the four; no build makes one
    case FailureKind::Conversion: return ExitStatus::ConversionFailure;
    case FailureKind::InvalidArgument: return ExitStatus::InvalidArgumentFailure;
    case FailureKind::Overflow: return ExitStatus::OverflowFailure;
    case FailureKind::File: return ExitStatus::FileFailure;
  }
  return ExitStatus::UnexpectedFailure;
}

// Thrown where a step fails and caught only by RunMain, which reports it and
// ends the program with StatusOf(Kind()).
class Failure {
 public:
  Failure(FailureKind kind, std::u16string cause) : kind_(kind), cause_(std::move(cause)) {}
  FailureKind Kind() const noexcept { return kind_; }
  // What went wrong, in the program's own text, ready to show the user.
  const std::u16string& Cause() const noexcept { return cause_; }

 private:
  FailureKind kind_;
  std::u16string cause_;
};
