// The OP-XY's drum preset, as the device itself writes one: a folder
// NAME.preset holding patch.json and the sample files side by side (the
// folder's name is the preset's; the device writes no "name" member).
//
// patch.json is compact JSON, its members sorted at every level, ending in
// one "\n": engine, envelope, fx, lfo, octave, platform ("OP-XY"), regions,
// type ("drum"), version (4). A region per pad, each with exactly fade.in,
// fade.out, framecount (the sample file's frames), hikey and lokey (the
// pad's MIDI note, 53 to 76), pan (-100 to 100), pitch.keycenter (60),
// playmode ("gate", "oneshot", "group", "loop"), reverse, sample (the
// file's name), sample.end (its frames), transpose (semitones) and tune
// (cents); some factory regions add gain and sample.start. A name with a
// dot is a plain name, not a nesting.
//
// The device takes names of a-z, A-Z, 0-9, space, "#", "-", "(" and ")",
// and "." before an extension; others fail the transfer to it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kitweaver {

inline constexpr int kOpxyFirstNote = 53;  // pad 0; pad 23 is 76
inline constexpr int kOpxyPadCount = 24;
inline constexpr int kOpxyKeyCenter = 60;
inline constexpr double kOpxyMostSampleSeconds = 20.0;  // the longest a sample plays
inline constexpr char kOpxyPatchFile[] = "patch.json";
inline constexpr char kOpxyPresetSuffix[] = ".preset";

struct PresetRegion {
  int pad = 0;  // hikey - 53
  std::int64_t hikey = 0, lokey = 0;
  std::string sample;
  std::int64_t framecount = 0;
  std::optional<std::int64_t> sample_start;  // a trim; Kitweaver writes none
  std::int64_t sample_end = 0;
  std::string playmode = "gate";  // as written
  bool reverse = false;
  std::int32_t transpose = 0;
  std::int32_t tune = 0;
  std::int32_t pan = 0;
  std::optional<std::int32_t> gain;
  std::int32_t fade_in = 0, fade_out = 0;
};

// patch.json for `regions` (in pad order), in the device's form, with the
// engine, envelope, fx, lfo and octave that most of the device's own drum
// kits share (the filter effect and the LFO off).
std::string preset_json(const std::vector<PresetRegion>& regions);

// Reads a patch.json: its regions as written, in any order. Returns an
// empty text, or the line saying why it is no OP-XY drum preset.
std::string read_preset_json(std::string_view text, std::vector<PresetRegion>* regions);

// Whether the device plays a region's play mode as it is written ("gate",
// "oneshot", "group", "loop"); any other it plays as one-shot.
bool known_play_mode(std::string_view playmode);

// A name as the device takes it: each character it refuses (each UTF-8
// character, not each byte) turned into "-".
std::string device_name(std::string_view name);

// The sample files' names for recordings' file names without extension,
// in order: each as the device takes it, made unique within the preset
// compared without case ("kick", "kick 2", "kick 3"), then ".wav".
std::vector<std::string> sample_file_names(const std::vector<std::string>& stems);

}  // namespace kitweaver
