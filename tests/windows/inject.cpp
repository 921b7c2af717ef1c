// Loaded by the launcher into a program it started suspended, before the
// program's first instruction: replaces the program's import table slots of
// the functions below with hooks that log every call and make one of them
// fail. Only the program's own import table is patched, so calls the system
// DLLs make among themselves go on as they are.
//
// It reads two environment variables the launcher sets for the program:
//   SIZESTAMP_INJECT_LOG  the file each call is logged to, one line per call:
//                         "SEQUENCE FUNCTION CALL DETAIL", with " injected"
//                         after the one that was made to fail; first a line
//                         "hooked NAME..." naming the functions imported.
//                         malloc, calloc and realloc add "allocation N", their
//                         place among all three
//   SIZESTAMP_INJECT      empty for a counting run, or "FUNCTION CALL FAULT":
//                         CALL is which call of FUNCTION fails (1 is the
//                         first; "N+" is the Nth and every later one), and
//                         the FUNCTION "allocation" counts malloc, calloc
//                         and realloc together; FAULT is
//                         one or more of
//                           error=CODE   the last error it leaves
//                           return=VALUE what it returns (by default the
//                                        function's own failure value)
//                           written=K    WriteFile only: writes the first K
//                                        bytes for real, reports K, succeeds
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <type_traits>

namespace {

enum Id {
  kCreateFileW,
  kGetFileAttributesW,
  kGetFullPathNameW,
  kGetFileType,
  kGetFileInformationByHandle,
  kWriteFile,
  kFlushFileBuffers,
  kCloseHandle,
  kFormatMessageW,
  kGetLocaleInfoEx,
  kGetStdHandle,
  kGetConsoleMode,
  kWriteConsoleW,
  kWideCharToMultiByte,
  kGetProcessWindowStation,
  kGetUserObjectInformationW,
  kMessageBoxW,
  kSetErrorMode,
  kMalloc,
  kCalloc,
  kRealloc,
  kAbort,
  kAllocation,  // not imported: the three allocators above, counted as one
  kCount
};

// Filled from the table below once the hooks are defined.
struct Function {
  const char* dll;
  const char* name;
  void* hook;
};
extern const Function Functions[kCount];

void* real[kCount];
LONG calls[kCount];
LONG sequence;

bool IsAllocator(Id id) { return id == kMalloc || id == kCalloc || id == kRealloc; }

struct Plan {
  int function = -1;
  LONG call = 0;
  bool onwards = false;
  bool has_error = false;
  DWORD error = 0;
  bool has_return = false;
  ULONG_PTR value = 0;
  bool has_written = false;
  DWORD written = 0;
} plan;

HANDLE log_file = INVALID_HANDLE_VALUE;
HANDLE last_opened = INVALID_HANDLE_VALUE;  // what the program's last CreateFileW returned
CRITICAL_SECTION log_lock;

// One log line, built in a buffer of its own: nothing here may allocate, as
// the allocator may be what fails.
class Line {
 public:
  Line& Text(const char* text) {
    while (*text != '\0' && used_ < sizeof buffer_ - 2) buffer_[used_++] = *text++;
    return *this;
  }
  Line& Number(unsigned long long value) {
    char digits[24];
    int count = 0;
    do {
      digits[count++] = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value != 0);
    while (count > 0 && used_ < sizeof buffer_ - 2) buffer_[used_++] = digits[--count];
    return *this;
  }
  // Wide text as UTF-8, control characters and spaces as '?', so that the
  // line stays one line of space-separated words.
  Line& Wide(const wchar_t* text) {
    if (text == nullptr) return Text("(null)");
    char bytes[512];
    const int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, sizeof bytes, nullptr, nullptr);
    for (int i = 0; i + 1 < length; ++i) {
      const char ch = static_cast<unsigned char>(bytes[i]) <= 0x20 ? '?' : bytes[i];
      if (used_ < sizeof buffer_ - 2) buffer_[used_++] = ch;
    }
    return *this;
  }
  Line& Handle(HANDLE handle) {
    if (handle == last_opened && handle != INVALID_HANDLE_VALUE) return Text("file");
    if (handle == GetStdHandle(STD_OUTPUT_HANDLE)) return Text("stdout");
    if (handle == GetStdHandle(STD_ERROR_HANDLE)) return Text("stderr");
    return Text("other");
  }
  void Write() {
    buffer_[used_++] = '\n';
    DWORD done = 0;
    EnterCriticalSection(&log_lock);
    WriteFile(log_file, buffer_, static_cast<DWORD>(used_), &done, nullptr);
    LeaveCriticalSection(&log_lock);
  }

 private:
  char buffer_[700];
  std::size_t used_ = 0;
};

// Counts a call of id and tells whether it is the one to fail; the caller
// adds what it knows of the call to line, which is logged when it goes.
class Call {
 public:
  explicit Call(Id id) : id_(id) {
    const LONG number = InterlockedIncrement(&calls[id]);
    due_ = plan.function == id && Planned(number);
    line_.Number(static_cast<unsigned long long>(InterlockedIncrement(&sequence)))
        .Text(" ")
        .Text(Functions[id].name)
        .Text(" ")
        .Number(static_cast<unsigned long long>(number));
    if (IsAllocator(id)) {
      const LONG allocation = InterlockedIncrement(&calls[kAllocation]);
      due_ = due_ || (plan.function == kAllocation && Planned(allocation));
      line_.Text(" allocation ").Number(static_cast<unsigned long long>(allocation));
    }
  }
  Call(const Call&) = delete;
  Call& operator=(const Call&) = delete;
  ~Call() {
    if (due_) line_.Text(" injected");
    line_.Write();
  }
  bool Due() const { return due_; }
  static bool Planned(LONG number) { return number == plan.call || (plan.onwards && number > plan.call); }
  Line& Detail() { return line_.Text(" "); }

  // The planned outcome, failure being what the function returns when it fails.
  template <typename R>
  R Fail(R failure) const {
    if (plan.has_error) SetLastError(plan.error);
    if (!plan.has_return) return failure;
    if constexpr (std::is_pointer_v<R>) {
      return reinterpret_cast<R>(plan.value);
    } else {
      return static_cast<R>(plan.value);
    }
  }

  template <typename F>
  F Real() const {
    return reinterpret_cast<F>(real[id_]);
  }

 private:
  Id id_;
  bool due_;
  Line line_;
};

HANDLE WINAPI HookCreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                              DWORD disposition, DWORD flags, HANDLE model) {
  Call call(kCreateFileW);
  call.Detail().Wide(name);
  if (call.Due()) return call.Fail(INVALID_HANDLE_VALUE);
  const HANDLE opened = call.Real<decltype(&CreateFileW)>()(name, access, share, security, disposition, flags, model);
  last_opened = opened;
  return opened;
}

DWORD WINAPI HookGetFileAttributesW(LPCWSTR name) {
  Call call(kGetFileAttributesW);
  call.Detail().Wide(name);
  if (call.Due()) return call.Fail<DWORD>(INVALID_FILE_ATTRIBUTES);
  return call.Real<decltype(&GetFileAttributesW)>()(name);
}

DWORD WINAPI HookGetFullPathNameW(LPCWSTR name, DWORD size, LPWSTR buffer, LPWSTR* part) {
  Call call(kGetFullPathNameW);
  call.Detail().Wide(name);
  if (call.Due()) return call.Fail<DWORD>(0);
  return call.Real<decltype(&GetFullPathNameW)>()(name, size, buffer, part);
}

DWORD WINAPI HookGetFileType(HANDLE handle) {
  Call call(kGetFileType);
  call.Detail().Handle(handle);
  if (call.Due()) return call.Fail<DWORD>(FILE_TYPE_UNKNOWN);
  return call.Real<decltype(&GetFileType)>()(handle);
}

BOOL WINAPI HookGetFileInformationByHandle(HANDLE handle, LPBY_HANDLE_FILE_INFORMATION information) {
  Call call(kGetFileInformationByHandle);
  call.Detail().Handle(handle);
  if (call.Due()) return call.Fail<BOOL>(FALSE);
  return call.Real<decltype(&GetFileInformationByHandle)>()(handle, information);
}

BOOL WINAPI HookWriteFile(HANDLE handle, LPCVOID bytes, DWORD count, LPDWORD written, LPOVERLAPPED overlapped) {
  Call call(kWriteFile);
  call.Detail().Handle(handle).Text(" ").Number(count);
  if (call.Due() && plan.has_written) {
    DWORD done = 0;
    const DWORD part = plan.written < count ? plan.written : count;
    if (part > 0 && !call.Real<decltype(&WriteFile)>()(handle, bytes, part, &done, overlapped)) return FALSE;
    if (written != nullptr) *written = done;
    return TRUE;
  }
  if (call.Due()) return call.Fail<BOOL>(FALSE);
  return call.Real<decltype(&WriteFile)>()(handle, bytes, count, written, overlapped);
}

BOOL WINAPI HookFlushFileBuffers(HANDLE handle) {
  Call call(kFlushFileBuffers);
  call.Detail().Handle(handle);
  if (call.Due()) return call.Fail<BOOL>(FALSE);
  return call.Real<decltype(&FlushFileBuffers)>()(handle);
}

BOOL WINAPI HookCloseHandle(HANDLE handle) {
  Call call(kCloseHandle);
  call.Detail().Handle(handle);
  if (call.Due()) return call.Fail<BOOL>(FALSE);
  return call.Real<decltype(&CloseHandle)>()(handle);
}

DWORD WINAPI HookFormatMessageW(DWORD flags, LPCVOID source, DWORD id, DWORD language, LPWSTR buffer, DWORD size,
                                va_list* arguments) {
  Call call(kFormatMessageW);
  call.Detail().Number(id);
  if (call.Due()) return call.Fail<DWORD>(0);
  return call.Real<decltype(&FormatMessageW)>()(flags, source, id, language, buffer, size, arguments);
}

int WINAPI HookGetLocaleInfoEx(LPCWSTR locale, LCTYPE type, LPWSTR data, int size) {
  Call call(kGetLocaleInfoEx);
  call.Detail().Number(type);
  if (call.Due()) return call.Fail(0);
  return call.Real<decltype(&GetLocaleInfoEx)>()(locale, type, data, size);
}

HANDLE WINAPI HookGetStdHandle(DWORD which) {
  Call call(kGetStdHandle);
  call.Detail().Text(which == STD_OUTPUT_HANDLE ? "stdout" : which == STD_ERROR_HANDLE ? "stderr" : "other");
  if (call.Due()) return call.Fail(INVALID_HANDLE_VALUE);
  const HANDLE stream = call.Real<decltype(&GetStdHandle)>()(which);
  call.Detail().Number(reinterpret_cast<ULONG_PTR>(stream));
  return stream;
}

BOOL WINAPI HookGetConsoleMode(HANDLE handle, LPDWORD mode) {
  Call call(kGetConsoleMode);
  call.Detail().Handle(handle);
  if (call.Due()) return call.Fail<BOOL>(FALSE);
  return call.Real<decltype(&GetConsoleMode)>()(handle, mode);
}

BOOL WINAPI HookWriteConsoleW(HANDLE handle, const VOID* text, DWORD count, LPDWORD written, LPVOID reserved) {
  Call call(kWriteConsoleW);
  call.Detail().Handle(handle).Text(" ").Number(count);
  if (call.Due() && plan.has_written) {
    DWORD done = 0;
    const DWORD part = plan.written < count ? plan.written : count;
    if (part > 0 && !call.Real<decltype(&WriteConsoleW)>()(handle, text, part, &done, reserved)) return FALSE;
    if (written != nullptr) *written = done;
    return TRUE;
  }
  if (call.Due()) return call.Fail<BOOL>(FALSE);
  return call.Real<decltype(&WriteConsoleW)>()(handle, text, count, written, reserved);
}

int WINAPI HookWideCharToMultiByte(UINT page, DWORD flags, LPCWCH text, int count, LPSTR bytes, int size,
                                   LPCCH fallback, LPBOOL used) {
  Call call(kWideCharToMultiByte);
  call.Detail().Number(page).Text(" ").Number(static_cast<unsigned long long>(size));
  if (call.Due()) return call.Fail(0);
  return call.Real<decltype(&WideCharToMultiByte)>()(page, flags, text, count, bytes, size, fallback, used);
}

HWINSTA WINAPI HookGetProcessWindowStation() {
  Call call(kGetProcessWindowStation);
  if (call.Due()) return call.Fail<HWINSTA>(nullptr);
  return call.Real<decltype(&GetProcessWindowStation)>()();
}

BOOL WINAPI HookGetUserObjectInformationW(HANDLE object, int index, PVOID information, DWORD size, LPDWORD needed) {
  Call call(kGetUserObjectInformationW);
  call.Detail().Number(static_cast<unsigned long long>(index));
  if (call.Due()) return call.Fail<BOOL>(FALSE);
  return call.Real<decltype(&GetUserObjectInformationW)>()(object, index, information, size, needed);
}

int WINAPI HookMessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT style) {
  Call call(kMessageBoxW);
  call.Detail().Wide(caption);
  if (call.Due()) return call.Fail(0);
  return call.Real<decltype(&MessageBoxW)>()(owner, text, caption, style);
}

UINT WINAPI HookSetErrorMode(UINT mode) {
  Call call(kSetErrorMode);
  return call.Real<decltype(&SetErrorMode)>()(mode);
}

void* __cdecl HookMalloc(std::size_t size) {
  Call call(kMalloc);
  call.Detail().Number(size);
  if (call.Due()) return call.Fail<void*>(nullptr);
  return call.Real<void* (*)(std::size_t)>()(size);
}

void* __cdecl HookCalloc(std::size_t count, std::size_t size) {
  Call call(kCalloc);
  call.Detail().Number(count).Text(" ").Number(size);
  if (call.Due()) return call.Fail<void*>(nullptr);
  return call.Real<void* (*)(std::size_t, std::size_t)>()(count, size);
}

void* __cdecl HookRealloc(void* block, std::size_t size) {
  Call call(kRealloc);
  call.Detail().Number(size);
  if (call.Due()) return call.Fail<void*>(nullptr);
  return call.Real<void* (*)(void*, std::size_t)>()(block, size);
}

// Logged only, so that an abort shows in the log before it ends the program.
void __cdecl HookAbort() {
  { Call call(kAbort); }
  reinterpret_cast<void (*)()>(real[kAbort])();
}

const Function Functions[kCount] = {
    {"kernel32.dll", "CreateFileW", reinterpret_cast<void*>(&HookCreateFileW)},
    {"kernel32.dll", "GetFileAttributesW", reinterpret_cast<void*>(&HookGetFileAttributesW)},
    {"kernel32.dll", "GetFullPathNameW", reinterpret_cast<void*>(&HookGetFullPathNameW)},
    {"kernel32.dll", "GetFileType", reinterpret_cast<void*>(&HookGetFileType)},
    {"kernel32.dll", "GetFileInformationByHandle", reinterpret_cast<void*>(&HookGetFileInformationByHandle)},
    {"kernel32.dll", "WriteFile", reinterpret_cast<void*>(&HookWriteFile)},
    {"kernel32.dll", "FlushFileBuffers", reinterpret_cast<void*>(&HookFlushFileBuffers)},
    {"kernel32.dll", "CloseHandle", reinterpret_cast<void*>(&HookCloseHandle)},
    {"kernel32.dll", "FormatMessageW", reinterpret_cast<void*>(&HookFormatMessageW)},
    {"kernel32.dll", "GetLocaleInfoEx", reinterpret_cast<void*>(&HookGetLocaleInfoEx)},
    {"kernel32.dll", "GetStdHandle", reinterpret_cast<void*>(&HookGetStdHandle)},
    {"kernel32.dll", "GetConsoleMode", reinterpret_cast<void*>(&HookGetConsoleMode)},
    {"kernel32.dll", "WriteConsoleW", reinterpret_cast<void*>(&HookWriteConsoleW)},
    {"kernel32.dll", "WideCharToMultiByte", reinterpret_cast<void*>(&HookWideCharToMultiByte)},
    {"user32.dll", "GetProcessWindowStation", reinterpret_cast<void*>(&HookGetProcessWindowStation)},
    {"user32.dll", "GetUserObjectInformationW", reinterpret_cast<void*>(&HookGetUserObjectInformationW)},
    {"user32.dll", "MessageBoxW", reinterpret_cast<void*>(&HookMessageBoxW)},
    {"kernel32.dll", "SetErrorMode", reinterpret_cast<void*>(&HookSetErrorMode)},
    {"msvcrt.dll", "malloc", reinterpret_cast<void*>(&HookMalloc)},
    {"msvcrt.dll", "calloc", reinterpret_cast<void*>(&HookCalloc)},
    {"msvcrt.dll", "realloc", reinterpret_cast<void*>(&HookRealloc)},
    {"msvcrt.dll", "abort", reinterpret_cast<void*>(&HookAbort)},
    {"", "allocation", nullptr},
};

// Replaces each slot of the program's import table that holds one of
// Functions with its hook; returns a line naming those it found.
void Patch(Line& report) {
  auto* const base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
  const auto* const dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
  const auto* const nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (directory.VirtualAddress == 0) return;
  for (auto* module = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
       module->Name != 0; ++module) {
    const char* const dll = reinterpret_cast<const char*>(base + module->Name);
    auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + module->OriginalFirstThunk);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + module->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      const char* const name = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData)->Name;
      for (int id = 0; id < kCount; ++id) {
        if (lstrcmpiA(dll, Functions[id].dll) != 0 || std::strcmp(name, Functions[id].name) != 0) continue;
        DWORD protection = 0;
        VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &protection);
        real[id] = reinterpret_cast<void*>(slots->u1.Function);
        slots->u1.Function = reinterpret_cast<ULONG_PTR>(Functions[id].hook);
        VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, protection, &protection);
        report.Text(" ").Text(name);
      }
    }
  }
}

// Reads SIZESTAMP_INJECT; false when it names no function of the table.
bool ReadPlan() {
  char text[256] = {};
  const DWORD length = GetEnvironmentVariableA("SIZESTAMP_INJECT", text, sizeof text);
  if (length == 0) return true;  // a counting run
  if (length >= sizeof text) return false;
  const char* const name = std::strtok(text, " ");
  for (int id = 0; name != nullptr && id < kCount; ++id) {
    if (std::strcmp(name, Functions[id].name) == 0) plan.function = id;
  }
  const char* const call = std::strtok(nullptr, " ");
  if (plan.function < 0 || call == nullptr) return false;
  char* end = nullptr;
  plan.call = std::strtol(call, &end, 10);
  plan.onwards = *end == '+';
  for (const char* fault = std::strtok(nullptr, " "); fault != nullptr; fault = std::strtok(nullptr, " ")) {
    const char* const value = std::strchr(fault, '=');
    if (value == nullptr) return false;
    const auto number = std::strtoull(value + 1, nullptr, 0);
    if (std::strncmp(fault, "error=", 6) == 0) {
      plan.has_error = true;
      plan.error = static_cast<DWORD>(number);
    } else if (std::strncmp(fault, "return=", 7) == 0) {
      plan.has_return = true;
      plan.value = static_cast<ULONG_PTR>(number);
    } else if (std::strncmp(fault, "written=", 8) == 0) {
      plan.has_written = true;
      plan.written = static_cast<DWORD>(number);
    } else {
      return false;
    }
  }
  return plan.call > 0;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  InitializeCriticalSection(&log_lock);
  wchar_t path[MAX_PATH] = {};
  const DWORD length = GetEnvironmentVariableW(L"SIZESTAMP_INJECT_LOG", path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return FALSE;
  log_file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (log_file == INVALID_HANDLE_VALUE || !ReadPlan()) return FALSE;  // the launcher reports the failed load
  Line report;
  report.Text("hooked");
  Patch(report);
  report.Write();
  return TRUE;
}
