// The file failure's wording, the same on every platform.
#pragma once

#include <string>

namespace platform {

// Throws the file failure "cannot <action> "<path>": <reason>".
[[noreturn]] void FailFile(const std::u16string& path, const char16_t* action, const std::u16string& reason);

// The program's own reasons, the texts that follow "cannot open ...:" where
// the system has no error of its own for what it refuses.
inline constexpr char16_t DirectoryCause[] = u"it is a directory";
inline constexpr char16_t NoFileCause[] = u"it is a device or pipe, not a file";

}  // namespace platform
