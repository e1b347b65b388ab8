#include "viewer/report.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>
#include <vector>

namespace kitweaver::inspect {
namespace {

std::string format(const char* pattern, auto... values) {
  char buffer[512];
  std::snprintf(buffer, sizeof buffer, pattern, values...);
  return buffer;
}

double seconds_of(const Pack& pack, double frame) { return pack.rate > 0 ? frame / pack.rate : 0.0; }

double seconds_at(const Pack& pack, std::int64_t frame) { return seconds_of(pack, static_cast<double>(frame)); }

double length_ms(const Pack& pack, const KeyRow& row) { return seconds_at(pack, row.frame_count()) * 1000.0; }

std::string form_line(const Pack& pack) {
  return format("%s%s, %u frames at %.0f Hz (%.3f s), %d-bit, %d channel%s%s", pack.aifc ? "AIFC" : "AIFF",
                pack.little_endian ? " (sowt, little-endian)" : "", pack.frames, pack.rate,
                seconds_of(pack, pack.frames), pack.bits, pack.channels, pack.channels == 1 ? "" : "s",
                pack.po33 ? ", PO-33 pack (opens with the marker tone)" : "");
}

// Keys grouped by the slice they play.
std::map<int, std::vector<int>> keys_by_slice(const Pack& pack) {
  std::map<int, std::vector<int>> slices;
  for (int k = 0; k < kSlotCount; ++k) slices[pack.keys[static_cast<std::size_t>(k)].slice].push_back(k);
  return slices;
}

}  // namespace

std::string text_report(const Pack& pack) {
  std::string out = form_line(pack) + "\n\n";
  out += "key  slice   start frame   start s     end frame     end s   length ms  pitch  direction  play mode   "
         "raw start    raw end\n";
  for (int k = 0; k < kSlotCount; ++k) {
    const KeyRow& row = pack.keys[static_cast<std::size_t>(k)];
    out += format("%3d  %5d  %12lld  %8.3f  %12lld  %8.3f  %10.1f  %+5.1f  %-9s  %-9s  %10lld %10lld\n", k,
                  row.slice, static_cast<long long>(row.start_frame), seconds_at(pack, row.start_frame),
                  static_cast<long long>(row.end_frame), seconds_at(pack, row.end_frame), length_ms(pack, row),
                  row.pitch_semitones(),
                  direction_name(row.reverse).c_str(), play_mode_name(row.play_mode).c_str(),
                  static_cast<long long>(row.start_raw), static_cast<long long>(row.end_raw));
  }
  out += format("\n%d distinct slice%s\n", pack.slice_count, pack.slice_count == 1 ? "" : "s");
  for (const std::string& warning : pack.warnings) out += "warning: " + warning + "\n";
  return out;
}

std::string json_report(const Pack& pack) {
  nlohmann::json doc;
  doc["form"] = pack.aifc ? (pack.little_endian ? "AIFC sowt" : "AIFC") : "AIFF";
  doc["channels"] = pack.channels;
  doc["frames"] = pack.frames;
  doc["rate"] = pack.rate;
  doc["seconds"] = seconds_of(pack, pack.frames);
  doc["po33"] = pack.po33;
  doc["scale"] = scale_name(pack.scale);
  doc["scale_frames"] = pack.scale_frames;
  doc["slices"] = pack.slice_count;
  doc["keys"] = nlohmann::json::array();
  for (int k = 0; k < kSlotCount; ++k) {
    const KeyRow& row = pack.keys[static_cast<std::size_t>(k)];
    doc["keys"].push_back({{"key", k},
                           {"slice", row.slice},
                           {"start_frame", row.start_frame},
                           {"end_frame", row.end_frame},
                           {"length_frames", row.frame_count()},
                           {"start_seconds", seconds_at(pack, row.start_frame)},
                           {"end_seconds", seconds_at(pack, row.end_frame)},
                           {"start_raw", row.start_raw},
                           {"end_raw", row.end_raw},
                           {"length_ms", length_ms(pack, row)},
                           {"pitch_semitones", row.pitch_semitones()},
                           {"direction", direction_name(row.reverse)},
                           {"play_mode", play_mode_name(row.play_mode)}});
  }
  doc["warnings"] = pack.warnings;
  return doc.dump(2) + "\n";
}

std::string svg_picture(const Pack& pack) {
  constexpr int kWidth = 1200, kWave = 200, kTop = 56, kRuler = 30;
  const double frames = std::max<double>(1.0, static_cast<double>(pack.held_frames()));
  const auto channels = static_cast<std::size_t>(std::max(1, pack.channels));
  auto x_of = [&](double frame) { return 20.0 + frame / frames * kWidth; };
  std::string svg = format(
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" viewBox=\"0 0 %d %d\" "
      "font-family=\"sans-serif\" font-size=\"11\">\n",
      kWidth + 40, kTop + kWave + kRuler + 20, kWidth + 40, kTop + kWave + kRuler + 20);
  svg += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  svg += "<title>" + form_line(pack) + "</title>\n";

  const char* shades[2] = {"#cfe3ff", "#ffe2c2"};
  int turn = 0;
  for (const auto& [slice, keys] : keys_by_slice(pack)) {
    const KeyRow& row = pack.keys[static_cast<std::size_t>(keys.front())];
    const double x0 = x_of(static_cast<double>(row.start_frame));
    const double x1 = x_of(static_cast<double>(row.start_frame + row.frame_count()));
    std::string label = "k";
    for (std::size_t i = 0; i < keys.size(); ++i) label += (i == 0 ? "" : ",") + std::to_string(keys[i]);
    // Labels stand in three staggered rows so that narrow slices stay legible.
    svg += format("<g class=\"slice\" data-slice=\"%d\"><rect x=\"%.2f\" y=\"%d\" width=\"%.2f\" height=\"%d\" "
                  "fill=\"%s\"/><text x=\"%.2f\" y=\"%d\">%s</text><title>slice %d, keys %s</title></g>\n",
                  slice, x0, kTop, std::max(0.5, x1 - x0), kWave, shades[turn++ % 2], x0 + 1,
                  kTop - 6 - 14 * ((slice - 1) % 3), label.c_str(), slice, label.c_str() + 1);
  }

  // Waveform: min and max per column, in one lane per channel, the lanes
  // one above the other (a mono pack's one lane takes the whole height).
  const double lane = static_cast<double>(kWave) / static_cast<double>(channels);
  for (std::size_t channel = 0; channel < channels; ++channel) {
    std::string path;
    const double mid = kTop + lane * (static_cast<double>(channel) + 0.5);
    for (int column = 0; column < kWidth; ++column) {
      auto from = static_cast<std::size_t>(column * frames / kWidth);
      auto to = std::max(from + 1, static_cast<std::size_t>((column + 1) * frames / kWidth));
      int low = 0, high = 0;
      for (std::size_t i = from * channels + channel; i < to * channels && i < pack.samples.size(); i += channels) {
        low = std::min<int>(low, pack.samples[i]);
        high = std::max<int>(high, pack.samples[i]);
      }
      path += format("M%d %.1fV%.1f", 20 + column, mid - high / 32768.0 * lane / 2, mid - low / 32768.0 * lane / 2 + 0.5);
    }
    const std::string which = channels == 1 ? "" : format(" data-channel=\"%zu\"", channel);
    svg += "<path class=\"wave\"" + which + " d=\"" + path + "\" stroke=\"#1f3b73\" stroke-width=\"1\" fill=\"none\"/>\n";
  }

  // Seconds ruler.
  const double total = seconds_of(pack, frames);
  const double step = total > 20 ? 5.0 : (total > 5 ? 1.0 : 0.5);
  const int ruler_y = kTop + kWave + 4;
  svg += format("<line x1=\"20\" y1=\"%d\" x2=\"%d\" y2=\"%d\" stroke=\"black\"/>\n", ruler_y, 20 + kWidth, ruler_y);
  for (double t = 0; t <= total + 1e-9 && step > 0; t += step) {
    const double x = x_of(t * pack.rate);
    svg += format("<line x1=\"%.2f\" y1=\"%d\" x2=\"%.2f\" y2=\"%d\" stroke=\"black\"/>"
                  "<text x=\"%.2f\" y=\"%d\" text-anchor=\"middle\">%gs</text>\n",
                  x, ruler_y, x, ruler_y + 6, x, ruler_y + 20, t);
  }
  svg += "</svg>\n";
  return svg;
}

}  // namespace kitweaver::inspect
