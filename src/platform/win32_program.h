// What the two Windows programs' entries share with the Win32 services in
// platform_win32.cpp. sizestamp.exe shows its messages in boxes; its console
// twin, for scripts, only ever writes them to its standard streams.
#pragma once

#include <string>

#include "platform.h"

namespace platform::win32 {

// Shows text in a message box and returns whether the user has seen it;
// false sends the message to a standard stream instead. Defined by each
// program's entry file.
bool ShowBox(const std::wstring& text, MessageKind kind);

// Runs the program and ends the process: what both entries do.
[[noreturn]] void Run();

}  // namespace platform::win32
