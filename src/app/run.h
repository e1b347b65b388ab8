// The command line and the run driver.
#pragma once

#include <string>
#include <string_view>

#include "system/file_replace.h"
#include "system/files.h"

namespace kitweaver {

// Exit statuses of a run.
inline constexpr int kExitPackWritten = 0;
inline constexpr int kExitNoPack = 1;  // nothing accepted, nothing fits, or the write failed
inline constexpr int kExitUsage = 2;

// Default and ceiling of a PO-33 pack, and the OP-1/OP-Z pack, in seconds.
inline constexpr double kPo33MaxSeconds = 40.0;
inline constexpr double kOpPackSeconds = 12.0;
// An OP-1 field kit's length, in seconds.
inline constexpr double kFieldPackSeconds = 20.0;
// Gap before every PO-33 slice (and the marker tone's length), in seconds.
inline constexpr float kPo33PauseSeconds = 0.2f;

struct ModeChoice {
  bool po33_mode = false;
  double max_pack_seconds = kOpPackSeconds;
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
