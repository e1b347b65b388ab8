// The browser's entry points into the core. The page's worker mounts the
// chosen files as the kit folder, runs the same program the command line
// runs, and reads the pack and what the inspector shows of it back out of the
// in-memory file system; a device's disk it mounts the same way, and the
// core lists its library as kitweaver-inspect DISK does.
//
// The files are read where they are, a piece at a time: every read of the
// core, header or sound, goes to the worker's readAt, which reads the file
// through a stream (the browser's fast way to read a file, and only an
// asynchronous one). The core waits for it, suspended by Asyncify.
#include <emscripten.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/run.h"
#include "format/device_disk.h"
#include "format/devices.h"
#include "format/pack_chunks.h"
#include "intake/wav_reader.h"
#include "kitweaver/records.h"
#include "format/drum_format.h"
#include "system/file_replace.h"
#include "system/files.h"
#include "viewer/disk_library.h"
#include "viewer/key_edit.h"
#include "viewer/pack_reader.h"
#include "viewer/preset_reader.h"
#include "viewer/preset_report.h"
#include "viewer/report.h"

namespace {

// Bytes the page asks of each read of the sound: each read is a wait for the
// worker, so fewer and larger ones than the command line's.
constexpr std::size_t kPageReadBytes = 1 << 20;

EM_ASYNC_JS(int, read_browser_file, (int fd, void* buffer, int size, double offset, int sound), {
  return await Module.readAt(fd, buffer, size, offset, sound !== 0);
});

// A read of the page's: the worker returns a count or -errno. A read of a
// recording's sound says so, and the worker reads ahead for it.
std::int64_t read_page(std::intptr_t fd, void* buffer, std::size_t size, std::uint64_t offset, int* error,
                       bool sound) {
  const int got = read_browser_file(static_cast<int>(fd), buffer, static_cast<int>(std::min<std::size_t>(size, INT_MAX)),
                                    static_cast<double>(offset), sound ? 1 : 0);
  if (got < 0) {
    *error = -got;
    return -1;
  }
  return got;
}
std::int64_t read_page_header(std::intptr_t fd, void* buffer, std::size_t size, std::uint64_t offset, int* error) {
  return read_page(fd, buffer, size, offset, error, false);
}
std::int64_t read_page_sound(std::intptr_t fd, void* buffer, std::size_t size, std::uint64_t offset, int* error) {
  return read_page(fd, buffer, size, offset, error, true);
}

}  // namespace

extern "C" {

// Runs `kitweaver FOLDER`, with --hq, --trim and --slice where `hq`,
// `trim` and `slice` are not 0 and `--device DEVICE` unless `device` is
// empty, with FOLDER relative to the working folder, as typed on a command
// line; its lines go to standard output. The folder is read-only, so the
// pack (or the OP-XY preset's folder) is written to `pack` instead,
// silently. Returns the exit status.
int kitweaver_build(const char* folder, int hq, int trim, int slice, const char* device, const char* pack) {
  std::vector<const char*> arguments = {"kitweaver"};
  if (hq != 0) arguments.push_back("--hq");
  if (trim != 0) arguments.push_back("--trim");
  if (slice != 0) arguments.push_back("--slice");
  if (*device != '\0') {
    arguments.push_back("--device");
    arguments.push_back(device);
  }
  arguments.push_back(folder);
  kitweaver::RunSettings settings;
  settings.reading = {read_page_header, read_page_sound, kPageReadBytes};
  settings.pack_instead = pack;
  const int status = kitweaver::run_kitweaver(static_cast<int>(arguments.size()), arguments.data(), settings);
  std::fflush(stdout);
  return status;
}

// Runs `kitweaver [--hq] --device DEVICE SOURCE`, SOURCE a pack or an
// OP-XY preset in the worker's own (writable) file system, relative to the
// working folder as typed on a command line: the kit is written beside it,
// named as the command line names it, with the command line's lines.
// Returns the exit status.
int kitweaver_convert(const char* source, int hq, const char* device) {
  std::vector<const char*> arguments = {"kitweaver"};
  if (hq != 0) arguments.push_back("--hq");
  arguments.push_back("--device");
  arguments.push_back(device);
  arguments.push_back(source);
  const int status = kitweaver::run_kitweaver(static_cast<int>(arguments.size()), arguments.data());
  std::fflush(stdout);
  return status;
}

// The order --sort takes the names in: `names` is a JSON array of texts,
// and the result the JSON array of their indices in that order (an empty
// array for anything else).
const char* kitweaver_name_order(const char* names) {
  static std::string order;
  const nlohmann::json given = nlohmann::json::parse(names, nullptr, false);
  std::vector<std::string> texts;
  if (given.is_array()) {
    for (const nlohmann::json& name : given) {
      if (!name.is_string()) {
        texts.clear();
        break;
      }
      texts.push_back(name.get<std::string>());
    }
  }
  std::vector<std::size_t> indices(texts.size());
  for (std::size_t i = 0; i < indices.size(); ++i) indices[i] = i;
  std::stable_sort(indices.begin(), indices.end(),
                   [&](std::size_t a, std::size_t b) { return kitweaver::comes_before_by_name(texts[a], texts[b]); });
  order = nlohmann::json(indices).dump();
  return order.c_str();
}

// Reads the device's disk at `root` (relative to the working folder, as typed
// on a command line) as `kitweaver-inspect DISK` does, and writes its table
// into the folder `out` as library.txt. Returns an empty text, or the line
// saying why there is no table.
const char* kitweaver_library(const char* root, const char* out) {
  static std::string error;
  error.clear();
  if (kitweaver::inspect::disk_kind(root) == kitweaver::DiskKind::kNone) {
    error = std::string(root) + ": not a device's disk (it has no samplepacks or drum folder)";
    return error.c_str();
  }
  try {
    // Each drum pack is read whole: one of tens of MB can pass the page's
    // 64 MB of memory.
    const kitweaver::inspect::Library library = kitweaver::inspect::read_library(root);
    if (kitweaver::replace_text_file(std::string(out) + "/library.txt", kitweaver::inspect::library_table(library)) != 0) {
      error = "the library could not be written";
    }
  } catch (const std::bad_alloc&) {
    error = std::string(root) + ": a file on the disk is too large for the page to read";
  }
  return error.c_str();
}

// Reads the pack at `pack_path` and writes into the folder `out`: table.txt
// (the key table), keys.json (the same as JSON), facts.json (whether its
// positions are at 4056 per frame, and that warning), pack.svg (the picture) and
// samples.raw (the pack's sound, 16-bit, little-endian, its channels
// interleaved). Returns an
// empty text, or the line saying why the pack can't be read.
const char* kitweaver_inspect(const char* pack_path, const char* out) {
  static std::string error;
  std::vector<std::uint8_t> bytes;
  try {
    // The whole file in one buffer of its size: grown a read at a time, a
    // pack of more than half the page's memory would not fit beside the
    // buffer it outgrew.
    kitweaver::SystemFile file;
    kitweaver::FileIdentity identity;
    if (kitweaver::open_regular_file(pack_path, &file, &identity) == 0 && identity.size > 0 &&
        static_cast<std::uint64_t>(identity.size) <= SIZE_MAX) {
      bytes.reserve(static_cast<std::size_t>(identity.size));
    }
    if (kitweaver::read_whole_file(pack_path, &bytes) != 0) {
      error = "the file cannot be read";
      return error.c_str();
    }
  } catch (const std::bad_alloc&) {
    error = "the file is too large to be a pack";
    return error.c_str();
  }
  kitweaver::inspect::Pack pack;
  error = kitweaver::inspect::read_pack(bytes, &pack);
  if (!error.empty()) return error.c_str();
  const std::string folder = std::string(out) + "/";
  const bool older = pack.scale == kitweaver::inspect::PositionScale::kOlder;
  const std::string facts = nlohmann::json{{"older_scale", older}, {"scale_warning", pack.scale_warning}}.dump();
  const auto* samples = reinterpret_cast<const std::uint8_t*>(pack.samples.data());
  const std::size_t sample_bytes = pack.samples.size() * sizeof(std::int16_t);
  if (kitweaver::replace_text_file(folder + "table.txt", kitweaver::inspect::text_report(pack)) != 0 ||
      kitweaver::replace_text_file(folder + "keys.json", kitweaver::inspect::json_report(pack)) != 0 ||
      kitweaver::replace_text_file(folder + "facts.json", facts) != 0 ||
      kitweaver::replace_text_file(folder + "pack.svg", kitweaver::inspect::svg_picture(pack)) != 0 ||
      kitweaver::replace_file(folder + "samples.raw", {{samples, sample_bytes}}) != 0) {
    error = "the inspector's files could not be written";
  }
  return error.c_str();
}

// Reads the OP-XY preset at `preset_path` (its folder, relative to the
// working folder as typed on a command line) as `kitweaver-inspect
// NAME.preset` does, and writes into the folder `out`: table.txt (its table
// and problems), regions.json (the same as JSON), and for each pad that
// sounds, pad-N.raw (what it plays, as kitweaver-inspect --audition plays
// it: 16-bit, little-endian, its channels interleaved) with its channels in
// sounds.json (null for a pad that plays nothing). Returns an empty text, or
// the line saying why it is no preset.
const char* kitweaver_inspect_preset(const char* preset_path, const char* out) {
  static std::string error;
  error.clear();
  const std::string folder = std::string(out) + "/";
  try {
    kitweaver::inspect::Preset preset;
    error = kitweaver::inspect::read_preset(preset_path, &preset);
    if (!error.empty()) return error.c_str();
    nlohmann::json sounds = nlohmann::json::array();
    for (int pad = 0; pad < kitweaver::kOpxyPadCount && error.empty(); ++pad) {
      const kitweaver::inspect::PresetPad* region = kitweaver::inspect::pad_region(preset, pad);
      kitweaver::inspect::Sound sound;
      if (region == nullptr || !region->file_read || !kitweaver::inspect::region_sound(*region, &sound).empty() ||
          sound.samples.empty()) {
        sounds.push_back(nullptr);
        continue;
      }
      sounds.push_back({{"channels", sound.channels}});
      const auto* samples = reinterpret_cast<const std::uint8_t*>(sound.samples.data());
      if (kitweaver::replace_file(folder + "pad-" + std::to_string(pad) + ".raw",
                                  {{samples, sound.samples.size() * sizeof(std::int16_t)}}) != 0) {
        error = "the inspector's files could not be written";
      }
    }
    if (error.empty() &&
        (kitweaver::replace_text_file(folder + "table.txt", kitweaver::inspect::preset_text_report(preset)) != 0 ||
         kitweaver::replace_text_file(folder + "regions.json", kitweaver::inspect::preset_json_report(preset)) != 0 ||
         kitweaver::replace_text_file(folder + "sounds.json", sounds.dump()) != 0)) {
      error = "the inspector's files could not be written";
    }
  } catch (const std::bad_alloc&) {
    error = std::string(preset_path) + ": the preset's samples are too large for the page to read";
  }
  return error.c_str();
}

// The constants the page's script needs, as JSON: the pack rate, the scale
// of the stored pitches, the most a key is pitched, the largest pack read
// and the PO-33's longest pack. (Positions come as frames in keys.json: the
// core alone turns them into frames.)
const char* kitweaver_pack_format() {
  static const std::string format = nlohmann::json{{"pack_rate", kitweaver::kPackRate},
                                                   {"pitch_scale", kitweaver::kPitchScale},
                                                   {"most_pitch_semitones", kitweaver::kMostPitchSemitones},
                                                   {"largest_pack_bytes", kitweaver::kLargestPackBytes},
                                                   {"po33_max_seconds", kitweaver::kPo33MaxSeconds}}
                                        .dump();
  return format.c_str();
}

// Whether the disk's library may read the file at `relative` (its path
// from the disk's root) of `bytes` whole: the worker reads those for the
// core where the browser lets only the page read the user's files.
int kitweaver_reads_whole(const char* relative, double bytes) {
  return kitweaver::read_whole_on_disk(relative, static_cast<std::int64_t>(bytes)) ? 1 : 0;
}

// The line of a failed edit, without the worker's own path for the pack.
const char* edit_failure(std::string* error, const char* path) {
  const std::string prefix = std::string(path) + ": ";
  if (error->rfind(prefix, 0) == 0) error->erase(0, prefix.size());
  return error->c_str();
}

// Changes keys of the pack at `path` in place, as `kitweaver-inspect --set
// SET PATH` does. Returns an empty text, or the line saying why nothing
// changed.
const char* kitweaver_edit(const char* path, const char* set) {
  static std::string error;
  std::vector<kitweaver::inspect::KeyEdit> edits;
  error = kitweaver::inspect::parse_key_edits(set, &edits);
  if (error.empty()) kitweaver::inspect::edit_pack_file(path, edits, path, &error);
  return edit_failure(&error, path);
}

// Rewrites the pack at `path` in the devices' scale when its positions are
// at 4056 per frame, as `kitweaver-inspect --rescale PATH` does. Returns an
// empty text, or the line saying why nothing changed.
const char* kitweaver_rescale(const char* path) {
  static std::string error;
  error.clear();
  bool rescaled = false;
  kitweaver::inspect::rescale_pack_file(path, path, &rescaled, &error);
  if (error.empty() && !rescaled) error = "positions already on the devices' scale";
  return edit_failure(&error, path);
}

// Sets key `key` of the pack at `path` back to how the pack at `original`
// has it. Returns an empty text, or the line saying why nothing changed.
const char* kitweaver_reset_key(const char* path, const char* original, int key) {
  static std::string error;
  error.clear();
  std::vector<std::uint8_t> bytes;
  kitweaver::inspect::Pack pack;
  if (key < 0 || key >= kitweaver::kSlotCount || kitweaver::read_whole_file(original, &bytes) != 0 ||
      !kitweaver::inspect::read_pack(bytes, &pack).empty()) {
    error = "the key can't be set back";
    return error.c_str();
  }
  kitweaver::inspect::edit_pack_file(path, kitweaver::inspect::key_as_edits(pack.keys[static_cast<std::size_t>(key)], key),
                                     path, &error);
  return edit_failure(&error, path);
}

}  // extern "C"
