// Win32 services. Text stays UTF-16 from the command line to CreateFileW, so
// any file name Windows accepts reaches the file system unchanged.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <string>

#include "decimal_text.h"
#include "failure_line.h"
#include "file_failure.h"
#include "platform.h"
#include "run_main.h"

namespace {

const wchar_t* const Caption = L"sizestamp";

// wchar_t is 16-bit on Windows: both texts hold the same UTF-16 code units.
std::wstring ToWide(const std::u16string& text) { return std::wstring(text.begin(), text.end()); }
std::u16string FromWide(const std::wstring& text) { return std::u16string(text.begin(), text.end()); }

bool IsBlank(wchar_t ch) { return ch == L' ' || ch == L'\t'; }

// The program name ends as the C runtime ends it: quotes switch a quoted
// stretch on and off, and the first space or tab outside one ends the name.
std::wstring TailOf(const wchar_t* command_line) {
  if (command_line == nullptr) return {};
  const wchar_t* at = command_line;
  bool quoted = false;
  for (; *at != L'\0' && (quoted || !IsBlank(*at)); ++at) {
    if (*at == L'"') quoted = !quoted;
  }
  while (IsBlank(*at)) ++at;
  return at;
}

// The system's own wording for an error code, without its closing full stop
// and line break, so that it ends a sentence of ours.
std::u16string SystemMessage(DWORD error) {
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text = length > 0 ? std::wstring(buffer, length) : std::wstring();
  LocalFree(buffer);
  text.erase(text.find_last_not_of(L"\r\n .") + 1);
  const std::u16string code = FromWide(L"error " + std::to_wstring(error));
  return text.empty() ? code : FromWide(text) + u" (" + code + u")";
}

using platform::FailFile;

// A file failure with the system's own wording for error.
[[noreturn]] void FailWithWindowsError(const std::u16string& path, const char16_t* action, DWORD error) {
  FailFile(path, action, SystemMessage(error));
}

// Owns an open handle; Close() reports a failed close, the destructor only
// cleans up after an earlier failure.
class FileHandle {
 public:
  explicit FileHandle(HANDLE handle) : handle_(handle) {}
  FileHandle(FileHandle&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  ~FileHandle() {
    if (IsValid()) CloseHandle(handle_);
  }
  bool IsValid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
  HANDLE Get() const { return handle_; }
  bool Close() {
    const BOOL closed = CloseHandle(handle_);
    handle_ = nullptr;
    return closed != FALSE;
  }

 private:
  HANDLE handle_;
};

std::wstring FullPathOf(const std::wstring& path) {
  std::wstring full(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length == 0) return path;
    if (length < full.size()) return full.substr(0, length);
    full.resize(length);
  }
}

bool StartsWith(const std::wstring& text, const wchar_t* prefix) { return text.rfind(prefix, 0) == 0; }

// \\server\pipe\... and \\server\mailslot\... reach pipes and mailslots on any server.
bool NamesDeviceShare(const std::wstring& lower) {
  const auto share = lower.find(L'\\', 2);
  if (share == std::wstring::npos) return false;
  const auto name = lower.substr(share + 1, lower.find(L'\\', share + 1) - share - 1);
  return name == L"pipe" || name == L"mailslot";
}

// Only C:\... and \\server\share\... name files. \\.\ reaches devices;
// \\?\ and \??\ hand the rest to the system's object namespace as it is,
// where anything but a drive's path or UNC\server\share\... (GLOBALROOT, a
// volume, a device, a pipe) is no file.
bool NamesDevice(std::wstring name) {
  CharLowerBuffW(name.data(), static_cast<DWORD>(name.size()));
  if (StartsWith(name, L"\\\\.\\")) return true;
  if (StartsWith(name, L"\\\\?\\") || StartsWith(name, L"\\??\\")) {
    name.erase(0, 4);
    if (!StartsWith(name, L"unc\\")) {
      return !(name.size() >= 3 && std::iswalpha(name[0]) && name[1] == L':' && name[2] == L'\\');
    }
    name.replace(0, 4, L"\\\\");
  }
  return StartsWith(name, L"\\\\") && NamesDeviceShare(name);
}

// Opening a device or a pipe can have effects of its own (a modem line, a
// waiting server), so such names are refused before the open, and folders
// with them. The name is checked as typed, which is what CreateFileW sees,
// and in full, where reserved DOS names like NUL and COM1 show under \\.\.
void RequireFileName(const std::u16string& path, const std::wstring& name) {
  if (NamesDevice(name) || NamesDevice(FullPathOf(name))) FailFile(path, u"open", platform::IsNoFile);
  const DWORD attributes = GetFileAttributesW(name.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    FailFile(path, u"open", platform::IsDirectory);
  }
}

// Checked again on the handle, in case the name changed in between or took
// a road the name check does not see.
void RequireDiskFile(const std::u16string& path, HANDLE file) {
  if (GetFileType(file) != FILE_TYPE_DISK) FailFile(path, u"open", platform::IsNoFile);
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(file, &information)) FailWithWindowsError(path, u"open", GetLastError());
  if ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) FailFile(path, u"open", platform::IsDirectory);
}

// A pipe server reached all the same may only identify the user, not act as them.
FileHandle OpenToEdit(const std::u16string& path) {
  const std::wstring name = ToWide(path);
  RequireFileName(path, name);
  FileHandle file(CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr));
  if (!file.IsValid()) FailWithWindowsError(path, u"open", GetLastError());
  RequireDiskFile(path, file.Get());
  return file;
}

void WriteAllAt(const std::u16string& path, const FileHandle& file, const std::uint8_t* bytes,
                std::size_t count, std::uint64_t offset) {
  std::size_t done = 0;
  while (done < count) {
    const std::uint64_t at = offset + done;
    OVERLAPPED position{};
    position.Offset = static_cast<DWORD>(at & 0xFFFFFFFFu);
    position.OffsetHigh = static_cast<DWORD>(at >> 32);
    const auto chunk = static_cast<DWORD>(std::min<std::size_t>(count - done, 0x40000000u));
    DWORD written = 0;
    if (!WriteFile(file.Get(), bytes + done, chunk, &written, &position)) {
      FailWithWindowsError(path, u"write", GetLastError());
    }
    if (written == 0) FailWithWindowsError(path, u"write", ERROR_WRITE_FAULT);
    done += written;
  }
}

void Flush(const std::u16string& path, const FileHandle& file) {
  if (!FlushFileBuffers(file.Get())) FailWithWindowsError(path, u"flush", GetLastError());
}

std::string ToUtf8(const std::wstring& text) {
  // In every build a message's lines all hold text: the path before its
  // break is never empty, nor is what follows.
  if (text.empty()) return {};  // GCOVR_EXCL_BR_LINE: see above
  const int size = static_cast<int>(text.size());
  const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(std::max(length, 0)), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), size, bytes.data(), length, nullptr, nullptr);
  return bytes;
}

// Best effort: a closed or missing standard handle must not change the outcome.
void WriteAll(HANDLE stream, std::string_view bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    DWORD written = 0;
    const auto chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 0x10000u));
    if (!WriteFile(stream, bytes.data() + done, chunk, &written, nullptr) || written == 0) return;
    done += written;
  }
}

HANDLE StreamFor(platform::MessageKind kind) {
  const HANDLE stream = GetStdHandle(kind == platform::MessageKind::Error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
  return stream == nullptr ? INVALID_HANDLE_VALUE : stream;
}

bool IsConsole(HANDLE stream) {
  DWORD mode = 0;
  return GetFileType(stream) == FILE_TYPE_CHAR && GetConsoleMode(stream, &mode);
}

// On a window station no one sees (a service, a task run while logged off)
// a box is invisible and MessageBoxW would never return.
bool CanShowBox() {
  const HWINSTA station = GetProcessWindowStation();
  USEROBJECTFLAGS flags{};
  return station != nullptr && GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, nullptr) &&
         (flags.dwFlags & WSF_VISIBLE) != 0;
}

// Whether the user saw text in a message box; where none can be shown (no
// desktop, a service, headless Wine) the caller writes to a standard stream.
bool ShowBox(const std::wstring& text, platform::MessageKind kind) {
  if (!CanShowBox()) return false;
  const UINT style = MB_OK | (kind == platform::MessageKind::Error ? MB_ICONERROR : MB_ICONINFORMATION);
  const int answer = MessageBoxW(nullptr, text.c_str(), Caption, style);
  return answer != 0 && answer != -1;
}

}  // namespace

namespace platform {

std::u16string CommandTail() { return FromWide(TailOf(GetCommandLineW())); }

void ShowMessage(const std::u16string& text, MessageKind kind) {
  if (ShowBox(ToWide(text), kind)) return;
  // A console is a terminal: what could drive it is shown escaped. A pipe or
  // a file gets the exact text, which scripts rely on.
  const HANDLE stream = StreamFor(kind);
  if (stream == INVALID_HANDLE_VALUE) return;
  const bool console = IsConsole(stream);
  WriteAll(stream, MessageForStream(text, "\r\n", [console](std::u16string_view line) {
             return console ? EscapedText(line, TextUnits::Utf16) : ToUtf8(std::wstring(line.begin(), line.end()));
           }));
}

double TextToDouble(const std::u16string& text) {
  wchar_t separator[8] = {};
  const int length = GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_SDECIMAL, separator, 8);
  // The parser takes one character; a longer separator falls back to the point.
  const char16_t decimal = length == 2 ? static_cast<char16_t>(separator[0]) : u'.';
  return ParseDecimalText(text, decimal);
}

void WriteFileBlock(const std::u16string& path, std::uint64_t offset, const std::uint8_t* bytes,
                    std::size_t count) {
  FileHandle file = OpenToEdit(path);
  WriteAllAt(path, file, bytes, count, offset);
  Flush(path, file);
  if (!file.Close()) FailWithWindowsError(path, u"close", GetLastError());
}

void ReportFailure(std::u16string_view kind, std::u16string_view cause) noexcept {
  // Built first, in a buffer of its own: it needs no memory.
  const FailureLine line(kind, cause, TextUnits::Utf16, "\r\n");
  try {
    std::wstring title(kind.begin(), kind.end());
    // In every build a failure's kind is one of its fixed names, never empty.
    if (!title.empty()) title[0] = static_cast<wchar_t>(std::towupper(title[0]));  // GCOVR_EXCL_BR_LINE: see above
    if (ShowBox(title + L" failure\r\n" + std::wstring(cause.begin(), cause.end()), MessageKind::Error)) return;
  } catch (...) {
    // No memory for a box: the line alone.
  }
  const HANDLE stream = StreamFor(MessageKind::Error);
  if (stream != INVALID_HANDLE_VALUE) WriteAll(stream, line.Text());
}

}  // namespace platform

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // A drive without a medium fails the open instead of asking the user.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  RunMain();
}
