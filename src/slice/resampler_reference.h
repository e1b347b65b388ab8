// The literal scatter-and-average, kept as the reference that the fast
// resampler must match bit for bit. Used by the tests and the benchmark only.
#pragma once

#include <cstdint>

#include "kitweaver/records.h"
#include "slice/resampler.h"

namespace kitweaver {

// Visits every 1/64 of a source frame, one at a time, and averages per output
// frame: the same contract as add_note_average. `note_sum` and `note_hits`
// are zero-filled scratch of `frames` entries, left zero-filled.
void add_note_average_literal(const SourceView& source, double rate_ratio, double ratio,
                              std::int64_t frames, double* mix, double* note_sum,
                              std::int64_t* note_hits);

// render_slice through the literal scatter.
void render_slice_literal(SampleRecord& record, double rate, std::int32_t frames, const ChordNotes& chord);

}  // namespace kitweaver
