#include "viewer/wav_output.h"

#include <algorithm>
#include <cstring>

#include "format/wav_file.h"
#include "kitweaver/records.h"
#include "system/file_replace.h"
#include "system/files.h"

namespace kitweaver::inspect {
namespace {

std::string failure(const std::string& path, const std::string& reason) {
  return path + ": cannot be written: " + reason;
}

}  // namespace

std::string write_wav(const std::string& path, const Sound& sound, bool replace) {
  const std::vector<std::uint8_t> bytes = wav_file_bytes(sound.samples.data(), sound.frames(), sound.channels, false);
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
