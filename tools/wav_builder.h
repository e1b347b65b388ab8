// Builds WAV and AIFF file bytes in memory: the example generator writes the
// demo kits with it, and the tests write every header shape (broken ones
// too) with it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "kitweaver/byte_order.h"

namespace kitweaver::wav {

using Bytes = std::vector<std::uint8_t>;

struct WavShape {
  std::uint16_t format_tag = 1;     // 1 = PCM, 3 = float, 0xFFFE = extensible
  std::uint16_t channels = 1;
  std::uint32_t sample_rate = 44100;
  std::uint32_t byte_rate = 0;      // 0: computed from the others
  std::uint16_t bits_per_sample = 16;
  std::uint32_t fmt_size = 16;      // 16, 18 or 40 (40 writes the extensible tail)
  bool pcm_sub_format = true;       // extensible sub-format GUID is PCM
  bool list_before_data = false;    // a LIST chunk between "fmt " and "data"
  bool declare_data_size = false;   // write `declared_data_size` instead of the real size
  std::uint32_t declared_data_size = 0;
  Bytes data;                       // the data chunk's body
};

inline void append_id(Bytes& out, const char* id) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(id[i]));
}

inline void append_le32(Bytes& out, std::uint32_t v) {
  std::uint8_t b[4];
  store_le32(b, v);
  for (std::uint8_t x : b) out.push_back(x);
}

inline void append_le16(Bytes& out, std::uint16_t v) {
  std::uint8_t b[2];
  store_le16(b, v);
  for (std::uint8_t x : b) out.push_back(x);
}

inline Bytes wav_bytes(const WavShape& shape) {
  std::uint16_t block_align =
      static_cast<std::uint16_t>(shape.channels * ((shape.bits_per_sample + 7) / 8));
  std::uint32_t byte_rate = shape.byte_rate != 0 ? shape.byte_rate : shape.sample_rate * block_align;
  Bytes out;
  append_id(out, "RIFF");
  append_le32(out, 0);  // RIFF size, patched below
  append_id(out, "WAVE");
  append_id(out, "fmt ");
  append_le32(out, shape.fmt_size);
  append_le16(out, shape.format_tag);
  append_le16(out, shape.channels);
  append_le32(out, shape.sample_rate);
  append_le32(out, byte_rate);
  append_le16(out, block_align);
  append_le16(out, shape.bits_per_sample);
  if (shape.fmt_size >= 18) append_le16(out, static_cast<std::uint16_t>(shape.fmt_size - 18));
  if (shape.fmt_size >= 40) {
    append_le16(out, shape.bits_per_sample);  // valid bits
    append_le32(out, 0);                     // channel mask
    const std::uint8_t pcm_guid[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                       0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    out.insert(out.end(), pcm_guid, pcm_guid + 16);
    if (!shape.pcm_sub_format) out[out.size() - 16] = 0x03;  // IEEE float
  }
  for (std::uint32_t i = 40; i < shape.fmt_size; ++i) out.push_back(0);
  if (shape.list_before_data) {
    // What common encoders write: LIST/INFO naming the software. The text is
    // 13 bytes, so the LIST body is odd and a pad byte follows it.
    const char text[] = "Lavf59.27.100";
    append_id(out, "LIST");
    append_le32(out, 4 + 8 + 13);
    append_id(out, "INFO");
    append_id(out, "ISFT");
    append_le32(out, 13);
    out.insert(out.end(), text, text + 13);
    out.push_back(0);  // pad byte after the odd LIST body
  }
  append_id(out, "data");
  append_le32(out, shape.declare_data_size ? shape.declared_data_size
                                          : static_cast<std::uint32_t>(shape.data.size()));
  out.insert(out.end(), shape.data.begin(), shape.data.end());
  store_le32(out.data() + 4, static_cast<std::uint32_t>(out.size() - 8));
  return out;
}

// One AIFF chunk: its id, its size, its body and a pad byte when the size
// is odd.
inline Bytes aiff_chunk(const char* id, const Bytes& body) {
  Bytes out(id, id + 4);
  std::uint8_t size[4];
  store_be32(size, static_cast<std::uint32_t>(body.size()));
  out.insert(out.end(), size, size + 4);
  out.insert(out.end(), body.begin(), body.end());
  if (body.size() % 2 == 1) out.push_back(0);
  return out;
}

// An AIFF or AIFC recording, chunk by chunk:
//   "FORM", size, "AIFF" or "AIFC", then `extra` chunks, and COMM and SSND
//   (SSND first when `sound_first`).
//   COMM: channels, frames, bits, rate (80-bit extended); AIFC adds the
//   compression type and an empty name.
//   SSND: offset (`ssnd_offset` bytes then stand before the frames), block
//   size 0, the frames.
struct AiffShape {
  bool aifc = false;
  const char* compression = "NONE";  // AIFC only; null leaves it out (a broken COMM)
  std::uint16_t channels = 1;
  std::int64_t frames = -1;          // -1: as many as `data` holds
  std::uint16_t bits = 16;
  double sample_rate = 44100;
  std::uint32_t ssnd_offset = 0;
  bool sound_first = false;
  std::vector<Bytes> extra;          // whole chunks (aiff_chunk), before COMM and SSND
  Bytes data;                        // the sample frames, stored as the compression type says
};

inline Bytes aiff_bytes(const AiffShape& shape) {
  const std::string type = shape.compression != nullptr ? shape.compression : "";
  const std::size_t width = type == "fl32" ? 4 : type == "fl64" ? 8 : (shape.bits + 7u) / 8u;
  const std::size_t frame = shape.channels * width;
  const std::uint32_t frames = static_cast<std::uint32_t>(
      shape.frames >= 0 ? shape.frames : static_cast<std::int64_t>(frame == 0 ? 0 : shape.data.size() / frame));
  Bytes comm(18);
  store_be16(comm.data(), shape.channels);
  store_be32(comm.data() + 2, frames);
  store_be16(comm.data() + 6, shape.bits);
  encode_extended80(comm.data() + 8, shape.sample_rate);
  if (shape.aifc && shape.compression != nullptr) {
    comm.insert(comm.end(), type.begin(), type.end());
    comm.insert(comm.end(), {0, 0});  // an empty name and its pad byte
  }
  Bytes ssnd(8 + shape.ssnd_offset, 0);
  store_be32(ssnd.data(), shape.ssnd_offset);
  ssnd.insert(ssnd.end(), shape.data.begin(), shape.data.end());
  Bytes body;
  append_id(body, shape.aifc ? "AIFC" : "AIFF");
  for (const Bytes& chunk : shape.extra) body.insert(body.end(), chunk.begin(), chunk.end());
  const Bytes comm_chunk = aiff_chunk("COMM", comm), ssnd_chunk = aiff_chunk("SSND", ssnd);
  for (const Bytes* chunk : shape.sound_first ? std::vector{&ssnd_chunk, &comm_chunk} : std::vector{&comm_chunk, &ssnd_chunk}) {
    body.insert(body.end(), chunk->begin(), chunk->end());
  }
  return aiff_chunk("FORM", body);
}

// 16-bit samples as little-endian bytes.
inline Bytes pcm16(const std::vector<std::int16_t>& samples) {
  Bytes out;
  out.reserve(samples.size() * 2);
  for (std::int16_t s : samples) append_le16(out, static_cast<std::uint16_t>(s));
  return out;
}

// IEEE 754 samples of 32 or 64 bits, little-endian or big-endian.
inline Bytes float_samples(const std::vector<double>& values, int bits = 32, bool big_endian = false) {
  Bytes out;
  for (double v : values) {
    std::uint64_t pattern = 0;
    if (bits == 32) {
      const float single = static_cast<float>(v);
      std::uint32_t word;
      std::memcpy(&word, &single, sizeof word);
      pattern = word;
    } else {
      std::memcpy(&pattern, &v, sizeof pattern);
    }
    const int bytes = bits / 8;
    for (int i = 0; i < bytes; ++i) {
      const int shift = 8 * (big_endian ? bytes - 1 - i : i);
      out.push_back(static_cast<std::uint8_t>(pattern >> shift));
    }
  }
  return out;
}

inline bool write_file(const std::string& path, const Bytes& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace kitweaver::wav
