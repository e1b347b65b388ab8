#include "pack/aiff_writer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "intake/wav_reader.h"
#include "kitweaver/byte_order.h"
#include "format/aiff_format.h"
#include "pack/drum_metadata.h"
#include "pack/layout.h"
#include "system/file_replace.h"
#include "system/files.h"

namespace kitweaver {
namespace {

struct Writer {
  std::vector<std::uint8_t>& out;
  void bytes(const std::uint8_t* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) out.push_back(p[i]);
  }
  void id(const char* four) { bytes(reinterpret_cast<const std::uint8_t*>(four), 4); }
  void be16(std::uint16_t v) {
    std::uint8_t b[2];
    store_be16(b, v);
    bytes(b, 2);
  }
  void be32(std::uint32_t v) {
    std::uint8_t b[4];
    store_be32(b, v);
    bytes(b, 4);
  }
  // COMM's fields as both forms start them: channels, frames, 16 bits,
  // 44100 Hz.
  void common_fields(std::uint16_t channels, std::int32_t frames) {
    be16(channels);
    be32(static_cast<std::uint32_t>(frames));
    be16(16);
    std::uint8_t rate[10];
    encode_extended80(rate, kPackRate);
    bytes(rate, sizeof rate);
  }
  // SSND's header: its size, offset 0 and block size 0.
  void sound_header(std::size_t sound_bytes) {
    id(kSsndId);
    be32(static_cast<std::uint32_t>(sound_bytes + kSsndPrefixSize));
    be32(0);
    be32(0);
  }
};

void report(const std::string& path, int error) {
  std::printf("Could not write [%s]: %s\n", path.c_str(), error_text(error).c_str());
}

std::size_t sound_size(std::int32_t frames) { return 2 * static_cast<std::size_t>(frames); }

std::size_t padded_file_size(std::size_t appl_size, std::size_t sound_bytes) {
  const std::size_t unpadded = kFormHeaderSize + kChunkHeaderSize + kCommSize + kChunkHeaderSize +
                               appl_size + kChunkHeaderSize + kSsndPrefixSize + sound_bytes;
  return (unpadded + 3) / 4 * 4;
}

}  // namespace

std::vector<std::uint8_t> aiff_header_bytes(std::int32_t frames, const std::string& metadata) {
  const std::size_t text_size = metadata.size();
  const std::size_t appl_size = (text_size + 3) / 4 * 4;
  const std::size_t sound_bytes = sound_size(frames);
  const std::size_t file_size = padded_file_size(appl_size, sound_bytes);

  std::vector<std::uint8_t> out;
  out.reserve(kFormHeaderSize + 2 * kChunkHeaderSize + kCommSize + appl_size + kChunkHeaderSize +
              kSsndPrefixSize);
  Writer w{out};
  w.id(kFormId);
  w.be32(static_cast<std::uint32_t>(file_size - 8));
  w.id(kAiffType);
  w.id(kCommId);
  w.be32(kCommSize);
  w.common_fields(1, frames);
  w.id(kApplId);
  w.be32(static_cast<std::uint32_t>(appl_size));
  out.insert(out.end(), metadata.begin(), metadata.end());
  out.resize(out.size() + appl_size - text_size, ' ');
  w.sound_header(sound_bytes);
  return out;
}

std::vector<std::uint8_t> field_header_bytes(std::int32_t frames, const std::string& metadata) {
  // The text, a line end, and spaces up to kFieldTextBytes after the
  // signature (a longer text, which the template never makes, is not cut).
  std::string text = metadata + "\n";
  const std::size_t padded = std::max(sizeof kAppSignature - 1 + kFieldTextBytes, text.size());
  text.resize(padded, ' ');
  const std::size_t appl_size = text.size();
  const std::size_t sound_bytes = 4 * static_cast<std::size_t>(frames);
  const std::size_t file_size = kFormHeaderSize + kChunkHeaderSize + kFverSize + kChunkHeaderSize + kFieldCommSize +
                                kChunkHeaderSize + appl_size + (appl_size & 1u) + kChunkHeaderSize + kSsndPrefixSize +
                                sound_bytes;

  std::vector<std::uint8_t> out;
  Writer w{out};
  w.id(kFormId);
  w.be32(static_cast<std::uint32_t>(file_size - 8));
  w.id(kAifcType);
  w.id(kFverId);
  w.be32(kFverSize);
  w.be32(kAifcVersion1);
  w.id(kCommId);
  w.be32(kFieldCommSize);
  w.common_fields(2, frames);
  w.id(kCompressionSowt);
  const std::uint8_t name_length = sizeof kSowtName - 1;
  w.bytes(&name_length, 1);
  w.bytes(reinterpret_cast<const std::uint8_t*>(kSowtName), name_length);
  w.id(kApplId);
  w.be32(static_cast<std::uint32_t>(appl_size));
  out.insert(out.end(), text.begin(), text.end());
  if (appl_size & 1u) out.push_back(0);
  w.sound_header(sound_bytes);
  return out;
}

bool write_aiff_pack(PackJob& job, const KeyMap& keys, const std::string& path, const ReplaceSettings& settings) {
  if (path.size() >= kPathBufferSize) {
    report(path, kNameTooLong);
    return false;
  }
  PackBuffer pack = lay_out_pack(job);
  if (!pack.bytes) {
    report(path, kOutOfMemory);
    return false;
  }
  std::optional<std::string> metadata = build_drum_metadata(job, keys);
  if (!metadata) {
    report(path, kOutOfMemory);
    return false;
  }
  const std::vector<std::uint8_t> header =
      job.field_mode ? field_header_bytes(pack.frames, *metadata) : aiff_header_bytes(pack.frames, *metadata);
  const std::size_t sound_bytes = pack.size();
  const std::uint8_t zeros[4] = {};
  const std::size_t padding = (4 - (header.size() + sound_bytes) % 4) % 4;
  int error = replace_file(path,
                           {{header.data(), header.size()}, {pack.bytes.get(), sound_bytes}, {zeros, padding}},
                           settings);
  if (error != 0) {
    report(path, error);
    return false;
  }
  return true;
}

}  // namespace kitweaver
