#include "pack/preset_writer.h"

#include <cmath>
#include <cstdio>

#include "format/drum_format.h"
#include "format/opxy_preset.h"
#include "format/wav_file.h"
#include "pack/drum_metadata.h"
#include "system/file_replace.h"
#include "system/files.h"

namespace kitweaver {
namespace {

// The device's word for a stored play mode.
const char* play_mode_word(std::int32_t play_mode) {
  if (play_mode == kPlayOneShot) return "oneshot";
  if (play_mode == kPlayLoop) return "loop";
  return "gate";
}

// A rendered slot as the samples of its WAV file: mono, or its two sides
// interleaved.
std::vector<std::int16_t> slot_samples(const SampleRecord& record) {
  const auto frames = static_cast<std::size_t>(record.resampled_bytes / 2);
  if (!record.resampled_right) return {record.resampled.get(), record.resampled.get() + frames};
  std::vector<std::int16_t> samples(2 * frames);
  for (std::size_t i = 0; i < frames; ++i) {
    samples[2 * i] = record.resampled[i];
    samples[2 * i + 1] = record.resampled_right[i];
  }
  return samples;
}

}  // namespace

bool write_opxy_preset(const PackJob& job, const KeyMap& keys, const std::string& path,
                       std::vector<std::string>* removed) {
  std::vector<std::string> stems;
  for (std::int32_t slot = 0; slot < job.sample_count; ++slot) {
    const SampleRecord& record = *job.samples[static_cast<std::size_t>(slot)];
    stems.push_back(record.stem.empty() ? file_stem(record.path) : record.stem);
  }
  const std::vector<std::string> names = sample_file_names(stems);

  // The regions, a pad each, as the OP-1 kit plays its keys; a pad whose
  // slot could not be resampled has none.
  std::vector<PresetRegion> regions;
  const std::array<KeyPlay, kSlotCount> plays = key_plays(job, keys);
  for (std::int32_t pad = 0; pad < kSlotCount; ++pad) {
    const KeyPlay& play = plays[static_cast<std::size_t>(pad)];
    const SampleRecord& record = *job.samples[static_cast<std::size_t>(play.slot)];
    if (play.empty || !record.resampled) continue;
    PresetRegion region;
    region.pad = pad;
    region.hikey = region.lokey = kOpxyFirstNote + pad;
    region.sample = names[static_cast<std::size_t>(play.slot)];
    region.framecount = region.sample_end = record.resampled_bytes / 2;
    region.playmode = play_mode_word(play.play_mode);
    region.reverse = play.reverse == kReversed;
    // Semitones truncated toward zero, and the rest in cents.
    region.transpose = static_cast<std::int32_t>(play.pitch / kPitchScale);
    region.tune = static_cast<std::int32_t>(std::lround(static_cast<double>(play.pitch % kPitchScale) * 100.0 / kPitchScale));
    region.pan = static_cast<std::int32_t>(std::lround(play.pan * 100.0));
    regions.push_back(region);
  }
  const std::string patch = preset_json(regions);

  FolderReplacement replacement;
  int error = start_folder_replacement(path, &replacement);
  for (std::int32_t slot = 0; slot < job.sample_count && error == 0; ++slot) {
    const SampleRecord& record = *job.samples[static_cast<std::size_t>(slot)];
    if (!record.resampled) continue;
    const std::vector<std::int16_t> samples = slot_samples(record);
    const int channels = record.resampled_right ? 2 : 1;
    const std::vector<std::uint8_t> wav =
        wav_file_bytes(samples.data(), samples.size() / static_cast<std::size_t>(channels), channels, true);
    error = write_folder_file(replacement, names[static_cast<std::size_t>(slot)], {{wav.data(), wav.size()}});
  }
  if (error == 0) {
    error = write_folder_file(replacement, kOpxyPatchFile,
                              {{reinterpret_cast<const std::uint8_t*>(patch.data()), patch.size()}});
  }
  if (error == 0) {
    error = finish_folder_replacement(replacement, removed);
  } else {
    abandon_folder_replacement(replacement);
  }
  if (error != 0) {
    std::printf("Could not write [%s]: %s\n", path.c_str(), error_text(error).c_str());
    return false;
  }
  return true;
}

}  // namespace kitweaver
