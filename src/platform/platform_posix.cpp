// POSIX services. Text is kept as bytes widened one to one into 16-bit
// characters, so a file name reaches open() exactly as it was typed, whatever
// its encoding.
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "decimal_text.h"
#include "failure_line.h"
#include "file_failure.h"
#include "platform.h"
#include "run_main.h"

namespace {

int g_argument_count = 0;
char** g_arguments = nullptr;

std::u16string WidenBytes(const std::string& bytes) {
  std::u16string text;
  for (const char byte : bytes) text += static_cast<char16_t>(static_cast<unsigned char>(byte));
  return text;
}

// Back to the bytes WidenBytes was given.
std::string NarrowToBytes(std::u16string_view text) {
  std::string bytes;
  for (const char16_t ch : text) bytes += static_cast<char>(ch);
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

void WriteAll(int fd, std::string_view bytes) { WriteAll(fd, bytes.data(), bytes.size()); }

using platform::FailFile;

// A file failure with the system's own wording for error.
[[noreturn]] void FailWithPosixError(const std::u16string& path, const char16_t* action, int error) {
  FailFile(path, action, WidenBytes(std::strerror(error)));
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

// Whether the process's file-size limit refuses a write that ends at end.
// Without this check such a write would be cut short or killed by SIGXFSZ;
// refusing up front leaves the file as it was.
bool ExceedsFileSizeLimit(std::uint64_t end) {
  rlimit limit{};
  return getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY && end > limit.rlim_cur;
}

// The part of name up to its last '/', with it: empty for a name in the
// current folder (npos + 1 is 0).
std::string FolderPart(const std::string& name) { return name.substr(0, name.rfind('/') + 1); }

// The open would create a missing target in the folder of its name, or of
// the last link the name leads through; a missing folder there is what the
// open would report. Linux follows at most 40 links, and a link's text (at
// most PATH_MAX - 1 bytes) always fits.
void RequireFolderToCreateIn(const std::u16string& path, std::string name) {
  char link[PATH_MAX];
  for (int followed = 0; followed < 40; ++followed) {
    const ssize_t length = readlink(name.c_str(), link, sizeof link);
    if (length < 0) break;
    std::string target(link, static_cast<std::size_t>(length));
    if (target.front() != '/') target.insert(0, FolderPart(name));
    name = std::move(target);
  }
  struct stat status {};
  if (stat((FolderPart(name) + ".").c_str(), &status) != 0) FailWithPosixError(path, u"open", errno);
}

// How long the kernel lets a lease holder take to give its lease up before
// it breaks the lease itself; the kernel's default when that cannot be read.
int LeaseBreakSeconds() {
  const FileDescriptor file(
      RetryOnInterrupt([] { return open("/proc/sys/fs/lease-break-time", O_RDONLY | O_CLOEXEC); }));
  char text[16] = {};
  if (!file.IsValid() || RetryOnInterrupt([&] { return read(file.Get(), text, sizeof text - 1); }) <= 0) return 45;
  return std::max(std::atoi(text), 0);
}

// Another program's lease on the file (an NFS delegation, a Samba oplock)
// makes the open fail with EWOULDBLOCK while the kernel asks the holder to
// give it up, so the open of a regular file is tried again until it has, for
// at most the time the kernel grants the holder. The open never blocks: a
// FIFO put in the name's place since it was looked at cannot hold it up.
int OpenWaitingForLease(const std::u16string& path, const std::string& name, bool regular) {
  constexpr long long kTriesPerSecond = 100;
  constexpr timespec kPause{0, 1'000'000'000 / kTriesPerSecond};
  int seconds = -1;  // read when a lease is first met
  for (long long pauses = 0;; ++pauses) {
    const int fd = RetryOnInterrupt(
        [&] { return open(name.c_str(), O_RDWR | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666); });
    if (fd >= 0 || errno != EWOULDBLOCK || !regular) return fd;
    if (seconds < 0) seconds = LeaseBreakSeconds();
    if (pauses == seconds * kTriesPerSecond) {
      FailFile(path, u"open",
               u"another program holds a lease on it and did not give it up within " +
                   WidenBytes(std::to_string(seconds)) + u" s");
    }
    nanosleep(&kPause, nullptr);
  }
}

void RequireRegularFile(const std::u16string& path, const struct stat& status) {
  if (S_ISDIR(status.st_mode)) FailFile(path, u"open", platform::DirectoryCause);
  if (!S_ISREG(status.st_mode)) FailFile(path, u"open", platform::NoFileCause);
}

// Opening a device or a FIFO can have effects of its own (a rewind, a wait
// for a writer), so the type is checked before the open, and again on the
// descriptor in case the name changed in between. A file-size limit meets
// only what could be written: a name that leads nowhere is reported as such
// (stat's cause, or the missing folder it would be created in), and a missing
// file that the limit refuses is not created.
FileDescriptor OpenToEdit(const std::u16string& path, std::uint64_t end) {
  const std::string name = NarrowToBytes(path);
  struct stat status {};
  const int stat_error = stat(name.c_str(), &status) == 0 ? 0 : errno;
  if (stat_error == 0) RequireRegularFile(path, status);
  if (ExceedsFileSizeLimit(end)) {
    if (stat_error == ENOENT) RequireFolderToCreateIn(path, name);
    if (stat_error != 0 && stat_error != ENOENT) FailWithPosixError(path, u"open", stat_error);
    FailWithPosixError(path, u"write", EFBIG);
  }
  const int fd = OpenWaitingForLease(path, name, stat_error == 0);
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

// On a terminal a name's control characters and stray bytes are shown
// escaped, so that an escape sequence in it cannot drive the terminal; a pipe
// or a file gets the exact bytes, which scripts rely on.
std::string ForStream(int fd, std::u16string_view text) {
  if (isatty(fd) == 0) return NarrowToBytes(text);
  return platform::EscapedText(text, platform::TextUnits::Bytes);
}

}  // namespace

namespace platform {

std::u16string CommandTail() {
  std::string tail;
  for (int i = 1; i < g_argument_count; ++i) {
    if (i > 1) tail += ' ';
    tail += g_arguments[i];
  }
  return WidenBytes(tail);
}

void ShowMessage(const std::u16string& text, MessageKind kind) {
  const int fd = kind == MessageKind::Error ? STDERR_FILENO : STDOUT_FILENO;
  WriteAll(fd, MessageForStream(text, "\n", [fd](std::u16string_view line) { return ForStream(fd, line); }));
}

double TextToDouble(const std::u16string& text) { return ParseDecimalText(text, u'.'); }

void WriteFileBlock(const std::u16string& path, std::uint64_t offset, const std::uint8_t* bytes,
                    std::size_t count) {
  FileDescriptor file = OpenToEdit(path, offset + count);
  WriteAllAt(path, file, bytes, count, offset);
  Flush(path, file);
  if (!file.Close()) FailWithPosixError(path, u"close", errno);
}

void ReportFailure(std::u16string_view kind, std::u16string_view cause) noexcept {
  const FailureLine line(kind, cause, TextUnits::Bytes, "\n");
  WriteAll(STDERR_FILENO, line.Text());
}

}  // namespace platform

int main(int argc, char** argv) {
  g_argument_count = argc;
  g_arguments = argv;
  // Write errors are reported through errno instead of killing the process.
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
  RunMain();
}
