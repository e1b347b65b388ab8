// Silence at the ends of a recording, which --trim leaves out before the
// plan: a frame is silent when every one of its channels is below 1/1000 of
// full scale (-60 dBFS), on the decoded value before any mixing.
#pragma once

#include <cstdint>

#include "kitweaver/records.h"
#include "slice/sample_decoding.h"

namespace kitweaver {

inline constexpr double kSilenceLevel = 0.001;

// The first of `count` stored frames (`channels` samples of `type` each)
// that is not silent, or -1.
std::int64_t first_sound_frame(const std::uint8_t* frames, std::size_t count, SampleType type,
                               std::int32_t channels);

// Where the sound of a record's data lies: its first and last frames that
// are not silent (-1 for a recording silent throughout), and the frames
// the file holds. The data is read from its start up to the first sound,
// and from its end back to the last, a buffer at a time: a recording is
// read whole only when it is silent throughout.
struct SoundSpan {
  std::int64_t first = -1;
  std::int64_t last = -1;
  std::int64_t frames = 0;
  int error = 0;  // of a failed read
};
SoundSpan find_sound(const SampleRecord& record);

// Leaves the silence at the record's ends out of it: its data starts at
// the first sound frame and ends after the last (one frame is kept of a
// recording silent throughout), and what was left out is kept in
// `trim`. Returns 0 or the error of a read.
int trim_silence(SampleRecord& record);

}  // namespace kitweaver
