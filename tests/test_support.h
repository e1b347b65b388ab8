// Scoped temporary folders and running the built program, for the tests.
#pragma once

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "wav_builder.h"

#ifndef KITWEAVER_BINARY
#define KITWEAVER_BINARY "kitweaver"
#endif

namespace kitweaver::testing {

// A fresh folder below the system's temporary folder, removed with its
// contents when the object goes out of scope. `name` becomes the last
// component, so tests can choose mode tags.
struct TempDir {
  std::string root;
  std::string path;
  explicit TempDir(const std::string& name = "kit") {
    std::string pattern = (std::filesystem::temp_directory_path() / "kitweaver-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    root = mkdtemp(buffer.data());
    path = root + "/" + name;
    std::filesystem::create_directories(path);
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::permissions(path, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(root, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  std::string file(const std::string& name) const { return path + "/" + name; }
  void write(const std::string& name, const wav::Bytes& bytes) const {
    wav::write_file(file(name), bytes);
  }
};

inline wav::Bytes read_bytes(const std::string& path) {
  wav::Bytes bytes;
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (error || f == nullptr) {
    if (f != nullptr) std::fclose(f);
    return bytes;
  }
  bytes.resize(size);
  bytes.resize(std::fread(bytes.data(), 1, bytes.size(), f));
  std::fclose(f);
  return bytes;
}

// A mono 16-bit 44.1 kHz WAV of `frames` frames holding a ramp.
inline wav::Bytes mono16(std::size_t frames, std::uint32_t rate = 44100) {
  std::vector<std::int16_t> samples(frames);
  for (std::size_t i = 0; i < frames; ++i) samples[i] = static_cast<std::int16_t>(i % 2000 - 1000);
  wav::WavShape shape;
  shape.sample_rate = rate;
  shape.data = wav::pcm16(samples);
  return wav::wav_bytes(shape);
}

// A 24-bit stereo 96 kHz WAV of `data_bytes` bytes of deterministic noise:
// a heavy file, as recorders of that format write them.
inline wav::Bytes stereo24_noise(std::size_t data_bytes) {
  wav::WavShape shape;
  shape.channels = 2;
  shape.bits_per_sample = 24;
  shape.sample_rate = 96000;
  shape.data.resize(data_bytes);
  for (std::size_t i = 0; i < shape.data.size(); ++i) shape.data[i] = static_cast<std::uint8_t>(i * 7919 >> 5);
  return wav::wav_bytes(shape);
}

// A mono 16-bit WAV of `frames` frames of a sine at `hz`, shaped by
// `envelope` (a function of the frame index, 1 by default).
template <typename Envelope = double (*)(std::size_t)>
wav::Bytes sine16(std::size_t frames, double hz, Envelope envelope = [](std::size_t) { return 1.0; }) {
  std::vector<std::int16_t> samples(frames);
  for (std::size_t i = 0; i < frames; ++i) {
    samples[i] = static_cast<std::int16_t>(
        std::lround(16000.0 * envelope(i) * std::sin(2 * M_PI * hz * static_cast<double>(i) / 44100.0)));
  }
  wav::WavShape shape;
  shape.data = wav::pcm16(samples);
  return wav::wav_bytes(shape);
}

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;    // standard error, when asked for
  long peak_kib = 0;  // peak resident memory of the child
};

// The command that runs the program under a checker, from the environment
// (e.g. KITWEAVER_WRAPPER="valgrind -q --error-exitcode=99"); empty when none.
inline std::vector<std::string> wrapper_words() {
  std::vector<std::string> words;
  const char* wrapper = std::getenv("KITWEAVER_WRAPPER");
  std::string word;
  for (const char* p = wrapper != nullptr ? wrapper : ""; ; ++p) {
    if (*p == ' ' || *p == '\0') {
      if (!word.empty()) words.push_back(word);
      word.clear();
      if (*p == '\0') break;
    } else {
      word += *p;
    }
  }
  return words;
}

// Runs the built kitweaver with `args` (no shell), under the wrapper if one
// is set, and collects its standard output.
// A non-negative `file_size_limit` caps the size of every file the program
// writes, so that its writes fail as on a full disk; a positive
// `descriptor_limit` caps its open descriptors (soft and hard limit).
inline RunResult run_program(const std::vector<std::string>& args,
                             const char* binary = KITWEAVER_BINARY, long file_size_limit = -1,
                             bool capture_errors = false, long descriptor_limit = -1) {
  int pipe_fds[2];
  RunResult result;
  if (pipe(pipe_fds) != 0) return result;
  const int errors = capture_errors ? memfd_create("stderr", MFD_CLOEXEC) : -1;
  pid_t pid = fork();
  if (pid == 0) {
    if (errors >= 0) dup2(errors, 2);
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
  if (errors >= 0) {
    char text[4096];
    ssize_t part;
    for (off_t at = 0; (part = pread(errors, text, sizeof text, at)) > 0; at += part) {
      result.err.append(text, static_cast<std::size_t>(part));
    }
    close(errors);
  }
  result.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
  return result;
}

// Runs a shell command and returns its standard output, or nothing when the
// command is not installed.
inline std::optional<std::string> command_output(const std::string& command) {
  std::FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
  if (pipe == nullptr) return std::nullopt;
  std::string out;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) out += buffer;
  int status = pclose(pipe);
  if (WEXITSTATUS(status) == 127) return std::nullopt;
  return out;
}

// The entry names of a folder in the order the system lists them.
inline std::vector<std::string> listing_order(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    names.push_back(entry.path().filename().string());
  }
  return names;
}

}  // namespace kitweaver::testing
