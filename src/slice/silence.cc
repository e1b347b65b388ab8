#include "slice/silence.h"

#include <cmath>

#include "intake/wav_reader.h"
#include "slice/sample_decoding.h"
#include "slice/source_stream.h"

namespace kitweaver {
namespace {

// Whether a stored sample is below the silence level.
template <SampleType T>
bool is_quiet(const std::uint8_t* p) {
  if constexpr (kFloatSample<T>) {
    return std::fabs(sample_float<T>(p)) < kSilenceLevel;
  } else {
    return std::fabs(static_cast<double>(sample_integer<T>(p)) * kIntegerScale<T>) < kSilenceLevel;
  }
}

}  // namespace

SoundSpan find_sound(const SampleRecord& record) {
  SoundSpan span;
  const std::int32_t width = (record.bits_per_sample + 7) / 8;
  const std::int32_t frame_bytes = record.channels * width;
  const SampleType type = sample_type_of(record);
  if (frame_bytes <= 0 || type == SampleType::kNone) return span;
  SourceStream stream;
  restart_source_stream(stream, record, frame_bytes, static_cast<std::uint64_t>(record.data_present));
  with_sample_type(type, [&](auto t) {
    constexpr SampleType kType = decltype(t)::value;
    const std::uint8_t* frames = nullptr;
    for (std::size_t count = next_frames(stream, &frames); count > 0; count = next_frames(stream, &frames)) {
      for (std::size_t f = 0; f < count; ++f, ++span.frames) {
        const std::uint8_t* frame = frames + f * static_cast<std::size_t>(frame_bytes);
        bool quiet = true;
        for (std::int32_t c = 0; c < record.channels && quiet; ++c) quiet = is_quiet<kType>(frame + c * width);
        if (quiet) continue;
        if (span.first < 0) span.first = span.frames;
        span.last = span.frames;
      }
    }
  });
  span.error = stream.error;
  return span;
}

int trim_silence(SampleRecord& record) {
  const bool was_open = record.source.file.is_open();
  if (int error = reopen_source(record)) return error;
  const SoundSpan span = find_sound(record);
  if (!was_open) record.source.file.reset();
  if (span.error != 0) return span.error;
  const std::int64_t frame_bytes = std::int64_t{record.channels} * ((record.bits_per_sample + 7) / 8);
  const std::int64_t declared = record.data_bytes / frame_bytes;
  // A recording silent throughout keeps its first frame.
  const std::int64_t first = span.first < 0 ? 0 : span.first;
  const std::int64_t last = span.first < 0 ? 0 : span.last;
  record.trim.applied = true;
  record.trim.silent = span.first < 0;
  record.trim.declared_bytes = record.data_bytes;
  record.trim.present_bytes = record.data_present;
  record.trim.start_frames = first;
  record.trim.end_frames = declared - last - 1;
  record.data_offset += static_cast<std::uint64_t>(first * frame_bytes);
  record.data_bytes = static_cast<std::int32_t>((last - first + 1) * frame_bytes);
  record.data_present = record.data_bytes;
  return 0;
}

}  // namespace kitweaver
