// A device's own disk as kitweaver-inspect shows it: what is in each slot
// (OP-Z) or drum folder (OP-1, OP-1 field), and what the device will meet
// when it imports them (format/device_disk.h has the rules).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "format/device_disk.h"

namespace kitweaver::inspect {

struct LibraryEntry {
  std::string path;    // relative to the disk, with "/" between names
  std::string folder;  // the track and slot ("1-kick/03") or the folder ("user")
  std::string name;
  std::string kind;    // "drum", "synth", "on-device", "engine" or "other"
  std::int64_t bytes = 0;
  // A drum pack's:
  std::optional<double> seconds;
  std::optional<int> slices;
  std::string scale;   // "device", "4056", "past-end" or "broken"; empty for anything else
  // Its sound ends before the frames its COMM declares: it holds
  // held_frames of frames.
  bool cut_short = false;
  std::int64_t frames = 0;
  std::int64_t held_frames = 0;
};

struct LibraryProblem {
  std::string path;     // relative to the disk; empty for the disk itself
  std::string problem;  // "several-packs-in-slot", "synth-on-drum-track", "drum-on-synth-track",
                        // "not-a-pack", "outside-slot", "cut-short" or "over-budget"
  std::string line;     // what the table says of it
  std::optional<std::string> keeps;  // several packs in a slot: the one the device keeps, if that can be told
};

// A file import.log says the device refused, and no later import took.
struct LibraryRejection {
  std::string file;     // its bare name
  std::string reason;
  bool on_disk = false; // a file of that name is still under samplepacks/
};

struct Library {
  DiskKind device = DiskKind::kNone;
  std::string root;
  std::vector<LibraryEntry> entries;
  std::vector<LibraryProblem> problems;
  std::int64_t used_bytes = 0;              // the packs on the disk
  std::optional<std::int64_t> budget_bytes; // the device's sample memory, where it has a figure
  bool import_log = false;                  // the disk has an import.log
  std::optional<std::int64_t> device_used_kb;
  std::vector<LibraryRejection> rejections; // from import.log
};

// What kind of disk `folder` is the root of: one with samplepacks/ (OP-Z)
// or drum/ (OP-1, OP-1 field), or neither.
DiskKind disk_kind(const std::string& folder);

// Reads the disk at `root` (disk_kind is not kNone).
Library read_library(const std::string& root);

std::string library_table(const Library& library);
std::string library_json(const Library& library);

// The full paths of the disk's drum packs, for --rescale.
std::vector<std::string> library_drum_packs(const Library& library);

}  // namespace kitweaver::inspect
