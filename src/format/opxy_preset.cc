#include "format/opxy_preset.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <type_traits>

namespace kitweaver {
namespace {

// The engine, envelope, fx, lfo and octave of the device's own drum kits.
constexpr char kPresetTemplate[] =
    R"({"engine":{"bendrange":13653,"highpass":0,"modulation":{"aftertouch":{"amount":21953,"target":18022},)"
    R"("modwheel":{"amount":32767,"target":0},"pitchbend":{"amount":16710,"target":0},"velocity":{"amount":16383,)"
    R"("target":0}},"params":[16384,16384,16384,16384,16384,16384,16384,16384],"playmode":"mono",)"
    R"("portamento.amount":128,"portamento.type":32767,"transpose":0,"tuning.root":0,"tuning.scale":3045,)"
    R"("velocity.sensitivity":6879,"volume":24901,"width":0},"envelope":{"amp":{"attack":0,"decay":0,"release":0,)"
    R"("sustain":32767},"filter":{"attack":3932,"decay":13167,"release":9502,"sustain":18062}},"fx":{"active":false,)"
    R"("params":[6963,16711,10382,5632,0,32767,0,0],"type":"z lowpass"},"lfo":{"active":false,)"
    R"("params":[9168,6334,23210,29491,0,0,0,18186],"type":"random"},"octave":0})";

bool allowed(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ' ' || c == '#' ||
         c == '-' || c == '(' || c == ')';
}

// The bytes of the UTF-8 character that starts with `lead`: 1 for a byte
// that starts none.
std::size_t utf8_length(unsigned char lead) {
  if (lead >= 0xF0 && lead < 0xF8) return 4;
  if (lead >= 0xE0) return lead < 0xF0 ? 3 : 1;
  if (lead >= 0xC0) return 2;
  return 1;
}

std::string lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

template <typename T>
T member_or(const nlohmann::json& object, const char* name, T fallback) {
  const auto it = object.find(name);
  if (it == object.end()) return fallback;
  if constexpr (std::is_same_v<T, std::string>) {
    return it->is_string() ? it->get<std::string>() : it->dump();
  } else if constexpr (std::is_same_v<T, bool>) {
    return it->is_boolean() ? it->get<bool>() : fallback;
  } else {
    return it->is_number() ? static_cast<T>(it->get<double>()) : fallback;
  }
}

}  // namespace

std::string preset_json(const std::vector<PresetRegion>& regions) {
  nlohmann::json patch = nlohmann::json::parse(kPresetTemplate);
  patch["platform"] = "OP-XY";
  patch["type"] = "drum";
  patch["version"] = 4;
  patch["regions"] = nlohmann::json::array();
  for (const PresetRegion& r : regions) {
    nlohmann::json region = {{"fade.in", r.fade_in},
                             {"fade.out", r.fade_out},
                             {"framecount", r.framecount},
                             {"hikey", r.hikey},
                             {"lokey", r.lokey},
                             {"pan", r.pan},
                             {"pitch.keycenter", kOpxyKeyCenter},
                             {"playmode", r.playmode},
                             {"reverse", r.reverse},
                             {"sample", r.sample},
                             {"sample.end", r.sample_end},
                             {"transpose", r.transpose},
                             {"tune", r.tune}};
    if (r.gain) region["gain"] = *r.gain;
    if (r.sample_start) region["sample.start"] = *r.sample_start;
    patch["regions"].push_back(region);
  }
  return patch.dump() + "\n";
}

std::string read_preset_json(std::string_view text, std::vector<PresetRegion>* regions) {
  const nlohmann::json patch = nlohmann::json::parse(text, nullptr, false);
  if (patch.is_discarded() || !patch.is_object()) return "not JSON";
  const auto type = patch.find("type");
  if (type == patch.end()) return "not an OP-XY drum preset (it has no type)";
  if (*type != "drum") return "not an OP-XY drum preset (its type is " + type->dump() + ")";
  const auto found = patch.find("regions");
  if (found == patch.end() || !found->is_array()) return "not an OP-XY drum preset (it has no list of regions)";
  regions->clear();
  for (std::size_t i = 0; i < found->size(); ++i) {
    const nlohmann::json& item = (*found)[i];
    if (!item.is_object()) {
      regions->clear();
      return "not an OP-XY drum preset (region " + std::to_string(i + 1) + " is not an object)";
    }
    PresetRegion r;
    r.hikey = member_or<std::int64_t>(item, "hikey", 0);
    r.lokey = member_or<std::int64_t>(item, "lokey", r.hikey);
    r.pad = static_cast<int>(r.hikey - kOpxyFirstNote);
    r.sample = member_or<std::string>(item, "sample", "");
    r.framecount = member_or<std::int64_t>(item, "framecount", 0);
    if (item.contains("sample.start")) r.sample_start = member_or<std::int64_t>(item, "sample.start", 0);
    r.sample_end = member_or<std::int64_t>(item, "sample.end", r.framecount);
    r.playmode = member_or<std::string>(item, "playmode", "gate");
    r.reverse = member_or<bool>(item, "reverse", false);
    r.transpose = member_or<std::int32_t>(item, "transpose", 0);
    r.tune = member_or<std::int32_t>(item, "tune", 0);
    r.pan = member_or<std::int32_t>(item, "pan", 0);
    if (item.contains("gain")) r.gain = member_or<std::int32_t>(item, "gain", 0);
    r.fade_in = member_or<std::int32_t>(item, "fade.in", 0);
    r.fade_out = member_or<std::int32_t>(item, "fade.out", 0);
    regions->push_back(r);
  }
  return "";
}

bool known_play_mode(std::string_view playmode) {
  return playmode == "gate" || playmode == "oneshot" || playmode == "group" || playmode == "loop";
}

std::string device_name(std::string_view name) {
  std::string out;
  for (std::size_t i = 0; i < name.size();) {
    const auto c = static_cast<unsigned char>(name[i]);
    if (allowed(c)) {
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    out += '-';
    std::size_t length = utf8_length(c);
    // A character cut short, or continued by bytes that don't continue it,
    // ends where its continuation ends.
    std::size_t end = i + 1;
    while (end < i + length && end < name.size() && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) ++end;
    i = end;
  }
  return out;
}

std::vector<std::string> sample_file_names(const std::vector<std::string>& stems) {
  std::vector<std::string> names, taken;
  for (const std::string& stem : stems) {
    const std::string base = device_name(stem);
    std::string name = base;
    for (int n = 2; std::find(taken.begin(), taken.end(), lower(name)) != taken.end(); ++n) {
      name = base + " " + std::to_string(n);
    }
    taken.push_back(lower(name));
    names.push_back(name + ".wav");
  }
  return names;
}

}  // namespace kitweaver
