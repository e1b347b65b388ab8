#include "app/kit_source.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <vector>

#include "app/run.h"
#include "format/drum_format.h"
#include "format/opxy_preset.h"
#include "intake/aiff_reader.h"
#include "intake/wav_reader.h"
#include "kitweaver/name_text.h"
#include "viewer/pack_reader.h"
#include "viewer/preset_reader.h"

namespace kitweaver {
namespace {

// The source's values that are each device's default.
constexpr std::int64_t kDefaultVolume = 8192;
constexpr double kPanCentre = 16384.0;  // the field's pan list: 0 to 32768

// One key of the source: where its slice is, and how it plays.
struct SourceKey {
  bool empty = true;
  std::string file;          // the file holding the slice's frames
  std::int64_t first = 0;    // its first frame in the file's sound
  std::int64_t frames = 0;
  std::string stem;          // the sample file's stem it takes in a preset
  GivenKey play;             // slot filled in once the slices are known
};

struct SourceKeys {
  std::array<SourceKey, kSlotCount> keys;
  std::vector<WavLayout> layouts;            // one per file
  std::vector<std::string> layout_files;
};

// The stored value nearest `value` among `values`, the first on a tie.
template <std::size_t N>
std::int32_t nearest_of(std::int64_t value, const std::array<std::int32_t, N>& values) {
  std::int32_t best = values[0];
  for (std::int32_t v : values) {
    if (std::llabs(value - v) < std::llabs(value - best)) best = v;
  }
  return best;
}

// A key list of the metadata text that the five key lists leave out ("pan",
// "volume"), when it holds 24 numbers.
bool read_extra_list(const std::string& text, const char* name, std::array<std::int64_t, kSlotCount>* list) {
  const nlohmann::json doc = nlohmann::json::parse(text, nullptr, false);
  if (!doc.is_object() || !doc.contains(name)) return false;
  const nlohmann::json& values = doc[name];
  if (!values.is_array() || values.size() != kSlotCount) return false;
  for (std::size_t k = 0; k < kSlotCount; ++k) {
    if (!values[k].is_number()) return false;
    (*list)[k] = static_cast<std::int64_t>(values[k].get<double>());
  }
  return true;
}

// A pack's keys. Returns kExitPackWritten, or (after its line) the status
// of a source that makes no kit.
int read_pack_keys(const PackJob& job, const std::string& path, SourceKeys* source) {
  std::vector<std::uint8_t> bytes;
  if (int error = read_whole_file(path, &bytes)) {
    std::printf("Could not read [%s]: %s\n", path.c_str(), error_text(error).c_str());
    return kExitNoPack;
  }
  if (bytes.size() > static_cast<std::size_t>(kLargestPackBytes)) {
    std::printf("Could not read [%s]: larger than any pack, %lld MB\n", path.c_str(),
                static_cast<long long>(kLargestPackBytes >> 20));
    return kExitNoPack;
  }
  inspect::Pack pack;
  if (std::string why = inspect::read_pack(bytes, &pack); !why.empty()) {
    std::printf("Could not read [%s]: %s\n", path.c_str(), why.c_str());
    return kExitNoPack;
  }
  if (pack.po33) {
    std::printf("[%s] is a PO-33 pack, played into the device and never loaded: no kit is made from it\n",
                path.c_str());
    return kExitUsage;
  }
  for (const std::string& warning : pack.warnings) std::printf("Warning: %s\n", warning.c_str());

  WavLayout layout;
  layout.channels = pack.channels;
  layout.sample_rate = static_cast<std::int32_t>(pack.chunks.comm.whole_hz);
  layout.bits_per_sample = 16;
  layout.byte_rate = layout.sample_rate * 2 * pack.channels;
  layout.data_offset = pack.chunks.sound_at;
  layout.data_available = pack.chunks.sound_held;
  layout.data_bytes = static_cast<std::int32_t>(pack.frames * 2u * static_cast<std::uint32_t>(pack.channels));
  layout.encoding.big_endian = !pack.little_endian;
  layout.encoding.signed_bytes = true;
  source->layouts.push_back(layout);
  source->layout_files.push_back(path);

  std::array<std::int64_t, kSlotCount> pans{}, volumes{};
  const bool have_pans = read_extra_list(pack.chunks.text, "pan", &pans);
  const bool have_volumes = read_extra_list(pack.chunks.text, "volume", &volumes);
  const bool spaced = device_facts(job.device).text == TextForm::kSpaced;
  const std::string stem = file_stem(path);
  constexpr std::array<std::int32_t, 3> kModes = {kPlayPlain, kPlayOneShot, kPlayLoop};
  for (std::size_t k = 0; k < kSlotCount; ++k) {
    const inspect::KeyRow& row = pack.keys[k];
    SourceKey& key = source->keys[k];
    const int number = static_cast<int>(k);
    key.empty = row.frame_count() == 0;
    key.file = path;
    key.first = row.start_frame;
    key.frames = row.frame_count();
    key.stem = stem + " key " + std::to_string(number);
    key.play.pitch = row.pitch_raw;
    key.play.reverse = std::llabs(row.reverse - kReversed) < std::llabs(row.reverse - kForwards) ? kReversed : kForwards;
    key.play.play_mode = nearest_of(row.play_mode, kModes);
    if (key.empty) continue;
    if (key.play.play_mode != row.play_mode) {
      std::printf("Key %d: play mode %lld plays as %s\n", number, static_cast<long long>(row.play_mode),
                  word_of(kPlayModeWords, key.play.play_mode).c_str());
    }
    if (have_pans) key.play.pan = std::clamp((static_cast<double>(pans[k]) - kPanCentre) / kPanCentre, -1.0, 1.0);
    if (spaced && key.play.pan != 0.0) {
      std::printf("Key %d: pan %lld is not carried: an OP-1 pack has none\n", number,
                  static_cast<long long>(pans[k]));
    }
    if (have_volumes && volumes[k] != kDefaultVolume) {
      std::printf("Key %d: volume %lld is not carried: the new kit plays every key at %lld\n", number,
                  static_cast<long long>(volumes[k]), static_cast<long long>(kDefaultVolume));
    }
  }
  return kExitPackWritten;
}

// The stored play mode of a region's word: "group" is one-shot (with a
// line), and so is any word the device plays as one-shot.
std::int32_t play_mode_of_word(const std::string& word, int pad) {
  if (word == "gate") return kPlayPlain;
  if (word == "loop") return kPlayLoop;
  if (word == "group") std::printf("Key %d: play mode group plays as one-shot, with no mute group\n", pad);
  return kPlayOneShot;
}

// A preset's pads, as a pack's keys.
int read_preset_keys(const PackJob& job, const std::string& path, SourceKeys* source) {
  inspect::Preset preset;
  if (std::string why = inspect::read_preset(path, &preset); !why.empty()) {
    // The reader's line names patch.json first.
    const std::string patch = is_folder(path) ? join_path(path, kOpxyPatchFile) : path;
    if (why.rfind(patch + ": ", 0) == 0) why.erase(0, patch.size() + 2);
    std::printf("Could not read [%s]: %s\n", patch.c_str(), why.c_str());
    return kExitNoPack;
  }
  // A pad whose sample can't be read leaves no kit: that problem is the line.
  for (int pad = 0; pad < kSlotCount; ++pad) {
    const inspect::PresetPad* region = inspect::pad_region(preset, pad);
    if (region == nullptr || region->file_read) continue;
    const std::string label = "pad " + std::to_string(pad) + ": ";
    std::string why = label + "its sample " + region->region.sample + " can't be read";
    for (const std::string& problem : preset.problems) {
      if (problem.rfind(label, 0) == 0 && contains(problem, "sample")) why = problem;
    }
    std::printf("Could not read [%s]: %s\n", path.c_str(), why.c_str());
    return kExitNoPack;
  }
  for (const std::string& problem : preset.problems) std::printf("Warning: %s\n", problem.c_str());

  const bool spaced = device_facts(job.device).text == TextForm::kSpaced;
  for (int pad = 0; pad < kSlotCount; ++pad) {
    const inspect::PresetPad* found = inspect::pad_region(preset, pad);
    if (found == nullptr) continue;
    const PresetRegion& r = found->region;
    const std::string file = join_path(preset.folder, r.sample);
    auto known = std::find(source->layout_files.begin(), source->layout_files.end(), file);
    if (known == source->layout_files.end()) {
      WavLayout layout;
      if (read_recording_layout(file, job.reading, &layout) != WavVerdict::kAccepted) {
        std::printf("Could not read [%s]: pad %d: its sample %s can't be read\n", path.c_str(), pad, r.sample.c_str());
        return kExitNoPack;
      }
      source->layouts.push_back(layout);
      source->layout_files.push_back(file);
    }
    SourceKey& key = source->keys[static_cast<std::size_t>(pad)];
    const std::int64_t start = std::clamp<std::int64_t>(r.sample_start.value_or(0), 0, found->file_frames);
    const std::int64_t end = std::clamp<std::int64_t>(r.sample_end, start, found->file_frames);
    key.empty = end == start;
    key.file = file;
    key.first = start;
    key.frames = end - start;
    key.stem = file_stem(r.sample);
    // Semitones and cents as the OP-1's 512ths of a semitone.
    key.play.pitch = std::int64_t{r.transpose} * kPitchScale + std::lround(r.tune * kPitchScale / 100.0);
    key.play.reverse = r.reverse ? kReversed : kForwards;
    key.play.pan = std::clamp(r.pan / 100.0, -1.0, 1.0);
    if (key.empty) continue;
    key.play.play_mode = play_mode_of_word(r.playmode, pad);
    if (spaced && r.pan != 0) std::printf("Key %d: pan %d is not carried: an OP-1 pack has none\n", pad, r.pan);
    if (r.gain) std::printf("Key %d: gain %d is not carried\n", pad, *r.gain);
  }
  return kExitPackWritten;
}

}  // namespace

SourceKind source_kind(const std::string& path) {
  if (inspect::names_preset(path)) return SourceKind::kPreset;
  if (!is_folder(path) && is_drum_pack_file(path)) return SourceKind::kPack;
  return SourceKind::kNone;
}

std::string source_location(const std::string& path, SourceKind kind) {
  return kind == SourceKind::kPreset && !is_folder(path) ? folder_of(path) : path;
}

std::string source_kit_name(const std::string& path, SourceKind kind) {
  if (kind != SourceKind::kPreset) return file_stem(path);
  const std::string folder = real_path(source_location(path, kind));
  std::string name = last_path_component(folder.empty() ? source_location(path, kind) : folder);
  const std::string suffix = kOpxyPresetSuffix;
  if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
    name.resize(name.size() - suffix.size());
  }
  return name;
}

int take_source_kit(PackJob& job, const std::string& path, SourceKind kind, KeyMap* keys) {
  SourceKeys source;
  const int status = kind == SourceKind::kPack ? read_pack_keys(job, path, &source) : read_preset_keys(job, path, &source);
  if (status != kExitPackWritten) return status;

  // Each distinct slice once, in the order of the first key that plays it.
  std::vector<std::size_t> first_keys;
  std::vector<std::string> shared;
  for (std::size_t k = 0; k < kSlotCount; ++k) {
    SourceKey& key = source.keys[k];
    keys->given[k] = key.play;
    keys->given[k].slot = -1;
    if (key.empty) continue;
    std::size_t slot = 0;
    while (slot < first_keys.size()) {
      const SourceKey& other = source.keys[first_keys[slot]];
      if (other.file == key.file && other.first == key.first && other.frames == key.frames) break;
      ++slot;
    }
    if (slot == first_keys.size()) {
      first_keys.push_back(k);
      shared.emplace_back();
    }
    shared[slot] += (shared[slot].empty() ? "" : ", ") + std::to_string(k);
    keys->given[k].slot = static_cast<std::int32_t>(slot);
  }
  keys->given_in_use = true;
  const auto playing = std::count_if(keys->given.begin(), keys->given.end(), [](const GivenKey& g) { return g.slot >= 0; });
  std::printf("%zu slice%s of [%s] on %d key%s\n", first_keys.size(), first_keys.size() == 1 ? "" : "s",
              path.c_str(), static_cast<int>(playing), playing == 1 ? "" : "s");
  for (std::size_t slot = 0; slot < first_keys.size(); ++slot) {
    const SourceKey& key = source.keys[first_keys[slot]];
    const std::string name = path + " key " + std::to_string(first_keys[slot]);
    const bool several = contains(shared[slot], ",");
    std::printf("[%s] plays key%s %s\n", name.c_str(), several ? "s" : "", shared[slot].c_str());
    const auto at = static_cast<std::size_t>(
        std::find(source.layout_files.begin(), source.layout_files.end(), key.file) - source.layout_files.begin());
    if (int error = read_recording_part(job, key.file, source.layouts[at], key.first, key.frames, name, key.stem)) {
      std::printf("Could not read [%s]: %s\n", key.file.c_str(), error_text(error).c_str());
      return kExitNoPack;
    }
    job.samples[static_cast<std::size_t>(job.sample_count - 1)]->from_kit = true;
  }
  std::printf("\n");
  return kExitPackWritten;
}

}  // namespace kitweaver
