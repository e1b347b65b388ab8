// Where a pack goes, and whether it may go there: checked before any work.
//
// - Without -o, samplepack.aif in the recordings' folder; with -o, the path
//   given, or a file named after the kit in an existing folder.
// - A file already there is replaced only when it is a drum pack: a
//   recording of the kit, or any other file, is never written over.
// - On an OP-Z's disk (a folder holding samplepacks/ with its track
//   folders) a pack goes only into a slot, samplepacks/TRACK/NN with NN
//   from 01 to 10, as the device imports nothing from anywhere else. A last
//   part that is a slot number ("07" or "7") is that slot, made if it is
//   missing; the track's rules apply (format/device_disk.h has them).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kitweaver {

struct PackTarget {
  std::string path;                    // where the pack goes
  std::string refusal;                 // one line; empty: the pack may be written
  bool in_slot = false;                // a slot of an OP-Z's disk
  std::string new_folder;              // the slot folder to make before writing, when it is missing
  bool replaces_pack = false;          // `path` holds a drum pack, which the new one replaces
  std::vector<std::string> displaced;  // with --replace: the slot's other packs, removed as the new one is named
  std::vector<bool> placeholders;      // for each: a "~NAME.aif" that stands for a pack the device holds
  std::int64_t replaced_bytes = 0;     // what the new pack takes the place of in the slot
  std::optional<std::int64_t> used_kb; // the device's last figure of used sample memory, from its import.log
};

// A kit that is not named after a folder of recordings (one made from a
// source kit): its name, which a folder given as -o holds it under, and
// where it goes without -o. Empty: the folder's name, and the folder.
struct KitNaming {
  std::string name;
  std::string default_path;
};

// Chooses where the pack of the recordings in `kit_folder` goes, for
// -o `output` (empty: none) and --replace.
PackTarget choose_pack_target(const std::string& kit_folder, const std::string& output, bool replace,
                              const KitNaming& naming = {});

// Chooses where an OP-XY preset of the recordings in `kit_folder` goes: the
// folder NAME.preset (NAME the kit folder's name as the device takes
// names) in the recordings' folder, or in the folder -o names, or the path
// -o names when it ends in ".preset". Anything else is refused, and so is
// a target that exists and is no folder holding an OP-XY drum preset.
PackTarget choose_preset_target(const std::string& kit_folder, const std::string& output,
                                const KitNaming& naming = {});

// The name a pack takes in a folder given as the output: the recordings'
// folder's last component, or, for "." and "..", that of the folder they
// lead to; "samplepack" for the root.
std::string kit_name(const std::string& directory);

// The lines of what the write did beyond the pack itself: a pack replaced,
// each file removed from the slot, and the sample-memory warning for a pack
// of `pack_bytes` where the device's figure says it may not fit.
std::vector<std::string> target_lines(const PackTarget& target, bool output_given, std::int64_t pack_bytes);

}  // namespace kitweaver
