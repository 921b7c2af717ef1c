// How the program's text is made fit for a terminal or a stream: what could
// drive a terminal written out as escapes, and a message's lines ended as the
// stream wants them. Shared by the platforms; the portable logic never escapes
// anything.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// How a platform's own text is held in the program's 16-bit text.
enum class TextUnits {
  Bytes,  // POSIX: each byte widened to one character, UTF-8 or not
  Utf16,  // Windows: UTF-16 code units
};

// One piece of a text's escaped UTF-8 form: one character as it is, or the
// escape that stands for it.
struct EscapedPiece {
  char bytes[12];
  std::size_t size;
};

// Reads the piece of text that starts at `at` into piece and returns how many
// characters of text it takes. Written out: C0, DEL, C1 and, for Bytes, every
// byte that is no part of valid UTF-8, as \xNN per byte; for Utf16, a lone
// surrogate as \uXXXX. Valid printable text stays as it is.
std::size_t NextEscapedPiece(std::u16string_view text, std::size_t at, TextUnits units, EscapedPiece& piece) noexcept;

// Calls put(piece) for each escaped piece of text in order.
template <typename Put>
void ForEachEscapedPiece(std::u16string_view text, TextUnits units, Put put) {
  EscapedPiece piece{};
  for (std::size_t at = 0; at < text.size();) {
    at += NextEscapedPiece(text, at, units, piece);
    put(piece);
  }
}

// The whole of text, escaped, as UTF-8: what a terminal is given.
std::string EscapedText(std::u16string_view text, TextUnits units);

// A message as its lines go to a stream: each converted, then line_end. Only
// the break before the last line is the message's own; a path before it keeps
// any it holds.
template <typename Convert>
std::string MessageForStream(std::u16string_view text, std::string_view line_end, Convert convert) {
  std::string bytes;
  if (const auto last_break = text.rfind(u"\r\n"); last_break != std::u16string_view::npos) {
    bytes = convert(text.substr(0, last_break));
    bytes += line_end;
    text.remove_prefix(last_break + 2);
  }
  bytes += convert(text);
  bytes += line_end;
  return bytes;
}

}  // namespace platform
