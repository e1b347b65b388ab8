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

std::size_t padded_to_4(std::size_t size) { return (size + 3) / 4 * 4; }

// The APPL body of a text written compact and padded: the text, a line
// end, and spaces up to kFieldTextBytes after the signature (a longer
// text, which the template never makes, is not cut).
std::string padded_text(const std::string& metadata) {
  std::string text = metadata + "\n";
  text.resize(std::max(sizeof kAppSignature - 1 + kFieldTextBytes, text.size()), ' ');
  return text;
}

}  // namespace

std::vector<std::uint8_t> pack_header_bytes(const PackBuffer& pack, const std::string& metadata) {
  const bool aifc = pack.container == Container::kAifcSowt;
  // The APPL body: the AIFF pack's text padded with spaces to a multiple of
  // 4 bytes, the field's as the field pads it (and a pad byte after an odd
  // size, which 4100 never is).
  const std::string text = aifc ? padded_text(metadata) : metadata + std::string(padded_to_4(metadata.size()) - metadata.size(), ' ');
  const std::size_t appl_size = text.size();
  const std::size_t sound_bytes = pack.size();
  const std::size_t comm_size = aifc ? kFieldCommSize : kCommSize;
  const std::size_t before_sound = kFormHeaderSize + (aifc ? kChunkHeaderSize + kFverSize : 0) + kChunkHeaderSize +
                                   comm_size + kChunkHeaderSize + appl_size + (appl_size & 1u) + kChunkHeaderSize +
                                   kSsndPrefixSize;
  // The file ends in zero bytes up to a multiple of 4, counted in FORM's size.
  const std::size_t file_size = padded_to_4(before_sound + sound_bytes);

  std::vector<std::uint8_t> out;
  out.reserve(before_sound);
  Writer w{out};
  w.id(kFormId);
  w.be32(static_cast<std::uint32_t>(file_size - 8));
  w.id(aifc ? kAifcType : kAiffType);
  if (aifc) {
    w.id(kFverId);
    w.be32(kFverSize);
    w.be32(kAifcVersion1);
  }
  w.id(kCommId);
  w.be32(static_cast<std::uint32_t>(comm_size));
  w.common_fields(static_cast<std::uint16_t>(pack.channels), pack.frames);
  if (aifc) {
    w.id(kCompressionSowt);
    const std::uint8_t name_length = sizeof kSowtName - 1;
    w.bytes(&name_length, 1);
    w.bytes(reinterpret_cast<const std::uint8_t*>(kSowtName), name_length);
  }
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
  const std::vector<std::uint8_t> header = pack_header_bytes(pack, *metadata);
  const std::size_t sound_bytes = pack.size();
  const std::uint8_t zeros[4] = {};
  const std::size_t padding = padded_to_4(header.size() + sound_bytes) - (header.size() + sound_bytes);
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
