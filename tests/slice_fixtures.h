// Records built in memory for the planner and resampler tests.
#pragma once

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "kitweaver/records.h"
#include "system/process.h"

namespace kitweaver::testing {

// A record as the intake would make it from a file whose data chunk holds
// `pcm`, with its format. The file lives only as long as the record.
inline std::unique_ptr<SampleRecord> make_record(const std::vector<std::uint8_t>& pcm, int channels,
                                                 int bits, int sample_rate,
                                                 std::int32_t declared_bytes = -1,
                                                 const std::string& path = "/kit/a.wav") {
  auto record = std::make_unique<SampleRecord>();
  std::vector<std::uint8_t> file = {'R', 'I', 'F', 'F'};  // what comes before the data chunk's body
  file.resize(44);
  file.insert(file.end(), pcm.begin(), pcm.end());
  record->source.file = file_holding(file);
  record->data_offset = 44;
  record->data_present = static_cast<std::int64_t>(pcm.size());
  record->data_bytes = declared_bytes >= 0 ? declared_bytes : static_cast<std::int32_t>(pcm.size());
  record->channels = channels;
  record->bits_per_sample = bits;
  record->sample_rate = sample_rate;
  record->byte_rate = sample_rate * channels * (bits / 8);
  record->path = path;
  return record;
}

inline std::vector<std::uint8_t> le16_bytes(const std::vector<std::int16_t>& samples) {
  std::vector<std::uint8_t> out;
  for (std::int16_t s : samples) {
    out.push_back(static_cast<std::uint8_t>(s & 0xFF));
    out.push_back(static_cast<std::uint8_t>((s >> 8) & 0xFF));
  }
  return out;
}

inline std::vector<std::int16_t> rendered(const SampleRecord& record) {
  return std::vector<std::int16_t>(record.resampled.get(),
                                   record.resampled.get() + record.resampled_bytes / 2);
}

}  // namespace kitweaver::testing
