// Resampler and chord mixer: renders a record's sound into 16-bit mono frames
// at the planned rate, one transposed copy per chord note, mixed.
//
// The method is scatter-and-average: the source is walked in steps of 1/64 of
// a frame, each position is mapped to the nearest output frame, and all
// source values landing on one output frame are averaged. The sound is read
// from the record's file as it is rendered, through one reused buffer, so
// memory does not grow with the recording.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

#include "kitweaver/records.h"
#include "slice/sinc_resampler.h"
#include "slice/source_stream.h"

namespace kitweaver {

// About 2^((k - 12) / 12): A3 to A4 divided by 440.
inline constexpr std::array<double, 13> kSemitoneRatios = {
    0.5,         0.529731818, 0.561231818, 0.594604545, 0.629961364, 0.667420455, 0.707106818,
    0.749154545, 0.7937,      0.840895455, 0.890897727, 0.943875,    1.0};

// Scatter step: 64 positions per source frame, exact in binary.
inline constexpr double kScatterStep = 0.015625;

// How much a chord copy `n` semitones above the recording is stretched:
// below 1 (shorter, higher) for positive n, above 1 for negative n.
double stretch_ratio(std::int32_t semitones);

// The source frames the header promises (data_bytes / byte_rate x
// sample_rate, truncated), capped where positions stop being exact.
std::int64_t promised_frames(const SampleRecord& record);

// The buffers a rendering reads and decodes through; reusing them from one
// slice to the next spares the system fresh memory for each.
struct RenderBuffers {
  SourceStream stream;
  std::vector<std::int64_t> sums;
  std::vector<double> values;
  std::vector<Sample> samples;    // the band-limited renderer's input
  SincResampler band_limited;     // and its stages, kept for the next slot's designs
};

// For every chord note in order, adds to mix[i] the average of the source
// values whose positions land on output frame i, for every frame i that some
// position reaches. `rate` is the resample rate. Returns 0, or the error of a
// read that failed.
int mix_notes(const SampleRecord& record, double rate, std::int64_t frames, const ChordNotes& chord, double* mix,
              RenderBuffers* buffers = nullptr);

// `count` zero values (the frames of a slice or a mix), or null when memory
// ran out.
template <typename T>
std::unique_ptr<T[]> zeroed(std::int64_t count) {
  return std::unique_ptr<T[]>(new (std::nothrow) T[static_cast<std::size_t>(count)]());
}

// Turns the mix into the record's 16-bit slice (each frame divided by the
// note count, truncated). False when memory ran out.
bool attach_mix(SampleRecord& record, const double* mix, std::int64_t frames, std::int32_t note_count);

// Renders `record` at `rate` Hz into `frames` output frames and attaches the
// result. Returns 0, or the error of a read that failed (the record then
// stays unrendered); leaves the record unrendered if memory can't be had.
int render_slice(SampleRecord& record, double rate, std::int32_t frames, const ChordNotes& chord,
                 RenderBuffers* buffers = nullptr);

}  // namespace kitweaver
