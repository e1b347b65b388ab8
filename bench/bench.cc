// Benchmark of whole runs: generates four kits and prints, for each, the
// median of several interleaved runs of kitweaver, of the read floor (`cat`
// of the same files, which reads each once through one reused 128 KB
// buffer) and, when sox is installed, of sox on the same files, with the peak
// resident memory of the kitweaver run. The big kit is also made into an
// OP-1 field kit, and with --trim and --slice, each run beside the plain run.
// Usage: kitweaver_bench PATH_TO_KITWEAVER [KIT...]: the kits named (such as
// "big --hq"), or every kit and then the quality table.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "format/drum_format.h"
#include "pack_support.h"
#include "test_support.h"
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
  bool hq;                        // run kitweaver --hq
  const char* tag;                // appended to every file name
  std::uint32_t sparse_bytes;     // > 0: a header declaring this many data bytes, and no data
  bool time_floor;                // time cat on the files too
  bool time_sox;                  // and sox, with `sox_effect` after the output
  std::vector<std::string> sox_effect;
  const char* option = nullptr;   // run kitweaver with it (--field, --trim, --slice), and the plain run beside it
};

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0.0 : v[v.size() / 2];
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
    if (kit.sparse_bytes > 0) {
      kitweaver::wav::WavShape shape;
      shape.declare_data_size = true;
      shape.declared_data_size = kit.sparse_bytes;
      Bytes header = kitweaver::wav::wav_bytes(shape);
      kitweaver::wav::write_file(paths.back(), header);
      fs::resize_file(paths.back(), header.size() + kit.sparse_bytes);  // a hole, no blocks
    } else {
      kitweaver::wav::write_file(paths.back(), sound(kit, i));
    }
  }
  return paths;
}

struct Run {
  double ms = 0;
  long peak_kib = 0;
  double user_ms = 0;
  double system_ms = 0;
  int status = -1;
};

// Runs `argv` with standard output to /dev/null (or to the file `out`);
// wall time and resources.
Run run(const std::vector<std::string>& argv, const char* out = "/dev/null") {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const auto start = Clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    int null = open("/dev/null", O_WRONLY);
    int to = open(out, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(to, 1);
    dup2(null, 2);
    execvp(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  Run r;
  r.ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  r.peak_kib = usage.ru_maxrss;
  r.user_ms = static_cast<double>(usage.ru_utime.tv_sec) * 1e3 + static_cast<double>(usage.ru_utime.tv_usec) / 1e3;
  r.system_ms = static_cast<double>(usage.ru_stime.tv_sec) * 1e3 + static_cast<double>(usage.ru_stime.tv_usec) / 1e3;
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

bool have_sox() { return run({"sox", "--version"}).status == 0; }

std::string read_text(const fs::path& path) {
  const Bytes bytes = kitweaver::testing::read_bytes(path.string());
  return std::string(bytes.begin(), bytes.end());
}

// The 16-bit samples of a WAV file's data chunk, as values in [-1, 1).
std::vector<double> wav_values(const Bytes& bytes) {
  std::vector<double> values;
  for (std::size_t at = 12; at + 8 <= bytes.size();) {
    const std::uint32_t size = kitweaver::load_le32(bytes.data() + at + 4);
    if (std::memcmp(bytes.data() + at, "data", 4) == 0) {
      for (std::size_t i = at + 8; i + 1 < bytes.size() && i + 1 < at + 8 + size; i += 2) {
        values.push_back(static_cast<std::int16_t>(kitweaver::load_le16(bytes.data() + i)) / 32768.0);
      }
      break;
    }
    at += 8 + size + (size & 1u);
  }
  return values;
}

// The slice of slot `slot` in a pack, as values in [-1, 1).
std::vector<double> pack_slice(const Bytes& bytes, std::size_t slot) {
  const kitweaver::testing::PackFile pack = kitweaver::testing::parse_pack(bytes);
  const std::vector<std::int64_t> starts = kitweaver::testing::list_of(pack.appl, "start");
  const std::vector<std::int64_t> ends = kitweaver::testing::list_of(pack.appl, "end");
  std::vector<double> values;
  if (slot >= starts.size() || slot >= ends.size()) return values;
  const std::int64_t first = kitweaver::frame_of_position(starts[slot], kitweaver::kMonoScaleFrames);
  const std::int64_t last = kitweaver::frame_of_position(ends[slot], kitweaver::kMonoScaleFrames);
  for (std::int64_t i = first; i <= last; ++i) {
    values.push_back(static_cast<std::int16_t>(kitweaver::load_be16(pack.sound.data() + 2 * i)) / 32768.0);
  }
  return values;
}

// The sweep kit: 24 files of 2 s, 16-bit mono 44.1 kHz, 48 s into 12 s, so
// every slice is resampled 4x, to 11025 Hz (Nyquist 5512.5 Hz). One file is
// an exponential sweep from 20 Hz to 22 kHz at half scale (-9.0 dBFS).
constexpr double kSweepSeconds = 2.0, kSweepFrom = 20.0, kSweepTo = 22000.0, kSweepRate = 11025.0;

double sweep_hz(double t) { return kSweepFrom * std::pow(kSweepTo / kSweepFrom, t / kSweepSeconds); }

Bytes sweep_wav() {
  const double k = std::log(kSweepTo / kSweepFrom);
  std::vector<std::int16_t> samples(static_cast<std::size_t>(kSweepSeconds * 44100));
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const double t = static_cast<double>(i) / 44100;
    const double v = 0.5 * std::sin(2 * M_PI * kSweepFrom * kSweepSeconds / k * (std::exp(k * t / kSweepSeconds) - 1));
    samples[i] = static_cast<std::int16_t>(std::lround(v * 32768));
  }
  kitweaver::wav::WavShape shape;
  shape.data = kitweaver::wav::pcm16(samples);
  return kitweaver::wav::wav_bytes(shape);
}

// dBFS of a slice at 11025 Hz while the sweep is above 1.1x and below 0.8x
// the new Nyquist frequency, 20 ms at each end left out.
void print_sweep_levels(const char* who, const std::vector<double>& slice) {
  double power[2] = {0, 0};
  std::size_t count[2] = {0, 0};
  const auto ends = static_cast<std::size_t>(kSweepRate / 50);
  for (std::size_t i = ends; i + ends < slice.size(); ++i) {
    const double hz = sweep_hz(static_cast<double>(i) / kSweepRate);
    const int band = hz > 1.1 * kSweepRate / 2 ? 0 : hz < 0.8 * kSweepRate / 2 ? 1 : -1;
    if (band < 0) continue;
    power[band] += slice[i] * slice[i];
    ++count[band];
  }
  std::printf("%-34s", who);
  for (int band = 0; band < 2; ++band) {
    if (power[band] == 0) {
      std::printf(" %16s", "silent");
    } else {
      std::printf(" %16.1f", 10 * std::log10(power[band] / static_cast<double>(count[band])));
    }
  }
  std::printf("\n");
}

void sweep_quality(const std::string& program, const fs::path& root, bool sox) {
  const fs::path dir = root / "sweep";
  fs::create_directories(dir);
  kitweaver::wav::write_file((dir / "sweep.wav").string(), sweep_wav());
  for (int i = 0; i < 23; ++i) {
    kitweaver::wav::WavShape quiet;
    quiet.data.assign(static_cast<std::size_t>(kSweepSeconds * 44100) * 2, 0);
    kitweaver::wav::write_file((dir / ("quiet " + std::to_string(10 + i) + ".wav")).string(), kitweaver::wav::wav_bytes(quiet));
  }
  std::printf("\nQuality: the sweep's slice, level in dBFS\n%-34s %16s %16s\n", "renderer", "above 1.1x Nyq.",
              "below 0.8x Nyq.");
  const fs::path lines = root / "lines.txt";
  for (bool hq : {false, true}) {
    std::vector<std::string> argv = {program, dir.string()};
    if (hq) argv.insert(argv.begin() + 1, "--hq");
    run(argv, lines.c_str());
    // The sweep's slot is its place among the printed paths.
    const std::string out = read_text(lines);
    std::size_t slot = 0;
    for (std::size_t at = out.find("]\n\t"); at < out.find("sweep.wav]"); at = out.find("]\n\t", at + 1)) ++slot;
    print_sweep_levels(hq ? "kitweaver --hq" : "kitweaver", pack_slice(kitweaver::testing::read_bytes((dir / "samplepack.aif").string()), slot));
  }
  if (sox) {
    const std::string in = (dir / "sweep.wav").string(), out = (root / "sox.wav").string();
    for (const char* quality : {"-q", "-v"}) {
      for (bool dither : {true, false}) {
        if (std::string(quality) == "-q" && !dither) continue;
        std::vector<std::string> argv = {"sox"};
        if (!dither) argv.push_back("-D");
        for (const std::string& word : {in, std::string("-b"), std::string("16"), out, std::string("rate"),
                                        std::string(quality), std::string("11025")}) {
          argv.push_back(word);
        }
        run(argv);
        const std::string who = std::string("sox rate ") + quality + (dither ? "" : ", no dither");
        print_sweep_levels(who.c_str(), wav_values(kitweaver::testing::read_bytes(out)));
      }
    }
  }
  fs::remove_all(dir);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: kitweaver_bench PATH_TO_KITWEAVER [KIT...]\n");
    return 2;
  }
  const std::vector<std::string> only(argv + 2, argv + argc);
  const std::string program = fs::absolute(argv[1]).string();
  const fs::path root = fs::temp_directory_path() / ("kitweaver-bench-" + std::to_string(getpid()));
  const std::vector<std::string> rate_q = {"rate", "-q", "2756"};
  const std::vector<std::string> rate_v = {"rate", "-v", "2756"};
  const Kit kits[] = {
      {"typical", 24, 0.5, 16, 1, 44100, false, "", 0, true, true, {}},
      {"big", 24, 8.0, 24, 2, 96000, false, "", 0, true, true, rate_q},
      {"chords", 24, 8.0, 24, 2, 96000, false, " Chord,Cmaj7", 0, true, false, {}},
      {"huge", 24, 0, 16, 1, 44100, false, "", 1000000000u, false, false, {}},
      {"typical --hq", 24, 0.5, 16, 1, 44100, true, "", 0, true, true, {}},
      {"big --field", 24, 8.0, 24, 2, 96000, false, "", 0, false, false, {}, "--field"},
      {"big --trim", 24, 8.0, 24, 2, 96000, false, "", 0, false, false, {}, "--trim"},
      {"big --slice", 24, 8.0, 24, 2, 96000, false, "", 0, false, false, {}, "--slice"},
      {"big --hq", 24, 8.0, 24, 2, 96000, true, "", 0, true, true, rate_v},
      {"big --hq --field", 24, 8.0, 24, 2, 96000, true, "", 0, false, false, {}, "--field"},
      {"chords --hq", 24, 8.0, 24, 2, 96000, true, " Chord,Cmaj7", 0, true, false, {}},
      {"huge --hq", 24, 0, 16, 1, 44100, true, "", 1000000000u, false, false, {}},
  };
  const bool sox = have_sox();
  constexpr int kRounds = 9;
  std::printf("%u cores; medians of %d interleaved runs; times in ms, input in MB, peak resident memory in MiB\n\n",
              std::thread::hardware_concurrency(), kRounds);
  std::printf("%-12s %8s %9s %8s %8s %9s %7s %8s %8s %8s\n", "kit", "input", "kitweaver", "user", "system",
              "read floor", "ratio", "sox", "ratio", "peak");
  for (const Kit& kit : kits) {
    if (!only.empty() && std::find(only.begin(), only.end(), kit.name) == only.end()) continue;
    std::vector<std::string> paths = make_kit(root, kit);
    double input = 0;
    for (const std::string& p : paths) input += static_cast<double>(fs::file_size(p));
    const std::string dir = (root / kit.name).string();
    std::vector<std::string> cat = {"cat"};
    cat.insert(cat.end(), paths.begin(), paths.end());
    std::vector<std::string> sox_run = {"sox"};
    sox_run.insert(sox_run.end(), paths.begin(), paths.end());
    for (const char* word : {"-b", "16", "-c", "1"}) sox_run.push_back(word);
    sox_run.push_back((root / "sox-out.aif").string());
    sox_run.insert(sox_run.end(), kit.sox_effect.begin(), kit.sox_effect.end());
    const bool time_sox = sox && kit.time_sox;

    sync();  // the new files' write-back would otherwise compete with the runs
    if (kit.time_floor) run(cat);  // warm the page cache
    std::vector<double> ours, user, system, floor, peer, op1;
    long peak_kib = 0, op1_peak_kib = 0;
    std::vector<std::string> op1_run = {program, dir};
    if (kit.hq) op1_run.insert(op1_run.begin() + 1, "--hq");
    std::vector<std::string> ours_run = op1_run;
    if (kit.option != nullptr) ours_run.insert(ours_run.end() - 1, kit.option);
    for (int i = 0; i < kRounds; ++i) {
      Run r = run(ours_run);
      ours.push_back(r.ms);
      if (kit.option != nullptr) {
        const Run beside = run(op1_run);
        op1.push_back(beside.ms);
        op1_peak_kib = std::max(op1_peak_kib, beside.peak_kib);
      }
      user.push_back(r.user_ms);
      system.push_back(r.system_ms);
      peak_kib = std::max(peak_kib, r.peak_kib);
      if (kit.time_floor) floor.push_back(run(cat).ms);
      if (time_sox) peer.push_back(run(sox_run).ms);
    }

    const double mb = 1e6;
    std::printf("%-12s %8.1f %9.1f %8.1f %8.1f", kit.name, input / mb, median(ours), median(user), median(system));
    if (kit.time_floor) {
      std::printf(" %9.1f %7.2f", median(floor), median(ours) / median(floor));
    } else {
      std::printf(" %9s %7s", "-", "-");
    }
    if (time_sox) {
      std::printf(" %8.1f %8.2f", median(peer), median(ours) / median(peer));
    } else {
      std::printf(" %8s %8s", "-", "-");
    }
    std::printf(" %8.1f\n", static_cast<double>(peak_kib) / 1024.0);
    if (kit.option != nullptr) {
      std::printf("%-12s the run without %s beside it: %.1f ms, with / without %.2f; peak %.1f MiB\n", "", kit.option,
                  median(op1), median(ours) / median(op1), static_cast<double>(op1_peak_kib) / 1024.0);
    }
    std::fflush(stdout);
    fs::remove_all(root / kit.name);
  }
  if (only.empty()) sweep_quality(program, root, sox);
  fs::remove_all(root);
  return 0;
}
