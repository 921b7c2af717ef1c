// POSIX services. Text is kept as bytes widened one to one into 16-bit
// characters, so a file name reaches open() exactly as it was typed, whatever
// its encoding.
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

#include "decimal_text.h"
#include "failure_line.h"
#include "file_failure.h"
#include "platform.h"
#include "run_main.h"
#include "terminal_text.h"

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

// Opens a name without opening the file: no effect on a device or a FIFO.
// Where the system lacks it, 0: every name is then opened by OpenByName.
#ifdef O_PATH
constexpr int kOpenPath = O_PATH;
#else
constexpr int kOpenPath = 0;
#endif

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
// the last link the name leads through; a missing folder there, or one the
// user may not write, is what the open would report. Linux follows at most 40
// links, and a link's text (at most PATH_MAX - 1 bytes) always fits.
void RequireFolderToCreateIn(const std::u16string& path, std::string name) {
  char link[PATH_MAX];
  for (int followed = 0; followed < 40; ++followed) {
    const ssize_t length = readlink(name.c_str(), link, sizeof link);
    if (length < 0) break;
    std::string target(link, static_cast<std::size_t>(length));
    if (target.front() != '/') target.insert(0, FolderPart(name));
    name = std::move(target);
  }
  const std::string folder = FolderPart(name) + ".";
  if (faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0) FailWithPosixError(path, u"open", errno);
}

// A file-size limit that refuses the write must not leave a created file
// behind; what else would refuse the creation is reported first.
void RequireRoomToCreate(const std::u16string& path, const std::string& name, std::uint64_t end) {
  if (!ExceedsFileSizeLimit(end)) return;
  RequireFolderToCreateIn(path, name);
  FailWithPosixError(path, u"write", EFBIG);
}

void RequireRegularFile(const std::u16string& path, const struct stat& status) {
  if (S_ISDIR(status.st_mode)) FailFile(path, u"open", platform::DirectoryCause);
  if (!S_ISREG(status.st_mode)) FailFile(path, u"open", platform::NoFileCause);
}

void RequireRegularDescriptor(const std::u16string& path, int fd) {
  struct stat status {};
  if (fstat(fd, &status) != 0) FailWithPosixError(path, u"open", errno);
  RequireRegularFile(path, status);
}

// Where the checked file cannot be reopened, the name itself is opened:
// checked before, and again on the descriptor, since it may change in
// between. The open never blocks, so such a change cannot hold the program
// on a FIFO, and a file under a lease fails at once.
FileDescriptor OpenByName(const std::u16string& path, const std::string& name, std::uint64_t end) {
  struct stat status {};
  if (stat(name.c_str(), &status) == 0) RequireRegularFile(path, status);
  else RequireRoomToCreate(path, name, end);
  FileDescriptor file(RetryOnInterrupt(
      [&] { return open(name.c_str(), O_RDWR | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666); }));
  if (!file.IsValid()) FailWithPosixError(path, u"open", errno);
  RequireRegularDescriptor(path, file.Get());
  return file;
}

// The regular file that checked refers to, opened for writing through /proc
// (never by its name, which may lead elsewhere by now) and blocking: the
// kernel asks a lease holder (an NFS delegation, a Samba oplock) to give the
// lease up and lets the open through once it has, or once lease-break-time
// has passed.
FileDescriptor ReopenChecked(const std::u16string& path, const std::string& name, const FileDescriptor& checked,
                             std::uint64_t end) {
  RequireRegularDescriptor(path, checked.Get());
  const std::string same_file = "/proc/self/fd/" + std::to_string(checked.Get());
  FileDescriptor file(RetryOnInterrupt([&] { return open(same_file.c_str(), O_RDWR | O_CLOEXEC); }));
  if (!file.IsValid() && errno == ENOENT) return OpenByName(path, name, end);  // no /proc mounted
  if (!file.IsValid()) FailWithPosixError(path, u"open", errno);
  return file;
}

// A symbolic link that leads to nothing: neither an O_PATH open nor an
// exclusive creation can get through it.
bool IsDanglingLink(const std::string& name) {
  struct stat status {};
  return lstat(name.c_str(), &status) == 0 && stat(name.c_str(), &status) != 0;
}

// Opening a device or a FIFO can have effects of its own (a rewind, a
// released reader), so the name is first opened with O_PATH, which has none,
// and only what that found to be a regular file is opened for writing. A
// missing name is created exclusively, so nothing put in its place meanwhile
// is opened: that is looked at again, a few times at most.
FileDescriptor OpenToEdit(const std::u16string& path, std::uint64_t end) {
  const std::string name = NarrowToBytes(path);
  if constexpr (kOpenPath == 0) return OpenByName(path, name, end);
  for (int tries = 0; tries < 3; ++tries) {
    const FileDescriptor checked(RetryOnInterrupt([&] { return open(name.c_str(), kOpenPath | O_CLOEXEC); }));
    if (checked.IsValid()) return ReopenChecked(path, name, checked, end);
    if (errno != ENOENT) FailWithPosixError(path, u"open", errno);
    RequireRoomToCreate(path, name, end);
    const int fd = RetryOnInterrupt(
        [&] { return open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0666); });
    if (fd >= 0) return FileDescriptor(fd);
    if (errno != EEXIST) FailWithPosixError(path, u"open", errno);
    if (IsDanglingLink(name)) return OpenByName(path, name, end);
  }
  FailFile(path, u"open", u"its name kept changing while it was being opened");
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
  // Checked once the file is open, so that what forbids the open is named first.
  if (ExceedsFileSizeLimit(offset + count)) FailWithPosixError(path, u"write", EFBIG);
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
