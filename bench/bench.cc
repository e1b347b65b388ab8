// Benchmark: generates three kits and prints, for each, the median of several
// runs of the whole program against the time to read the same bytes, the
// literal against the fast scatter on the same slices, and the peak resident
// memory of the run. Usage: kitweaver_bench PATH_TO_KITWEAVER
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "intake/wav_reader.h"
#include "slice/planner.h"
#include "slice/resampler.h"
#include "slice/resampler_reference.h"
#include "wav_builder.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;
using kitweaver::wav::Bytes;

struct Kit {
  const char* name;
  int files;
  double seconds;
  int bits;
  int channels;
  std::uint32_t rate;
  const char* tag;  // appended to every file name
  std::vector<std::int32_t> chord;
  int literal_runs;
};

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

double ms_since(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A decaying tone with some noise, in the kit's format.
Bytes sound(const Kit& kit, int index) {
  const auto frames = static_cast<std::size_t>(kit.seconds * kit.rate);
  const int width = kit.bits / 8;
  Bytes data(frames * static_cast<std::size_t>(kit.channels * width));
  std::uint32_t noise = 1u + static_cast<std::uint32_t>(index);
  std::size_t at = 0;
  for (std::size_t i = 0; i < frames; ++i) {
    double t = static_cast<double>(i) / kit.rate;
    noise = noise * 1664525u + 1013904223u;
    double v = 0.6 * std::sin(2 * M_PI * (110.0 + 20 * index) * t) * std::exp(-t / 2) +
               0.1 * (static_cast<double>(noise >> 8) / 8388608.0 - 1.0);
    auto sample = static_cast<std::int32_t>(v * 8388607.0);  // 24-bit scale
    for (int c = 0; c < kit.channels; ++c) {
      std::uint32_t s = static_cast<std::uint32_t>(sample) << 8;  // 32-bit, left-aligned
      for (int b = 4 - width; b < 4; ++b) data[at++] = static_cast<std::uint8_t>(s >> (8 * b));
    }
  }
  kitweaver::wav::WavShape shape;
  shape.channels = static_cast<std::uint16_t>(kit.channels);
  shape.bits_per_sample = static_cast<std::uint16_t>(kit.bits);
  shape.sample_rate = kit.rate;
  shape.data = std::move(data);
  return kitweaver::wav::wav_bytes(shape);
}

std::vector<std::string> make_kit(const fs::path& root, const Kit& kit) {
  fs::path dir = root / kit.name;
  fs::create_directories(dir);
  std::vector<std::string> paths;
  for (int i = 0; i < kit.files; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "sound %02d%s.wav", i, kit.tag);
    paths.push_back((dir / name).string());
    kitweaver::wav::write_file(paths.back(), sound(kit, i));
  }
  return paths;
}

// Reads every byte of every file: the floor no implementation can beat.
double read_floor_ms(const std::vector<std::string>& paths) {
  static std::vector<char> buffer(1 << 20);
  auto start = Clock::now();
  for (const std::string& p : paths) {
    int fd = open(p.c_str(), O_RDONLY);
    while (read(fd, buffer.data(), buffer.size()) > 0) {
    }
    close(fd);
  }
  return ms_since(start);
}

// One run of the program; returns wall milliseconds and peak RSS in KiB.
std::pair<double, long> run_once(const std::string& program, const std::string& dir) {
  auto start = Clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    execl(program.c_str(), program.c_str(), dir.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  return {ms_since(start), usage.ru_maxrss};
}

// Times one scatter implementation over every slice of the kit.
double scatter_ms(kitweaver::PackJob& job, const std::vector<std::int32_t>& offsets,
                  void (*render)(kitweaver::SampleRecord&, double, std::int32_t, const kitweaver::ChordNotes&)) {
  kitweaver::ChordNotes chord;
  chord.note_count = static_cast<std::int32_t>(offsets.size());
  std::copy(offsets.begin(), offsets.end(), chord.semitones.begin());
  const double factor = kitweaver::compute_compression_factor(job);
  auto start = Clock::now();
  for (std::int32_t slot = 0; slot < job.sample_count; ++slot) {
    kitweaver::SampleRecord& record = *job.samples[static_cast<std::size_t>(slot)];
    kitweaver::SlicePlan plan = kitweaver::choose_slice_plan(record, factor);
    record.resampled.reset();
    if (plan.resampled) render(record, plan.rate, plan.frames, chord);
  }
  return ms_since(start);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: kitweaver_bench PATH_TO_KITWEAVER\n");
    return 2;
  }
  const std::string program = fs::absolute(argv[1]).string();
  const fs::path root = fs::temp_directory_path() / ("kitweaver-bench-" + std::to_string(getpid()));
  const Kit kits[] = {
      {"typical", 24, 0.5, 16, 1, 44100, "", {0}, 5},
      {"big", 24, 8.0, 24, 2, 96000, "", {0}, 3},
      {"chords", 24, 8.0, 24, 2, 96000, " Chord,Cmaj7", {0, 4, 7, 11}, 3},
  };
  std::printf("%u cores; medians of 7 runs (scatter: of the runs shown)\n\n", std::thread::hardware_concurrency());
  std::printf("%-8s %9s %9s %9s %9s %11s %9s %9s %10s %12s\n", "kit", "input MB", "run ms", "read ms",
              "run/read", "literal ms", "fast ms", "speedup", "peak MB", "peak-input");
  for (const Kit& kit : kits) {
    std::vector<std::string> paths = make_kit(root, kit);
    double input = 0;
    for (const std::string& p : paths) input += static_cast<double>(fs::file_size(p));
    const std::string dir = (root / kit.name).string();

    std::vector<double> runs, reads;
    long peak_kib = 0;
    read_floor_ms(paths);  // warm the page cache for both
    for (int i = 0; i < 7; ++i) {
      reads.push_back(read_floor_ms(paths));
      auto [ms, kib] = run_once(program, dir);
      runs.push_back(ms);
      peak_kib = std::max(peak_kib, kib);
    }

    kitweaver::PackJob job;
    job.directory = dir;
    job.max_pack_seconds = 12.0;
    for (const std::string& p : paths) kitweaver::read_wav_file(job, p);
    std::vector<double> literal, fast;
    for (int i = 0; i < kit.literal_runs; ++i) {
      literal.push_back(scatter_ms(job, kit.chord, kitweaver::render_slice_literal));
      fast.push_back(scatter_ms(job, kit.chord, kitweaver::render_slice));
    }
    for (int i = kit.literal_runs; i < 7; ++i) fast.push_back(scatter_ms(job, kit.chord, kitweaver::render_slice));

    const double mb = 1024.0 * 1024.0;
    std::printf("%-8s %9.1f %9.1f %9.1f %9.2f %11.1f %9.2f %9.1f %10.1f %12.1f\n", kit.name, input / mb,
                median(runs), median(reads), median(runs) / median(reads), median(literal), median(fast),
                median(literal) / median(fast), static_cast<double>(peak_kib) / 1024.0,
                static_cast<double>(peak_kib) / 1024.0 - input / mb);
    std::fflush(stdout);
    kitweaver::release_pack_job(job);
  }
  fs::remove_all(root);
  return 0;
}
