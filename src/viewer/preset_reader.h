// Reads an OP-XY drum preset (format/opxy_preset.h) back: its regions, each
// with its sample file read, and every problem the device would meet with
// it; and plays its pads as the device plays them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "format/opxy_preset.h"
#include "viewer/playback.h"

namespace kitweaver::inspect {

struct PresetPad {
  PresetRegion region;
  bool file_read = false;        // the sample file was found and read as a recording
  std::int64_t file_frames = 0;  // the file's own frames, as far as it holds them
  std::int32_t file_rate = 0;
  Sound sound;                   // its frames in 16 bits, one or two channels (more are mixed to one)
};

struct Preset {
  std::string folder;                // where patch.json and the samples are
  std::string name;                  // the folder's name without ".preset"
  std::vector<PresetPad> regions;    // by pad, regions of one pad in file order
  std::vector<std::string> problems; // one line each
};

// Whether `path` names a preset: a file named patch.json, or a folder that
// holds one.
bool names_preset(const std::string& path);

// Reads the preset at `path` (its folder or its patch.json). Returns an
// empty text, or the line saying why it is no drum preset (patch.json
// missing, not JSON, of another type); problems of its regions and samples
// are in `problems`, and the preset still reads.
std::string read_preset(const std::string& path, Preset* preset);

// The region that plays `pad` (the first of several), or null.
const PresetPad* pad_region(const Preset& preset, int pad);

// What a region sounds like: its sample from sample.start to sample.end
// (both within the file), reversed when it plays reversed, played at its
// transpose and tune (and the file's rate heard at 44.1 kHz).
std::string region_sound(const PresetPad& pad, Sound* sound);

// The pads one after another, as they sound, with kAuditionGapFrames of
// silence between two (a pad without a region is silence alone), in the
// channels of the widest sample.
std::string preset_audition(const Preset& preset, const std::vector<int>& pads, Sound* sound);

// Every region's sound once, named by its pad and sample ("03 kick.wav"),
// or with `raw` the sample file's frames as they are; a region that
// leaves no frame is left out.
std::string extract_pads(const Preset& preset, bool raw, std::vector<ExtractedSlice>* sounds);

}  // namespace kitweaver::inspect
