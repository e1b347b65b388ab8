#include "slice/planner.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <limits>
#include <new>
#include <system_error>
#include <thread>

#include "format/devices.h"
#include "intake/wav_reader.h"
#include "slice/band_limited.h"
#include "slice/chord_tags.h"
#include "slice/resampler.h"

namespace kitweaver {

double note_frequency(int m) {
  return std::ldexp(kTopOctaveHz[static_cast<std::size_t>(m % 12)], -(9 - m / 12));
}

float po33_pause_seconds(std::int32_t sample_count) {
  float gaps = static_cast<float>(sample_count + 1);
  return gaps * kPo33GapSeconds;
}

bool check_pack_room(const PackJob& job) {
  if (job.device != Device::kPo33 || static_cast<double>(po33_pause_seconds(job.sample_count)) < job.max_pack_seconds) {
    return true;
  }
  std::printf("PO-33 pack length %.1fs leaves no room for %d samples and their pauses\n",
              job.max_pack_seconds, job.sample_count);
  return false;
}

double fit_factor(double total_seconds, double room_seconds) {
  const double r = (total_seconds * kPackRate) / (room_seconds * kPackRate);
  return 1.0 / std::max(1.0, r);
}

double compute_compression_factor(const PackJob& job) {
  if (job.device == Device::kPo33) {
    // The sound over the room the gaps leave; the gaps are counted once, in
    // the room, in single precision.
    const double pause_seconds = po33_pause_seconds(job.sample_count);
    return fit_factor(job.total_seconds, job.max_pack_seconds - pause_seconds);
  }
  return fit_factor(job.total_seconds, job.max_pack_seconds);
}

SlicePlan choose_slice_plan(const SampleRecord& record, double factor) {
  const double data_bytes = record.data_bytes;
  const double byte_rate = record.byte_rate;
  SlicePlan plan;
  double slice_factor = factor;
  if (std::trunc(data_bytes * factor / byte_rate * kPackRate) > kSliceCapFrames) {
    plan.capped = true;
    slice_factor = kSliceCapFrames / (data_bytes / byte_rate * kPackRate);
  }
  int note = kHighestNote;
  while (note >= kLowestNote && !(slice_factor * kReferenceHz >= note_frequency(note))) --note;
  if (note < kLowestNote) return plan;
  plan.note = note;
  plan.rate = note_frequency(note) * kPackRate / kReferenceHz;
  // The slice's length in pack frames: source duration times the new rate.
  double frames = std::trunc(plan.rate / kPackRate * data_bytes / byte_rate * kPackRate);
  if (!(frames <= std::numeric_limits<std::int32_t>::max() / 2)) return plan;
  plan.frames = static_cast<std::int32_t>(frames);
  plan.resampled = true;
  return plan;
}

SlicePlan announce_slice_plan(PackJob& job, std::int32_t slot, double factor) {
  SampleRecord& record = *job.samples[static_cast<std::size_t>(slot)];
  const std::string& name = record.name.empty() ? record.path : record.name;
  std::printf("[%s]\n", name.c_str());
  SlicePlan plan = choose_slice_plan(record, factor);
  if (plan.capped) std::printf("\tneeds further adjustment to fit in 4 second slice limit\n");
  // A source kit's slice is played as its keys say, whatever its file's name.
  if (!record.from_kit) plan.chord = decode_chord_tags(record.path);
  if (!plan.resampled) {
    std::printf("[%s] :: could not resample (frequency too low)\n", name.c_str());
    return plan;
  }
  float seconds = static_cast<float>(record.data_bytes) / static_cast<float>(record.byte_rate);
  int semitones_down = kReferenceNote - plan.note;
  std::printf("\tlength %02.2fs, resampling to %dHz, pitching down %d semitones\n",
              static_cast<double>(seconds), static_cast<int>(plan.rate), semitones_down);
  const SampleRecord::Trim& trim = record.trim;
  const std::int32_t declared_bytes = trim.applied ? trim.declared_bytes : record.data_bytes;
  const std::int64_t present_bytes = trim.applied ? trim.present_bytes : record.data_present;
  if (present_bytes < declared_bytes) {
    // The rest is played as silence: say how much sound there really is.
    const float held = static_cast<float>(present_bytes) / static_cast<float>(record.byte_rate);
    const float declared = static_cast<float>(declared_bytes) / static_cast<float>(record.byte_rate);
    std::printf("\tthe file ends early: %.2fs of the %.2fs its header declares\n", static_cast<double>(held),
                static_cast<double>(declared));
  }
  if (trim.start_frames > 0 || trim.end_frames > 0) {
    const double rate = record.sample_rate;
    std::printf("\ttrimmed %.2fs at the start, %.2fs at the end\n", static_cast<double>(trim.start_frames) / rate,
                static_cast<double>(trim.end_frames) / rate);
  }
  if (trim.silent) std::printf("\tsilent throughout: one frame kept\n");
  if (job.device == Device::kPo33 && semitones_down > 12) {
    std::printf(
        "\tWARNING: pitching down past PO-33's 12 semitone pitch range! Consider increasing "
        "sample pack length.\n");
  }
  record.pitch_semitones = plan.note - kReferenceNote;
  return plan;
}

int render_planned_slice(SampleRecord& record, const SlicePlan& plan, RenderBuffers* buffers, bool band_limited,
                         bool stereo) {
  int error = 0;
  if (plan.resampled) {
    error = reopen_source(record);
    if (error == 0) {
      error = band_limited ? render_band_limited(record, plan.rate, plan.frames, plan.chord, buffers, stereo)
                           : render_slice(record, plan.rate, plan.frames, plan.chord, buffers, stereo);
    }
  }
  record.source.file.reset();
  return error;
}

RenderFailure render_planned_slices(PackJob& job, const std::array<SlicePlan, kSlotCount>& plans) {
  // Each slot is rendered by one thread into its own record; the slots go to
  // whichever thread is free, and nothing else is shared.
  const bool stereo = keeps_stereo(job.device);
  std::array<int, kSlotCount> errors{};
  std::atomic<std::int32_t> next_slot{0};
  auto render_slots = [&] {
    RenderBuffers buffers;
    for (std::int32_t slot = next_slot++; slot < job.sample_count; slot = next_slot++) {
      const auto at = static_cast<std::size_t>(slot);
      errors[at] = render_planned_slice(*job.samples[at], plans[at], &buffers, job.band_limited, stereo);
    }
  };
  // A second thread pays for itself only when there is much to read.
  std::int64_t bytes = 0;
  for (std::int32_t slot = 0; slot < job.sample_count; ++slot) {
    if (plans[static_cast<std::size_t>(slot)].resampled) bytes += job.samples[static_cast<std::size_t>(slot)]->data_present;
  }
  on_one_or_two_threads(bytes, render_slots);
  for (std::int32_t slot = 0; slot < job.sample_count; ++slot) {
    if (int error = errors[static_cast<std::size_t>(slot)]) return {slot, error};
  }
  return {};
}

KitPlan plan_kit(PackJob& job) {
  KitPlan kit;
  kit.factor = compute_compression_factor(job);
  const bool per_sample = device_facts(job.device).per_sample;
  for (std::int32_t slot = 0; slot < job.sample_count; ++slot) {
    // A device of one file per sound fits each sound alone into its length.
    const SampleRecord& record = *job.samples[static_cast<std::size_t>(slot)];
    const double factor =
        per_sample ? fit_factor(static_cast<double>(record.data_bytes) / record.byte_rate, job.max_pack_seconds)
                   : kit.factor;
    const SlicePlan& plan = kit.slices[static_cast<std::size_t>(slot)] = announce_slice_plan(job, slot, factor);
    if (plan.resampled) kit.tone_rate = plan.rate;
  }
  return kit;
}

int plan_slice(PackJob& job, std::int32_t slot, double factor) {
  const SlicePlan plan = announce_slice_plan(job, slot, factor);
  if (plan.resampled) job.last_resample_rate = plan.rate;  // as plan_kit's tone rate
  return render_planned_slice(*job.samples[static_cast<std::size_t>(slot)], plan, nullptr, job.band_limited,
                              keeps_stereo(job.device));
}

}  // namespace kitweaver
