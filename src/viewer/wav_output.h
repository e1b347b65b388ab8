// Writing 16-bit 44.1 kHz WAV files, whole or not at all.
#pragma once

#include <string>

#include "viewer/playback.h"

namespace kitweaver::inspect {

// Writes `sound` to `path` through a temporary file beside it, which takes
// the name only once it is complete; with `replace` false an existing file is
// never replaced. Returns an empty text, or the line saying what went wrong.
std::string write_wav(const std::string& path, const Sound& sound, bool replace);

}  // namespace kitweaver::inspect
