// How the program reads the recordings: the one function every read goes
// through, header and sound alike, and the size of a read.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <cstddef>

namespace kitweaver {

// Reads up to `size` bytes at `offset` of `fd`: the count read, 0 at the end
// of the file, or -1 with errno set. The program reads with pread(2); tests
// pass functions that fail, and the page one that reads the browser's files.
using ReadAt = ssize_t (*)(int fd, void* buffer, std::size_t size, off_t offset);

// Bytes asked of each read of the sound: cat's size, big enough that the
// system calls cost little, small enough to stay in the cache.
inline constexpr std::size_t kReadBytes = 128 * 1024;

struct StreamSettings {
  ReadAt read = pread;
  std::size_t read_bytes = kReadBytes;  // any size from 1 byte up
};

}  // namespace kitweaver
