// The browser's entry points into the core. The page's worker writes the
// chosen files into the in-memory file system, runs the same program the
// command line runs, and reads the pack and what the inspector shows of it
// back out of the same file system.
#include <cstdio>
#include <string>
#include <vector>

#include "app/run.h"
#include "pack/file_replace.h"
#include "viewer/pack_reader.h"
#include "viewer/report.h"

extern "C" {

// Runs `kitweaver FOLDER`, or `kitweaver --hq FOLDER` when `hq` is not 0,
// with FOLDER relative to the working folder, as typed on a command line;
// its lines go to standard output. Returns the exit status.
int kitweaver_build(const char* folder, int hq) {
  const char* plain[] = {"kitweaver", folder};
  const char* high_quality[] = {"kitweaver", "--hq", folder};
  const int status = hq != 0 ? kitweaver::run_kitweaver(3, high_quality) : kitweaver::run_kitweaver(2, plain);
  std::fflush(stdout);
  return status;
}

// Reads the pack at `pack_path` and writes into the folder `out`: table.txt
// (the key table), keys.json (the same as JSON), pack.svg (the picture) and
// samples.raw (the pack's first channel, 16-bit, little-endian). Returns an
// empty text, or the line saying why the pack can't be read.
const char* kitweaver_inspect(const char* pack_path, const char* out) {
  static std::string error;
  std::vector<std::uint8_t> bytes;
  if (!kitweaver::inspect::read_file(pack_path, &bytes)) {
    error = "the file cannot be read";
    return error.c_str();
  }
  kitweaver::inspect::Pack pack;
  error = kitweaver::inspect::read_pack(bytes, &pack);
  if (!error.empty()) return error.c_str();
  const std::string folder = std::string(out) + "/";
  const auto* samples = reinterpret_cast<const std::uint8_t*>(pack.samples.data());
  const std::size_t sample_bytes = pack.samples.size() * sizeof(std::int16_t);
  if (kitweaver::replace_text_file(folder + "table.txt", kitweaver::inspect::text_report(pack)) != 0 ||
      kitweaver::replace_text_file(folder + "keys.json", kitweaver::inspect::json_report(pack)) != 0 ||
      kitweaver::replace_text_file(folder + "pack.svg", kitweaver::inspect::svg_picture(pack)) != 0 ||
      kitweaver::replace_file(folder + "samples.raw", {{samples, sample_bytes}}) != 0) {
    error = "the inspector's files could not be written";
  }
  return error.c_str();
}

}  // extern "C"
