// Fuzz target: the WAV and AIFF header walks on arbitrary bytes, and for
// every file they accept, the planning and streaming rendering of its slice, read in pieces
// of an awkward size, which must match the literal scatter bit for bit.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "intake/wav_reader.h"
#include "slice/planner.h"
#include "slice/resampler.h"
#include "slice/resampler_reference.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kitweaver;
  ByteSource source;
  source.bytes = data;
  source.size = size;
  WavLayout layout;
  if (read_recording_header(source, &layout) != WavVerdict::kAccepted) return 0;

  // The record the intake would make, over a file holding the input.
  auto record = std::make_unique<SampleRecord>();
  const int fd = memfd_create("fuzz", MFD_CLOEXEC);
  record->source.file = SystemFile(fd);
  if (fd < 0 || write(fd, data, size) != static_cast<ssize_t>(size)) return 0;
  record->data_offset = layout.data_offset;
  record->data_present = static_cast<std::int64_t>(
      std::min<std::uint64_t>(static_cast<std::uint64_t>(layout.data_bytes), layout.data_available));
  record->encoding = layout.encoding;
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
  SampleRecord& accepted = *job.samples[0];
  const SlicePlan plan = choose_slice_plan(accepted, compute_compression_factor(job));
  if (plan.resampled) {
    ChordNotes chord;
    chord.note_count = 1 + static_cast<std::int32_t>(size % 3);
    chord.semitones = {0, static_cast<std::int32_t>(size % 49) - 24, static_cast<std::int32_t>(size % 13), 0};
    accepted.source.method.sound_bytes = 1 + size % 11;
    if (render_slice(accepted, plan.rate, plan.frames, chord) != 0) std::abort();
    // The literal walk visits every promised position: only where that is quick.
    if (promised_frames(accepted) > 8192 || plan.frames > 8192) return 0;
    SampleRecord reference;
    reference.source.file = SystemFile(dup(fd));
    reference.data_offset = accepted.data_offset;
    reference.data_present = accepted.data_present;
    reference.data_bytes = accepted.data_bytes;
    reference.channels = accepted.channels;
    reference.sample_rate = accepted.sample_rate;
    reference.byte_rate = accepted.byte_rate;
    reference.bits_per_sample = accepted.bits_per_sample;
    reference.encoding = accepted.encoding;
    render_slice_literal(reference, plan.rate, plan.frames, chord);
    if (accepted.resampled_bytes != reference.resampled_bytes ||
        std::memcmp(accepted.resampled.get(), reference.resampled.get(),
                    static_cast<std::size_t>(accepted.resampled_bytes)) != 0) {
      std::abort();
    }
  }
  return 0;
}
