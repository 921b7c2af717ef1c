// sizestamp.exe, the desktop program: its outcome in a message box.
#include "windows_api.h"

#include "win32_program.h"

namespace {

// On a window station no one sees (a service, a task run while logged off)
// a box is invisible and MessageBoxW would never return.
bool CanShowBox() {
  const HWINSTA station = GetProcessWindowStation();
  USEROBJECTFLAGS flags{};
  return station != nullptr && GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, nullptr) &&
         (flags.dwFlags & WSF_VISIBLE) != 0;
}

// Where none can be shown (no desktop, a service, headless Wine) the caller
// writes to a standard stream.
bool ShowInBox(const std::wstring& text, platform::MessageKind kind) {
  if (!CanShowBox()) return false;
  const UINT style = MB_OK | (kind == platform::MessageKind::Error ? MB_ICONERROR : MB_ICONINFORMATION);
  const int answer = MessageBoxW(nullptr, text.c_str(), L"sizestamp", style);
  return answer != 0 && answer != -1;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { platform::win32::Run(ShowInBox); }
