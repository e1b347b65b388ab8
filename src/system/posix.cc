// The system layer on POSIX systems: Linux, macOS, the BSDs, and the page's
// emscripten. Linux's own calls (unnamed files, a rename that never
// replaces, huge pages) stand behind KITWEAVER_LINUX_PATHS, with the
// portable path beside them; -DKITWEAVER_PORTABLE=ON builds the portable
// path on Linux too, so that what other systems run is tested here.
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <type_traits>
#include <utility>

#include "system/file_replace.h"
#include "system/files.h"

#if defined(__linux__) && !defined(KITWEAVER_PORTABLE)
#define KITWEAVER_LINUX_PATHS 1
#else
#define KITWEAVER_LINUX_PATHS 0
#endif

namespace kitweaver {

// ---- Errors ----

std::string error_text(int error) {
  switch (error) {
    case kFileChanged: return "the file changed during the run";
    case kNotAFile: return "Not a regular file or folder";
    case kTargetExists: return std::strerror(EEXIST);
    case kReadFailed: return std::strerror(EIO);
    case kNameTooLong: return std::strerror(ENAMETOOLONG);
    case kOutOfMemory: return std::strerror(ENOMEM);
    default: return std::strerror(error);
  }
}

bool is_out_of_files(int error) { return error == EMFILE || error == ENFILE; }

// ---- Files opened for reading ----

void SystemFile::reset() {
  if (handle >= 0) close(static_cast<int>(handle));
  handle = -1;
}

std::int64_t system_read_at(std::intptr_t handle, void* buffer, std::size_t size, std::uint64_t offset,
                            int* error) {
  for (;;) {
    const ssize_t got = pread(static_cast<int>(handle), buffer, size, static_cast<off_t>(offset));
    if (got >= 0) return got;
    if (errno == EINTR) continue;
    *error = errno;
    return -1;
  }
}

namespace {

FileIdentity identity_of(const struct stat& info) {
  return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino),
          static_cast<std::int64_t>(info.st_size)};
}

}  // namespace

int open_regular_file(const std::string& path, SystemFile* file, FileIdentity* identity) {
  // Only regular files (or links to them) are opened. The open never blocks,
  // and the descriptor is checked again in case the entry changed in between.
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return errno;
  if (!S_ISREG(info.st_mode)) return kNotAFile;
  SystemFile opened(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!opened.is_open()) return errno;
  if (fstat(static_cast<int>(opened.handle), &info) != 0) return errno;
  if (!S_ISREG(info.st_mode)) return kNotAFile;
  *file = std::move(opened);
  *identity = identity_of(info);
  return 0;
}

int read_whole_file(const std::string& path, std::vector<std::uint8_t>* bytes) {
  SystemFile file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file.is_open()) return errno;
  std::uint8_t buffer[1 << 16];
  for (;;) {
    const ssize_t got = read(static_cast<int>(file.handle), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return errno;
    if (got == 0) return 0;
    bytes->insert(bytes->end(), buffer, buffer + got);
  }
}

// ---- Folders and paths ----

void FolderListing::close() {
  if (handle != 0) closedir(reinterpret_cast<DIR*>(handle));
  handle = 0;
}

int open_folder(const std::string& path, FolderListing* listing) {
  listing->close();
  DIR* folder = opendir(path.c_str());
  if (folder == nullptr) return errno;
  listing->handle = reinterpret_cast<std::intptr_t>(folder);
  return 0;
}

bool next_folder_entry(FolderListing& listing, std::string* name) {
  if (listing.handle == 0) return false;
  const dirent* entry = readdir(reinterpret_cast<DIR*>(listing.handle));
  if (entry == nullptr) return false;
  name->assign(entry->d_name);
  return true;
}

bool is_folder(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

int create_folder(const std::string& path) {
  if (mkdir(path.c_str(), 0777) == 0) return 0;
  return errno == EEXIST && is_folder(path) ? 0 : errno;
}

bool entry_exists(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

std::string real_path(const std::string& path) {
  char* real = realpath(path.empty() ? "/" : path.c_str(), nullptr);
  std::string result = real != nullptr ? real : "";
  std::free(real);
  return result;
}

std::string folder_own_name(const std::string& folder) {
  std::string name = folder;
  while (name.size() > 1 && name.back() == '/') name.pop_back();
  name = name.substr(name.rfind('/') + 1);
  if (name.empty() || name == "." || name == "..") {
    // Named by where it leads: "." run inside ~/kits/909 is 909.
    name = real_path(folder);
    name = name.substr(name.rfind('/') + 1);
  }
  return name;
}

// ---- The process ----

std::vector<std::string> program_arguments(int argc, char** argv) { return {argv, argv + argc}; }

void prepare_output() {}

void raise_open_file_limit() {
  // A run holds at most a slot's worth of files and a few more.
  constexpr rlim_t kEnough = 256;
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= kEnough) return;
  limit.rlim_cur = limit.rlim_max == RLIM_INFINITY ? kEnough : std::min(limit.rlim_max, kEnough);
  setrlimit(RLIMIT_NOFILE, &limit);
}

std::uint8_t* allocate_large_buffer(std::size_t size) {
#if KITWEAVER_LINUX_PATHS
  // In huge pages, filling the buffer costs one page fault instead of
  // hundreds (each some microseconds, many more on a virtual machine).
  constexpr std::size_t kHugePage = std::size_t{2} << 20;
  const std::size_t whole_pages = (size + kHugePage - 1) / kHugePage * kHugePage;
  void* bytes = std::aligned_alloc(kHugePage, whole_pages);
  if (bytes == nullptr) return nullptr;
  madvise(bytes, whole_pages, MADV_HUGEPAGE);  // only a hint: without it, plain pages
  std::memset(bytes, 0, size);
  return static_cast<std::uint8_t*>(bytes);
#else
  return static_cast<std::uint8_t*>(std::calloc(size == 0 ? 1 : size, 1));
#endif
}

void release_large_buffer(std::uint8_t* bytes) { std::free(bytes); }

// ---- Replacing a file ----

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

// A folder being written (its files' names one after another, each ended
// by a zero byte), which an interrupt removes whole.
char g_pending_folder[4200];
char g_pending_names[64 * 1024];
volatile std::sig_atomic_t g_pending_names_size = 0;  // bytes of whole names
volatile std::sig_atomic_t g_has_pending_folder = 0;

void set_pending_folder(const std::string& folder) {
  g_has_pending_folder = 0;
  g_pending_names_size = 0;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  if (folder.size() >= sizeof g_pending_folder) return;
  std::memcpy(g_pending_folder, folder.c_str(), folder.size() + 1);
  std::atomic_signal_fence(std::memory_order_seq_cst);
  g_has_pending_folder = 1;
}

// Registers a file's name before the file is made in the pending folder.
bool add_pending_name(const std::string& name) {
  const auto at = static_cast<std::size_t>(g_pending_names_size);
  if (name.size() + 1 > sizeof g_pending_names - at || name.size() + 1 + g_pending_folder[0] >= 4096) return false;
  std::memcpy(g_pending_names + at, name.c_str(), name.size() + 1);
  std::atomic_signal_fence(std::memory_order_seq_cst);
  g_pending_names_size = static_cast<std::sig_atomic_t>(at + name.size() + 1);
  return true;
}

void clear_pending_folder() {
  g_has_pending_folder = 0;
  std::atomic_signal_fence(std::memory_order_seq_cst);
}

// Removes the pending folder and the files registered in it, with calls a
// signal handler may make.
void remove_pending_folder() {
  char path[sizeof g_pending_folder + 256 + 2];
  const std::size_t folder = std::strlen(g_pending_folder);
  for (std::size_t at = 0; at < static_cast<std::size_t>(g_pending_names_size);) {
    const std::size_t length = std::strlen(g_pending_names + at);
    if (folder + 1 + length < sizeof path) {
      std::memcpy(path, g_pending_folder, folder);
      path[folder] = '/';
      std::memcpy(path + folder + 1, g_pending_names + at, length + 1);
      unlink(path);
    }
    at += length + 1;
  }
  rmdir(g_pending_folder);
}

extern "C" void on_interrupt(int signal_number) {
  const int saved = errno;
  if (g_has_pending) unlink(g_pending);
  if (g_has_pending_folder) remove_pending_folder();
  // Die of the same signal, so that the parent sees the usual status.
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
  errno = saved;
}

// Holds off the interrupts the cleanup handles, while it lives: a signal
// that comes meanwhile is delivered when it ends.
struct InterruptsHeld {
  sigset_t previous{};
  bool held = false;
  explicit InterruptsHeld(bool hold) {
    if (!hold) return;
    sigset_t set;
    sigemptyset(&set);
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, signal_number);
    held = pthread_sigmask(SIG_BLOCK, &set, &previous) == 0;
  }
  ~InterruptsHeld() {
    if (held) pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  }
  InterruptsHeld(const InterruptsHeld&) = delete;
  InterruptsHeld& operator=(const InterruptsHeld&) = delete;
};

int descriptor(const FileReplacement& replacement) { return static_cast<int>(replacement.file.handle); }

std::string temporary_name(const std::string& target, int attempt) {
  return target + ".tmp" + std::to_string(getpid()) + "-" + std::to_string(attempt);
}

// Tries fresh temporary names beside the target until `make` (which
// creates the file or folder under the name, or returns an errno) finds one
// not taken. Each name is registered for an interrupt to remove before it
// can exist (a file's here, a folder's by `make`).
template <typename Replacement, typename Make>
int claim_temporary_name(Replacement& replacement, Make make) {
  constexpr bool kFile = std::is_same_v<Replacement, FileReplacement>;
  constexpr int kAttempts = 100;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    replacement.temporary = temporary_name(replacement.target, attempt);
    if (kFile) set_pending(replacement.temporary);
    const int error = make(replacement.temporary);
    if (error == 0) return 0;
    if (kFile) clear_pending();
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
    replacement.file = SystemFile(fd);
    return 0;
  });
}

#if KITWEAVER_LINUX_PATHS
// An unnamed file in `folder`, where its file system has them and /proc
// can name it; -1 otherwise, with the errno that says why (0: the folder is
// fine, but a named file must do).
int open_unnamed(const std::string& folder, int* error) {
  const int fd = open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (fd < 0) {
    *error = errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL ? 0 : errno;
    return -1;
  }
  // It can be named only through /proc; without it, take a named file.
  if (access(("/proc/self/fd/" + std::to_string(fd)).c_str(), F_OK) == 0) return fd;
  close(fd);
  *error = 0;
  return -1;
}

// Names the unnamed file `fd` as `name`; never replaces an existing file.
int link_unnamed(int fd, const std::string& name) {
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  return linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
}
#endif

// Moves the temporary name onto the target; without `replace`, only when
// the target does not exist.
int move_into_place(const std::string& from, const std::string& to, bool replace) {
  if (replace) return std::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
#if KITWEAVER_LINUX_PATHS && defined(RENAME_NOREPLACE)
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno == EEXIST ? kTargetExists : errno;
#endif
  // A hard link never replaces.
  if (link(from.c_str(), to.c_str()) != 0) return errno == EEXIST ? kTargetExists : errno;
  unlink(from.c_str());
  return 0;
}

// Makes a written file's bytes durable. Where fsync only reaches the drive's
// cache (macOS), F_FULLFSYNC asks for the platter.
int sync_file(int fd) {
#ifdef F_FULLFSYNC
  if (fcntl(fd, F_FULLFSYNC) == 0) return 0;
#endif
  return fsync(fd) == 0 ? 0 : errno;
}

// Makes the folder's new entry durable. A folder that can't be synced on its
// file system (EINVAL) is as durable as it gets.
int sync_folder(const std::string& path) {
  const int fd = open(folder_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errno;
  int error = sync_file(fd);
  if (error == EINVAL) error = 0;
  close(fd);
  return error;
}

// The file a symbolic link at `path` leads to, through every link on the
// way (a link's text is read from the folder the link is in), or `path`
// itself when it is no link. The file at the end need not exist: a link
// that leads nowhere names where the file goes. Returns 0 or an errno
// (ELOOP for links that lead round in a circle).
int resolve_links(const std::string& path, std::string* resolved) {
  constexpr int kMostLinks = 40;  // as the system's own path lookup allows
  *resolved = path;
  for (int hop = 0; hop <= kMostLinks; ++hop) {
    struct stat info;
    if (lstat(resolved->c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return 0;
    if (hop == kMostLinks) break;
    std::string text(static_cast<std::size_t>(info.st_size > 0 ? info.st_size : 255) + 1, '\0');
    const ssize_t length = readlink(resolved->c_str(), text.data(), text.size());
    if (length < 0) return errno;
    if (static_cast<std::size_t>(length) >= text.size()) return kNameTooLong;  // the link changed meanwhile
    text.resize(static_cast<std::size_t>(length));
    *resolved = text.starts_with('/') ? text : join_path(folder_of(*resolved), text);
  }
  return ELOOP;
}

// Gives the new file the permission bits of the file it replaces, if there
// is one. A file system that keeps no permissions (FAT) refuses the change,
// and the new file keeps the folder's own.
void take_permissions(int fd, const std::string& target) {
  struct stat info;
  if (stat(target.c_str(), &info) == 0 && S_ISREG(info.st_mode)) (void)fchmod(fd, info.st_mode & 0777);
}

}  // namespace

int start_replacement(const std::string& target, FileReplacement* replacement, const ReplaceSettings& settings) {
  replacement->temporary.clear();
  replacement->file.reset();
  replacement->displaced.clear();
  // A link is written through: the file it leads to is the one replaced.
  if (int error = resolve_links(target, &replacement->target)) return error;
  for (const std::string& old : settings.displaced) {
    if (old != target && old != replacement->target) replacement->displaced.push_back(old);
  }
  struct stat info;
  if (stat(replacement->target.c_str(), &info) == 0 && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode)) {
    return kNotAFile;
  }
#if KITWEAVER_LINUX_PATHS
  if (settings.unnamed_files) {
    int error = 0;
    const int fd = open_unnamed(folder_of(replacement->target), &error);
    if (fd >= 0) {
      replacement->file = SystemFile(fd);
      return 0;
    }
    if (error != 0) return error;  // the folder is missing or can't be written: so would a named file be
  }
#else
  (void)settings;
#endif
  return create_named(*replacement);
}

int write_replacement(FileReplacement& replacement, const std::uint8_t* bytes, std::size_t size) {
  while (size > 0) {
    const ssize_t done = write(descriptor(replacement), bytes, size);
    if (done < 0 && errno == EINTR) continue;
    if (done < 0) return errno;
    if (done == 0) return EIO;
    bytes += done;
    size -= static_cast<std::size_t>(done);
  }
  return 0;
}

int finish_replacement(FileReplacement& replacement, bool replace) {
  take_permissions(descriptor(replacement), replacement.target);
  int error = sync_file(descriptor(replacement));
  // The naming and the removal of what the new file displaces are one step
  // for an interrupt.
  InterruptsHeld held(!replacement.displaced.empty());
#if KITWEAVER_LINUX_PATHS
  if (replacement.temporary.empty()) {
    const int fd = descriptor(replacement);
    if (!replace) {
      // Linked straight onto its name, which never replaces anything.
      if (error == 0) error = link_unnamed(fd, replacement.target);
      if (error == EEXIST) error = kTargetExists;
    } else if (error == 0) {
      // The unnamed file has a name beside the target only between this
      // link and the rename below, which follow one another directly.
      error = claim_temporary_name(replacement, [fd](const std::string& name) { return link_unnamed(fd, name); });
      if (error == 0) error = move_into_place(replacement.temporary, replacement.target, replace);
    }
  } else
#endif
  {
    // A named file is closed before it moves: on some file systems a close
    // can still report a failed write.
    if (close(static_cast<int>(std::exchange(replacement.file.handle, -1))) != 0 && error == 0) error = errno;
    if (error == 0) error = move_into_place(replacement.temporary, replacement.target, replace);
  }
  if (error != 0) {
    abandon_replacement(replacement);
    return error;
  }
  clear_pending();
  replacement.temporary.clear();
  replacement.file.reset();
  for (const std::string& old : replacement.displaced) {
    if (old != replacement.target && unlink(old.c_str()) != 0 && errno != ENOENT && error == 0) error = errno;
  }
  const int synced = sync_folder(replacement.target);
  return error != 0 ? error : synced;
}

void abandon_replacement(FileReplacement& replacement) {
  replacement.file.reset();
  if (!replacement.temporary.empty()) {
    unlink(replacement.temporary.c_str());
    clear_pending();
    replacement.temporary.clear();
  }
}

// ---- Replacing a folder ----

namespace {

// Removes a folder and everything in it.
int remove_tree(const std::string& folder) {
  for (const std::string& name : folder_names(folder)) {
    const std::string path = folder + "/" + name;
    struct stat info;
    if (lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
      remove_tree(path);
    } else {
      unlink(path.c_str());
    }
  }
  return rmdir(folder.c_str()) == 0 ? 0 : errno;
}

// Makes a folder's entries durable.
int sync_folder_itself(const std::string& folder) {
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errno;
  int error = sync_file(fd);
  if (error == EINVAL) error = 0;
  close(fd);
  return error;
}

// Puts the new folder `from` where `to` is, whole: on Linux by exchanging
// the two (`from` then names the old folder), elsewhere by moving the old
// one aside first, to `aside`, which then names it. Interrupts are held
// off meanwhile.
int exchange_folders(const std::string& from, const std::string& to, std::string* old) {
#if KITWEAVER_LINUX_PATHS && defined(RENAME_EXCHANGE)
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_EXCHANGE) == 0) {
    *old = from;
    return 0;
  }
  if (errno != EINVAL && errno != ENOSYS) return errno;
#endif
  // No exchange here (FAT, exFAT, other systems): between the two renames
  // only the old folder, aside, exists.
  const std::string aside = from + ".old";
  if (std::rename(to.c_str(), aside.c_str()) != 0) return errno;
  if (std::rename(from.c_str(), to.c_str()) != 0) {
    const int error = errno;
    std::rename(aside.c_str(), to.c_str());
    return error;
  }
  *old = aside;
  return 0;
}

}  // namespace

int start_folder_replacement(const std::string& target, FolderReplacement* replacement) {
  replacement->target = target;
  replacement->names.clear();
  replacement->temporary.clear();
  return claim_temporary_name(*replacement, [](const std::string& name) {
    set_pending_folder(name);
    if (mkdir(name.c_str(), 0777) == 0) return 0;
    clear_pending_folder();
    return errno;
  });
}

int write_folder_file(FolderReplacement& replacement, const std::string& name, std::initializer_list<ByteSpan> parts) {
  if (!add_pending_name(name)) return kNameTooLong;
  replacement.names.push_back(name);
  const std::string path = replacement.temporary + "/" + name;
  FileReplacement file;
  file.file = SystemFile(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
  if (!file.file.is_open()) return errno;
  for (const ByteSpan& part : parts) {
    if (int error = write_replacement(file, part.bytes, part.size)) return error;
  }
  if (int error = sync_file(descriptor(file))) return error;
  return close(static_cast<int>(std::exchange(file.file.handle, -1))) == 0 ? 0 : errno;
}

int finish_folder_replacement(FolderReplacement& replacement, std::vector<std::string>* removed) {
  if (int error = sync_folder_itself(replacement.temporary)) {
    abandon_folder_replacement(replacement);
    return error;
  }
  struct stat info;
  const bool earlier = lstat(replacement.target.c_str(), &info) == 0;
  if (earlier && !S_ISDIR(info.st_mode)) {
    abandon_folder_replacement(replacement);
    return kNotAFile;
  }
  if (earlier) *removed = files_given_up(replacement);
  int error = 0;
  {
    // The naming and the removal of the old folder are one step for an
    // interrupt: it leaves the old folder or the new one, never neither.
    InterruptsHeld held(true);
    std::string old;
    if (!earlier) {
      error = std::rename(replacement.temporary.c_str(), replacement.target.c_str()) == 0 ? 0 : errno;
    } else {
      error = exchange_folders(replacement.temporary, replacement.target, &old);
    }
    if (error != 0) {
      removed->clear();
      remove_pending_folder();
      clear_pending_folder();
      replacement.temporary.clear();
      return error;
    }
    clear_pending_folder();
    replacement.temporary.clear();
    if (!old.empty()) error = remove_tree(old);
  }
  const int synced = sync_folder(replacement.target);
  return error != 0 ? error : synced;
}

void abandon_folder_replacement(FolderReplacement& replacement) {
  if (replacement.temporary.empty()) return;
  remove_pending_folder();
  clear_pending_folder();
  replacement.temporary.clear();
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
