// A kit made from another kit: a drum pack (any the inspector reads) or an
// OP-XY drum preset as a run's source, in place of a folder of recordings.
//
// The new kit plays the source's keys: each keeps its slice (its frames in
// the source, start to end as the device plays them), its direction, play
// mode, pitch and pan. Each distinct slice becomes one record, fitted to the
// new device as a recording is; a key's pitch is its source pitch plus its
// slice's correction. Nothing is repeated, reversed or detuned.
#pragma once

#include <string>

#include "kitweaver/records.h"

namespace kitweaver {

enum class SourceKind {
  kNone,    // a folder of recordings
  kPack,    // a file whose chunks hold a drum patch
  kPreset,  // a folder holding patch.json, or the file itself
};

// What a run's argument is.
SourceKind source_kind(const std::string& path);

// The source kit's name, as the new kit is named beside it: the pack's file
// name or the preset's folder name, without its extension.
std::string source_kit_name(const std::string& path, SourceKind kind);

// What the source is, as the place a target must not be: the pack's file,
// or the preset's folder.
std::string source_location(const std::string& path, SourceKind kind);

// Reads the source at `path` for the kit `job` makes (its device set):
// appends one record per distinct slice, fills `keys` (given_in_use), and
// prints the source's warnings, what the new kit can't carry and which keys
// share each slice. Returns kExitPackWritten to go on, kExitNoPack for a
// source that can't be read (after one line saying why), or kExitUsage for
// a PO-33 pack, which is played into the device and no source of a kit.
int take_source_kit(PackJob& job, const std::string& path, SourceKind kind, KeyMap* keys);

}  // namespace kitweaver
