// The bytes every header reader (WAV, AIFF, AIFC, packs) walks over.
#pragma once

#include <cstddef>
#include <cstdint>

#include "system/files.h"

namespace kitweaver {

// Where header bytes come from: a byte array in memory, or an open file
// read through its reader. `size` is the total length. A read of the file
// that fails (rather than ending early) stores its error in `*read_error`,
// when given.
struct ByteSource {
  const std::uint8_t* bytes = nullptr;
  std::uint64_t size = 0;
  const FileReader* file = nullptr;
  int* read_error = nullptr;
};

// Reads exactly `n` bytes at `offset`; false when the source ends first (or
// a read fails).
bool read_source(const ByteSource& source, std::uint64_t offset, void* dst, std::size_t n);

}  // namespace kitweaver
