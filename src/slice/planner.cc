#include "slice/planner.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "slice/chord_tags.h"
#include "slice/resampler.h"

namespace kitweaver {

double note_frequency(int m) {
  return std::ldexp(kTopOctaveHz[static_cast<std::size_t>(m % 12)], -(9 - m / 12));
}

float po33_pause_seconds(std::int32_t sample_count) {
  float gaps = static_cast<float>(sample_count + 1);
  return gaps * 0.2f;
}

bool check_pack_room(const PackJob& job) {
  if (!job.po33_mode || static_cast<double>(po33_pause_seconds(job.sample_count)) < job.max_pack_seconds) {
    return true;
  }
  std::printf("PO-33 pack length %.1fs leaves no room for %d samples and their pauses\n",
              job.max_pack_seconds, job.sample_count);
  return false;
}

double compute_compression_factor(const PackJob& job) {
  const double total = job.total_seconds;
  const double room = job.max_pack_seconds;
  double r;
  if (job.po33_mode) {
    // Single precision, left to right, as the device's pause arithmetic.
    float gaps = static_cast<float>(job.sample_count + 1);
    float pause_frames = gaps * 44100.0f * 0.2f;
    double pause_seconds = po33_pause_seconds(job.sample_count);
    double available_frames = (room - pause_seconds) * 44100.0;
    r = (static_cast<double>(pause_frames) + total * 44100.0) / available_frames;
  } else {
    r = (total * 44100.0) / (room * 44100.0);
  }
  return 1.0 / std::max(1.0, r);
}

SlicePlan choose_slice_plan(const SampleRecord& record, double factor) {
  const double data_bytes = record.data_bytes;
  const double byte_rate = record.byte_rate;
  SlicePlan plan;
  double slice_factor = factor;
  if (std::trunc(data_bytes * factor / byte_rate * 44100.0) > kSliceCapFrames) {
    plan.capped = true;
    slice_factor = kSliceCapFrames / (data_bytes / byte_rate * 44100.0);
  }
  int note = kHighestNote;
  while (note >= kLowestNote && !(slice_factor * kReferenceHz >= note_frequency(note))) --note;
  if (note < kLowestNote) return plan;
  plan.note = note;
  plan.rate = note_frequency(note) * 44100.0 / kReferenceHz;
  // The slice's length in pack frames: source duration times the new rate.
  double frames = std::trunc(plan.rate / 44100.0 * data_bytes / byte_rate * 44100.0);
  if (!(frames <= std::numeric_limits<std::int32_t>::max() / 2)) return plan;
  plan.frames = static_cast<std::int32_t>(frames);
  plan.resampled = true;
  return plan;
}

void plan_slice(PackJob& job, std::int32_t slot, double factor) {
  SampleRecord& record = *job.samples[static_cast<std::size_t>(slot)];
  std::printf("[%s]\n", record.path.c_str());
  const SlicePlan plan = choose_slice_plan(record, factor);
  if (plan.capped) std::printf("\tneeds further adjustment to fit in 4 second slice limit\n");
  ChordNotes chord = decode_chord_tags(record.path);
  if (!plan.resampled) {
    std::printf("[%s] :: could not resample (frequency too low)\n", record.path.c_str());
    return;
  }
  float seconds = static_cast<float>(record.data_bytes) / static_cast<float>(record.byte_rate);
  int semitones_down = kReferenceNote - plan.note;
  std::printf("\tlength %02.2fs, resampling to %dHz, pitching down %d semitones\n",
              static_cast<double>(seconds), static_cast<int>(plan.rate), semitones_down);
  if (job.po33_mode && semitones_down > 12) {
    std::printf(
        "\tWARNING: pitching down past PO-33's 12 semitone pitch range! Consider increasing "
        "sample pack length.\n");
  }
  record.pitch_semitones = plan.note - kReferenceNote;
  job.last_resample_rate = plan.rate;
  render_slice(record, plan.rate, plan.frames, chord);
}

}  // namespace kitweaver
