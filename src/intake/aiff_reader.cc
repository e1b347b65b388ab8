#include "intake/aiff_reader.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>
#include <utility>

#include "format/aiff_chunks.h"
#include "kitweaver/byte_order.h"
#include "format/aiff_format.h"
#include "format/drum_format.h"

namespace kitweaver {
namespace {

bool id_is(const std::uint8_t* bytes, const char* id) { return std::memcmp(bytes, id, 4) == 0; }

constexpr std::uint64_t kMostInt32 = std::numeric_limits<std::int32_t>::max();

// An "op-1" application chunk whose text is a drum patch.
bool is_drum_chunk(const ByteSource& source, const AiffChunk& chunk) {
  if (!chunk_is(chunk, kApplId) || chunk.size < 4 || chunk.size - 4 > kMostMetadataBytes) return false;
  std::string text(static_cast<std::size_t>(chunk.size), '\0');
  return read_source(source, chunk.body, text.data(), text.size()) && text.compare(0, 4, kAppSignature) == 0 &&
         is_drum_text(std::string_view(text).substr(4));
}

// The encoding and the bytes of a sample that COMM names; the reason for
// compressed sound and depths that are not 8 to 32 bits.
std::string sample_format(const std::uint8_t* comm, bool aifc, SampleEncoding* encoding, std::uint32_t* width) {
  const std::uint32_t bits = load_be16(comm + 6);
  *encoding = SampleEncoding{true, true, false};
  *width = (bits + 7) / 8;
  if (aifc) {
    const std::uint8_t* type = comm + kCommSize;
    if (id_is(type, kCompressionFloat32) || id_is(type, kCompressionFloat64)) {
      encoding->floating = true;
      *width = id_is(type, kCompressionFloat32) ? 4 : 8;
      return "";
    }
    encoding->big_endian = !id_is(type, kCompressionSowt);
    if (encoding->big_endian && !id_is(type, kCompressionNone) && !id_is(type, kCompressionTwos)) {
      std::string name(4, '?');
      for (std::size_t i = 0; i < 4; ++i) {
        if (type[i] >= 0x20 && type[i] < 0x7F) name[i] = static_cast<char>(type[i]);
      }
      return "AIFC compression \"" + name + "\" is not read: convert it to PCM";
    }
  }
  if (bits < 8 || bits > 32) return std::to_string(bits) + "-bit samples are not read (8 to 32 bits)";
  return "";
}

WavVerdict rejected(WavLayout* layout, std::string reason) {
  layout->rejection = std::move(reason);
  return WavVerdict::kRejected;
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

bool is_drum_pack_file(const std::string& path) {
  FileReader reader;
  FileIdentity identity;
  if (open_regular_file(path, &reader.file, &identity) != 0) return false;
  ByteSource source;
  source.size = static_cast<std::uint64_t>(identity.size);
  source.file = &reader;
  AiffWalk walk;
  if (!start_aiff_walk(source, &walk)) return false;
  for (AiffChunk chunk; next_aiff_chunk(walk, &chunk);) {
    if (is_drum_chunk(source, chunk)) return true;
  }
  return false;
}

WavVerdict read_aiff_header(const ByteSource& source, WavLayout* layout) {
  AiffWalk walk;
  if (!start_aiff_walk(source, &walk)) return WavVerdict::kPassedOver;
  std::uint8_t comm[kAifcCommMinSize] = {};
  std::uint64_t comm_size = 0;
  bool have_comm = false, have_ssnd = false;
  AiffChunk ssnd;
  for (AiffChunk chunk; next_aiff_chunk(walk, &chunk);) {
    if (chunk_is(chunk, kCommId) && !have_comm) {
      have_comm = true;
      comm_size = chunk.size;
      const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size, sizeof comm));
      if (!read_source(source, chunk.body, comm, wanted)) break;
    } else if (chunk_is(chunk, kSsndId) && !have_ssnd) {
      have_ssnd = true;
      ssnd = chunk;
    } else if (is_drum_chunk(source, chunk)) {
      return WavVerdict::kPassedOver;
    }
  }
  const std::uint32_t comm_needed = walk.aifc ? kAifcCommMinSize : kCommSize;
  if (!have_comm) return rejected(layout, "no \"COMM\" chunk");
  if (comm_size < comm_needed) {
    return rejected(layout, "the \"COMM\" chunk is " + std::to_string(comm_size) + " bytes, fewer than the " +
                                std::to_string(comm_needed) + " of its fields");
  }
  if (!have_ssnd) return rejected(layout, "no \"SSND\" chunk");
  if (ssnd.size < kSsndPrefixSize) return rejected(layout, "the \"SSND\" chunk ends inside its header");
  SampleEncoding encoding;
  std::uint32_t width = 0;
  if (std::string reason = sample_format(comm, walk.aifc, &encoding, &width); !reason.empty()) {
    return rejected(layout, std::move(reason));
  }
  const std::uint64_t channels = load_be16(comm);
  const std::uint64_t frames = load_be32(comm + 2);
  const std::uint64_t rate = extended80_whole_hz(comm + 8);
  const std::uint64_t frame_bytes = channels * width;
  // Numbers that later stages divide by or keep in 32 bits.
  if (channels == 0) return rejected(layout, "the header declares no channels");
  if (rate == 0 || rate > kMostInt32) return rejected(layout, "the header's sample rate is not one of a recording");
  if (frames * frame_bytes > kMostInt32 || rate * frame_bytes > kMostInt32) {
    return rejected(layout, "the header declares more than 2 GB of sound");
  }
  if (frames == 0) return rejected(layout, "the header declares no frames");
  std::uint8_t offset_bytes[4];
  if (!read_source(source, ssnd.body, offset_bytes, sizeof offset_bytes)) {
    return rejected(layout, "the \"SSND\" chunk ends inside its header");
  }
  const std::uint64_t offset = load_be32(offset_bytes);
  if (offset > ssnd.declared - kSsndPrefixSize) return rejected(layout, "the \"SSND\" chunk's sound starts past its end");

  layout->channels = static_cast<std::int32_t>(channels);
  layout->sample_rate = static_cast<std::int32_t>(rate);
  layout->byte_rate = static_cast<std::int32_t>(rate * frame_bytes);
  layout->bits_per_sample = static_cast<std::int32_t>(8 * width);
  layout->data_bytes = static_cast<std::int32_t>(frames * frame_bytes);
  layout->data_offset = ssnd.body + kSsndPrefixSize + offset;
  layout->data_available = ssnd.size - kSsndPrefixSize - std::min(offset, ssnd.size - kSsndPrefixSize);
  layout->encoding = encoding;
  return WavVerdict::kAccepted;
}

}  // namespace kitweaver
