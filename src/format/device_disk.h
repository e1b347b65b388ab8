// The devices' own disks, as they show them in disk (content) mode, and the
// rules by which they take packs from them. Names are compared without
// case, as the devices' FAT disks compare them.
//
// The OP-Z:
//
//   samplepacks/           one folder per track
//     1-kick/ 2-snare/ 3-perc/ 4-fx/         drum tracks: drum packs
//     5-bass/ 6-lead/ 7-arpeggio/ 8-chord/   synth tracks: synth samples
//       01/ ... 10/        one slot folder each: one pack per slot is
//                          imported, any more are rejected
//       one_sample_pack_per_slot.plz         (zero bytes, in each track folder)
//   import.log             the outcome of each import (also looked for in
//                          samplepacks/)
//   rejected/              where rejected files go
//
// A zero-byte "~NAME.aif" in a slot stands for a pack the device holds itself
// (one of its own, or the repeat of a pack on another track), a zero-byte
// "~N.engine" for a synth engine. The device has 24 MB of sample memory in
// all, its own packs included, so the files on the disk don't give the
// figure; it logs it at each import:
//
//   Calculating used sample space...12.1/24.0 MB
//   importing NAME...SUCCESS. New used space 24524 kB
//   importing NAME...invalid synth sample
//   Can't import samplepacks/4-fx/08/NAME, sample memory full
//   Ignoring file of wrong type: NAME
//   Syncronizing rejected
//   [IMPORT COMPLETE]
//
// The OP-1 and the OP-1 field keep drum packs under drum/: category folders
// and drum/user/.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kitweaver {

enum class DiskKind { kNone, kOpZ, kOp1 };

inline constexpr char kOpzPacksFolder[] = "samplepacks";
inline constexpr char kOp1DrumFolder[] = "drum";
inline constexpr char kImportLog[] = "import.log";
inline constexpr int kOpzSlots = 10;
// The packs a slot's import takes: any more are rejected.
inline constexpr std::size_t kOpzPacksPerSlot = 1;
// The OP-Z's sample memory: 24 MB, which its log counts as 24576 kB.
inline constexpr std::int64_t kOpzSampleKb = 24576;

struct OpzTrack {
  const char* name;
  bool drums;  // takes drum packs; the others take synth samples
};
inline constexpr std::array<OpzTrack, 8> kOpzTracks = {{{"1-kick", true},
                                                        {"2-snare", true},
                                                        {"3-perc", true},
                                                        {"4-fx", true},
                                                        {"5-bass", false},
                                                        {"6-lead", false},
                                                        {"7-arpeggio", false},
                                                        {"8-chord", false}}};

// Whether two names are the same, ASCII letters compared without case.
bool same_name(std::string_view a, std::string_view b);
bool ends_with_name(std::string_view name, std::string_view suffix);

// The track of a track folder's name, or -1.
int opz_track_of(std::string_view name);

// Whether a folder's name is a slot's, "01" to "10".
bool is_opz_slot_name(std::string_view name);

// A file the device reads as a pack: ".aif", ".aiff" or ".aifc".
bool is_pack_name(std::string_view name);

// A zero-byte "~NAME.aif" or "~N.engine": what the device holds itself.
bool is_on_device_pack(std::string_view name, std::int64_t bytes);
bool is_on_device_engine(std::string_view name, std::int64_t bytes);

// The track folders' "one_sample_pack_per_slot.plz" (any ".plz").
bool is_rule_note(std::string_view name);

// A file the device refused: its bare name (the last component of the
// path the log gives) and the reason the log gives.
struct ImportRefusal {
  std::string file;
  std::string reason;
};

// What an import.log says: the device's last figure of used sample memory,
// in kB (from "New used space N kB" or "X/24.0 MB", whichever comes last),
// and the files it refused ("importing NAME...REASON" whose reason is no
// SUCCESS, "Can't import PATH, REASON"), over the whole log: one entry per
// name (compared without case), with its last reason, in the order of the
// refusals, leaving out a file that a later import took. A file passed
// over as no sample ("Ignoring file of wrong type") is no refusal.
struct ImportLog {
  std::optional<std::int64_t> used_kb;
  std::vector<ImportRefusal> rejections;
};
ImportLog read_import_log(std::string_view text);

// Whether the disk's library may read the file at `relative` (its path
// from the disk's root, "/" between names) whole: a pack's name of 1 byte
// to the largest pack, or the import.log at the root or in samplepacks/.
bool read_whole_on_disk(std::string_view relative, std::int64_t bytes);

// ---- Reading a disk ----

// The entries of a folder of a device's disk, by name; hidden ones (a Mac's
// "._" companions among them) are not the device's and are left out.
std::vector<std::string> disk_entries(const std::string& folder);

// The name of the folder in `parent` named `name`, whatever its case; empty
// if there is none.
std::string disk_folder(const std::string& parent, std::string_view name);

// The import.log of the disk at `root`: at its root, or in samplepacks/.
std::optional<ImportLog> read_disk_import_log(const std::string& root);

}  // namespace kitweaver
