#include "viewer/wav_output.h"

#include <sndfile.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "pack/file_replace.h"

namespace kitweaver::inspect {
namespace {

std::string failure(const std::string& path, const char* reason) { return path + ": cannot be written: " + reason; }

// Writes the WAV file into the open `fd`, which stays open.
std::string write_frames(int fd, const std::string& path, const Frames& frames) {
  SF_INFO info{};
  info.samplerate = kPackRate;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* file = sf_open_fd(fd, SFM_WRITE, &info, SF_FALSE);
  if (file == nullptr) return failure(path, sf_strerror(nullptr));
  const auto count = static_cast<sf_count_t>(frames.size());
  const bool written = sf_writef_short(file, frames.data(), count) == count;
  std::string error = written ? "" : failure(path, sf_strerror(file));
  if (sf_close(file) != 0 && error.empty()) error = failure(path, "the file could not be finished");
  return error;
}

}  // namespace

std::string write_wav(const std::string& path, const Frames& frames, bool replace) {
  FileReplacement replacement;
  if (int error = start_replacement(path, &replacement)) return failure(path, replace_failure_reason(error));
  std::string error = write_frames(replacement.file.fd, path, frames);
  if (!error.empty()) {
    abandon_replacement(replacement);
    return error;
  }
  if (int moved = finish_replacement(replacement, replace)) {
    return moved == EEXIST && !replace ? path + ": already exists" : failure(path, replace_failure_reason(moved));
  }
  return "";
}

}  // namespace kitweaver::inspect
