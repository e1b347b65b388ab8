// Scoped temporary folders and running the built program, for the tests.
#pragma once

#include <cmath>
#include <numbers>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <optional>
#include <string>
#include <vector>

#include "system/files.h"
#include "system/process.h"
#include "wav_builder.h"

namespace kitweaver::testing {

// A fresh folder below the system's temporary folder, removed with its
// contents when the object goes out of scope. `name` becomes the last
// component, so tests can choose mode tags.
struct TempDir {
  std::string root;
  std::string path;
  explicit TempDir(const std::string& name = "kit") {
    root = make_temporary_folder();
    path = root + kPathSeparator + name;
    std::filesystem::create_directories(path);
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::permissions(path, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(root, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The path of `name` in the folder, as the programs print it.
  std::string file(const std::string& name) const { return path + kPathSeparator + name; }
  void write(const std::string& name, const wav::Bytes& bytes) const { write_file(file(name), bytes); }
};

inline wav::Bytes read_bytes(const std::string& path) {
  wav::Bytes bytes;
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (error || f == nullptr) {
    if (f != nullptr) std::fclose(f);
    return bytes;
  }
  bytes.resize(size);
  bytes.resize(std::fread(bytes.data(), 1, bytes.size(), f));
  std::fclose(f);
  return bytes;
}

// A mono 16-bit 44.1 kHz WAV of `frames` frames holding a ramp.
inline wav::Bytes mono16(std::size_t frames, std::uint32_t rate = 44100) {
  std::vector<std::int16_t> samples(frames);
  for (std::size_t i = 0; i < frames; ++i) samples[i] = static_cast<std::int16_t>(i % 2000 - 1000);
  wav::WavShape shape;
  shape.sample_rate = rate;
  shape.data = wav::pcm16(samples);
  return wav::wav_bytes(shape);
}

// A 24-bit stereo 96 kHz WAV of `data_bytes` bytes of deterministic noise:
// a heavy file, as recorders of that format write them.
inline wav::Bytes stereo24_noise(std::size_t data_bytes) {
  wav::WavShape shape;
  shape.channels = 2;
  shape.bits_per_sample = 24;
  shape.sample_rate = 96000;
  shape.data.resize(data_bytes);
  for (std::size_t i = 0; i < shape.data.size(); ++i) shape.data[i] = static_cast<std::uint8_t>(i * 7919 >> 5);
  return wav::wav_bytes(shape);
}

// A mono 16-bit WAV of `frames` frames of a sine at `hz`, shaped by
// `envelope` (a function of the frame index, 1 by default).
template <typename Envelope = double (*)(std::size_t)>
wav::Bytes sine16(std::size_t frames, double hz, Envelope envelope = [](std::size_t) { return 1.0; }) {
  std::vector<std::int16_t> samples(frames);
  for (std::size_t i = 0; i < frames; ++i) {
    samples[i] = static_cast<std::int16_t>(
        std::lround(16000.0 * envelope(i) * std::sin(2 * std::numbers::pi * hz * static_cast<double>(i) / 44100.0)));
  }
  wav::WavShape shape;
  shape.data = wav::pcm16(samples);
  return wav::wav_bytes(shape);
}

// The entry names of a folder in the order the system lists them.
// "." and ".." are left out.
inline std::vector<std::string> listing_order(const std::string& dir) {
  std::vector<std::string> names;
  FolderListing listing;
  if (open_folder(dir, &listing) != 0) return names;
  for (std::string name; next_folder_entry(listing, &name);) {
    if (name != "." && name != "..") names.push_back(name);
  }
  return names;
}

// The same names as a set, for comparing what a folder holds.
inline std::set<std::string> entry_set(const std::string& dir) {
  const std::vector<std::string> names = listing_order(dir);
  return {names.begin(), names.end()};
}

}  // namespace kitweaver::testing
