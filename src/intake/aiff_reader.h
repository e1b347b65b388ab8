// The header of an AIFF or AIFC recording: what a WAV file's header walk
// finds (intake/wav_reader.h), found in the chunks of format/aiff_chunks.h.
//
// COMM body (big-endian):
//   0   channel count
//   2   frame count: the recording's length, whatever SSND holds
//   6   bits per sample, 8 to 32 (stored in whole bytes, left-justified)
//   8   sample rate, an 80-bit extended number, rounded to the nearest Hz
//   18  AIFC only: the compression type ("NONE", "twos", "sowt", "fl32",
//       "fl64"; any other is refused), then a name
// SSND body: offset to the first sample frame, block size (ignored), sound.
//
// Samples are two's complement, 8-bit ones too; big-endian but in "sowt".
// A file holding an "op-1" APPL chunk whose text is a drum patch (a pack:
// ours, or one copied off a device) is passed over, not read as a recording.
#pragma once

#include <string>

#include "format/pack_chunks.h"
#include "intake/wav_reader.h"

namespace kitweaver {

// Walks the chunks of `source`. kPassedOver for a file that is not AIFF or
// AIFC and for a drum pack; kRejected for compressed sound and broken
// headers; kAccepted fills `layout` (data_bytes is the frame count times
// the frame's size, data_available the sound SSND holds).
WavVerdict read_aiff_header(const ByteSource& source, WavLayout* layout);

// Whether the file at `path` is a drum pack: an AIFF or AIFC file holding an
// "op-1" application chunk whose text is a drum patch. False for any other
// file, and for one that can't be read.
bool is_drum_pack_file(const std::string& path);

}  // namespace kitweaver
