// The literal scatter-and-average, kept as the reference that the streaming
// resampler must match bit for bit. Used by the tests and the fuzz targets
// only: it holds a record's whole sound in memory.
#pragma once

#include <cstdint>
#include <vector>

#include "kitweaver/records.h"
#include "slice/resampler.h"
#include "slice/sample_decoding.h"

namespace kitweaver {

// A record's data bytes read into memory, and its format.
struct SourceView {
  std::vector<std::uint8_t> pcm;    // the data bytes the file holds
  std::int64_t frames_in_data = 0;  // frames wholly inside them
  std::int32_t channels = 0;
  std::int32_t bytes_per_sample = 0;
  SampleType type = SampleType::kNone;
  std::int64_t frame_count = 0;     // frames the header promises
};

SourceView source_view(const SampleRecord& record);

// Mono value of source frame k: the mean of its channels, each sample's
// 16-bit value (slice/sample_decoding.h). A frame not wholly inside the data
// read from the file is 0.
double source_frame_value(const SourceView& source, std::int64_t k);

// Visits every 1/64 of a source frame, one at a time, and adds to mix[i] the
// average of the values landing on output frame i. `note_sum` and
// `note_hits` are zero-filled scratch of `frames` entries, left zero-filled.
void add_note_average_literal(const SourceView& source, double rate_ratio, double ratio,
                              std::int64_t frames, double* mix, double* note_sum,
                              std::int64_t* note_hits);

// render_slice through the literal scatter.
void render_slice_literal(SampleRecord& record, double rate, std::int32_t frames, const ChordNotes& chord);

}  // namespace kitweaver
