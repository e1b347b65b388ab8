#include "format/byte_source.h"

#include <cstring>

namespace kitweaver {

bool read_source(const ByteSource& source, std::uint64_t offset, void* dst, std::size_t n) {
  if (offset > source.size || n > source.size - offset) return false;
  if (n == 0) return true;  // dst may be an empty vector's null data()
  if (source.bytes != nullptr) {
    std::memcpy(dst, source.bytes + offset, n);
    return true;
  }
  auto* out = static_cast<std::uint8_t*>(dst);
  std::size_t done = 0;
  while (done < n) {
    int error = 0;
    const std::int64_t got = read_at(*source.file, out + done, n - done, offset + done, &error);
    if (got < 0 && source.read_error != nullptr) *source.read_error = error != 0 ? error : kReadFailed;
    if (got <= 0) return false;
    done += static_cast<std::size_t>(got);
  }
  return true;
}

}  // namespace kitweaver
