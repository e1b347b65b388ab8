#include "slice/silence.h"

#include <algorithm>
#include <cmath>
#include <vector>

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

std::int64_t first_sound_frame(const std::uint8_t* frames, std::size_t count, SampleType type,
                               std::int32_t channels) {
  std::int64_t found = -1;
  with_sample_type(type, [&](auto t) {
    constexpr SampleType kType = decltype(t)::value;
    constexpr std::size_t kWidth = kSampleWidth<kType>;
    const std::size_t samples = count * static_cast<std::size_t>(channels);
    for (std::size_t s = 0; s < samples; ++s) {
      if (!is_quiet<kType>(frames + s * kWidth)) {
        found = static_cast<std::int64_t>(s / static_cast<std::size_t>(channels));
        return;
      }
    }
  });
  return found;
}

SoundSpan find_sound(const SampleRecord& record) {
  SoundSpan span;
  const std::int32_t width = (record.bits_per_sample + 7) / 8;
  const std::int32_t frame_bytes = record.channels * width;
  const SampleType type = sample_type_of(record);
  if (frame_bytes <= 0 || type == SampleType::kNone) return span;
  span.frames = record.data_present / frame_bytes;
  with_sample_type(type, [&](auto t) {
    constexpr SampleType kType = decltype(t)::value;
    auto quiet_frame = [&](const std::uint8_t* frame) {
      for (std::int32_t c = 0; c < record.channels; ++c) {
        if (!is_quiet<kType>(frame + c * width)) return false;
      }
      return true;
    };
    // From the start, up to the first sound frame.
    SourceStream stream;
    restart_source_stream(stream, record, frame_bytes, static_cast<std::uint64_t>(span.frames * frame_bytes));
    const std::uint8_t* frames = nullptr;
    std::int64_t at = 0;
    for (std::size_t count = next_frames(stream, &frames); count > 0 && span.first < 0;
         count = next_frames(stream, &frames)) {
      const std::int64_t found = first_sound_frame(frames, count, type, record.channels);
      if (found >= 0) span.first = at + found;
      at += static_cast<std::int64_t>(count);
    }
    span.error = stream.error;
    if (span.first < 0 || span.error != 0) return;
    // From the end back, a buffer of whole frames at a time, down to the
    // last sound frame (at the first one at the latest).
    const std::int64_t block_frames =
        std::max<std::int64_t>(1, static_cast<std::int64_t>(record.source.method.sound_bytes) / frame_bytes);
    std::vector<std::uint8_t> block(static_cast<std::size_t>(block_frames * frame_bytes) + kReadSlack);
    for (std::int64_t end = span.frames; end > span.first && span.last < 0;) {
      const std::int64_t begin = std::max(span.first, end - block_frames);
      const auto bytes = static_cast<std::size_t>((end - begin) * frame_bytes);
      std::size_t done = 0;
      while (done < bytes) {
        int error = 0;
        const std::int64_t got = read_sound_at(record.source, block.data() + done, bytes - done,
                                               record.data_offset + static_cast<std::uint64_t>(begin * frame_bytes) + done,
                                               &error);
        if (got <= 0) {
          // A file shorter than at intake ends in silence; a failed read is
          // an error.
          span.error = got < 0 ? (error != 0 ? error : kReadFailed) : 0;
          break;
        }
        done += static_cast<std::size_t>(got);
      }
      if (span.error != 0) return;
      for (std::int64_t f = static_cast<std::int64_t>(done) / frame_bytes; f-- > 0;) {
        if (!quiet_frame(block.data() + f * frame_bytes)) {
          span.last = begin + f;
          break;
        }
      }
      end = begin;
    }
    if (span.last < 0) span.last = span.first;
  });
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
