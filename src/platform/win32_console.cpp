// sizestampc.exe, the console twin for cmd, PowerShell, build systems and CI:
// the same program, which writes its outcome to its standard streams only, so
// that a shell waits for it and no run stops on a box.
#include "win32_program.h"

namespace {

bool ShowNoBox(const std::wstring&, platform::MessageKind) { return false; }

}  // namespace

int wmain(int, wchar_t**) { platform::win32::Run(ShowNoBox); }
