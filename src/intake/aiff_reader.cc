#include "intake/aiff_reader.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>
#include <utility>

#include "format/pack_chunks.h"
#include "kitweaver/byte_order.h"
#include "format/aiff_format.h"

namespace kitweaver {
namespace {

bool id_is(const char* bytes, const char* id) { return std::memcmp(bytes, id, 4) == 0; }

constexpr std::uint64_t kMostInt32 = std::numeric_limits<std::int32_t>::max();

// The encoding and the bytes of a sample that COMM names; the reason for
// compressed sound and depths that are not 8 to 32 bits.
std::string sample_format(const CommFields& comm, bool aifc, SampleEncoding* encoding, std::uint32_t* width) {
  *encoding = SampleEncoding{true, true, false};
  *width = (comm.bits + 7) / 8;
  if (aifc) {
    const char* type = comm.compression;
    if (id_is(type, kCompressionFloat32) || id_is(type, kCompressionFloat64)) {
      encoding->floating = true;
      *width = id_is(type, kCompressionFloat32) ? 4 : 8;
      return "";
    }
    encoding->big_endian = !id_is(type, kCompressionSowt);
    if (encoding->big_endian && !id_is(type, kCompressionNone) && !id_is(type, kCompressionTwos)) {
      std::string name(type, 4);
      for (char& c : name) {
        if (c < 0x20 || c >= 0x7F) c = '?';
      }
      return "AIFC compression \"" + name + "\" is not read: convert it to PCM";
    }
  }
  if (comm.bits < 8 || comm.bits > 32) return std::to_string(comm.bits) + "-bit samples are not read (8 to 32 bits)";
  return "";
}

WavVerdict rejected(WavLayout* layout, std::string reason) {
  layout->rejection = std::move(reason);
  return WavVerdict::kRejected;
}

}  // namespace

bool is_drum_pack_file(const std::string& path) {
  FileReader reader;
  FileIdentity identity;
  if (open_regular_file(path, &reader.file, &identity) != 0) return false;
  ByteSource source;
  source.size = static_cast<std::uint64_t>(identity.size);
  source.file = &reader;
  PackChunks chunks;
  return read_pack_chunks(source, &chunks) && chunks.drum;
}

WavVerdict read_aiff_header(const ByteSource& source, WavLayout* layout) {
  PackChunks chunks;
  if (!read_pack_chunks(source, &chunks) || chunks.drum) return WavVerdict::kPassedOver;
  const std::uint32_t comm_needed = chunks.aifc ? kAifcCommMinSize : kCommSize;
  if (!chunks.have_comm) return rejected(layout, "no \"COMM\" chunk");
  if (chunks.comm_size < comm_needed) {
    return rejected(layout, "the \"COMM\" chunk is " + std::to_string(chunks.comm_size) + " bytes, fewer than the " +
                                std::to_string(comm_needed) + " of its fields");
  }
  if (!chunks.have_ssnd) return rejected(layout, "no \"SSND\" chunk");
  if (chunks.ssnd_size < kSsndPrefixSize) return rejected(layout, "the \"SSND\" chunk ends inside its header");
  SampleEncoding encoding;
  std::uint32_t width = 0;
  if (std::string reason = sample_format(chunks.comm, chunks.aifc, &encoding, &width); !reason.empty()) {
    return rejected(layout, std::move(reason));
  }
  const std::uint64_t channels = chunks.comm.channels;
  const std::uint64_t frames = chunks.comm.frames;
  const std::uint64_t rate = chunks.comm.whole_hz;
  const std::uint64_t frame_bytes = channels * width;
  // Numbers that later stages divide by or keep in 32 bits.
  if (channels == 0) return rejected(layout, "the header declares no channels");
  if (rate == 0 || rate > kMostInt32) return rejected(layout, "the header's sample rate is not one of a recording");
  if (frames * frame_bytes > kMostInt32 || rate * frame_bytes > kMostInt32) {
    return rejected(layout, "the header declares more than 2 GB of sound");
  }
  if (frames == 0) return rejected(layout, "the header declares no frames");
  if (chunks.sound_past_end) return rejected(layout, "the \"SSND\" chunk's sound starts past its end");

  layout->channels = static_cast<std::int32_t>(channels);
  layout->sample_rate = static_cast<std::int32_t>(rate);
  layout->byte_rate = static_cast<std::int32_t>(rate * frame_bytes);
  layout->bits_per_sample = static_cast<std::int32_t>(8 * width);
  layout->data_bytes = static_cast<std::int32_t>(frames * frame_bytes);
  layout->data_offset = chunks.sound_at;
  layout->data_available = chunks.sound_held;
  layout->encoding = encoding;
  return WavVerdict::kAccepted;
}

}  // namespace kitweaver
