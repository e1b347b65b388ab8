// Time-compression planner: how much every slice is shortened so that all
// recordings fit the pack, expressed as a resample rate on the
// equal-tempered scale and a pitch correction in semitones.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <new>
#include <system_error>
#include <thread>

#include "kitweaver/records.h"
#include "slice/resampler.h"

namespace kitweaver {

// Frequencies of MIDI notes 108 to 119 (C8 to B8); lower notes divide them by
// exact powers of two, so A4 (69) is exactly 440 Hz.
inline constexpr std::array<double, 12> kTopOctaveHz = {
    4186.01, 4434.92, 4698.63, 4978.03, 5274.04, 5587.65,
    5919.91, 6271.93, 6644.88, 7040,    7458.62, 7902.13};

inline constexpr int kHighestNote = 119;
inline constexpr int kLowestNote = 21;
inline constexpr int kReferenceNote = 69;
inline constexpr double kReferenceHz = 440.0;
// Longest slice, in pack frames, before its own factor is lowered. No slice
// reaches it while the compression factor comes from a positive pack room.
inline constexpr double kSliceCapFrames = 44100000.0;

// Frequency of MIDI note m, 21 <= m <= 119.
double note_frequency(int m);

// Seconds of PO-33 gaps for n samples: the marker tone and one pause before
// each slice, 0.2 s each, in single precision.
float po33_pause_seconds(std::int32_t sample_count);

// False (after saying so) when a PO-33 pack is too short to hold even its
// gaps; nothing can then be planned.
bool check_pack_room(const PackJob& job);

// The factor that fits `total_seconds` of sound into `room_seconds`: 1
// when it fits, else room over total, in (0, 1].
double fit_factor(double total_seconds, double room_seconds);

// The run's compression factor in (0, 1]; needs sample_count >= 1.
double compute_compression_factor(const PackJob& job);

// The plan of one slice: the note chosen, its rate and the slice's length.
struct SlicePlan {
  bool capped = false;    // the per-slice cap lowered the factor
  bool resampled = false; // false: no note is low enough (or the length is absurd)
  int note = 0;
  double rate = 0.0;
  std::int32_t frames = 0;
  ChordNotes chord;       // from the record's file name
};

// Chooses the note, rate and frame count of a record for `factor`; prints
// nothing.
SlicePlan choose_slice_plan(const SampleRecord& record, double factor);

// Plans the record in `slot` and prints its lines (the chord tags' among
// them); sets its pitch correction. Renders nothing.
SlicePlan announce_slice_plan(PackJob& job, std::int32_t slot, double factor);

// Renders a planned slice from the record's file (opened again if the
// intake had to close it), then closes the file. Returns 0, or the error of
// a read that failed, or kFileChanged.
// With `band_limited`, the slice is resampled through the band-limited
// filter; with `stereo`, a two-channel recording is rendered on two sides.
int render_planned_slice(SampleRecord& record, const SlicePlan& plan, RenderBuffers* buffers = nullptr,
                         bool band_limited = false, bool stereo = false);

// The first slot, in slot order, whose file could not be read, and why.
struct RenderFailure {
  std::int32_t slot = -1;  // -1: every slot was rendered
  int error = 0;
};

// Sound data from which reading on two cores is faster than on one, for the
// renderers and the onset detector (measured on 2 cores: the same time from
// 2 to 8 MB, 10% faster at 16 MB, 30% faster at 110 MB; a 1 MB kit slower,
// for the second thread's start).
inline constexpr std::int64_t kTwoThreadBytes = 8 << 20;

// Runs `work` (which takes its next item itself until none is left) on
// this thread and, with `bytes` of sound at least kTwoThreadBytes and a
// second core, on a second thread too. Memory running out on either is
// thrown here once both are done.
template <typename Work>
void on_one_or_two_threads(std::int64_t bytes, Work&& work) {
  std::atomic<bool> out_of_memory{false};
  auto guarded = [&] {
    try {
      work();
    } catch (const std::bad_alloc&) {
      out_of_memory = true;
    }
  };
  std::thread helper;
  if (bytes >= kTwoThreadBytes && std::thread::hardware_concurrency() > 1) {
    try {
      helper = std::thread(guarded);
    } catch (const std::system_error&) {
      // No second thread: this one does all the work.
    }
  }
  guarded();
  if (helper.joinable()) helper.join();
  if (out_of_memory) throw std::bad_alloc();
}

// Renders every slot of the job by its plan (band-limited, and stereo, when
// the job asks for it), the slots shared between two threads when the machine has two
// cores, and closes their files.
RenderFailure render_planned_slices(PackJob& job, const std::array<SlicePlan, kSlotCount>& plans);

// The plan of a whole kit: the run's factor, every slot's plan, and the
// rate that tunes a PO-33 pack's marker tone: that of the last slot, in slot
// order, whose note search succeeded (0 when none did).
struct KitPlan {
  double factor = 1.0;
  std::array<SlicePlan, kSlotCount> slices;
  double tone_rate = 0.0;
};

// Plans every slot in slot order, printing each one's lines. A device of
// one file per sound (the OP-XY) fits each slot alone into its length.
KitPlan plan_kit(PackJob& job);

// Plans, prints and renders the record in `slot`: the two steps above, the
// job's tone rate set as plan_kit sets it.
int plan_slice(PackJob& job, std::int32_t slot, double factor);

}  // namespace kitweaver
