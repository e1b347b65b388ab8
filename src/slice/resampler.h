// Resampler and chord mixer: renders a record's sound into 16-bit frames at
// the planned rate, one transposed copy per chord note, mixed: mono (the
// mean of the channels), or for a stereo kit the two sides of a two-channel
// recording, each rendered as a mono recording of that channel would be.
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
// A stereo slice has two sides; index 0 is the left, or a mono slice.
inline constexpr int kSides = 2;

struct RenderBuffers {
  SourceStream stream;
  std::array<std::vector<std::int64_t>, kSides> sums;
  std::vector<double> values;
  std::array<std::vector<Sample>, kSides> samples;  // the band-limited renderer's input
  std::array<SincResampler, kSides> band_limited;   // and its stages, kept for the next slot's designs
};

// How many sides a rendering of `record` makes: two for a stereo slice of
// a two-channel recording; otherwise one, which a stereo slice plays on
// both sides (a mono recording's only channel, or the mean of three or
// more).
int sides_of(const SampleRecord& record, bool stereo);

// For every chord note in order, adds to mix[i] the average of the source
// values whose positions land on output frame i, for every frame i that some
// position reaches; with two sides, mix[0] takes the first channel's and
// mix[1] the second's. `rate` is the resample rate. Returns 0, or the error
// of a read that failed.
int mix_notes(const SampleRecord& record, double rate, std::int64_t frames, const ChordNotes& chord, double* mix,
              RenderBuffers* buffers = nullptr, double* mix_right = nullptr);

// `count` zero values (the frames of a slice or a mix), or null when memory
// ran out.
template <typename T>
std::unique_ptr<T[]> zeroed(std::int64_t count) {
  return std::unique_ptr<T[]>(new (std::nothrow) T[static_cast<std::size_t>(count)]());
}

// A mix as a 16-bit slice: each frame divided by the note count,
// truncated. Null when memory ran out.
std::unique_ptr<std::int16_t[]> slice_of_mix(const double* mix, std::int64_t frames, std::int32_t note_count);

// Turns the mix into the record's 16-bit slice. False when memory ran out.
bool attach_mix(SampleRecord& record, const double* mix, std::int64_t frames, std::int32_t note_count);

// Renders `record` at `rate` Hz into `frames` output frames and attaches the
// result: both sides when `stereo` asks for them and the recording has two
// channels (sides_of). Returns 0, or the error of a read that failed (the
// record then stays unrendered); leaves the record unrendered if memory
// can't be had.
int render_slice(SampleRecord& record, double rate, std::int32_t frames, const ChordNotes& chord,
                 RenderBuffers* buffers = nullptr, bool stereo = false);

}  // namespace kitweaver
