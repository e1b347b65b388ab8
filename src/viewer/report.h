// What kitweaver-inspect prints and draws from a read pack.
#pragma once

#include <string>

#include "viewer/pack_reader.h"

namespace kitweaver::inspect {

// The pack's form and length, then one line per key.
std::string text_report(const Pack& pack);

// The same as a JSON document.
std::string json_report(const Pack& pack);

// An SVG picture: the waveform (min and max per column) along a seconds
// ruler, every distinct slice shaded in turn and labelled with its keys.
std::string svg_picture(const Pack& pack);

}  // namespace kitweaver::inspect
