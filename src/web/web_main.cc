// The browser's entry points into the core. The page's worker writes the
// chosen files into the in-memory file system, runs the same program the
// command line runs, and reads the pack and what the inspector shows of it
// back out of the same file system.
#include <cstdio>
#include <string>
#include <vector>

#include "app/run.h"
#include "viewer/pack_reader.h"
#include "viewer/report.h"

namespace {

bool write_whole(const std::string& path, const void* data, std::size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

}  // namespace

extern "C" {

// Runs kitweaver on `folder` (relative to the working folder, as typed on a
// command line), with --hq when asked; its lines go to standard output.
// Returns the exit status.
int kitweaver_build(const char* folder, int high_quality) {
  const char* plain[] = {"kitweaver", folder};
  const char* hq[] = {"kitweaver", "--hq", folder};
  const int status = high_quality != 0 ? kitweaver::run_kitweaver(3, hq) : kitweaver::run_kitweaver(2, plain);
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
  const std::string table = kitweaver::inspect::text_report(pack);
  const std::string keys = kitweaver::inspect::json_report(pack);
  const std::string svg = kitweaver::inspect::svg_picture(pack);
  if (!write_whole(folder + "table.txt", table.data(), table.size()) ||
      !write_whole(folder + "keys.json", keys.data(), keys.size()) ||
      !write_whole(folder + "pack.svg", svg.data(), svg.size()) ||
      !write_whole(folder + "samples.raw", pack.samples.data(), pack.samples.size() * sizeof(std::int16_t))) {
    error = "out of memory";
  }
  return error.c_str();
}

}  // extern "C"
