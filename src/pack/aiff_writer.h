// The AIFF pack writer: samplepack.aif in the input folder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kitweaver/records.h"
#include "system/file_replace.h"

namespace kitweaver {

// Everything of the file before the pack's sound bytes: FORM, COMM, APPL
// and the SSND chunk's header, for a mono pack of `frames` frames.
std::vector<std::uint8_t> aiff_header_bytes(std::int32_t frames, const std::string& metadata);

// The same for an OP-1 field kit of `frames` stereo frames: FORM (AIFC),
// FVER, COMM, APPL and the SSND chunk's header.
std::vector<std::uint8_t> field_header_bytes(std::int32_t frames, const std::string& metadata);

// Lays out the pack, fills the metadata and replaces the file at `path`
// with the result, atomically and durably: an earlier pack is only ever
// replaced by a complete new one. On failure prints
// "Could not write [path]: reason" and returns false.
bool write_aiff_pack(PackJob& job, const KeyMap& keys, const std::string& path,
                     const ReplaceSettings& settings = {});

}  // namespace kitweaver
