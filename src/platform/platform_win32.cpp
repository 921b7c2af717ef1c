// Win32 services, shared by the desktop program and its console twin; each
// has its entry, and its way of showing a message, in a file of its own
// (win32_gui.cpp, win32_console.cpp). Text stays UTF-16 from the command line
// to CreateFileW, so any file name Windows accepts reaches the file system
// unchanged.
#include "windows_api.h"

#include <algorithm>
#include <cwctype>
#include <iterator>
#include <new>
#include <string>
#include <string_view>

#include "decimal_text.h"
#include "failure_line.h"
#include "file_failure.h"
#include "platform.h"
#include "run_main.h"
#include "terminal_text.h"
#include "win32_program.h"

namespace {

// MinGW's C++ runtime sets up its per-thread state at the first throw, with
// allocations it does not check: one that fails there crashes the program.
// Throwing once while the C runtime starts does that before the program runs.
const bool exceptions_ready = [] {
  try {
    throw 0;
  } catch (int) {  // GCOVR_EXCL_BR_LINE: the edge for anything but an int; every build throws only 0 here
  }
  return true;
}();

// wchar_t is 16-bit on Windows: both texts hold the same UTF-16 code units.
std::wstring ToWide(const std::u16string& text) { return std::wstring(text.begin(), text.end()); }
std::u16string FromWide(const std::wstring& text) { return std::u16string(text.begin(), text.end()); }

bool IsBlank(wchar_t ch) { return ch == L' ' || ch == L'\t'; }

// The program name ends as the C runtime ends it: quotes switch a quoted
// stretch on and off, and the first space or tab outside one ends the name.
std::wstring TailOf(const wchar_t* command_line) {
  if (command_line == nullptr) return {};  // GCOVR_EXCL_BR_LINE: GetCommandLineW never gives null; guarded all the same
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
  std::wstring text;
  if (length > 0) text.assign(buffer, length);
  LocalFree(buffer);
  text.erase(text.find_last_not_of(L"\r\n .") + 1);
  std::u16string message = FromWide(L"error " + std::to_wstring(error));
  if (!text.empty()) message = FromWide(text) + u" (" + message + u")";
  return message;
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

// A full path longer than MAX_PATH takes a second pass, in a buffer of the
// size the first asked for.
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

// Windows compares the prefixes and names checked here by their upper case.
// They are ASCII: what matters is the ASCII letters and the two others whose
// upper case is ASCII, dotless i (I) and long s (S). A fold of these alone
// needs no case tables, so the programs do without user32's.
wchar_t FoldForNames(wchar_t ch) {
  if (ch >= L'A' && ch <= L'Z') return static_cast<wchar_t>(ch - L'A' + L'a');
  if (ch == L'\u0131') return L'i';
  if (ch == L'\u017F') return L's';
  return ch;
}

std::wstring FoldedForNames(std::wstring text) {
  for (wchar_t& ch : text) ch = FoldForNames(ch);
  return text;
}

bool IsOneOf(wchar_t ch, std::wstring_view set) { return set.find(ch) != std::wstring_view::npos; }

// \\server\pipe\... and \\server\mailslot\... reach pipes and mailslots on any server.
// GCOVR_EXCL_BR_START: some short-circuit edges of the name checks, which
// no spelling in the Windows end-to-end tables reaches yet.
bool NamesDeviceShare(const std::wstring& lower) {
  const auto share = lower.find(L'\\', 2);
  if (share == std::wstring::npos) return false;
  const auto name = lower.substr(share + 1, lower.find(L'\\', share + 1) - share - 1);
  return name == L"pipe" || name == L"mailslot";
}

// A drive ("c:") or a volume by its GUID ("volume{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}").
bool IsVolumeName(const std::wstring& lower) {
  if (lower.size() == 2) return IsOneOf(lower[0], L"abcdefghijklmnopqrstuvwxyz") && lower[1] == L':';
  const std::wstring pattern = L"volume{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}";
  if (lower.size() != pattern.size()) return false;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const bool matches = pattern[i] == L'x' ? IsOneOf(lower[i], L"0123456789abcdef") : lower[i] == pattern[i];
    if (!matches) return false;
  }
  return true;
}

// Whether what follows the prefix \\.\, \\?\ or \??\ is a path on a volume:
// the volume's name, then a path that names something on it. The volume
// alone, or its root, is the raw volume or no file: six bytes written into a
// raw volume would damage it.
bool NamesPathOnVolume(const std::wstring& rest) {
  const auto end = rest.find(L'\\');
  return end != std::wstring::npos && end + 1 < rest.size() && IsVolumeName(rest.substr(0, end));
}
// GCOVR_EXCL_BR_STOP

// Only paths on a drive or a volume and \\server\share\... name files. The
// prefix \\.\ reaches devices, and \\?\ and \??\ hand the rest to the system's
// object namespace as it is: after them, anything but a path on a volume (or,
// after the last two, UNC\server\share\...) is no file: GLOBALROOT, a raw
// volume, a device, a pipe.
bool NamesDevice(const std::wstring& typed) {
  std::wstring name = FoldedForNames(typed);
  const bool device_namespace = StartsWith(name, L"\\\\.\\");
  if (device_namespace || StartsWith(name, L"\\\\?\\") || StartsWith(name, L"\\??\\")) {
    name.erase(0, 4);
    if (NamesPathOnVolume(name)) return false;
    if (device_namespace || !StartsWith(name, L"unc\\")) return true;
    name.replace(0, 4, L"\\\\");
  }
  return StartsWith(name, L"\\\\") && NamesDeviceShare(name);
}

// Opening a device or a pipe can have effects of its own (a modem line, a
// waiting server), so such names are refused before the open, and folders
// with them. The name is checked as typed, which is what CreateFileW sees,
// and in full, where reserved DOS names like NUL and COM1 show under \\.\.
void RequireFileName(const std::u16string& path, const std::wstring& name) {
  // Some edges of this line are those of the name checks above.
  if (NamesDevice(name) || NamesDevice(FullPathOf(name))) FailFile(path, u"open", platform::NoFileCause);  // GCOVR_EXCL_BR_LINE: see above
  const DWORD attributes = GetFileAttributesW(name.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    FailFile(path, u"open", platform::DirectoryCause);
  }
}

// Checked again on the handle, in case the name changed in between or took
// a road the name check does not see.
void RequireDiskFile(const std::u16string& path, HANDLE file) {
  // FILE_TYPE_UNKNOWN is a failure only when an error comes with it.
  SetLastError(NO_ERROR);
  const DWORD type = GetFileType(file);
  // No test makes GetFileType give FILE_TYPE_UNKNOWN without an error yet.
  if (type == FILE_TYPE_UNKNOWN && GetLastError() != NO_ERROR) FailWithWindowsError(path, u"open", GetLastError());  // GCOVR_EXCL_BR_LINE: see above
  if (type != FILE_TYPE_DISK) FailFile(path, u"open", platform::NoFileCause);
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(file, &information)) FailWithWindowsError(path, u"open", GetLastError());
  // In every build CreateFileW opens no folder without backup semantics; this
  // guards a road to one that the name check does not see.
  if ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) FailFile(path, u"open", platform::DirectoryCause);  // GCOVR_EXCL_BR_LINE: see above
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
  const int size = static_cast<int>(text.size());
  const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return {};
  std::string bytes(static_cast<std::size_t>(length), '\0');
  const int converted = WideCharToMultiByte(CP_UTF8, 0, text.data(), size, bytes.data(), length, nullptr, nullptr);
  bytes.resize(static_cast<std::size_t>(std::max(converted, 0)));
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

// UTF-8 text to a console, as UTF-16 through a buffer of its own: a console
// shows every character that way, whatever its code page, and this needs no
// memory. Best effort, as WriteAll.
void WriteToConsole(HANDLE console, std::string_view bytes) {
  wchar_t units[1024];
  while (!bytes.empty()) {
    std::size_t size = std::min(bytes.size(), std::size(units));
    // A piece ends before a character's continuation bytes, not among them.
    // GCOVR_EXCL_BR_START: the program's own UTF-8 has no run of continuation
    // bytes a buffer long, and always converts.
    while (size > 0 && size < bytes.size() && (static_cast<unsigned char>(bytes[size]) & 0xC0) == 0x80) --size;
    if (size == 0) size = std::min(bytes.size(), std::size(units));
    const int length = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(size), units,
                                           static_cast<int>(std::size(units)));
    if (length <= 0) return;
    // GCOVR_EXCL_BR_STOP
    for (int done = 0; done < length;) {
      DWORD written = 0;
      if (!WriteConsoleW(console, units + done, static_cast<DWORD>(length - done), &written, nullptr) ||
          written == 0) {
        return;
      }
      done += static_cast<int>(written);
    }
    bytes.remove_prefix(size);
  }
}

// The failure line, which is escaped wherever it goes, on standard error.
void WriteFailureLine(const platform::FailureLine& line) {
  const HANDLE stream = StreamFor(platform::MessageKind::Error);
  if (stream == INVALID_HANDLE_VALUE) return;
  if (IsConsole(stream)) {
    WriteToConsole(stream, line.Text());
  } else {
    WriteAll(stream, line.Text());
  }
}

// A failed allocation ends the program here rather than throwing: with no
// memory left, MinGW's runtime cannot throw either (its reserve for
// exceptions takes a lock whose first use allocates). The report's box needs
// memory too; when it fails, this comes back for the line alone.
void OutOfMemory() {
  static bool reporting = false;
  // GCOVR_EXCL_BR_START: the allocation table of the windows preset takes
  // these; the coverage build skips it, as libgcov allocates to write its counts.
  if (!reporting) {
    reporting = true;
    platform::ReportFailure(u"memory", u"out of memory");
  } else {
    WriteFailureLine(platform::FailureLine(u"memory", u"out of memory", platform::TextUnits::Utf16, "\r\n"));
  }
  // GCOVR_EXCL_BR_STOP
  platform::End(ExitStatus::UnexpectedFailure);
}

// The entry's way of showing a message in a box, handed to win32::Run.
platform::win32::ShowBox show_box = nullptr;

}  // namespace

namespace platform {

std::u16string CommandTail() { return FromWide(TailOf(GetCommandLineW())); }

void ShowMessage(const std::u16string& text, MessageKind kind) {
  if (show_box(ToWide(text), kind)) return;
  // A console is a terminal: what could drive it is shown escaped. A pipe or
  // a file gets the exact text, which scripts rely on.
  const HANDLE stream = StreamFor(kind);
  if (stream == INVALID_HANDLE_VALUE) return;
  if (IsConsole(stream)) {
    WriteToConsole(stream, MessageForStream(text, "\r\n", [](std::u16string_view line) {
                     return EscapedText(line, TextUnits::Utf16);
                   }));
  } else {
    // Its line breaks are CR LF already. Converted in one piece, a message
    // that cannot be converted is lost whole rather than in part.
    WriteAll(stream, ToUtf8(ToWide(text) + L"\r\n"));
  }
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
    if (show_box(title + L" failure\r\n" + std::wstring(cause.begin(), cause.end()), MessageKind::Error)) return;
  } catch (...) {
    // No memory for a box: the line alone.
  }
  WriteFailureLine(line);
}

void win32::Run(ShowBox entry_show_box) {
  show_box = entry_show_box;
  // A drive without a medium fails the open instead of asking the user.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  std::set_new_handler(OutOfMemory);
  RunMain();
}

}  // namespace platform
