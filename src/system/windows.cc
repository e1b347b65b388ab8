// The system layer on Windows. Text is UTF-8 inside the program and UTF-16
// at every system call (the W functions); paths too long for the classic
// limit of 260 characters go to the system in their \\?\ form. Errors are
// GetLastError() codes, worded by FormatMessageW.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <shellapi.h>
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <utility>

#include "system/file_replace.h"
#include "system/files.h"

namespace kitweaver {
namespace {

// ---- Text ----

std::wstring widen(const std::string& text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int wide = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
  std::wstring out(static_cast<std::size_t>(wide), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), size, out.data(), wide);
  return out;
}

std::string narrow(const wchar_t* text, std::size_t length) {
  if (length == 0) return {};
  const int size = static_cast<int>(length);
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, size, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, size, out.data(), bytes, nullptr, nullptr);
  return out;
}

std::string narrow(const std::wstring& text) { return narrow(text.data(), text.size()); }

// The absolute form of `path`, as the system resolves it ("/" becomes "\",
// "." and ".." are folded).
std::wstring full_path(const std::wstring& path) {
  const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (size == 0) return path;
  std::wstring out(size, L'\0');
  const DWORD written = GetFullPathNameW(path.c_str(), size, out.data(), nullptr);
  out.resize(written);
  return out;
}

// Full paths from this length on get the \\?\ form, which lifts the classic
// limit; below it, with room for a temporary name's suffix and a listing's
// "\*", the path goes as it is.
constexpr std::size_t kLongPath = 220;

// `path` as the W functions take it.
std::wstring system_path(const std::string& path) {
  std::wstring wide = widen(path);
  if (wide.rfind(L"\\\\?\\", 0) == 0) return wide;
  std::wstring full = full_path(wide.empty() ? L"." : wide);
  if (full.size() < kLongPath) return wide;
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

// The system's own sentence for an error code, in UTF-8, without the line
// end it comes with.
std::string system_message(DWORD code) {
  wchar_t* text = nullptr;
  const DWORD length =
      FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<wchar_t*>(&text), 0,
                     nullptr);
  std::string message = length > 0 ? narrow(text, length) : "error " + std::to_string(code);
  LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' ')) {
    message.pop_back();
  }
  return message;
}

int last_error() { return static_cast<int>(GetLastError()); }

HANDLE handle_of(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

// ---- Errors ----

std::string error_text(int error) {
  switch (error) {
    case kFileChanged: return "the file changed during the run";
    case kNotAFile: return "Not a regular file or folder";
    case kTargetExists: return system_message(ERROR_FILE_EXISTS);
    case kReadFailed: return system_message(ERROR_READ_FAULT);
    case kNameTooLong: return system_message(ERROR_FILENAME_EXCED_RANGE);
    case kOutOfMemory: return system_message(ERROR_NOT_ENOUGH_MEMORY);
    default: return system_message(static_cast<DWORD>(error));
  }
}

bool is_out_of_files(int error) { return error == ERROR_TOO_MANY_OPEN_FILES; }

// ---- Files opened for reading ----

void SystemFile::reset() {
  if (handle != -1) CloseHandle(handle_of(handle));
  handle = -1;
}

std::int64_t system_read_at(std::intptr_t handle, void* buffer, std::size_t size, std::uint64_t offset,
                            int* error) {
  // The offset goes with each read, so no read depends on another's file
  // position.
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD got = 0;
  const auto want = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
  if (ReadFile(handle_of(handle), buffer, want, &got, &at)) return got;
  const DWORD code = GetLastError();
  if (code == ERROR_HANDLE_EOF) return 0;
  *error = static_cast<int>(code);
  return -1;
}

namespace {

// Opened so that other programs may go on reading, writing, renaming or
// deleting the file meanwhile.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

int open_for_reading(const std::string& path, SystemFile* file) {
  const HANDLE opened = CreateFileW(system_path(path).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (opened == INVALID_HANDLE_VALUE) return last_error();
  *file = SystemFile(reinterpret_cast<std::intptr_t>(opened));
  return 0;
}

}  // namespace

int open_regular_file(const std::string& path, SystemFile* file, FileIdentity* identity) {
  const DWORD attributes = GetFileAttributesW(system_path(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return last_error();
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return kNotAFile;
  SystemFile opened;
  if (int error = open_for_reading(path, &opened)) return error;
  // Devices (CON, NUL, COM1) and pipes are never read.
  if (GetFileType(handle_of(opened.handle)) != FILE_TYPE_DISK) return kNotAFile;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle_of(opened.handle), &info)) return last_error();
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return kNotAFile;
  identity->volume = info.dwVolumeSerialNumber;
  identity->index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  identity->size = static_cast<std::int64_t>((static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
  *file = std::move(opened);
  return 0;
}

int read_whole_file(const std::string& path, std::vector<std::uint8_t>* bytes) {
  SystemFile file;
  if (int error = open_for_reading(path, &file)) return error;
  std::uint8_t buffer[1 << 16];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(handle_of(file.handle), buffer, sizeof buffer, &got, nullptr)) {
      const DWORD code = GetLastError();
      return code == ERROR_HANDLE_EOF || code == ERROR_BROKEN_PIPE ? 0 : static_cast<int>(code);
    }
    if (got == 0) return 0;
    bytes->insert(bytes->end(), buffer, buffer + got);
  }
}

// ---- Folders and paths ----

void FolderListing::close() {
  if (handle != 0) FindClose(handle_of(handle));
  handle = 0;
  has_pending = false;
}

int open_folder(const std::string& path, FolderListing* listing) {
  listing->close();
  std::wstring pattern = system_path(path);
  if (pattern.empty() || (pattern.back() != L'\\' && pattern.back() != L'/')) pattern += L'\\';
  pattern += L'*';
  WIN32_FIND_DATAW entry;
  const HANDLE found = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0);
  if (found == INVALID_HANDLE_VALUE) {
    // A folder with no entry at all (a drive's root can be one) lists nothing.
    const int error = last_error();
    return error == ERROR_FILE_NOT_FOUND ? 0 : error;
  }
  listing->handle = reinterpret_cast<std::intptr_t>(found);
  listing->pending = narrow(entry.cFileName, std::wcslen(entry.cFileName));
  listing->has_pending = true;
  return 0;
}

bool next_folder_entry(FolderListing& listing, std::string* name) {
  if (listing.has_pending) {
    *name = std::move(listing.pending);
    listing.has_pending = false;
    return true;
  }
  if (listing.handle == 0) return false;
  WIN32_FIND_DATAW entry;
  if (!FindNextFileW(handle_of(listing.handle), &entry)) return false;
  *name = narrow(entry.cFileName, std::wcslen(entry.cFileName));
  return true;
}

bool is_folder(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(system_path(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

int create_folder(const std::string& path) {
  if (CreateDirectoryW(system_path(path).c_str(), nullptr)) return 0;
  const int error = last_error();
  return error == ERROR_ALREADY_EXISTS && is_folder(path) ? 0 : error;
}

bool entry_exists(const std::string& path) {
  // The attributes of a link are its own: it is not followed.
  return GetFileAttributesW(system_path(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string real_path(const std::string& path) {
  const HANDLE folder = CreateFileW(system_path(path).c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (folder == INVALID_HANDLE_VALUE) return {};
  std::wstring out(MAX_PATH, L'\0');
  DWORD length = GetFinalPathNameByHandleW(folder, out.data(), static_cast<DWORD>(out.size()), FILE_NAME_NORMALIZED);
  if (length >= out.size()) {
    out.resize(length + 1);
    length = GetFinalPathNameByHandleW(folder, out.data(), static_cast<DWORD>(out.size()), FILE_NAME_NORMALIZED);
  }
  CloseHandle(folder);
  if (length == 0 || length >= out.size()) return {};
  out.resize(length);
  // The system answers in the \\?\ form; a path that fits is given plainly.
  if (out.rfind(L"\\\\?\\UNC\\", 0) == 0 && out.size() < kLongPath) {
    out = L"\\\\" + out.substr(8);
  } else if (out.rfind(L"\\\\?\\", 0) == 0 && out.size() < kLongPath) {
    out = out.substr(4);
  }
  return narrow(out);
}

std::string folder_own_name(const std::string& folder) {
  std::string name = folder;
  while (name.size() > 1 && is_path_separator(name.back())) name.pop_back();
  const std::size_t separator = name.find_last_of("/\\");
  name = separator == std::string::npos ? name : name.substr(separator + 1);
  if (name.empty() || name == "." || name == ".." || name.back() == ':') {
    // Named by where it leads: "." run inside C:\kits\909 is 909; a drive's
    // root has no name.
    name = real_path(folder.empty() ? "\\" : folder);
    while (!name.empty() && is_path_separator(name.back())) name.pop_back();
    const std::size_t last = name.find_last_of("/\\");
    name = last == std::string::npos ? "" : name.substr(last + 1);
    if (!name.empty() && name.back() == ':') name.clear();
  }
  return name;
}

// ---- The process ----

std::vector<std::string> program_arguments(int argc, char** argv) {
  int count = 0;
  wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
  if (words == nullptr) return {argv, argv + argc};
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) arguments.push_back(narrow(words[i], std::wcslen(words[i])));
  LocalFree(words);
  return arguments;
}

void prepare_output() {
  // The console shows UTF-8; a redirect gets the very bytes printed, line
  // ends included, as on every other system.
  SetConsoleOutputCP(CP_UTF8);
  for (std::FILE* stream : {stdout, stderr}) {
    std::fflush(stream);
    _setmode(_fileno(stream), _O_BINARY);
  }
}

void raise_open_file_limit() {}

std::uint8_t* allocate_large_buffer(std::size_t size) {
  return static_cast<std::uint8_t*>(std::calloc(size == 0 ? 1 : size, 1));
}

void release_large_buffer(std::uint8_t* bytes) { std::free(bytes); }

// ---- Replacing a file ----

namespace {

// The temporary file an interrupt must remove, kept where the console's
// handler (which runs on a thread of its own) can read it: the text is
// complete whenever `g_has_pending` is set.
wchar_t g_pending[40000];
std::atomic<bool> g_has_pending{false};

// The handler runs beside the program, not instead of it: every step that
// makes, moves or removes the temporary file holds this lock, and so does
// the handler, which never lets it go. So a file can't come into being
// after the handler has looked for it.
SRWLOCK g_naming = SRWLOCK_INIT;

struct NamingStep {
  NamingStep() { AcquireSRWLockExclusive(&g_naming); }
  ~NamingStep() { ReleaseSRWLockExclusive(&g_naming); }
  NamingStep(const NamingStep&) = delete;
  NamingStep& operator=(const NamingStep&) = delete;
};

void set_pending(const std::wstring& name) {
  g_has_pending = false;
  if (name.size() >= sizeof g_pending / sizeof g_pending[0]) return;
  std::wmemcpy(g_pending, name.c_str(), name.size() + 1);
  g_has_pending = true;
}

void clear_pending() { g_has_pending = false; }

// A folder being written, which an interrupt removes whole: its name and
// its files' names, kept for the handler under the naming lock.
std::wstring g_pending_folder;
std::vector<std::wstring> g_pending_names;
bool g_has_pending_folder = false;

// Removes the pending folder and the files in it (under the naming lock).
void remove_pending_folder() {
  for (const std::wstring& name : g_pending_names) DeleteFileW((g_pending_folder + L"\\" + name).c_str());
  RemoveDirectoryW(g_pending_folder.c_str());
  g_has_pending_folder = false;
  g_pending_names.clear();
}

BOOL WINAPI on_interrupt(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      // The file was opened for sharing deletion: it goes when the process
      // ends and closes it.
      AcquireSRWLockExclusive(&g_naming);
      if (g_has_pending) DeleteFileW(g_pending);
      if (g_has_pending_folder) remove_pending_folder();
      // Ended at once, with the status of a console program that Ctrl-C
      // ends: ExitProcess would run the C runtime's exit work, whose locks
      // the interrupted thread may hold.
      TerminateProcess(GetCurrentProcess(), static_cast<UINT>(STATUS_CONTROL_C_EXIT));
      return TRUE;
    default:
      return FALSE;
  }
}

// Names Windows keeps for devices, whatever follows them after a full stop.
bool is_reserved_name(const std::string& name) {
  std::string stem = name.substr(0, name.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  for (char& c : stem) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL" || stem == "CONIN$" || stem == "CONOUT$") {
    return true;
  }
  return stem.size() == 4 && (stem.rfind("COM", 0) == 0 || stem.rfind("LPT", 0) == 0) && stem[3] >= '0' &&
         stem[3] <= '9';
}

// Whether Windows takes `name` as a file's name: no device name, none of the
// characters it refuses (":" would name a stream of another file), no full
// stop or space at its end.
bool is_usable_name(const std::string& name) {
  if (name.empty() || name == "." || name == ".." || is_reserved_name(name)) return false;
  if (name.back() == '.' || name.back() == ' ') return false;
  return std::none_of(name.begin(), name.end(), [](char c) {
    return static_cast<unsigned char>(c) < 32 || std::strchr("<>:\"|?*", c) != nullptr;
  });
}

std::string last_component(const std::string& path) {
  const std::size_t separator = path.find_last_of("/\\");
  return separator == std::string::npos ? path : path.substr(separator + 1);
}

std::string temporary_name(const std::string& target, int attempt) {
  return target + ".tmp" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(attempt);
}

}  // namespace

int start_replacement(const std::string& target, FileReplacement* replacement, const ReplaceSettings& settings) {
  replacement->target = target;
  replacement->temporary.clear();
  replacement->file.reset();
  replacement->displaced.clear();
  // A symbolic link to a file is written through: the file it leads to is
  // the one replaced. (One that leads nowhere is replaced itself.)
  const DWORD own = GetFileAttributesW(system_path(target).c_str());
  if (own != INVALID_FILE_ATTRIBUTES && (own & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
      (own & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    if (std::string resolved = real_path(target); !resolved.empty()) replacement->target = resolved;
  }
  for (const std::string& old : settings.displaced) {
    if (old != target && old != replacement->target) replacement->displaced.push_back(old);
  }
  const std::string name = last_component(replacement->target);
  if (!is_usable_name(name)) return ERROR_INVALID_NAME;
  const DWORD attributes = GetFileAttributesW(system_path(replacement->target).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DEVICE) != 0) return kNotAFile;
  constexpr int kAttempts = 100;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    const std::string temporary = temporary_name(replacement->target, attempt);
    const std::wstring wide = system_path(temporary);
    NamingStep step;
    set_pending(wide);
    const HANDLE created = CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                       CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (created != INVALID_HANDLE_VALUE) {
      replacement->temporary = temporary;
      replacement->file = SystemFile(reinterpret_cast<std::intptr_t>(created));
      return 0;
    }
    const int error = last_error();
    clear_pending();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return error;
  }
  return ERROR_FILE_EXISTS;
}

int write_replacement(FileReplacement& replacement, const std::uint8_t* bytes, std::size_t size) {
  while (size > 0) {
    const auto want = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    DWORD done = 0;
    if (!WriteFile(handle_of(replacement.file.handle), bytes, want, &done, nullptr)) return last_error();
    if (done == 0) return ERROR_WRITE_FAULT;
    bytes += done;
    size -= done;
  }
  return 0;
}

int finish_replacement(FileReplacement& replacement, bool replace) {
  int error = FlushFileBuffers(handle_of(replacement.file.handle)) ? 0 : last_error();
  // A file is closed before it moves; the close can still report a failed
  // write on some file systems.
  if (!CloseHandle(handle_of(std::exchange(replacement.file.handle, -1))) && error == 0) error = last_error();
  if (error == 0) {
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    NamingStep step;
    if (MoveFileExW(system_path(replacement.temporary).c_str(), system_path(replacement.target).c_str(), flags)) {
      clear_pending();
      replacement.temporary.clear();
      // What the new file displaces goes in the same step, which the Ctrl-C
      // handler waits for.
      for (const std::string& old : replacement.displaced) {
        if (old == replacement.target || DeleteFileW(system_path(old).c_str())) continue;
        const int failed = last_error();
        if (failed != ERROR_FILE_NOT_FOUND && error == 0) error = failed;
      }
      return error;
    }
    error = last_error();
    if (!replace && (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)) error = kTargetExists;
  }
  abandon_replacement(replacement);
  return error;
}

void abandon_replacement(FileReplacement& replacement) {
  replacement.file.reset();
  if (!replacement.temporary.empty()) {
    NamingStep step;
    DeleteFileW(system_path(replacement.temporary).c_str());
    clear_pending();
    replacement.temporary.clear();
  }
}

// ---- Replacing a folder ----

namespace {

int remove_tree(const std::string& folder) {
  for (const std::string& name : folder_names(folder)) {
    const std::string path = folder + "\\" + name;
    if (is_folder(path)) {
      remove_tree(path);
    } else {
      DeleteFileW(system_path(path).c_str());
    }
  }
  return RemoveDirectoryW(system_path(folder).c_str()) ? 0 : last_error();
}

}  // namespace

int start_folder_replacement(const std::string& target, FolderReplacement* replacement) {
  replacement->target = target;
  replacement->names.clear();
  replacement->temporary.clear();
  if (!is_usable_name(last_component(target))) return ERROR_INVALID_NAME;
  constexpr int kAttempts = 100;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    const std::string temporary = temporary_name(target, attempt);
    NamingStep step;
    if (CreateDirectoryW(system_path(temporary).c_str(), nullptr)) {
      replacement->temporary = temporary;
      g_pending_folder = system_path(temporary);
      g_pending_names.clear();
      g_has_pending_folder = true;
      return 0;
    }
    const int error = last_error();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return error;
  }
  return ERROR_FILE_EXISTS;
}

int write_folder_file(FolderReplacement& replacement, const std::string& name, std::initializer_list<ByteSpan> parts) {
  if (!is_usable_name(name)) return ERROR_INVALID_NAME;
  const std::wstring wide = system_path(replacement.temporary + "\\" + name);
  HANDLE created = INVALID_HANDLE_VALUE;
  {
    NamingStep step;
    g_pending_names.push_back(widen(name));
    replacement.names.push_back(name);
    created = CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  if (created == INVALID_HANDLE_VALUE) return last_error();
  FileReplacement file;
  file.file = SystemFile(reinterpret_cast<std::intptr_t>(created));
  for (const ByteSpan& part : parts) {
    if (int error = write_replacement(file, part.bytes, part.size)) return error;
  }
  int error = FlushFileBuffers(created) ? 0 : last_error();
  if (!CloseHandle(handle_of(std::exchange(file.file.handle, -1))) && error == 0) error = last_error();
  return error;
}

int finish_folder_replacement(FolderReplacement& replacement, std::vector<std::string>* removed) {
  const DWORD attributes = GetFileAttributesW(system_path(replacement.target).c_str());
  const bool earlier = attributes != INVALID_FILE_ATTRIBUTES;
  if (earlier && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    abandon_folder_replacement(replacement);
    return kNotAFile;
  }
  if (earlier) *removed = files_given_up(replacement);
  // Windows has no exchange: the earlier folder moves aside, the new one
  // takes its name, and the earlier one goes, in one step the Ctrl-C
  // handler waits for.
  NamingStep step;
  const std::string aside = replacement.temporary + ".old";
  int error = 0;
  if (earlier && !MoveFileExW(system_path(replacement.target).c_str(), system_path(aside).c_str(),
                              MOVEFILE_WRITE_THROUGH)) {
    error = last_error();
  } else if (!MoveFileExW(system_path(replacement.temporary).c_str(), system_path(replacement.target).c_str(),
                          MOVEFILE_WRITE_THROUGH)) {
    error = last_error();
    if (earlier) MoveFileExW(system_path(aside).c_str(), system_path(replacement.target).c_str(), MOVEFILE_WRITE_THROUGH);
  }
  if (error != 0) {
    removed->clear();
    remove_pending_folder();
    replacement.temporary.clear();
    return error;
  }
  g_has_pending_folder = false;
  g_pending_names.clear();
  replacement.temporary.clear();
  return earlier ? remove_tree(aside) : 0;
}

void abandon_folder_replacement(FolderReplacement& replacement) {
  if (replacement.temporary.empty()) return;
  NamingStep step;
  remove_pending_folder();
  replacement.temporary.clear();
}

// A Ctrl-C the parent chose to ignore for its children stays ignored, as a
// signal does on other systems.
void install_interrupt_cleanup() { SetConsoleCtrlHandler(on_interrupt, TRUE); }

}  // namespace kitweaver
