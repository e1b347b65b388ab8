#include "pack/file_replace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <utility>

namespace kitweaver {
namespace {

// The temporary name an interrupt must remove, kept where a signal handler
// can read it: the text is complete whenever `g_has_pending` is set.
char g_pending[4200];
volatile std::sig_atomic_t g_has_pending = 0;

void set_pending(const std::string& name) {
  g_has_pending = 0;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  if (name.size() >= sizeof g_pending) return;
  std::memcpy(g_pending, name.c_str(), name.size() + 1);
  std::atomic_signal_fence(std::memory_order_seq_cst);
  g_has_pending = 1;
}

void clear_pending() {
  g_has_pending = 0;
  std::atomic_signal_fence(std::memory_order_seq_cst);
}

extern "C" void on_interrupt(int signal_number) {
  const int saved = errno;
  if (g_has_pending) unlink(g_pending);
  // Die of the same signal, so that the parent sees the usual status.
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
  errno = saved;
}

std::string folder_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string temporary_name(const std::string& target, int attempt) {
  return target + ".tmp" + std::to_string(getpid()) + "-" + std::to_string(attempt);
}

// Tries fresh temporary names beside the target until `make` (which
// creates the file under the name, or returns an errno) finds one not taken.
// Each name is registered for an interrupt to remove before it can exist.
template <typename Make>
int claim_temporary_name(FileReplacement& replacement, Make make) {
  constexpr int kAttempts = 100;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    replacement.temporary = temporary_name(replacement.target, attempt);
    set_pending(replacement.temporary);
    const int error = make(replacement.temporary);
    if (error == 0) return 0;
    clear_pending();
    replacement.temporary.clear();
    if (error != EEXIST) return error;
  }
  return EEXIST;
}

// A new file under a temporary name, mode 0666 less the umask.
int create_named(FileReplacement& replacement) {
  return claim_temporary_name(replacement, [&replacement](const std::string& name) {
    const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return errno;
    replacement.file = FileHandle(fd);
    return 0;
  });
}

// Names the unnamed file `fd` as `name`; never replaces an existing file.
int link_unnamed(int fd, const std::string& name) {
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  return linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
}

// Moves the temporary name onto the target; without `replace`, only when
// the target does not exist.
int move_into_place(const std::string& from, const std::string& to, bool replace) {
  if (replace) return std::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
#ifdef RENAME_NOREPLACE
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
#endif
  // A file system without that kind of rename: a hard link never replaces.
  if (link(from.c_str(), to.c_str()) != 0) return errno;
  unlink(from.c_str());
  return 0;
}

// Makes the folder's new entry durable. A folder that can't be synced on its
// file system (EINVAL) is as durable as it gets.
int sync_folder(const std::string& path) {
  const int fd = open(folder_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errno;
  int error = fsync(fd) == 0 || errno == EINVAL ? 0 : errno;
  close(fd);
  return error;
}

bool write_all(int fd, const std::uint8_t* bytes, std::size_t size) {
  while (size > 0) {
    const ssize_t done = write(fd, bytes, size);
    if (done < 0 && errno == EINTR) continue;
    if (done == 0) errno = EIO;
    if (done <= 0) return false;
    bytes += done;
    size -= static_cast<std::size_t>(done);
  }
  return true;
}

}  // namespace

const char* replace_failure_reason(int error) {
  return error == kNotAFile ? "Not a regular file or folder" : std::strerror(error);
}

int start_replacement(const std::string& target, FileReplacement* replacement, const WriteSettings& settings) {
  replacement->target = target;
  replacement->temporary.clear();
  replacement->file.reset();
  struct stat info;
  if (stat(target.c_str(), &info) == 0 && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode)) return kNotAFile;
  if (settings.unnamed_files) {
    const int fd = open(folder_of(target).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd >= 0) {
      // It can be named only through /proc; without it, take a named file.
      if (access(("/proc/self/fd/" + std::to_string(fd)).c_str(), F_OK) == 0) {
        replacement->file = FileHandle(fd);
        return 0;
      }
      close(fd);
    } else if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
      return errno;  // the folder is missing or can't be written: so would a named file be
    }
  }
  return create_named(*replacement);
}

int finish_replacement(FileReplacement& replacement, bool replace) {
  const bool unnamed = replacement.temporary.empty();
  int error = fsync(replacement.file.fd) == 0 ? 0 : errno;
  if (unnamed && !replace) {
    // Linked straight onto its name, which never replaces anything.
    if (error == 0) error = link_unnamed(replacement.file.fd, replacement.target);
  } else {
    if (error == 0 && unnamed) {
      // The unnamed file has a name beside the target only between this
      // link and the rename below, which follow one another directly.
      const int fd = replacement.file.fd;
      error = claim_temporary_name(replacement, [fd](const std::string& name) { return link_unnamed(fd, name); });
    }
    // A named file is closed before it moves: on some file systems a close
    // can still report a failed write.
    if (!unnamed && close(std::exchange(replacement.file.fd, -1)) != 0 && error == 0) error = errno;
    if (error == 0) error = move_into_place(replacement.temporary, replacement.target, replace);
  }
  if (error != 0) {
    abandon_replacement(replacement);
    return error;
  }
  clear_pending();
  replacement.temporary.clear();
  replacement.file.reset();
  return sync_folder(replacement.target);
}

void abandon_replacement(FileReplacement& replacement) {
  replacement.file.reset();
  if (!replacement.temporary.empty()) {
    unlink(replacement.temporary.c_str());
    clear_pending();
    replacement.temporary.clear();
  }
}

int replace_file(const std::string& target, std::initializer_list<ByteSpan> parts, const WriteSettings& settings) {
  FileReplacement replacement;
  if (int error = start_replacement(target, &replacement, settings)) return error;
  for (const ByteSpan& part : parts) {
    if (!write_all(replacement.file.fd, part.bytes, part.size)) {
      const int error = errno;
      abandon_replacement(replacement);
      return error;
    }
  }
  return finish_replacement(replacement, true);
}

void install_interrupt_cleanup() {
  struct sigaction action {};
  action.sa_handler = on_interrupt;
  sigemptyset(&action.sa_mask);
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction previous {};
    // A signal the caller's parent chose to ignore stays ignored.
    if (sigaction(signal_number, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
    sigaction(signal_number, &action, nullptr);
  }
}

}  // namespace kitweaver
