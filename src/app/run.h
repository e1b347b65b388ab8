// The command line and the run driver.
#pragma once

#include <string>
#include <string_view>

#include "pack/file_replace.h"
#include "slice/source_stream.h"

namespace kitweaver {

// Exit statuses of a run.
inline constexpr int kExitPackWritten = 0;
inline constexpr int kExitNoPack = 1;  // nothing accepted, nothing fits, or the write failed
inline constexpr int kExitUsage = 2;

// Default and ceiling of a PO-33 pack, and the OP-1/OP-Z pack, in seconds.
inline constexpr double kPo33MaxSeconds = 40.0;
inline constexpr double kOpPackSeconds = 12.0;
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

// The whole program: prints everything to standard output and returns the
// exit status. `reading` says how recordings are read while rendering and
// `writing` how the pack is written; only tests change them.
int run_kitweaver(int argc, const char* const* argv, const StreamSettings& reading = {},
                  const WriteSettings& writing = {});

}  // namespace kitweaver
