// Reading a record's data chunk front to back through one reused buffer, in
// whole frames.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "kitweaver/records.h"

namespace kitweaver {

// Bytes past the frames handed out that may be read (never used): a 24-bit
// sample can be loaded as a 32-bit word.
inline constexpr std::size_t kReadSlack = 3;

struct SourceStream {
  const FileReader* file = nullptr;
  std::size_t read_bytes = kReadBytes;
  std::int32_t frame_bytes = 0;
  std::uint64_t offset = 0;      // of the next read
  std::uint64_t bytes_left = 0;  // still to be read
  std::vector<std::uint8_t> buffer;
  std::size_t carried = 0;       // bytes of a frame split by the last read, at the buffer's start
  std::size_t handed_out = 0;    // bytes of whole frames handed out by the last call
  int error = 0;                 // error of a failed read; the stream then ends
};

// Points `stream` at the first `bytes` bytes of the record's data chunk,
// read through the record's reader, keeping its buffer for reuse.
void restart_source_stream(SourceStream& stream, const SampleRecord& record, std::int32_t frame_bytes,
                           std::uint64_t bytes);

// The next whole frames: points `frames` at them and returns how many there
// are, 0 once the data (or the file, if it has become shorter) has ended or
// a read has failed. A frame split between two reads is handed out whole
// with the next call; one cut off by the end of the data never is.
std::size_t next_frames(SourceStream& stream, const std::uint8_t** frames);

}  // namespace kitweaver
