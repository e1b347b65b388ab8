#include "pack/aiff_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <new>

#include "intake/wav_reader.h"
#include "kitweaver/byte_order.h"
#include "pack/aiff_format.h"
#include "pack/drum_metadata.h"
#include "pack/layout.h"

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
};

bool write_all(int fd, const std::uint8_t* bytes, std::size_t size) {
  while (size > 0) {
    ssize_t done = write(fd, bytes, size);
    if (done < 0 && errno == EINTR) continue;
    if (done == 0) errno = EIO;
    if (done <= 0) return false;
    bytes += done;
    size -= static_cast<std::size_t>(done);
  }
  return true;
}

void report(const std::string& path, int error) {
  std::printf("Could not write [%s]: %s\n", path.c_str(), std::strerror(error));
}

std::size_t sound_size(std::int32_t frames) { return 2 * static_cast<std::size_t>(frames); }

std::size_t padded_file_size(std::size_t appl_size, std::size_t sound_bytes) {
  const std::size_t unpadded = kFormHeaderSize + kChunkHeaderSize + kCommSize + kChunkHeaderSize +
                               appl_size + kChunkHeaderSize + kSsndPrefixSize + sound_bytes;
  return (unpadded + 3) / 4 * 4;
}

struct Span {
  const std::uint8_t* bytes;
  std::size_t size;
};

// Writes `parts` to a new file beside `path` and renames it onto `path`.
// Returns 0 or the errno of the call that failed; the new file never stays.
int replace_file(const std::string& path, std::initializer_list<Span> parts) {
  std::string temporary;
  const int fd = create_temporary_beside(path, &temporary);
  if (fd < 0) return errno;
  int error = 0;
  for (const Span& part : parts) {
    if (error == 0 && !write_all(fd, part.bytes, part.size)) error = errno;
  }
  if (error == 0 && fsync(fd) != 0) error = errno;
  if (close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && rename(temporary.c_str(), path.c_str()) != 0) error = errno;
  if (error != 0) unlink(temporary.c_str());
  return error;
}

}  // namespace

int create_temporary_beside(const std::string& path, std::string* temporary) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    *temporary = path + ".tmp" + std::to_string(getpid()) + "-" + std::to_string(attempt);
    const int fd = open(temporary->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;  // errno is EEXIST
}

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
  w.be16(1);
  w.be32(static_cast<std::uint32_t>(frames));
  w.be16(16);
  w.bytes(kRate44100, sizeof kRate44100);
  w.id(kApplId);
  w.be32(static_cast<std::uint32_t>(appl_size));
  out.insert(out.end(), metadata.begin(), metadata.end());
  out.resize(out.size() + appl_size - text_size, ' ');
  w.id(kSsndId);
  w.be32(static_cast<std::uint32_t>(sound_bytes + kSsndPrefixSize));
  w.be32(0);
  w.be32(0);
  return out;
}

bool write_aiff_pack(PackJob& job, const KeyMap& keys) {
  std::string path = job.directory;
  if (path.empty() || path.back() != '/') path += '/';
  path += kPackFileName;
  if (path.size() >= kPathBufferSize) {
    report(path, ENAMETOOLONG);
    return false;
  }
  PackBuffer pack = lay_out_pack(job);
  if (!pack.bytes) {
    report(path, ENOMEM);
    return false;
  }
  std::optional<std::string> metadata = build_drum_metadata(job, keys);
  if (!metadata) {
    report(path, ENOMEM);
    return false;
  }
  const std::vector<std::uint8_t> header = aiff_header_bytes(pack.frames, *metadata);
  const std::size_t sound_bytes = sound_size(pack.frames);
  const std::uint8_t zeros[4] = {};
  const std::size_t padding = (4 - (header.size() + sound_bytes) % 4) % 4;
  int error = replace_file(path, {{header.data(), header.size()},
                                  {pack.bytes.get(), sound_bytes},
                                  {zeros, padding}});
  if (error != 0) {
    report(path, error);
    return false;
  }
  return true;
}

}  // namespace kitweaver
