// Reading packs back in the tests: the AIFF chunks and the metadata lists.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "kitweaver/byte_order.h"
#include "wav_builder.h"

namespace kitweaver::testing {

// The numbers of one list of the metadata text, e.g. list_of(text, "start").
inline std::vector<std::int64_t> list_of(const std::string& text, const std::string& key) {
  std::vector<std::int64_t> values;
  std::size_t at = text.find("\"" + key + "\" :");
  if (at == std::string::npos) return values;
  at = text.find('[', at);
  std::size_t end = text.find(']', at);
  const char* p = text.c_str() + at + 1;
  const char* stop = text.c_str() + end;
  while (p < stop) {
    char* next = nullptr;
    long long v = std::strtoll(p, &next, 10);
    if (next == p) break;
    values.push_back(v);
    p = next;
    while (p < stop && (*p == ',' || *p == ' ')) ++p;
  }
  return values;
}

using wav::aiff_chunk;

// A pack file taken apart along its chunks.
struct PackFile {
  bool well_formed = false;   // FORM/AIFF, sizes consistent, COMM, APPL, SSND present
  std::uint32_t container_size = 0;
  std::uint16_t channels = 0;
  std::uint32_t frames = 0;
  std::uint16_t bits = 0;
  std::string appl;           // APPL body, padding included
  std::vector<std::uint8_t> sound;  // SSND sample bytes
};

inline PackFile parse_pack(const std::vector<std::uint8_t>& bytes) {
  PackFile pack;
  if (bytes.size() < 12 || std::string(bytes.begin(), bytes.begin() + 4) != "FORM" ||
      std::string(bytes.begin() + 8, bytes.begin() + 12) != "AIFF") {
    return pack;
  }
  pack.container_size = load_be32(bytes.data() + 4);
  bool comm = false, appl = false, ssnd = false;
  std::size_t at = 12;
  while (at + 8 <= bytes.size()) {
    std::string id(bytes.begin() + static_cast<std::ptrdiff_t>(at), bytes.begin() + static_cast<std::ptrdiff_t>(at + 4));
    std::uint32_t size = load_be32(bytes.data() + at + 4);
    const std::uint8_t* body = bytes.data() + at + 8;
    if (at + 8 + size > bytes.size()) return pack;
    if (id == "COMM" && size == 18) {
      comm = true;
      pack.channels = load_be16(body);
      pack.frames = load_be32(body + 2);
      pack.bits = load_be16(body + 6);
    } else if (id == "APPL") {
      appl = true;
      pack.appl.assign(body, body + size);
    } else if (id == "SSND" && size >= 8) {
      ssnd = true;
      pack.sound.assign(body + 8, body + size);
    }
    at += 8 + size + (size & 1u);
    if (ssnd) break;
  }
  pack.well_formed = comm && appl && ssnd && pack.container_size == bytes.size() - 8 &&
                     bytes.size() % 4 == 0 && pack.sound.size() == 2u * pack.frames;
  return pack;
}

}  // namespace kitweaver::testing
