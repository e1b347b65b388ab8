// What kitweaver-inspect prints of a read OP-XY preset.
#pragma once

#include <string>

#include "viewer/preset_reader.h"

namespace kitweaver::inspect {

// The preset's name and region count, then one line per region, then one
// line per problem.
std::string preset_text_report(const Preset& preset);

// The same as a JSON document.
std::string preset_json_report(const Preset& preset);

}  // namespace kitweaver::inspect
