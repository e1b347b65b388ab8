#include "slice/source_stream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace kitweaver {

void restart_source_stream(SourceStream& stream, const SampleRecord& record, std::int32_t frame_bytes,
                           std::uint64_t bytes) {
  stream.file = &record.source;
  stream.read_bytes = std::max<std::size_t>(record.source.method.sound_bytes, 1);
  stream.frame_bytes = frame_bytes;
  stream.offset = record.data_offset;
  stream.bytes_left = bytes;
  stream.carried = 0;
  stream.handed_out = 0;
  stream.error = 0;
  // Room for one read after the start of a split frame, and kReadSlack
  // bytes more, so that a decoder may load a whole word at the last sample.
  stream.buffer.resize(stream.read_bytes + static_cast<std::size_t>(frame_bytes) - 1 + kReadSlack);
}

std::size_t next_frames(SourceStream& stream, const std::uint8_t** frames) {
  const auto frame_bytes = static_cast<std::size_t>(stream.frame_bytes);
  if (stream.handed_out > 0) {
    std::memmove(stream.buffer.data(), stream.buffer.data() + stream.handed_out, stream.carried);
    stream.handed_out = 0;
  }
  while (stream.error == 0 && stream.bytes_left > 0) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(stream.read_bytes, stream.bytes_left));
    int error = 0;
    const std::int64_t got = read_sound_at(*stream.file, stream.buffer.data() + stream.carried, want, stream.offset, &error);
    if (got < 0) {
      stream.error = error != 0 ? error : kReadFailed;
      return 0;
    }
    if (got == 0) {
      // The file has become shorter since intake: the rest is silence, as in
      // any truncated file.
      stream.bytes_left = 0;
      return 0;
    }
    const auto count = std::min(static_cast<std::size_t>(got), want);
    stream.offset += count;
    stream.bytes_left -= count;
    const std::size_t held = stream.carried + count;
    const std::size_t whole = held / frame_bytes;
    stream.handed_out = whole * frame_bytes;
    stream.carried = held - stream.handed_out;
    if (whole > 0) {
      *frames = stream.buffer.data();
      return whole;
    }
  }
  return 0;
}

}  // namespace kitweaver
