// The failure report's one line, which goes out even when no memory is left.
// Shared by the platforms.
#pragma once

#include <cstddef>
#include <string_view>

#include "terminal_text.h"

namespace platform {

// "sizestamp: <kind> failure: <cause>" and line_end, with the cause escaped,
// in a buffer of its own: it allocates nothing, so that it can report
// exhausted memory. A longer line is cut in the middle of the cause, with a
// marker, so that it goes out in one write of at most Limit bytes and runs
// side by side cannot mix their lines.
class FailureLine {
 public:
  // PIPE_BUF on Linux: a write to a pipe of up to this many bytes stays whole.
  static constexpr std::size_t Limit = 4096;
  static constexpr std::string_view CutMarker = "[...]";

  FailureLine(std::u16string_view kind, std::u16string_view cause, TextUnits units,
              std::string_view line_end) noexcept;
  std::string_view Text() const noexcept { return std::string_view(bytes_, size_); }

 private:
  void Append(const char* bytes, std::size_t count) noexcept;

  char bytes_[Limit];
  std::size_t size_ = 0;
};

}  // namespace platform
