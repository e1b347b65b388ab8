// One reading of an AIFF or AIFC file's chunks, the one every part that
// reads a pack or an AIFF recording takes: the intake (a recording, or a
// pack to pass over), the inspector, the key editor, the rescale and the
// disk's library. The file is walked once (format/aiff_chunks.h) and
// nothing but the chunks' headers, COMM's fields and the metadata text is
// read.
//
// - COMM: the first one. Its frames are the recording's or pack's length,
//   whatever SSND holds; its rate an 80-bit extended number.
// - SSND: the first one. Its sound starts `offset` bytes into the body,
//   after the offset and block size fields; an offset past the chunk's
//   declared end is refused, as no sound.
// - APPL: the first "op-1" one, whose body after the signature is the
//   metadata text. The text ends at its first zero byte, or the chunk's end;
//   what follows it in the chunk is its padding. A drum pack is a file
//   whose text describes a drum patch (is_drum_text).
//
// A chunk whose ID is not four printable characters (the zeros of a file
// padded or cut off) ends the walk.
#pragma once

#include <cstdint>
#include <string>

#include "format/aiff_chunks.h"
#include "format/byte_source.h"

namespace kitweaver {

// A metadata text longer than this is no drum patch's.
inline constexpr std::uint64_t kMostMetadataBytes = 64 * 1024;
// Nor is a file larger than this a pack (20 s of stereo is 3.5 MB): it is
// not read whole.
inline constexpr std::int64_t kLargestPackBytes = 64 << 20;

// COMM's fields (AIFF's first 18 bytes, and AIFC's compression type).
struct CommFields {
  std::uint32_t channels = 0;
  std::uint32_t frames = 0;
  std::uint32_t bits = 0;
  double rate = 0.0;            // the 80-bit number as it is
  std::uint64_t whole_hz = 0;   // rounded to the nearest Hz (halves up); 0 when no positive rate below 2^63
  char compression[5] = "NONE"; // AIFC's type; an AIFF file's is "NONE"
};

struct PackChunks {
  bool aifc = false;
  // COMM
  bool have_comm = false;
  std::uint64_t comm_size = 0;  // the bytes the file holds of it
  CommFields comm;
  // SSND
  bool have_ssnd = false;
  std::uint64_t ssnd_size = 0;       // the bytes the file holds of it
  bool sound_past_end = false;       // its offset points past its declared end
  std::uint64_t sound_at = 0;        // the first byte of the sound
  std::uint64_t sound_held = 0;      // the bytes of sound the file holds from there
  // The first "op-1" APPL chunk
  bool have_text = false;
  AiffChunk appl;
  std::uint64_t text_at = 0;    // after the signature
  std::uint64_t text_end = 0;   // its first zero byte, or the chunk's end
  std::string text;             // the text itself, up to text_end
  bool drum = false;            // the text describes a drum patch
};

// Reads `source`'s chunks. False for a file that is not AIFF or AIFC (or
// whose read failed: the source's read_error says so).
bool read_pack_chunks(const ByteSource& source, PackChunks* chunks);

// An 80-bit extended sample rate rounded to the nearest whole Hz (halves
// up), read exactly; 0 when it is not a positive rate below 2^63 Hz.
std::uint64_t extended80_whole_hz(const std::uint8_t* p);

}  // namespace kitweaver
