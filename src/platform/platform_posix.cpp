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

#include "../entry.h"
#include "platform.h"

namespace {

int g_argument_count = 0;
char** g_arguments = nullptr;

std::u16string Widen(const std::string& bytes) {
  std::u16string text;
  for (const char byte : bytes) text += static_cast<char16_t>(static_cast<unsigned char>(byte));
  return text;
}

std::string Narrow(const std::u16string& text) {
  std::string bytes;
  for (const char16_t ch : text) bytes += ch < 256 ? static_cast<char>(ch) : '?';
  return bytes;
}

// Best effort: a closed pipe or a full device must not change the outcome.
void WriteAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t written = write(fd, bytes.data() + done, bytes.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    done += static_cast<std::size_t>(written);
  }
}

using platform::FailFile;

// A file failure with the system's own wording for error.
[[noreturn]] void FailWithErrno(const std::string& path, const char16_t* action, int error) {
  FailFile(Widen(path), action, Widen(std::strerror(error)));
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
    if (fd_ >= 0) close(fd_);
  }
  int Get() const { return fd_; }
  int Close() {
    const int result = close(fd_);
    fd_ = -1;
    return result;
  }

 private:
  int fd_;
};

// Without this check a write past the limit would be cut short or killed by
// SIGXFSZ; refusing up front leaves the file as it was.
void RequireWithinFileSizeLimit(const std::string& path, std::uint64_t end) {
  rlimit limit{};
  if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY && end > limit.rlim_cur) {
    FailWithErrno(path, u"write", EFBIG);
  }
}

void RequireRegularFile(const std::string& path, const struct stat& status) {
  if (S_ISDIR(status.st_mode)) FailWithErrno(path, u"open", EISDIR);
  if (!S_ISREG(status.st_mode)) FailFile(Widen(path), u"open", u"not a regular file");
}

// Opening a device or a FIFO can have effects of its own (a rewind, a wait
// for a writer), so the type is checked before the open, and again on the
// descriptor in case the name changed in between.
FileDescriptor OpenRegularFile(const std::string& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) == 0) RequireRegularFile(path, status);
  int fd = -1;
  do {
    fd = open(path.c_str(), O_RDWR | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) FailWithErrno(path, u"open", errno);
  FileDescriptor file(fd);
  if (fstat(file.Get(), &status) != 0) FailWithErrno(path, u"open", errno);
  RequireRegularFile(path, status);
  return file;
}

void WriteAllAt(const std::string& path, int fd, const std::uint8_t* bytes, std::size_t count,
                std::uint64_t offset) {
  std::size_t done = 0;
  while (done < count) {
    const ssize_t written = pwrite(fd, bytes + done, count - done, static_cast<off_t>(offset + done));
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) FailWithErrno(path, u"write", errno);
    if (written == 0) FailWithErrno(path, u"write", EIO);
    done += static_cast<std::size_t>(written);
  }
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
  std::string bytes = Narrow(text);
  // Only the break before the message's last line: a path keeps its own bytes.
  if (const auto at = bytes.rfind("\r\n"); at != std::string::npos) bytes.replace(at, 2, "\n");
  WriteAll(kind == MessageKind::Error ? STDERR_FILENO : STDOUT_FILENO, bytes + "\n");
}

double TextToDouble(const std::u16string& text) { return ParseDecimalText(text, u'.'); }

void WriteFileBlock(const std::u16string& path, std::uint64_t offset, const std::uint8_t* bytes,
                    std::size_t count) {
  const std::string name = Narrow(path);
  RequireWithinFileSizeLimit(name, offset + count);
  FileDescriptor file = OpenRegularFile(name);
  WriteAllAt(name, file.Get(), bytes, count, offset);
  if (fsync(file.Get()) != 0) FailWithErrno(name, u"flush", errno);
  if (file.Close() != 0) FailWithErrno(name, u"close", errno);
}

void ReportFailure(const Failure& failure) {
  WriteAll(STDERR_FILENO, Narrow(FailureLine(failure)) + "\n");
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
