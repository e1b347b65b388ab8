#include "viewer/wav_output.h"

#include <fcntl.h>
#include <sndfile.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "pack/aiff_writer.h"

namespace kitweaver::inspect {
namespace {

std::string failure(const std::string& path, const char* reason) { return path + ": cannot be written: " + reason; }

// Writes the WAV file into the open `fd`, which stays open.
std::string write_frames(int fd, const std::string& path, const Frames& frames) {
  SF_INFO info{};
  info.samplerate = 44100;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* file = sf_open_fd(fd, SFM_WRITE, &info, SF_FALSE);
  if (file == nullptr) return failure(path, sf_strerror(nullptr));
  const auto count = static_cast<sf_count_t>(frames.size());
  const bool written = sf_writef_short(file, frames.data(), count) == count;
  std::string error = written ? "" : failure(path, sf_strerror(file));
  if (sf_close(file) != 0 && error.empty()) error = failure(path, "the file could not be finished");
  if (error.empty() && fsync(fd) != 0) error = failure(path, std::strerror(errno));
  return error;
}

// Moves `from` onto `to`; without `replace`, only if `to` does not exist.
int move_into_place(const std::string& from, const std::string& to, bool replace) {
  if (replace) return std::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // A file system without that kind of rename: a hard link never replaces.
  if (link(from.c_str(), to.c_str()) != 0) return errno;
  unlink(from.c_str());
  return 0;
}

}  // namespace

std::string write_wav(const std::string& path, const Frames& frames, bool replace) {
  std::string temporary;
  const int fd = create_temporary_beside(path, &temporary);
  if (fd < 0) return failure(path, std::strerror(errno));
  std::string error = write_frames(fd, path, frames);
  if (close(fd) != 0 && error.empty()) error = failure(path, std::strerror(errno));
  if (error.empty()) {
    if (int moved = move_into_place(temporary, path, replace)) {
      error = moved == EEXIST ? path + ": already exists" : failure(path, std::strerror(moved));
    }
  }
  if (!error.empty()) unlink(temporary.c_str());
  return error;
}

}  // namespace kitweaver::inspect
