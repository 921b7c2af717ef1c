// What the two Windows programs' entries share with the Win32 services in
// platform_win32.cpp. sizestamp.exe shows its messages in boxes; its console
// twin, for scripts, only ever writes them to its standard streams.
#pragma once

#include <string>

#include "platform.h"

namespace platform::win32 {

// An entry's way of showing a message in a box: true once the user has seen
// it; false sends the message to a standard stream instead.
using ShowBox = bool (*)(const std::wstring& text, MessageKind kind);

// Runs the program, its messages shown by show_box where it can, and ends the
// process: what both entries do.
[[noreturn]] void Run(ShowBox show_box);

}  // namespace platform::win32
