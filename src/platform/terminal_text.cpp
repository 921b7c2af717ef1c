#include "terminal_text.h"

namespace platform {
namespace {

constexpr char Hex[] = "0123456789ABCDEF";

void SetEscaped(EscapedPiece& piece, char kind, unsigned value, std::size_t digits) {
  piece.bytes[piece.size++] = '\\';
  piece.bytes[piece.size++] = kind;
  for (std::size_t shift = 4 * digits; shift > 0; shift -= 4) piece.bytes[piece.size++] = Hex[(value >> (shift - 4)) & 0xF];
}

bool IsControl(char32_t code_point) {
  return code_point < 0x20 || (code_point >= 0x7F && code_point <= 0x9F);
}

void SetUtf8(EscapedPiece& piece, char32_t code_point) {
  if (code_point < 0x80) {
    piece.bytes[piece.size++] = static_cast<char>(code_point);
    return;
  }
  const std::size_t length = code_point < 0x800 ? 2 : code_point < 0x10000 ? 3 : 4;
  const unsigned char lead[] = {0, 0, 0xC0, 0xE0, 0xF0};
  for (std::size_t i = 0; i < length; ++i) {
    const unsigned shift = 6 * static_cast<unsigned>(length - 1 - i);
    const unsigned bits = (code_point >> shift) & (i == 0 ? 0x3Fu >> (length - 1) : 0x3Fu);
    piece.bytes[piece.size++] = static_cast<char>((i == 0 ? lead[length] : 0x80) | bits);
  }
}

unsigned char ByteAt(std::u16string_view text, std::size_t at) { return static_cast<unsigned char>(text[at]); }

// The length of the valid UTF-8 sequence at `at`, or 0. Overlong forms,
// surrogates and code points past U+10FFFF are not valid.
std::size_t Utf8SequenceAt(std::u16string_view text, std::size_t at, char32_t& code_point) {
  const unsigned char lead = ByteAt(text, at);
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() - at < length) return 0;
  code_point = lead & (0x7Fu >> length);
  for (std::size_t i = 1; i < length; ++i) {
    const unsigned char next = ByteAt(text, at + i);
    if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xBF)) return 0;
    code_point = code_point << 6 | (next & 0x3Fu);
  }
  return length;
}

std::size_t NextBytesPiece(std::u16string_view text, std::size_t at, EscapedPiece& piece) {
  const unsigned char byte = ByteAt(text, at);
  char32_t code_point = byte;
  std::size_t length = byte < 0x80 ? 1 : Utf8SequenceAt(text, at, code_point);
  if (length == 0) {
    SetEscaped(piece, 'x', byte, 2);
    return 1;
  }
  for (std::size_t i = 0; i < length; ++i) {
    if (IsControl(code_point)) {
      SetEscaped(piece, 'x', ByteAt(text, at + i), 2);
    } else {
      piece.bytes[piece.size++] = static_cast<char>(ByteAt(text, at + i));
    }
  }
  return length;
}

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

std::size_t NextUtf16Piece(std::u16string_view text, std::size_t at, EscapedPiece& piece) {
  const char16_t unit = text[at];
  if (IsHighSurrogate(unit) && at + 1 < text.size() && IsLowSurrogate(text[at + 1])) {
    SetUtf8(piece, 0x10000 + ((char32_t{unit} - 0xD800) << 10) + (char32_t{text[at + 1]} - 0xDC00));
    return 2;
  }
  if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
    SetEscaped(piece, 'u', unit, 4);
  } else if (IsControl(unit)) {
    SetEscaped(piece, 'x', unit, 2);
  } else {
    SetUtf8(piece, unit);
  }
  return 1;
}

}  // namespace

std::size_t NextEscapedPiece(std::u16string_view text, std::size_t at, TextUnits units, EscapedPiece& piece) noexcept {
  piece.size = 0;
  return units == TextUnits::Bytes ? NextBytesPiece(text, at, piece) : NextUtf16Piece(text, at, piece);
}

std::string EscapedText(std::u16string_view text, TextUnits units) {
  std::string escaped;
  ForEachEscapedPiece(text, units, [&escaped](const EscapedPiece& piece) { escaped.append(piece.bytes, piece.size); });
  return escaped;
}

}  // namespace platform
