#include "format/aiff_chunks.h"

#include <algorithm>
#include <cstring>

#include "kitweaver/byte_order.h"
#include "format/aiff_format.h"

namespace kitweaver {

bool start_aiff_walk(const ByteSource& source, AiffWalk* walk) {
  std::uint8_t form[kFormHeaderSize];
  if (!read_source(source, 0, form, sizeof form) || std::memcmp(form, kFormId, 4) != 0) return false;
  const bool aiff = std::memcmp(form + 8, kAiffType, 4) == 0;
  walk->aifc = std::memcmp(form + 8, kAifcType, 4) == 0;
  if (!aiff && !walk->aifc) return false;
  walk->source = &source;
  walk->next = kFormHeaderSize;
  return true;
}

bool next_aiff_chunk(AiffWalk& walk, AiffChunk* chunk) {
  const ByteSource& source = *walk.source;
  std::uint8_t header[kChunkHeaderSize];
  if (!read_source(source, walk.next, header, sizeof header)) return false;
  std::memcpy(chunk->id, header, 4);
  chunk->header = walk.next;
  chunk->body = walk.next + kChunkHeaderSize;
  chunk->declared = load_be32(header + 4);
  const std::uint64_t held = source.size - chunk->body;
  chunk->cut_short = chunk->declared > held;
  chunk->size = std::min<std::uint64_t>(chunk->declared, held);
  chunk->end = std::min(chunk->body + chunk->declared + (chunk->declared & 1u), source.size);
  // A chunk cut short is the last one.
  walk.next = chunk->cut_short ? source.size : chunk->end;
  return true;
}

bool chunk_is(const AiffChunk& chunk, const char* id) { return std::memcmp(chunk.id, id, 4) == 0; }

}  // namespace kitweaver
