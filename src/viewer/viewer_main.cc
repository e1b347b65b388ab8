// kitweaver-inspect: prints the key table of a drum pack and draws it.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "viewer/pack_reader.h"
#include "viewer/report.h"

namespace {

const char kUsage[] =
    "Usage: kitweaver-inspect [--json] [--svg FILE] PACK.aif\n"
    "Prints the pack's form and a table of its 24 keys: slice start and end, length,\n"
    "pitch, direction and play mode, and which distinct slice each key plays.\n"
    "  --json      print the table as JSON instead\n"
    "  --svg FILE  also draw the pack's waveform and slices into FILE\n"
    "  --help      print this text\n";

bool read_file(const char* path, std::vector<std::uint8_t>* bytes) {
  std::FILE* f = std::fopen(path, "rb");
  if (f == nullptr) return false;
  std::uint8_t buffer[1 << 16];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes->insert(bytes->end(), buffer, buffer + got);
  const bool ok = std::ferror(f) == 0;
  std::fclose(f);
  return ok;
}

bool write_file(const std::string& path, const std::string& text) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  const char* pack_path = nullptr;
  const char* svg_path = nullptr;
  bool json = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (std::strcmp(argv[i], "--json") == 0) {
      json = true;
    } else if (std::strcmp(argv[i], "--svg") == 0 && i + 1 < argc) {
      svg_path = argv[++i];
    } else if (std::strncmp(argv[i], "--svg=", 6) == 0) {
      svg_path = argv[i] + 6;
    } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
      std::fprintf(stderr, "kitweaver-inspect: unknown option %s\n%s", argv[i], kUsage);
      return 2;
    } else if (pack_path == nullptr) {
      pack_path = argv[i];
    } else {
      std::fprintf(stderr, "kitweaver-inspect: one pack at a time\n%s", kUsage);
      return 2;
    }
  }
  if (pack_path == nullptr) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  std::vector<std::uint8_t> bytes;
  if (!read_file(pack_path, &bytes)) {
    std::fprintf(stderr, "%s: cannot be read: %s\n", pack_path, std::strerror(errno));
    return 1;
  }
  kitweaver::inspect::Pack pack;
  const std::string error = kitweaver::inspect::read_pack(bytes, &pack);
  if (!error.empty()) {
    std::fprintf(stderr, "%s: %s\n", pack_path, error.c_str());
    return 1;
  }
  const std::string report = json ? kitweaver::inspect::json_report(pack) : kitweaver::inspect::text_report(pack);
  std::fputs(report.c_str(), stdout);
  if (svg_path != nullptr && !write_file(svg_path, kitweaver::inspect::svg_picture(pack))) {
    std::fprintf(stderr, "%s: cannot be written: %s\n", svg_path, std::strerror(errno));
    return 1;
  }
  return 0;
}
