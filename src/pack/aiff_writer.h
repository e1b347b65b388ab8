// The AIFF pack writer: samplepack.aif in the input folder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kitweaver/records.h"
#include "pack/layout.h"
#include "system/file_replace.h"

namespace kitweaver {

// Everything of the file before the sound bytes of `pack`, in its
// container's form: FORM, COMM, APPL and the SSND chunk's header (AIFF), or
// FORM, FVER, COMM, APPL and the SSND chunk's header (AIFC sowt). Every size
// comes from the buffer the header goes before.
std::vector<std::uint8_t> pack_header_bytes(const PackBuffer& pack, const std::string& metadata);

// Lays out the pack, fills the metadata and replaces the file at `path`
// with the result, atomically and durably: an earlier pack is only ever
// replaced by a complete new one. On failure prints
// "Could not write [path]: reason" and returns false.
bool write_aiff_pack(PackJob& job, const KeyMap& keys, const std::string& path,
                     const ReplaceSettings& settings = {});

}  // namespace kitweaver
