// The band-limited renderer (--hq): the same slices as the scatter
// renderer plans them, each chord note resampled by libsoxr's filter instead
// of averaged, so that nothing above the new Nyquist frequency folds back.
//
// Every bit of the source is decoded (8-bit (b - 128) / 128, 16-bit
// v / 32768, 24-bit v / 2^23, 32-bit v / 2^31, channels averaged). Chord
// note j is the source resampled from S to Q x ratio_j, output frame 0 on
// source frame 0, filling the slice as far as the note reaches; where
// Q x ratio_j is S exactly the note is the decoded source itself. The slice
// is the sum of the notes divided by the note count, rounded to nearest and
// clamped to 16 bits, without dither, so every run gives the same bytes.
// The source is read once, front to back, through the same stream of reads
// as the scatter renderer, every note taking each decoded block in turn.
#pragma once

#include <cstdint>

#include "kitweaver/records.h"
#include "slice/resampler.h"
#include "slice/source_stream.h"

namespace kitweaver {

#ifdef KITWEAVER_HAVE_SOXR
inline constexpr bool kBandLimitedBuilt = true;
#else
inline constexpr bool kBandLimitedBuilt = false;
#endif

// The largest ratio of output to input rate handed to libsoxr: it refuses
// none, but far beyond this (a header of a few hertz) it runs for minutes or
// crashes. Such a slot renders with the scatter renderer.
inline constexpr double kMostUpsampling = 16384.0;

// Returned when libsoxr can't take one of the slot's rates.
inline constexpr int kBandLimitRefused = -2;

// Renders `record` at `rate` Hz into `frames` output frames and attaches the
// result. Returns 0, the errno of a read that failed, or kBandLimitRefused
// (the record then stays unrendered).
#ifdef KITWEAVER_HAVE_SOXR
int render_band_limited(SampleRecord& record, double rate, std::int32_t frames, const ChordNotes& chord,
                        const StreamSettings& settings = {}, RenderBuffers* buffers = nullptr);
#else
inline int render_band_limited(SampleRecord&, double, std::int32_t, const ChordNotes&, const StreamSettings& = {},
                               RenderBuffers* = nullptr) {
  return kBandLimitRefused;
}
#endif

}  // namespace kitweaver
