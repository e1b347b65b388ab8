#include "slice/hits.h"

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "intake/wav_reader.h"
#include "pack/key_map.h"
#include "slice/onset_detector.h"
#include "slice/planner.h"
#include "slice/sample_decoding.h"
#include "slice/silence.h"
#include "slice/source_stream.h"

namespace kitweaver {
namespace {

// The frames where the recording's hits begin: 0, then each onset. When
// only silence comes before the first onset, that silence belongs to the
// first hit, which then starts at 0 in its place (--trim leaves it out).
// The data is read once, front to back.
int find_hits(const SampleRecord& record, std::vector<std::int64_t>* starts) {
  const std::int32_t width = (record.bits_per_sample + 7) / 8;
  const std::int32_t frame_bytes = record.channels * width;
  const SampleType type = sample_type_of(record);
  OnsetDetector detector;
  start_onsets(detector, record.sample_rate);
  SourceStream stream;
  restart_source_stream(stream, record, frame_bytes, static_cast<std::uint64_t>(record.data_present));
  std::int64_t heard = 0, first_sound = -1;
  const std::uint8_t* frames = nullptr;
  for (std::size_t count = next_frames(stream, &frames); count > 0; count = next_frames(stream, &frames)) {
    // Where the sound begins (any channel at the silence level or above),
    // looked for until it is found.
    if (first_sound < 0) {
      const std::int64_t found = first_sound_frame(frames, count, type, record.channels);
      if (found >= 0) first_sound = heard + found;
    }
    heard += static_cast<std::int64_t>(count);
    feed_onset_frames(detector, frames, count, type, record.channels);
  }
  if (stream.error != 0) return stream.error;
  *starts = {0};
  for (std::int64_t onset : finish_onsets(detector)) {
    if (onset > starts->back()) starts->push_back(onset);
  }
  // Only silence before the first onset: the first hit is that onset's.
  if (starts->size() > 1 && (first_sound < 0 || first_sound >= (*starts)[1])) starts->erase(starts->begin() + 1);
  return 0;
}

// A record's sound as the intake found it.
WavLayout layout_of(const SampleRecord& record) {
  WavLayout layout;
  layout.channels = record.channels;
  layout.sample_rate = record.sample_rate;
  layout.byte_rate = record.byte_rate;
  layout.bits_per_sample = record.bits_per_sample;
  layout.data_bytes = record.data_bytes;
  layout.data_offset = record.data_offset;
  layout.data_available = static_cast<std::uint64_t>(record.data_present);
  layout.encoding = record.encoding;
  return layout;
}

}  // namespace

bool cut_into_hits(PackJob& job) {
  // The recordings leave their slots to their hits.
  std::array<std::unique_ptr<SampleRecord>, kSlotCount> recordings = std::move(job.samples);
  const std::int32_t count = job.sample_count;
  job.sample_count = 0;
  job.total_seconds = 0.0;
  // Each recording is heard by one thread; the recordings go to whichever
  // thread is free (two when there is much to read), nothing else shared.
  std::array<std::vector<std::int64_t>, kSlotCount> hit_starts;
  std::array<int, kSlotCount> errors{};
  std::atomic<std::int32_t> next{0};
  auto hear = [&] {
    for (std::int32_t r = next++; r < count; r = next++) {
      SampleRecord& recording = *recordings[static_cast<std::size_t>(r)];
      int& error = errors[static_cast<std::size_t>(r)];
      error = reopen_source(recording);
      if (error == 0) error = find_hits(recording, &hit_starts[static_cast<std::size_t>(r)]);
      recording.source.file.reset();
    }
  };
  std::int64_t bytes = 0;
  for (std::int32_t r = 0; r < count; ++r) bytes += recordings[static_cast<std::size_t>(r)]->data_present;
  on_one_or_two_threads(bytes, hear);

  std::string left_out;
  bool read = true;
  for (std::int32_t r = 0; r < count && read; ++r) {
    SampleRecord& recording = *recordings[static_cast<std::size_t>(r)];
    const std::vector<std::int64_t>& starts = hit_starts[static_cast<std::size_t>(r)];
    if (int error = errors[static_cast<std::size_t>(r)]) {
      std::printf("Could not read [%s]: %s\n", recording.path.c_str(), error_text(error).c_str());
      read = false;
      break;
    }
    const std::int64_t frame_bytes = std::int64_t{recording.channels} * ((recording.bits_per_sample + 7) / 8);
    const std::int64_t frames = recording.data_bytes / frame_bytes;
    std::string times;
    for (std::int64_t start : starts) {
      char time[32];
      std::snprintf(time, sizeof time, "%s%.3fs", times.empty() ? "" : ", ", static_cast<double>(start) / recording.sample_rate);
      times += time;
    }
    std::printf("[%s] cut into %zu hit%s, at %s\n", recording.path.c_str(), starts.size(), starts.size() == 1 ? "" : "s",
                times.c_str());
    std::int32_t note = 0;
    if (chromatic_note_of(recording.path, &note)) {
      std::printf("[%s] :: its chromatic tag is ignored for its hits\n", recording.path.c_str());
    }
    const WavLayout layout = layout_of(recording);
    for (std::size_t h = 0; h < starts.size(); ++h) {
      const std::string name = recording.path + "#" + std::to_string(h + 1);
      if (job.sample_count >= kSlotCount) {
        left_out += (left_out.empty() ? "[" : ", [") + name + "]";
        continue;
      }
      const std::int64_t end = h + 1 < starts.size() ? starts[h + 1] : frames;
      if (int part_error = read_recording_part(job, recording.path, layout, starts[h], end - starts[h], name, "")) {
        std::printf("Could not read [%s]: %s\n", recording.path.c_str(), error_text(part_error).c_str());
        read = false;
        break;
      }
      SampleRecord& hit = *job.samples[static_cast<std::size_t>(job.sample_count - 1)];
      hit.hit = static_cast<std::int32_t>(h + 1);
      hit.stem = file_stem(recording.path) + " " + std::to_string(h + 1);
    }
  }
  if (!job.left_out.empty()) left_out += (left_out.empty() ? "" : ", ") + job.left_out;
  if (read && !left_out.empty()) print_left_out(left_out);
  return read;
}

}  // namespace kitweaver
