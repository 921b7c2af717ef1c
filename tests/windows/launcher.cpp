// Starts programs with exact command lines, which `wine program args` cannot
// do: it quotes every argument anew.
//
// Its arguments come as UTF-16, so that any path Windows accepts reaches it.
//
//   launcher run PROGRAM CASES      starts PROGRAM once for each line of CASES
//                                   (UTF-8), with that line as its command
//                                   line, standard output and error going to
//                                   CASES.<n>.out and CASES.<n>.err
//   launcher hidden PROGRAM CASES   as run, on a window station no one sees,
//                                   which "run" uses on Windows (not under Wine)
//   launcher dialogs PROGRAM CASES  the same, and the message box a run shows is
//                                   read, its OK button pressed, and described
//   launcher terminal PROGRAM CASES the program writes to the launcher's own
//                                   console, after a line "[case N]"; run
//                                   under a terminal, Wine's console is that
//                                   terminal
//   launcher MODE PROGRAM CASES INJECTIONS
//                                   the same, each program started suspended
//                                   with windows_inject.dll (beside the
//                                   launcher) loaded into it before its first
//                                   instruction; line n of INJECTIONS is the
//                                   case's plan (inject.cpp: empty counts the
//                                   calls only), CASES.<n>.calls its log
//
// The program is named apart from the command line, so that a line may be
// empty or quote the program's name in any way.
//
// For each line one JSON object is written to CASES.json, with the exit
// status at least; a file, as a program started on a desktop of its own has
// no standard output to report on.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::wstring FromUtf8(const std::string& bytes) {
  const int size = static_cast<int>(bytes.size());
  const int length = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), size, nullptr, 0);
  std::wstring text(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, bytes.data(), size, text.data(), length);
  return text;
}

std::string ToUtf8(const std::wstring& text) {
  const int size = static_cast<int>(text.size());
  const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), size, bytes.data(), length, nullptr, nullptr);
  return bytes;
}

std::string Json(const std::wstring& text) {
  std::string quoted = "\"";
  for (const char ch : ToUtf8(text)) {
    const auto byte = static_cast<unsigned char>(ch);
    if (ch == '"' || ch == '\\') {
      quoted += '\\';
      quoted += ch;
    } else if (byte < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", byte);
      quoted += escape;
    } else {
      quoted += ch;
    }
  }
  return quoted + "\"";
}

std::vector<std::wstring> ReadLines(const std::wstring& path) {
  std::ifstream file(path.c_str(), std::ios::binary);
  std::vector<std::wstring> lines;
  for (std::string line; std::getline(file, line);) lines.push_back(FromUtf8(line));
  return lines;
}

HANDLE InheritableFile(const std::wstring& path) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool UnderWine() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// A desktop on a window station of its own that no one sees, as a service's,
// made on first use; its name for STARTUPINFOW.lpDesktop.
const std::wstring& HiddenDesktop() {
  static const std::wstring desktop = []() -> std::wstring {
    const std::wstring name = L"sizestamp-test-" + std::to_wstring(GetCurrentProcessId());
    // Kept open for the launcher's life: the station lasts while a handle does.
    const HWINSTA hidden = CreateWindowStationW(name.c_str(), 0, WINSTA_ALL_ACCESS, nullptr);
    const HWINSTA own = GetProcessWindowStation();
    HDESK made = nullptr;
    DWORD error = 0;
    if (hidden == nullptr || !SetProcessWindowStation(hidden)) {
      error = GetLastError();
    } else {
      made = CreateDesktopW(L"Default", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
      error = GetLastError();
      SetProcessWindowStation(own);
    }
    if (made == nullptr) {
      std::fprintf(stderr, "launcher: no hidden window station: error %lu\n", static_cast<unsigned long>(error));
      std::exit(2);
    }
    return name + L"\\Default";
  }();
  return desktop;
}

// Wine without a display shows no box, but on Windows the user's desktop
// would show one and wait for a click: there the "run" cases start on a
// hidden desktop, where the programs write to their streams instead.

std::string LaunchFailure(DWORD error) { return "{\"launch_error\": " + std::to_string(error) + "}"; }

// The injection of one case: the DLL, the plan and the log it writes.
struct Injection {
  std::wstring dll;
  std::wstring plan;
  std::wstring log;
};

// Loads the DLL into the suspended process by a thread of its own that runs
// LoadLibraryW; kernel32.dll lies at the same address in every process.
bool Inject(const PROCESS_INFORMATION& process, const std::wstring& dll) {
  const SIZE_T bytes = (dll.size() + 1) * sizeof(wchar_t);
  void* const name = VirtualAllocEx(process.hProcess, nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  if (name == nullptr || !WriteProcessMemory(process.hProcess, name, dll.c_str(), bytes, nullptr)) return false;
  const auto load = reinterpret_cast<LPTHREAD_START_ROUTINE>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "LoadLibraryW")));
  const HANDLE thread = CreateRemoteThread(process.hProcess, nullptr, 0, load, name, 0, nullptr);
  if (thread == nullptr) return false;
  DWORD loaded = 0;
  const bool ended = WaitForSingleObject(thread, 60000) == WAIT_OBJECT_0 && GetExitCodeThread(thread, &loaded);
  CloseHandle(thread);
  return ended && loaded != 0;
}

// Starts program with command_line as it is, its standard output and error
// going to OUTPUT_BASE.out and .err, and, with an injection, the DLL loaded
// before it runs. Returns an error report, or "" with process started; the
// caller closes process's handles.
std::string Start(const std::wstring& program, std::wstring command_line, const std::wstring& output_base,
                  const Injection* injection, PROCESS_INFORMATION& process, bool terminal = false,
                  bool hidden = false) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  std::wstring desktop;
  if (hidden) {
    desktop = HiddenDesktop();
    startup.lpDesktop = desktop.data();
  }
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = InheritableFile(output_base + L".out");
  startup.hStdError = InheritableFile(output_base + L".err");
  if (terminal) {
    CloseHandle(startup.hStdOutput);
    CloseHandle(startup.hStdError);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  }
  if (injection != nullptr) {
    SetEnvironmentVariableW(L"SIZESTAMP_INJECT", injection->plan.c_str());
    SetEnvironmentVariableW(L"SIZESTAMP_INJECT_LOG", injection->log.c_str());
  }
  const DWORD flags = injection != nullptr ? CREATE_SUSPENDED : 0;
  // Wine, busy starting another program, now and then fails a start with an
  // internal error; the start is the harness's, not the program's, so it is
  // tried again.
  bool started = false;
  DWORD error = 0;
  for (int attempt = 0; attempt < 5 && !started; ++attempt) {
    if (attempt > 0) Sleep(500);
    started = CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr,
                             &startup, &process) != FALSE;
    error = GetLastError();
    if (error != ERROR_INTERNAL_ERROR) break;
  }
  SetEnvironmentVariableW(L"SIZESTAMP_INJECT", nullptr);
  SetEnvironmentVariableW(L"SIZESTAMP_INJECT_LOG", nullptr);
  if (!terminal) {
    CloseHandle(startup.hStdOutput);
    CloseHandle(startup.hStdError);
  }
  if (!started) return LaunchFailure(error);
  if (injection != nullptr) {
    if (!Inject(process, injection->dll)) {
      const DWORD failure = GetLastError();
      TerminateProcess(process.hProcess, 255);
      CloseHandle(process.hThread);
      CloseHandle(process.hProcess);
      return "{\"injection_error\": " + std::to_string(failure) + "}";
    }
    ResumeThread(process.hThread);
  }
  return {};
}

// The exit status; a program still running after 20 s is ended, and its
// report says so.
std::string Finish(PROCESS_INFORMATION& process) {
  DWORD status = 0;
  const bool timely = WaitForSingleObject(process.hProcess, 20000) == WAIT_OBJECT_0;
  if (!timely) {
    TerminateProcess(process.hProcess, 255);
    WaitForSingleObject(process.hProcess, INFINITE);
  }
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return (timely ? "" : "\"timed_out\": true, ") + std::string("\"status\": ") + std::to_string(status);
}

std::string RunCase(const std::wstring& program, const std::wstring& command_line, const std::wstring& output_base,
                    const Injection* injection, bool terminal, bool hidden) {
  PROCESS_INFORMATION process{};
  const std::string failure =
      Start(program, command_line, output_base, injection, process, terminal, hidden || (!terminal && !UnderWine()));
  if (!failure.empty()) return failure;
  return "{" + Finish(process) + "}";
}

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return name;
}

std::wstring TextOf(HWND window) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

struct Search {
  DWORD process_id;
  HWND dialog;
};

BOOL CALLBACK FindDialog(HWND window, LPARAM context) {
  auto& search = *reinterpret_cast<Search*>(context);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != search.process_id || ClassOf(window) != L"#32770" || !IsWindowVisible(window)) return TRUE;
  search.dialog = window;
  return FALSE;
}

struct Controls {
  HWND icon = nullptr;
  std::wstring text;
  std::vector<std::pair<int, std::wstring>> buttons;  // visible ones: id and caption
};

BOOL CALLBACK CollectControl(HWND window, LPARAM context) {
  auto& controls = *reinterpret_cast<Controls*>(context);
  const std::wstring name = ClassOf(window);
  const bool visible = IsWindowVisible(window) != FALSE;
  if (_wcsicmp(name.c_str(), L"Static") == 0) {
    if ((GetWindowLongW(window, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
      controls.icon = window;
    } else if (!TextOf(window).empty()) {
      controls.text = TextOf(window);
    }
  } else if (_wcsicmp(name.c_str(), L"Button") == 0 && visible) {
    controls.buttons.emplace_back(GetDlgCtrlID(window), TextOf(window));
  }
  return TRUE;
}

// The icon's kind from its pixels on the screen: the error icon is mostly
// red, the information icon mostly blue. Icons of another process cannot be
// read directly, but what the screen shows is what the user sees.
std::wstring IconKind(HWND icon) {
  RECT area{};
  if (icon == nullptr || !GetWindowRect(icon, &area)) return L"none";
  HDC screen = GetDC(nullptr);
  int red = 0, blue = 0;
  for (int y = area.top; y < area.bottom; ++y) {
    for (int x = area.left; x < area.right; ++x) {
      const COLORREF pixel = GetPixel(screen, x, y);
      const int r = GetRValue(pixel), g = GetGValue(pixel), b = GetBValue(pixel);
      if (r >= 150 && g <= 100 && b <= 100) ++red;
      if (b >= 150 && r <= 100) ++blue;
    }
  }
  ReleaseDC(nullptr, screen);
  if (red > 20 && red > 2 * blue) return L"error";
  if (blue > 20 && blue > 2 * red) return L"information";
  return L"unknown";
}

HWND WaitForDialog(const PROCESS_INFORMATION& process) {
  for (int tries = 0; tries < 200; ++tries) {
    Search search{process.dwProcessId, nullptr};
    EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&search));
    if (search.dialog != nullptr) return search.dialog;
    if (WaitForSingleObject(process.hProcess, 50) == WAIT_OBJECT_0) return nullptr;
  }
  return nullptr;
}

std::string DialogCase(const std::wstring& program, const std::wstring& command_line, const std::wstring& output_base,
                       const Injection* injection) {
  PROCESS_INFORMATION process{};
  const std::string failure = Start(program, command_line, output_base, injection, process);
  if (!failure.empty()) return failure;
  std::ostringstream report;
  const HWND dialog = WaitForDialog(process);
  if (dialog != nullptr) {
    Controls controls;
    EnumChildWindows(dialog, CollectControl, reinterpret_cast<LPARAM>(&controls));
    // Give the box time to paint before its icon is looked at.
    std::wstring icon = L"unknown";
    for (int tries = 0; tries < 40 && icon == L"unknown"; ++tries) {
      Sleep(50);
      icon = IconKind(controls.icon);
    }
    report << "\"caption\": " << Json(TextOf(dialog)) << ", \"text\": " << Json(controls.text)
           << ", \"icon\": " << Json(icon) << ", \"buttons\": [";
    for (std::size_t i = 0; i < controls.buttons.size(); ++i) {
      report << (i ? ", " : "") << "[" << controls.buttons[i].first << ", "
             << Json(controls.buttons[i].second) << "]";
    }
    report << "], ";
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  }
  report << Finish(process);
  return "{" + report.str() + "}";
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 4 && argc != 5) {
    std::fprintf(stderr, "usage: launcher run|hidden|dialogs|terminal PROGRAM CASES [INJECTIONS]\n");
    return 2;
  }
  const std::wstring mode = argv[1];
  const std::wstring program = argv[2];
  const std::wstring cases = argv[3];
  const std::vector<std::wstring> lines = ReadLines(cases);
  std::vector<std::wstring> plans;
  Injection injection;
  if (argc == 5) {
    plans = ReadLines(argv[4]);
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    injection.dll = self;
    injection.dll.replace(injection.dll.find_last_of(L'\\') + 1, std::wstring::npos, L"windows_inject.dll");
  }
  std::ofstream reports((cases + L".json").c_str(), std::ios::binary);
  for (std::size_t n = 0; n < lines.size(); ++n) {
    const std::wstring base = cases + L"." + std::to_wstring(n);
    const Injection* planned = nullptr;
    if (argc == 5) {
      injection.plan = n < plans.size() ? plans[n] : L"";
      injection.log = base + L".calls";
      planned = &injection;
    }
    if (mode == L"terminal") {
      const std::string marker = "[case " + std::to_string(n) + "]\r\n";
      DWORD written = 0;
      WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), marker.data(), static_cast<DWORD>(marker.size()), &written, nullptr);
    }
    if (mode == L"run" || mode == L"hidden" || mode == L"terminal") {
      reports << RunCase(program, lines[n], base, planned, mode == L"terminal", mode == L"hidden") << "\n";
    }
    if (mode == L"dialogs") reports << DialogCase(program, lines[n], base, planned) << "\n";
    reports.flush();
  }
  return reports ? 0 : 2;
}
