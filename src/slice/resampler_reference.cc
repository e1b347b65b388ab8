#include "slice/resampler_reference.h"

#include <cmath>
#include <memory>
#include <new>

#include "slice/sample_decoding.h"

namespace kitweaver {

SourceView source_view(const SampleRecord& record) {
  SourceView view;
  view.pcm.resize(static_cast<std::size_t>(record.data_present));
  std::size_t done = 0;
  while (done < view.pcm.size()) {
    int error = 0;
    const std::int64_t got = read_sound_at(record.source, view.pcm.data() + done, view.pcm.size() - done,
                                     record.data_offset + done, &error);
    if (got <= 0) break;
    done += static_cast<std::size_t>(got);
  }
  view.pcm.resize(done);
  view.channels = record.channels;
  view.bytes_per_sample = record.bits_per_sample / 8;
  view.type = sample_type_of(record);
  const std::int64_t frame_size = std::int64_t{view.channels} * view.bytes_per_sample;
  view.frames_in_data = frame_size > 0 ? static_cast<std::int64_t>(done) / frame_size : 0;
  view.frame_count = promised_frames(record);
  return view;
}

double source_frame_value(const SourceView& source, std::int64_t k) {
  if (k >= source.frames_in_data) return 0.0;
  const std::int32_t width = source.bytes_per_sample;
  const std::uint8_t* frame = source.pcm.data() + k * source.channels * width;
  auto value = [&source](const std::uint8_t* p) -> double { return sample16(p, source.type); };
  if (source.channels == 1) return value(frame);
  if (source.channels == 2) return (value(frame) + value(frame + width)) * 0.5;
  double sum = 0.0;
  for (std::int32_t c = 0; c < source.channels; ++c) sum += value(frame + c * width);
  return sum / source.channels;
}

void add_note_average_literal(const SourceView& source, double rate_ratio, double ratio,
                              std::int64_t frames, double* mix, double* note_sum,
                              std::int64_t* note_hits) {
  // Scatter every 1/64 of a source frame onto the nearest output frame.
  const double last_position = static_cast<double>(source.frame_count - 1);
  for (double x = 0.0; x < last_position; x += kScatterStep) {
    double mapped = std::round((rate_ratio * x) * ratio);
    if (!(mapped < static_cast<double>(frames))) continue;  // past the end, or not a number
    auto i = static_cast<std::int64_t>(mapped);
    note_sum[i] += source_frame_value(source, static_cast<std::int64_t>(std::round(x)));
    note_hits[i] += 1;
  }
  // Average into the mix and clear the scratch for the next note.
  for (std::int64_t i = 0; i < frames; ++i) {
    if (note_hits[i] != 0) {
      mix[i] += note_sum[i] / static_cast<double>(note_hits[i]);
      note_hits[i] = 0;
    }
    note_sum[i] = 0.0;
  }
}

void render_slice_literal(SampleRecord& record, double rate, std::int32_t frames, const ChordNotes& chord) {
  const auto count = static_cast<std::size_t>(frames);
  auto mix = zeroed<double>(frames);
  auto note_sum = zeroed<double>(frames);
  std::unique_ptr<std::int64_t[]> note_hits(new (std::nothrow) std::int64_t[count]());
  if (!mix || !note_sum || !note_hits) return;
  const SourceView source = source_view(record);
  const double rate_ratio = rate / record.sample_rate;
  for (std::int32_t j = 0; j < chord.note_count; ++j) {
    add_note_average_literal(source, rate_ratio, stretch_ratio(chord.semitones[static_cast<std::size_t>(j)]),
                             frames, mix.get(), note_sum.get(), note_hits.get());
  }
  attach_mix(record, mix.get(), frames, chord.note_count);
}

}  // namespace kitweaver
