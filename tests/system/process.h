// What the tests ask of the operating system beyond what the programs do:
// starting the built programs, temporary folders, files that live in
// memory, special files. posix.cc and windows.cc implement it, one of them
// built per platform, as src/system/ does for the programs.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "system/files.h"

#ifndef KITWEAVER_BINARY
#define KITWEAVER_BINARY "kitweaver"
#endif

namespace kitweaver::testing {

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;    // standard error, when asked for
  long peak_kib = 0;  // peak resident memory of the child (POSIX systems)
};

// The command that runs the program under a checker, from the environment
// (e.g. KITWEAVER_WRAPPER="valgrind -q --error-exitcode=99"); empty when none.
inline std::vector<std::string> wrapper_words() {
  std::vector<std::string> words;
  const char* wrapper = std::getenv("KITWEAVER_WRAPPER");
  std::string word;
  for (const char* p = wrapper != nullptr ? wrapper : "";; ++p) {
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

// Runs the built program `binary` with `args` (no shell), under the wrapper
// if one is set, and collects its standard output (and standard error with
// `capture_errors`). On POSIX systems a non-negative `file_size_limit` caps
// the size of every file the program writes, so that its writes fail as on
// a full disk, and a positive `descriptor_limit` caps its open files.
RunResult run_program(const std::vector<std::string>& args, const char* binary = KITWEAVER_BINARY,
                      long file_size_limit = -1, bool capture_errors = false, long descriptor_limit = -1);

// Runs a command line through the system's shell and returns its standard
// output, or nothing when the command is not installed.
std::optional<std::string> command_output(const std::string& command);

// Whether the build machine's own programs (sox, libsndfile's tools,
// rsvg-convert) can be run from the tests: not from a Windows build.
extern const bool kHostTools;

// A new folder below the system's temporary folder, empty.
std::string make_temporary_folder();

// An open file that holds `bytes` and lives only as long as the handle.
SystemFile file_holding(const std::vector<std::uint8_t>& bytes);

// Makes a folder at `path`, or writes `bytes` as the file at `path` (UTF-8,
// of any length the system takes).
bool make_folder(const std::string& path);
bool write_file(const std::string& path, const std::vector<std::uint8_t>& bytes);

// Special entries for the intake and the writers to meet. Each returns
// false where the system has no such thing (or may not make it).
bool make_pipe(const std::string& path);                          // a named pipe
bool make_link(const std::string& target, const std::string& path);  // a symbolic link

// Error numbers as this system gives them, for the messages the tests
// expect.
extern const int kNoSuchFile;       // a file or folder that is not there
extern const int kNoSuchFolder;     // a path through a folder that is not there
extern const int kIsAFolder;        // a folder where a file is written
extern const int kInputOutputError; // what the tests' failing reads report

}  // namespace kitweaver::testing
