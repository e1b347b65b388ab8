// The tests' system calls on POSIX systems.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <filesystem>

#include "system/process.h"

namespace kitweaver::testing {

const int kNoSuchFile = ENOENT;
const int kNoSuchFolder = ENOENT;
const int kIsAFolder = EISDIR;
const int kInputOutputError = EIO;
const bool kHostTools = true;

RunResult run_program(const std::vector<std::string>& args, const char* binary, long file_size_limit,
                      bool capture_errors, long descriptor_limit) {
  int pipe_fds[2];
  RunResult result;
  if (pipe(pipe_fds) != 0) return result;
  std::FILE* errors = capture_errors ? std::tmpfile() : nullptr;
  pid_t pid = fork();
  if (pid == 0) {
    if (errors != nullptr) dup2(fileno(errors), 2);
    if (file_size_limit >= 0) {
      std::signal(SIGXFSZ, SIG_IGN);
      rlimit limit{static_cast<rlim_t>(file_size_limit), static_cast<rlim_t>(file_size_limit)};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    if (descriptor_limit > 0) {
      rlimit limit{static_cast<rlim_t>(descriptor_limit), static_cast<rlim_t>(descriptor_limit)};
      setrlimit(RLIMIT_NOFILE, &limit);
    }
    dup2(pipe_fds[1], 1);
    close(pipe_fds[0]);
    close(pipe_fds[1]);
    std::vector<std::string> words = wrapper_words();
    words.push_back(binary);
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  close(pipe_fds[1]);
  char buffer[4096];
  ssize_t got;
  while ((got = read(pipe_fds[0], buffer, sizeof buffer)) > 0) {
    result.out.append(buffer, static_cast<std::size_t>(got));
  }
  close(pipe_fds[0]);
  int wait_status = 0;
  rusage usage{};
  wait4(pid, &wait_status, 0, &usage);
  result.peak_kib = usage.ru_maxrss;
  if (errors != nullptr) {
    std::rewind(errors);
    char text[4096];
    std::size_t part;
    while ((part = std::fread(text, 1, sizeof text, errors)) > 0) result.err.append(text, part);
    std::fclose(errors);
  }
  result.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
  return result;
}

std::optional<std::string> command_output(const std::string& command) {
  std::FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
  if (pipe == nullptr) return std::nullopt;
  std::string out;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) out += buffer;
  const int status = pclose(pipe);
  if (WEXITSTATUS(status) == 127) return std::nullopt;
  return out;
}

std::string make_temporary_folder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "kitweaver-XXXXXX").string();
  return mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
}

SystemFile file_holding(const std::vector<std::uint8_t>& bytes) {
  std::FILE* file = std::tmpfile();
  if (file == nullptr || (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) ||
      std::fflush(file) != 0) {
    std::abort();
  }
  SystemFile held(dup(fileno(file)));
  std::fclose(file);
  return held;
}

bool make_folder(const std::string& path) { return mkdir(path.c_str(), 0777) == 0; }

bool write_file(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && written;
}

bool make_pipe(const std::string& path) { return mkfifo(path.c_str(), 0600) == 0; }

bool make_link(const std::string& target, const std::string& path) {
  return symlink(target.c_str(), path.c_str()) == 0;
}

}  // namespace kitweaver::testing
