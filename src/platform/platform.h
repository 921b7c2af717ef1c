// The services the portable logic takes from the operating system. Each
// platform implements them in its own file; nothing here names an OS type.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "failure.h"

namespace platform {

enum class MessageKind { Error, Information };

// The command line after the program's name and the blanks after it; may be empty.
std::u16string CommandTail();

// Shows one message and returns once the user has seen it. A message that
// cannot be delivered is dropped rather than changing the outcome; only a
// lack of memory for its text (std::bad_alloc) reaches the caller.
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

// Tells the user that a failure of the named kind ("file", "memory" ...)
// ended the program, and why. Never fails, and still reports when no memory
// is left.
void ReportFailure(std::u16string_view kind, std::u16string_view cause) noexcept;

// Ends the process at once with status. One definition for every platform,
// in end.cpp; the recording fake replaces it.
[[noreturn]] void End(ExitStatus status);

}  // namespace platform
