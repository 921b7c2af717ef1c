// The file failure's wording, the same on every platform.
#pragma once

#include <string>

namespace platform {

// Throws the file failure "cannot <action> "<path>": <reason>".
[[noreturn]] void FailFile(const std::u16string& path, const char16_t* action, const std::u16string& reason);

// The program's own reasons, for what the system has no error of its own for.
inline constexpr char16_t IsDirectory[] = u"it is a directory";
inline constexpr char16_t IsNoFile[] = u"it is a device or pipe, not a file";

}  // namespace platform
