#include "format/wav_file.h"

#include <cstring>

#include "kitweaver/byte_order.h"
#include "kitweaver/records.h"

namespace kitweaver {
namespace {

constexpr std::uint32_t kFmtSize = 16;
constexpr std::uint32_t kSmplSize = 36;
constexpr std::uint32_t kUnityNoteOffset = 12;  // in smpl's body

void append_id(std::vector<std::uint8_t>& out, const char* id) { out.insert(out.end(), id, id + 4); }

void append_le32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  std::uint8_t b[4];
  store_le32(b, v);
  out.insert(out.end(), b, b + 4);
}

void append_le16(std::vector<std::uint8_t>& out, std::uint16_t v) {
  std::uint8_t b[2];
  store_le16(b, v);
  out.insert(out.end(), b, b + 2);
}

}  // namespace

std::vector<std::uint8_t> wav_file_bytes(const std::int16_t* samples, std::size_t frames, int channels,
                                         bool unity_note) {
  const auto block = static_cast<std::uint32_t>(2 * channels);
  const auto data_size = static_cast<std::uint32_t>(frames * block);
  std::vector<std::uint8_t> out;
  out.reserve(44 + (unity_note ? 8 + kSmplSize : 0) + data_size);
  append_id(out, "RIFF");
  append_le32(out, 0);  // the length, below
  append_id(out, "WAVE");
  append_id(out, "fmt ");
  append_le32(out, kFmtSize);
  append_le16(out, 1);
  append_le16(out, static_cast<std::uint16_t>(channels));
  append_le32(out, kPackRate);
  append_le32(out, kPackRate * block);
  append_le16(out, static_cast<std::uint16_t>(block));
  append_le16(out, 16);
  if (unity_note) {
    append_id(out, "smpl");
    append_le32(out, kSmplSize);
    const std::size_t body = out.size();
    out.resize(body + kSmplSize, 0);
    store_le32(out.data() + body + kUnityNoteOffset, kUnityNote);
  }
  append_id(out, "data");
  append_le32(out, data_size);
  const std::size_t at = out.size();
  out.resize(at + data_size);
  for (std::size_t i = 0; i < frames * static_cast<std::size_t>(channels); ++i) {
    store_le16(out.data() + at + 2 * i, static_cast<std::uint16_t>(samples[i]));
  }
  store_le32(out.data() + 4, static_cast<std::uint32_t>(out.size() - 8));
  return out;
}

}  // namespace kitweaver
