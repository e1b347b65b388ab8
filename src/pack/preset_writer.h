// The OP-XY preset writer: a folder NAME.preset of one WAV file per slot
// and a patch.json whose 24 regions play them as an OP-1 kit of the same
// recordings plays its keys (format/opxy_preset.h has the files' forms).
#pragma once

#include <string>
#include <vector>

#include "kitweaver/records.h"

namespace kitweaver {

// Writes the preset of the rendered slots at `path`, whole or not at all,
// in place of an earlier one; appends to `removed` the earlier preset's
// files the new one does not hold. On failure prints "Could not write
// [path]: reason" and returns false.
bool write_opxy_preset(const PackJob& job, const KeyMap& keys, const std::string& path,
                       std::vector<std::string>* removed);

}  // namespace kitweaver
