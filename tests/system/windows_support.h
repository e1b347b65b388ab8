// What the Windows tests use beyond tests/system/process.h: programs
// started and left running, UTF-16 text and long paths.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kitweaver::testing {

// What a running program has printed so far.
struct ChildOutput {
  std::mutex lock;
  std::string out;
  std::string err;
};

// A running program, its output collected while it runs.
struct Child {
  HANDLE process = nullptr;
  DWORD id = 0;
  std::shared_ptr<ChildOutput> output = std::make_shared<ChildOutput>();
  std::thread out_reader;
  std::thread err_reader;
};

// Starts `binary` (a bare name: built beside the test's folder) with `args`
// and CreateProcessW's `flags`; with `capture`, its output goes to pipes.
Child start_program(const std::vector<std::string>& args, const char* binary, DWORD flags, bool capture);

// Waits for the program and returns its exit code.
int finish_program(Child& child);

// Waits until the program has printed `text` on its standard output, or
// has ended; false after `milliseconds` without either.
bool wait_for_output(const Child& child, const std::string& text, DWORD milliseconds);

std::wstring to_wide(const std::string& text);

// The \\?\ form of a path, which reaches past 260 characters.
std::wstring long_form(const std::string& path);


}  // namespace kitweaver::testing
