#include "format/pack_chunks.h"

#include <algorithm>
#include <cstring>

#include "format/aiff_format.h"
#include "format/drum_format.h"
#include "kitweaver/byte_order.h"

namespace kitweaver {
namespace {

bool printable(const std::uint8_t* id) {
  return std::all_of(id, id + 4, [](std::uint8_t c) { return c >= 0x20 && c < 0x7F; });
}

void read_comm(const ByteSource& source, const AiffChunk& chunk, bool aifc, PackChunks* chunks) {
  std::uint8_t comm[kAifcCommMinSize] = {};
  const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size, sizeof comm));
  if (!read_source(source, chunk.body, comm, wanted)) return;
  chunks->have_comm = true;
  chunks->comm_size = chunk.size;
  CommFields& fields = chunks->comm;
  fields.channels = load_be16(comm);
  fields.frames = load_be32(comm + 2);
  fields.bits = load_be16(comm + 6);
  fields.rate = decode_extended80(comm + 8);
  fields.whole_hz = extended80_whole_hz(comm + 8);
  if (aifc && chunk.size >= kAifcCommMinSize) std::memcpy(fields.compression, comm + kCommSize, 4);
}

void read_ssnd(const ByteSource& source, const AiffChunk& chunk, PackChunks* chunks) {
  chunks->have_ssnd = true;
  chunks->ssnd_size = chunk.size;
  std::uint8_t offset_bytes[4];
  if (chunk.size < kSsndPrefixSize || !read_source(source, chunk.body, offset_bytes, sizeof offset_bytes)) return;
  const std::uint64_t offset = load_be32(offset_bytes);
  chunks->sound_past_end = offset > chunk.declared - kSsndPrefixSize;
  chunks->sound_at = chunk.body + kSsndPrefixSize + offset;
  const std::uint64_t after_prefix = chunk.size - kSsndPrefixSize;
  chunks->sound_held = after_prefix - std::min(offset, after_prefix);
}

// The first "op-1" application chunk: true once it is found.
bool read_text(const ByteSource& source, const AiffChunk& chunk, PackChunks* chunks) {
  if (chunk.size < 4 || chunk.size - 4 > kMostMetadataBytes) return false;
  std::string body(static_cast<std::size_t>(chunk.size), '\0');
  if (!read_source(source, chunk.body, body.data(), body.size()) || body.compare(0, 4, kAppSignature) != 0) {
    return false;
  }
  chunks->have_text = true;
  chunks->appl = chunk;
  chunks->text_at = chunk.body + 4;
  const std::size_t zero = body.find('\0', 4);
  chunks->text.assign(body, 4, (zero == std::string::npos ? body.size() : zero) - 4);
  chunks->text_end = chunks->text_at + chunks->text.size();
  chunks->drum = is_drum_text(chunks->text);
  return true;
}

}  // namespace

std::uint64_t extended80_whole_hz(const std::uint8_t* p) {
  if ((p[0] & 0x80) != 0) return 0;
  const int exponent = ((p[0] & 0x7F) << 8) | p[1];
  const std::uint64_t mantissa = load_be64(p + 2);
  // The value is mantissa x 2^-shift.
  const int shift = 16383 + 63 - exponent;
  if (shift <= 0 || shift > 64) return 0;
  const std::uint64_t whole = shift == 64 ? 0 : mantissa >> shift;
  return whole + ((mantissa >> (shift - 1)) & 1u);
}

bool read_pack_chunks(const ByteSource& source, PackChunks* chunks) {
  AiffWalk walk;
  if (!start_aiff_walk(source, &walk)) return false;
  chunks->aifc = walk.aifc;
  for (AiffChunk chunk; next_aiff_chunk(walk, &chunk);) {
    if (!printable(chunk.id)) break;
    if (chunk_is(chunk, kCommId) && !chunks->have_comm) {
      read_comm(source, chunk, walk.aifc, chunks);
    } else if (chunk_is(chunk, kSsndId) && !chunks->have_ssnd) {
      read_ssnd(source, chunk, chunks);
    } else if (chunk_is(chunk, kApplId) && !chunks->have_text) {
      read_text(source, chunk, chunks);
    }
  }
  return true;
}

}  // namespace kitweaver
