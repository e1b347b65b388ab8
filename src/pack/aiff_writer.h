// The AIFF pack writer: samplepack.aif in the input folder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kitweaver/records.h"

namespace kitweaver {

inline constexpr char kPackFileName[] = "samplepack.aif";

// Creates a new file beside `path` to be renamed onto it once complete:
// `path` + ".tmp<pid>-<n>", mode 0666 less the umask. Returns its descriptor
// (and name in `temporary`), or -1 with errno set.
int create_temporary_beside(const std::string& path, std::string* temporary);

// Everything of the file before the pack's sound bytes: FORM, COMM, APPL
// and the SSND chunk's header, for a pack of `frames` frames.
std::vector<std::uint8_t> aiff_header_bytes(std::int32_t frames, const std::string& metadata);

// Lays out the pack, fills the metadata and replaces samplepack.aif with the
// result, atomically: an earlier pack is only ever replaced by a complete
// new one. On failure prints "Could not write [path]: reason" and returns
// false.
bool write_aiff_pack(PackJob& job, const KeyMap& keys);

}  // namespace kitweaver
