#include "viewer/wav_output.h"

#include <sndfile.h>

#include <algorithm>
#include <cstring>

#include "kitweaver/records.h"
#include "system/file_replace.h"
#include "system/files.h"

namespace kitweaver::inspect {
namespace {

std::string failure(const std::string& path, const std::string& reason) {
  return path + ": cannot be written: " + reason;
}

// The WAV file as libsndfile writes it, made in memory: libsndfile's virtual
// file over a growing byte vector.
struct MemoryFile {
  std::vector<std::uint8_t> bytes;
  sf_count_t at = 0;
};

sf_count_t memory_length(void* data) { return static_cast<sf_count_t>(static_cast<MemoryFile*>(data)->bytes.size()); }

sf_count_t memory_seek(sf_count_t offset, int whence, void* data) {
  auto* file = static_cast<MemoryFile*>(data);
  const sf_count_t base = whence == SEEK_CUR ? file->at : whence == SEEK_END ? memory_length(data) : 0;
  if (base + offset < 0) return -1;
  file->at = base + offset;
  return file->at;
}

sf_count_t memory_read(void* out, sf_count_t count, void* data) {
  auto* file = static_cast<MemoryFile*>(data);
  const sf_count_t available = std::max<sf_count_t>(0, memory_length(data) - file->at);
  const sf_count_t n = std::min(count, available);
  if (n > 0) std::memcpy(out, file->bytes.data() + file->at, static_cast<std::size_t>(n));
  file->at += n;
  return n;
}

sf_count_t memory_write(const void* in, sf_count_t count, void* data) {
  auto* file = static_cast<MemoryFile*>(data);
  const auto end = static_cast<std::size_t>(file->at + count);
  if (end > file->bytes.size()) file->bytes.resize(end);
  std::memcpy(file->bytes.data() + file->at, in, static_cast<std::size_t>(count));
  file->at += count;
  return count;
}

sf_count_t memory_tell(void* data) { return static_cast<MemoryFile*>(data)->at; }

std::string wav_bytes(const std::string& path, const Sound& sound, std::vector<std::uint8_t>* bytes) {
  SF_VIRTUAL_IO io{memory_length, memory_seek, memory_read, memory_write, memory_tell};
  MemoryFile memory;
  SF_INFO info{};
  info.samplerate = kPackRate;
  info.channels = sound.channels;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* file = sf_open_virtual(&io, SFM_WRITE, &info, &memory);
  if (file == nullptr) return failure(path, sf_strerror(nullptr));
  const auto count = static_cast<sf_count_t>(sound.frames());
  const bool written = sf_writef_short(file, sound.samples.data(), count) == count;
  std::string error = written ? "" : failure(path, sf_strerror(file));
  if (sf_close(file) != 0 && error.empty()) error = failure(path, "the file could not be finished");
  *bytes = std::move(memory.bytes);
  return error;
}

}  // namespace

std::string write_wav(const std::string& path, const Sound& sound, bool replace) {
  std::vector<std::uint8_t> bytes;
  if (std::string error = wav_bytes(path, sound, &bytes); !error.empty()) return error;
  FileReplacement replacement;
  if (int error = start_replacement(path, &replacement)) return failure(path, error_text(error));
  if (int error = write_replacement(replacement, bytes.data(), bytes.size())) {
    abandon_replacement(replacement);
    return failure(path, error_text(error));
  }
  if (int moved = finish_replacement(replacement, replace)) {
    return moved == kTargetExists ? path + " already exists; nothing was written" : failure(path, error_text(moved));
  }
  return "";
}

}  // namespace kitweaver::inspect
