// POSIX services. Text is kept as bytes widened one to one into 16-bit
// characters, so a file name reaches open() exactly as it was typed, whatever
// its encoding.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform.h"
#include "platform_common.h"

namespace {

int g_argument_count = 0;
char** g_arguments = nullptr;

std::u16string Widen(const std::string& bytes) {
  std::u16string text;
  for (const char byte : bytes) text += static_cast<char16_t>(static_cast<unsigned char>(byte));
  return text;
}

char NarrowChar(char16_t ch) { return ch < 256 ? static_cast<char>(ch) : '?'; }

std::string Narrow(std::u16string_view text) {
  std::string bytes;
  for (const char16_t ch : text) bytes += NarrowChar(ch);
  return bytes;
}

// Makes call again while a signal interrupts it: the program installs no
// handler, but one could come with the environment.
template <typename Call>
auto RetryOnInterrupt(Call call) {
  auto result = call();
  while (result < 0 && errno == EINTR) result = call();
  return result;
}

// Best effort: a closed pipe or a full device must not change the outcome.
// Returns whether all of the bytes went out.
bool WriteAll(int fd, const char* bytes, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    const ssize_t written = RetryOnInterrupt([&] { return write(fd, bytes + done, count - done); });
    if (written <= 0) return false;
    done += static_cast<std::size_t>(written);
  }
  return true;
}

void WriteAll(int fd, const std::string& bytes) { WriteAll(fd, bytes.data(), bytes.size()); }

using platform::FailFile;

// A file failure with the system's own wording for error.
[[noreturn]] void FailWithPosixError(const std::u16string& path, const char16_t* action, int error) {
  FailFile(path, action, Widen(std::strerror(error)));
}

// Owns an open descriptor; Close() reports a failed close, the destructor
// only cleans up after an earlier failure.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (IsValid()) close(fd_);
  }
  bool IsValid() const { return fd_ >= 0; }
  int Get() const { return fd_; }
  // Not retried on EINTR: on Linux the descriptor is gone whatever close returns.
  bool Close() {
    const int result = close(fd_);
    fd_ = -1;
    return result == 0;
  }

 private:
  int fd_;
};

// Without this check a write past the limit would be cut short or killed by
// SIGXFSZ; refusing up front leaves the file as it was.
void RequireWithinFileSizeLimit(const std::u16string& path, std::uint64_t end) {
  rlimit limit{};
  if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY && end > limit.rlim_cur) {
    FailWithPosixError(path, u"write", EFBIG);
  }
}

void RequireRegularFile(const std::u16string& path, const struct stat& status) {
  if (S_ISDIR(status.st_mode)) FailWithPosixError(path, u"open", EISDIR);
  if (!S_ISREG(status.st_mode)) FailFile(path, u"open", u"not a regular file");
}

// Opening a device or a FIFO can have effects of its own (a rewind, a wait
// for a writer), so the type is checked before the open, and again on the
// descriptor in case the name changed in between.
FileDescriptor OpenToEdit(const std::u16string& path) {
  const std::string name = Narrow(path);
  struct stat status {};
  if (stat(name.c_str(), &status) == 0) RequireRegularFile(path, status);
  const int fd = RetryOnInterrupt(
      [&] { return open(name.c_str(), O_RDWR | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666); });
  if (fd < 0) FailWithPosixError(path, u"open", errno);
  FileDescriptor file(fd);
  if (fstat(file.Get(), &status) != 0) FailWithPosixError(path, u"open", errno);
  RequireRegularFile(path, status);
  return file;
}

void WriteAllAt(const std::u16string& path, const FileDescriptor& file, const std::uint8_t* bytes,
                std::size_t count, std::uint64_t offset) {
  std::size_t done = 0;
  while (done < count) {
    const ssize_t written = RetryOnInterrupt(
        [&] { return pwrite(file.Get(), bytes + done, count - done, static_cast<off_t>(offset + done)); });
    if (written < 0) FailWithPosixError(path, u"write", errno);
    if (written == 0) FailWithPosixError(path, u"write", EIO);
    done += static_cast<std::size_t>(written);
  }
}

void Flush(const std::u16string& path, const FileDescriptor& file) {
  if (RetryOnInterrupt([&] { return fsync(file.Get()); }) != 0) FailWithPosixError(path, u"flush", errno);
}

// On a terminal a name's control characters are shown escaped, so that an
// escape sequence in it cannot drive the terminal; a pipe or a file gets the
// exact bytes, which scripts rely on.
std::string ForStream(int fd, std::u16string_view text) {
  if (isatty(fd) == 0) return Narrow(text);
  std::string bytes;
  platform::PutEscaped(text, [&bytes](char16_t ch) { bytes += NarrowChar(ch); });
  return bytes;
}

}  // namespace

namespace platform {

std::u16string CommandTail() {
  std::string tail;
  for (int i = 1; i < g_argument_count; ++i) {
    if (i > 1) tail += ' ';
    tail += g_arguments[i];
  }
  return Widen(tail);
}

void ShowMessage(const std::u16string& text, MessageKind kind) {
  const int fd = kind == MessageKind::Error ? STDERR_FILENO : STDOUT_FILENO;
  // Only the break before the message's last line: a path keeps its own bytes.
  std::u16string_view last_line(text);
  std::string bytes;
  if (const auto last_break = last_line.rfind(u"\r\n"); last_break != std::u16string_view::npos) {
    bytes = ForStream(fd, last_line.substr(0, last_break)) + "\n";
    last_line.remove_prefix(last_break + 2);
  }
  WriteAll(fd, bytes + ForStream(fd, last_line) + "\n");
}

double TextToDouble(const std::u16string& text) { return ParseDecimalText(text, u'.'); }

void WriteFileBlock(const std::u16string& path, std::uint64_t offset, const std::uint8_t* bytes,
                    std::size_t count) {
  RequireWithinFileSizeLimit(path, offset + count);
  FileDescriptor file = OpenToEdit(path);
  WriteAllAt(path, file, bytes, count, offset);
  Flush(path, file);
  if (!file.Close()) FailWithPosixError(path, u"close", errno);
}

void ReportFailure(std::u16string_view kind, std::u16string_view cause) noexcept {
  FixedBufferWriter line([](const char* bytes, std::size_t count) { return WriteAll(STDERR_FILENO, bytes, count); });
  PutFailureLine(kind, cause, [&line](char16_t ch) { line.Put(NarrowChar(ch)); });
  line.Put('\n');
  line.Flush();
}

void End(ExitStatus status) { std::exit(static_cast<int>(status)); }

}  // namespace platform

int main(int argc, char** argv) {
  g_argument_count = argc;
  g_arguments = argv;
  // Write errors are reported through errno instead of killing the process.
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
  RunMain();
}
