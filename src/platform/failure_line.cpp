#include "failure_line.h"

namespace platform {

void FailureLine::Append(const char* bytes, std::size_t count) noexcept {
  // In every build the parts are measured to fit; the buffer is guarded all the same.
  for (std::size_t i = 0; i < count && size_ < Limit; ++i) bytes_[size_++] = bytes[i];  // GCOVR_EXCL_BR_LINE: see above
}

FailureLine::FailureLine(std::u16string_view kind, std::u16string_view cause, TextUnits units,
                         std::string_view line_end) noexcept {
  Append("sizestamp: ", 11);
  // The kind is the program's own ASCII name.
  for (const char16_t ch : kind) {
    const char ascii = static_cast<char>(ch);
    Append(&ascii, 1);
  }
  Append(" failure: ", 10);
  std::size_t cause_size = 0;
  ForEachEscapedPiece(cause, units, [&cause_size](const EscapedPiece& piece) { cause_size += piece.size; });
  const std::size_t room = Limit - size_ - line_end.size();
  if (cause_size <= room) {
    ForEachEscapedPiece(cause, units, [this](const EscapedPiece& piece) { Append(piece.bytes, piece.size); });
  } else {
    // The start and the end of the cause, whole pieces only: the path's
    // beginning and its file name both stay readable.
    const std::size_t head = (room - CutMarker.size()) / 2;
    const std::size_t tail_start = cause_size - (room - CutMarker.size() - head);
    std::size_t offset = 0;
    bool marked = false;
    ForEachEscapedPiece(cause, units, [&](const EscapedPiece& piece) {
      if (offset + piece.size <= head) Append(piece.bytes, piece.size);
      if (offset >= tail_start) {
        if (!marked) Append(CutMarker.data(), CutMarker.size());
        marked = true;
        Append(piece.bytes, piece.size);
      }
      offset += piece.size;
    });
  }
  Append(line_end.data(), line_end.size());
}

}  // namespace platform
