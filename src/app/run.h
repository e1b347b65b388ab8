// The command line and the run driver.
#pragma once

#include <string>
#include <string_view>

#include "format/devices.h"
#include "system/file_replace.h"
#include "system/files.h"

namespace kitweaver {

// Exit statuses of a run.
inline constexpr int kExitPackWritten = 0;
inline constexpr int kExitNoPack = 1;  // nothing accepted, nothing fits, or the write failed
inline constexpr int kExitUsage = 2;

// The device a folder's name chooses (the PO-33, or else the OP-1/OP-Z) and
// its pack length.
struct ModeChoice {
  Device device = Device::kOp1;
  double max_pack_seconds = device_facts(Device::kOp1).pack_seconds;
};

// The directory argument with one trailing "/" removed.
std::string trim_directory_argument(std::string_view argument);

// Chooses the mode and the pack length from a (trimmed) directory name.
ModeChoice detect_mode(std::string_view directory);

// How a run meets the outside world, where the tests and the page differ
// from the command line.
struct RunSettings {
  ReadMethod reading;         // how the recordings are read
  ReplaceSettings writing;    // how the pack is written
  // Where the pack goes instead of the folder's samplepack.aif, without a
  // "Wrote" line: the page's folder is the user's files, read-only.
  std::string pack_instead;
};

// The whole program: prints everything to standard output and returns the
// exit status.
int run_kitweaver(int argc, const char* const* argv, const RunSettings& settings = {});

}  // namespace kitweaver
