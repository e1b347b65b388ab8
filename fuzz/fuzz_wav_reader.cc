// Fuzz target: the WAV header walk on arbitrary bytes, and for every file it
// accepts, the planning and rendering of its slice.
#include <cstdint>
#include <cstring>
#include <memory>

#include "intake/wav_reader.h"
#include "slice/planner.h"
#include "slice/resampler.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kitweaver;
  ByteSource source;
  source.bytes = data;
  source.size = size;
  WavLayout layout;
  if (read_wav_header(source, &layout) != WavVerdict::kAccepted) return 0;

  // The record the intake would make, holding only the bytes present.
  auto record = std::make_unique<SampleRecord>();
  const std::uint64_t available = size - layout.data_offset;
  const std::uint64_t filled = std::min<std::uint64_t>(static_cast<std::uint64_t>(layout.data_bytes), available);
  record->pcm.reset(new std::uint8_t[filled + 1]);
  if (filled > 0) std::memcpy(record->pcm.get(), data + layout.data_offset, filled);
  record->pcm_filled = static_cast<std::int64_t>(filled);
  record->data_bytes = layout.data_bytes;
  record->channels = layout.channels;
  record->sample_rate = layout.sample_rate;
  record->byte_rate = layout.byte_rate;
  record->bits_per_sample = layout.bits_per_sample;

  PackJob job;
  job.max_pack_seconds = 12.0;
  job.total_seconds = static_cast<double>(layout.data_bytes) / layout.byte_rate;
  job.samples[0] = std::move(record);
  job.sample_count = 1;
  const SlicePlan plan = choose_slice_plan(*job.samples[0], compute_compression_factor(job));
  if (plan.resampled) {
    ChordNotes chord;
    chord.note_count = 2;
    chord.semitones = {0, static_cast<std::int32_t>(size % 49) - 24, 0, 0};
    render_slice(*job.samples[0], plan.rate, plan.frames, chord);
  }
  return 0;
}
