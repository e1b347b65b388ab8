// The band-limited renderer (--hq): the same slices as the scatter renderer
// plans them, each chord note resampled by Kitweaver's own band-limited
// resampler (slice/sinc_resampler.h) instead of averaged, so that nothing
// above the new Nyquist frequency folds back.
//
// Every bit of the source is decoded (8-bit v / 128, 16-bit v / 32768,
// 24-bit v / 2^23, 32-bit v / 2^31, float clamped to [-1, 1], channels
// averaged, or kept apart for the two sides of a stereo slice;
// slice/sample_decoding.h). Chord
// note j is the source resampled from S to Q x ratio_j, output frame 0 on
// source frame 0, filling the slice as far as the note reaches; where
// Q x ratio_j is S exactly the note is the decoded source itself. The slice
// is the sum of the notes divided by the note count, rounded to nearest and
// clamped to 16 bits, without dither, so every run on every machine gives the
// same bytes. The source is read once, front to back, through the same
// stream of reads as the scatter renderer; the notes share its decoding and
// the halvings they all need.
#pragma once

#include <cstdint>

#include "kitweaver/records.h"
#include "slice/resampler.h"
#include "slice/source_stream.h"

namespace kitweaver {

// Renders `record` at `rate` Hz into `frames` output frames and attaches the
// result: both sides when `stereo` asks for them and the recording has two
// channels (sides_of), each through a resampler of its own. Returns 0, or
// the error of a read that failed (the record then stays unrendered);
// leaves the record unrendered if memory can't be had.
int render_band_limited(SampleRecord& record, double rate, std::int32_t frames, const ChordNotes& chord,
                        RenderBuffers* buffers = nullptr, bool stereo = false);

}  // namespace kitweaver
