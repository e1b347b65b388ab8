// The operating system, as the rest of Kitweaver sees it: files opened for
// reading, folders listed, path text, errors, and the few process settings a
// run needs. Nothing outside src/system/ includes a system header or calls
// the system; posix.cc (Linux, macOS, the BSDs, the page's emscripten) and
// windows.cc implement this header, one of them compiled per platform.
//
// Text is UTF-8 everywhere; on Windows it becomes UTF-16 at each system
// call. Error numbers are the system's own (errno on POSIX systems,
// GetLastError() on Windows) or one of ours, which are negative.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kitweaver {

// ---- Errors ----

// A recording that is no longer the file the intake read (another file, or
// another size).
inline constexpr int kFileChanged = -1;
// A target that exists and is neither a regular file nor a folder (a
// device, a pipe, a socket): never replaced, never read as a recording.
inline constexpr int kNotAFile = -3;
// A read that failed without saying why.
inline constexpr int kReadFailed = -6;
// A path too long for the buffers the program keeps, and memory that could
// not be had.
inline constexpr int kNameTooLong = -7;
inline constexpr int kOutOfMemory = -8;

// The sentence for an error number, as the system words it.
std::string error_text(int error);

// Whether the error says the process has run out of open files.
bool is_out_of_files(int error);

// ---- Files opened for reading ----

// The system's handle of an open file, closed when its owner lets it go: a
// descriptor on POSIX systems, a HANDLE on Windows. -1 is none.
struct SystemFile {
  std::intptr_t handle = -1;

  SystemFile() = default;
  explicit SystemFile(std::intptr_t value) : handle(value) {}
  SystemFile(SystemFile&& other) noexcept : handle(std::exchange(other.handle, -1)) {}
  SystemFile& operator=(SystemFile&& other) noexcept {
    if (this != &other) {
      reset();
      handle = std::exchange(other.handle, -1);
    }
    return *this;
  }
  SystemFile(const SystemFile&) = delete;
  SystemFile& operator=(const SystemFile&) = delete;
  ~SystemFile() { reset(); }

  bool is_open() const { return handle != -1; }
  void reset();
};

// What tells one file from another, and whether it has grown or shrunk: the
// device and inode on POSIX systems, the volume and file index on Windows.
struct FileIdentity {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  std::int64_t size = 0;
  bool operator==(const FileIdentity&) const = default;
};

// Reads up to `size` bytes at `offset` of the open file `handle`, with no
// file position shared between callers (two rendering threads read at
// once): the count read, 0 at the end of the file, or -1 with the error in
// `*error`. An interrupted read is retried, never reported.
using ReadAt = std::int64_t (*)(std::intptr_t handle, void* buffer, std::size_t size, std::uint64_t offset,
                                int* error);

// The system's read.
std::int64_t system_read_at(std::intptr_t handle, void* buffer, std::size_t size, std::uint64_t offset,
                            int* error);

// Bytes asked of each read of the sound: cat's size, big enough that the
// system calls cost little, small enough to stay in the cache.
inline constexpr std::size_t kReadBytes = 128 * 1024;

// How files are read: the system's reads, or (in the tests and the page)
// functions of their own: one for headers, one for a recording's sound
// (which the page reads ahead), and the size of each read of the sound.
struct ReadMethod {
  ReadAt read = system_read_at;
  ReadAt read_sound = system_read_at;
  std::size_t sound_bytes = kReadBytes;  // any size from 1 byte up
};

// A file and how to read it: every read of a recording, its header and its
// sound, goes through one of these.
struct FileReader {
  SystemFile file;
  ReadMethod method;
};

// Reads up to `size` bytes at `offset` through `reader`, as ReadAt does: a
// header's bytes, or with read_sound_at a recording's sound.
inline std::int64_t read_at(const FileReader& reader, void* buffer, std::size_t size, std::uint64_t offset,
                            int* error) {
  return reader.method.read(reader.file.handle, buffer, size, offset, error);
}
inline std::int64_t read_sound_at(const FileReader& reader, void* buffer, std::size_t size, std::uint64_t offset,
                                  int* error) {
  return reader.method.read_sound(reader.file.handle, buffer, size, offset, error);
}

// Opens the regular file at `path` for reading, without ever blocking (a
// pipe or a device could block a read forever, so they are refused with
// kNotAFile). Returns 0, kNotAFile or the error of the call that failed.
int open_regular_file(const std::string& path, SystemFile* file, FileIdentity* identity);

// Reads the whole file at `path` (any file that can be read to its end, a
// pipe too) into `bytes`. Returns 0 or an error number.
int read_whole_file(const std::string& path, std::vector<std::uint8_t>* bytes);

// ---- Folders and paths ----

// The separator the system puts between a folder and a name.
#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// Whether `c` separates folders in a path: "/" everywhere, "\" on Windows
// too.
constexpr bool is_path_separator(char c) {
#ifdef _WIN32
  return c == '/' || c == '\\';
#else
  return c == '/';
#endif
}

// A folder's entries, one at a time, in the order the system lists them
// ("." and ".." among them where the system lists them). Closed when its
// owner lets it go.
struct FolderListing {
  std::intptr_t handle = 0;
  std::string pending;    // an entry read but not yet handed out
  bool has_pending = false;

  FolderListing() = default;
  FolderListing(const FolderListing&) = delete;
  FolderListing& operator=(const FolderListing&) = delete;
  ~FolderListing() { close(); }
  void close();
};

// Opens the folder at `path` for listing. Returns 0 or an error number.
int open_folder(const std::string& path, FolderListing* listing);

// The next entry's name; false at the end of the listing.
bool next_folder_entry(FolderListing& listing, std::string* name);

// `name` in `folder`: the one way a path is joined, a separator put
// between the two unless the folder already ends in one (or is empty).
inline std::string join_path(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  return is_path_separator(folder.back()) ? folder + name : folder + kPathSeparator + name;
}

// The names a folder holds, in the order the system lists them, "." and
// ".." aside; none when it can't be listed.
std::vector<std::string> folder_names(const std::string& folder);

// Whether `path` is an existing folder.
bool is_folder(const std::string& path);

// Where a file named `name` goes when a program is told to write to
// `output`: into it under that name when it is an existing folder,
// otherwise `output` itself.
inline std::string output_path(const std::string& output, const std::string& name) {
  return is_folder(output) ? join_path(output, name) : output;
}

// Makes the folder `path` (its parent must exist). Returns 0, also when the
// folder is already there, or the error of the call that failed.
int create_folder(const std::string& path);

// Makes the folder `path` and every folder above it that is missing.
// Returns 0, also when it is already there, or the error of the first
// level that could not be made. A level that can't be made but need not be
// (a network share's "\\server") does not stop the levels below it.
inline int create_folders(const std::string& path) {
  int first_error = 0;
  for (std::size_t at = 0; at <= path.size(); ++at) {
    if (at < path.size() && !is_path_separator(path[at])) continue;
    // Each level up to a separator, then the whole path; a root or a drive
    // ("/", "C:") is a folder already.
    const std::string level = path.substr(0, at);
    if (level.empty() || is_folder(level)) continue;
    const int error = create_folder(level);
    if (first_error == 0) first_error = error;
  }
  return is_folder(path) ? 0 : first_error;
}

// Whether anything is at `path`: a file, a folder, a link (also one that
// leads nowhere, which is not followed) or any other entry.
bool entry_exists(const std::string& path);

// The last component of `path`: what follows its last separator.
inline std::string last_path_component(const std::string& path) {
  for (std::size_t at = path.size(); at > 0; --at) {
    if (is_path_separator(path[at - 1])) return path.substr(at);
  }
  return path;
}

// The last component of `path` without its extension (what follows its
// last ".", unless that dot starts the name).
inline std::string file_stem(const std::string& path) {
  const std::string name = last_path_component(path);
  const std::size_t dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

// The folder that holds `path`'s last component, without a separator at its
// end (but a root's own): "." for a bare name.
inline std::string folder_of(const std::string& path) {
  std::size_t cut = path.size();
  while (cut > 0 && !is_path_separator(path[cut - 1])) --cut;
  if (cut == 0) return ".";
  while (cut > 1 && is_path_separator(path[cut - 1])) --cut;
  return path.substr(0, cut);
}

// The absolute path `path` leads to, links resolved; empty when it leads
// nowhere.
std::string real_path(const std::string& path);

// A folder's own name: its last component, or for ".", ".." and the like
// the last component of the folder it leads to; empty for a root.
std::string folder_own_name(const std::string& folder);

// ---- The process ----

// The command line's arguments as UTF-8 (Windows reads them as UTF-16).
std::vector<std::string> program_arguments(int argc, char** argv);

// Makes standard output and standard error take UTF-8 as it is, to a
// console or a file.
void prepare_output();

// Raises the limit of open files toward the most the system allows, so that
// every recording can stay open from intake to rendering.
void raise_open_file_limit();

// Zero-filled memory for a buffer of a megabyte or more that is written
// once (the pack's sound), in huge pages where the system offers them, or
// null; released with release_large_buffer.
std::uint8_t* allocate_large_buffer(std::size_t size);
void release_large_buffer(std::uint8_t* bytes);

}  // namespace kitweaver
