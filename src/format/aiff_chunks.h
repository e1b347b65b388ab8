// Walking the chunks of an AIFF or AIFC file: the one walk that the intake
// (recordings), the inspector and the key editor (packs) share.
//
//   0   "FORM", a size, the form type "AIFF" or "AIFC"
//   12  chunks: a 4-byte ID, a 4-byte big-endian body size, the body, and a
//       pad byte after an odd size
//
// The chunks are taken in file order, to the end of the file; the FORM size
// is not consulted (a file's chunks tell where they are, and writers that
// get one size wrong mostly get that one wrong).
//
// A chunk cut short: a chunk whose body, as declared, runs past the end of
// the file keeps the bytes that are there (`size` says how many and
// `cut_short` is set), and is the last chunk of the walk. Each reader then
// asks only whether what is there is enough for it: a common chunk too
// short for its fields is refused, a sound chunk that ends early is sound
// followed by silence, as a cut WAV file is. So a file whose end is missing
// (an interrupted copy, a writer that declares sound it never wrote, a pack
// off a device whose last chunk runs past the file) is read as far as it
// goes, and the same file reads the same way in every part of the program;
// the key editor, which rewrites only the metadata chunk, keeps the rest of
// such a file as it is. A file whose end is cut off inside a chunk header
// simply ends the walk.
#pragma once

#include <cstdint>

#include "format/byte_source.h"

namespace kitweaver {

struct AiffChunk {
  std::uint8_t id[4] = {};
  std::uint64_t header = 0;     // offset of the chunk's ID
  std::uint64_t body = 0;       // offset of its body
  std::uint64_t size = 0;       // body bytes the file holds: the declared size, or fewer when cut short
  std::uint32_t declared = 0;   // the body size the chunk declares
  std::uint64_t end = 0;        // offset just past the chunk and its pad byte, within the file
  bool cut_short = false;
};

struct AiffWalk {
  const ByteSource* source = nullptr;
  bool aifc = false;            // form type "AIFC"
  std::uint64_t next = 0;       // offset of the next chunk's header
};

// Starts a walk over `source`: true when it begins "FORM" and the form type
// "AIFF" or "AIFC".
bool start_aiff_walk(const ByteSource& source, AiffWalk* walk);

// The next chunk, or false when the file has no more (or a read failed: the
// source's read_error says so).
bool next_aiff_chunk(AiffWalk& walk, AiffChunk* chunk);

bool chunk_is(const AiffChunk& chunk, const char* id);

}  // namespace kitweaver
