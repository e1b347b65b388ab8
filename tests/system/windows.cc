// The tests' system calls on Windows.
#include <atomic>
#include <cstdio>
#include <cwchar>
#include <thread>

#include "system/process.h"
#include "system/windows_support.h"

namespace kitweaver::testing {

const int kNoSuchFile = ERROR_FILE_NOT_FOUND;
const int kNoSuchFolder = ERROR_PATH_NOT_FOUND;
const int kIsAFolder = ERROR_ACCESS_DENIED;
const int kInputOutputError = ERROR_READ_FAULT;
const bool kHostTools = false;

std::wstring to_wide(const std::string& text) {
  if (text.empty()) return {};
  const int wide = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(wide), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), wide);
  return out;
}

std::wstring long_form(const std::string& path) {
  std::wstring wide = to_wide(path);
  const DWORD size = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  std::wstring full(size, L'\0');
  full.resize(GetFullPathNameW(wide.c_str(), size, full.data(), nullptr));
  return L"\\\\?\\" + full;
}

bool make_folder(const std::string& path) { return CreateDirectoryW(long_form(path).c_str(), nullptr) != 0; }

bool write_file(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  const HANDLE file = CreateFileW(long_form(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok = bytes.empty() || (WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                                    written == bytes.size());
  return CloseHandle(file) && ok;
}

namespace {

// One argument quoted as the C runtime reads a command line back.
std::wstring quoted(const std::wstring& word) {
  if (!word.empty() && word.find_first_of(L" \t\"") == std::wstring::npos) return word;
  std::wstring out = L"\"";
  std::size_t backslashes = 0;
  for (wchar_t c : word) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    out += c;
  }
  out.append(2 * backslashes, L'\\');
  return out + L"\"";
}

// A program given by its bare name is the one built beside the test
// program's folder (build-windows/kitweaver.exe for build-windows/tests/).
std::wstring program_path(const char* binary) {
  std::wstring name = to_wide(binary);
  if (name.find_first_of(L"\\/") != std::wstring::npos) return name;
  wchar_t self[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring folder(self, length);
  folder.resize(folder.find_last_of(L"\\/"));
  return folder.substr(0, folder.find_last_of(L"\\/") + 1) + name;
}

// Reads all of a pipe's end into `out`, on a thread of its own.
std::thread drain(HANDLE pipe, std::shared_ptr<ChildOutput> output, std::string ChildOutput::*out) {
  return std::thread([pipe, output, out] {
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) {
      const std::lock_guard<std::mutex> held(output->lock);
      ((*output).*out).append(buffer, got);
    }
    CloseHandle(pipe);
  });
}

}  // namespace

Child start_program(const std::vector<std::string>& args, const char* binary, DWORD flags, bool capture) {
  Child child;
  std::wstring command = quoted(program_path(binary));
  for (const std::string& arg : args) command += L" " + quoted(to_wide(arg));
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE out_read = nullptr, out_write = nullptr, err_read = nullptr, err_write = nullptr;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  if (capture) {
    CreatePipe(&out_read, &out_write, &inherit, 0);
    CreatePipe(&err_read, &err_write, &inherit, 0);
    SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(err_read, HANDLE_FLAG_INHERIT, 0);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out_write;
    startup.hStdError = err_write;
  }
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, capture ? TRUE : FALSE, flags, nullptr, nullptr,
                      &startup, &process)) {
    if (capture) {
      for (HANDLE h : {out_read, out_write, err_read, err_write}) CloseHandle(h);
    }
    return child;
  }
  CloseHandle(process.hThread);
  child.process = process.hProcess;
  child.id = process.dwProcessId;
  if (capture) {
    CloseHandle(out_write);
    CloseHandle(err_write);
    child.out_reader = drain(out_read, child.output, &ChildOutput::out);
    child.err_reader = drain(err_read, child.output, &ChildOutput::err);
  }
  return child;
}

int finish_program(Child& child) {
  if (child.process == nullptr) return -1;
  WaitForSingleObject(child.process, INFINITE);
  if (child.out_reader.joinable()) child.out_reader.join();
  if (child.err_reader.joinable()) child.err_reader.join();
  DWORD code = 0;
  GetExitCodeProcess(child.process, &code);
  CloseHandle(child.process);
  child.process = nullptr;
  return static_cast<int>(code);
}

bool wait_for_output(const Child& child, const std::string& text, DWORD milliseconds) {
  for (DWORD waited = 0; waited < milliseconds; waited += 2) {
    {
      const std::lock_guard<std::mutex> held(child.output->lock);
      if (child.output->out.find(text) != std::string::npos) return true;
    }
    if (WaitForSingleObject(child.process, 2) != WAIT_TIMEOUT) return true;
  }
  return false;
}

RunResult run_program(const std::vector<std::string>& args, const char* binary, long, bool capture_errors, long) {
  Child child = start_program(args, binary, 0, true);
  RunResult result;
  result.status = finish_program(child);
  result.out = std::move(child.output->out);
  if (capture_errors) result.err = std::move(child.output->err);
  return result;
}

std::optional<std::string> command_output(const std::string&) { return std::nullopt; }

std::string make_temporary_folder() {
  static std::atomic<int> made{0};
  wchar_t base[MAX_PATH];
  GetTempPathW(MAX_PATH, base);
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const std::wstring path = std::wstring(base) + L"kitweaver-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                              std::to_wstring(made++);
    if (CreateDirectoryW(path.c_str(), nullptr)) {
      const int bytes = WideCharToMultiByte(CP_UTF8, 0, path.c_str(), -1, nullptr, 0, nullptr, nullptr);
      std::string out(static_cast<std::size_t>(bytes), '\0');
      WideCharToMultiByte(CP_UTF8, 0, path.c_str(), -1, out.data(), bytes, nullptr, nullptr);
      out.pop_back();
      return out;
    }
  }
  return {};
}

SystemFile file_holding(const std::vector<std::uint8_t>& bytes) {
  wchar_t base[MAX_PATH], name[MAX_PATH];
  GetTempPathW(MAX_PATH, base);
  GetTempFileNameW(base, L"kwt", 0, name);
  const HANDLE file = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  DWORD written = 0;
  if (file == INVALID_HANDLE_VALUE ||
      (!bytes.empty() && (!WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
                          written != bytes.size()))) {
    std::abort();
  }
  return SystemFile(reinterpret_cast<std::intptr_t>(file));
}

bool make_pipe(const std::string&) { return false; }

bool make_link(const std::string&, const std::string&) { return false; }

}  // namespace kitweaver::testing
