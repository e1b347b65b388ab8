#include "viewer/preset_report.h"

#include <cstdio>
#include <nlohmann/json.hpp>

namespace kitweaver::inspect {
namespace {

std::string format(const char* pattern, auto... values) {
  char buffer[512];
  std::snprintf(buffer, sizeof buffer, pattern, values...);
  return buffer;
}

std::string number_or_dash(bool present, long long value, const char* pattern = "%lld") {
  return present ? format(pattern, value) : "-";
}

}  // namespace

std::string preset_text_report(const Preset& preset) {
  std::string out = format("OP-XY drum preset \"%s\", %zu region%s\n\n", preset.name.c_str(), preset.regions.size(),
                           preset.regions.size() == 1 ? "" : "s");
  out += "pad  note  sample                    framecount  file frames       start         end  play mode  reverse  "
         "transpose   tune  gain   pan\n";
  for (const PresetPad& pad : preset.regions) {
    const PresetRegion& r = pad.region;
    out += format("%3d  %4lld  %-24s  %10lld  %11s  %10s  %10lld  %-9s  %-7s  %+9d  %+5d  %4s  %+4d\n", r.pad,
                  static_cast<long long>(r.hikey), r.sample.c_str(), static_cast<long long>(r.framecount),
                  number_or_dash(pad.file_read, pad.file_frames).c_str(),
                  number_or_dash(r.sample_start.has_value(), r.sample_start.value_or(0)).c_str(),
                  static_cast<long long>(r.sample_end), r.playmode.c_str(), r.reverse ? "yes" : "no", r.transpose,
                  r.tune, number_or_dash(r.gain.has_value(), r.gain.value_or(0)).c_str(), r.pan);
  }
  if (!preset.problems.empty()) out += "\n";
  for (const std::string& problem : preset.problems) out += "warning: " + problem + "\n";
  return out;
}

std::string preset_json_report(const Preset& preset) {
  nlohmann::json doc;
  doc["form"] = "OP-XY drum preset";
  doc["name"] = preset.name;
  doc["regions"] = nlohmann::json::array();
  for (const PresetPad& pad : preset.regions) {
    const PresetRegion& r = pad.region;
    nlohmann::json region = {{"pad", r.pad},
                             {"note", r.hikey},
                             {"lokey", r.lokey},
                             {"sample", r.sample},
                             {"framecount", r.framecount},
                             {"file_frames", pad.file_read ? nlohmann::json(pad.file_frames) : nlohmann::json()},
                             {"start", r.sample_start ? nlohmann::json(*r.sample_start) : nlohmann::json()},
                             {"end", r.sample_end},
                             {"play_mode", r.playmode},
                             {"reverse", r.reverse},
                             {"transpose", r.transpose},
                             {"tune", r.tune},
                             {"gain", r.gain ? nlohmann::json(*r.gain) : nlohmann::json()},
                             {"pan", r.pan},
                             {"fade_in", r.fade_in},
                             {"fade_out", r.fade_out}};
    doc["regions"].push_back(std::move(region));
  }
  doc["warnings"] = preset.problems;
  return doc.dump(2) + "\n";
}

}  // namespace kitweaver::inspect
