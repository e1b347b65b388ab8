// Resampler and chord mixer: renders a record's PCM into 16-bit mono frames
// at the planned rate, one transposed copy per chord note, mixed.
//
// The method is scatter-and-average: the source is walked in steps of 1/64 of
// a frame, each position is mapped to the nearest output frame, and all
// source values landing on one output frame are averaged.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "kitweaver/records.h"

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

// A read-only view of a record's PCM that yields one mono value per frame.
struct SourceView {
  const std::uint8_t* pcm = nullptr;
  std::int64_t frames_in_data = 0;  // frames wholly inside the bytes read
  std::int32_t channels = 0;
  std::int32_t bytes_per_sample = 0;
  std::int64_t frame_count = 0;     // frames the header promises
};

SourceView source_view(const SampleRecord& record);

// Mono value of source frame k: the mean of its channels, each sample's upper
// 16 bits as a signed value (8-bit samples re-centred and scaled). A frame not
// wholly inside the data read from the file is 0.
double source_frame_value(const SourceView& source, std::int64_t k);

// For one chord note stretched by `ratio`, adds to mix[i] the average of the
// source values whose positions land on output frame i, for every frame i
// that some position reaches. rate_ratio is the resample rate over the
// source rate.
void add_note_average(const SourceView& source, double rate_ratio, double ratio, std::int64_t frames,
                      double* mix);

// A zero-filled mix of `frames` doubles, or null when memory ran out.
std::unique_ptr<double[]> zeroed_mix(std::int64_t frames);

// Turns the mix into the record's 16-bit slice (each frame divided by the
// note count, truncated). False when memory ran out.
bool attach_mix(SampleRecord& record, const double* mix, std::int64_t frames, std::int32_t note_count);

// Renders `record` at `rate` Hz into `frames` output frames and attaches the
// result. Leaves the record unrendered if memory can't be had.
void render_slice(SampleRecord& record, double rate, std::int32_t frames, const ChordNotes& chord);

}  // namespace kitweaver
