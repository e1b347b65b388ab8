#include "app/run.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>

#include "app/kit_source.h"
#include "format/opxy_preset.h"
#include "intake/wav_reader.h"
#include "kitweaver/name_text.h"
#include "kitweaver/records.h"
#include "kitweaver/version.h"
#include "pack/aiff_writer.h"
#include "pack/pack_target.h"
#include "pack/preset_writer.h"
#include "pack/key_map.h"
#include "slice/hits.h"
#include "slice/planner.h"
#include "slice/silence.h"

namespace kitweaver {
namespace {

// The tag must end the directory name, followed by at most two characters.
bool has_po33_tag(std::string_view name) {
  auto tag_in_last = [name](std::size_t count) {
    std::string_view tail = name.substr(name.size() - count);
    return contains(tail, " PO-33.") || contains(tail, " po-33.");
  };
  return (name.size() >= 8 && tag_in_last(8)) || (name.size() >= 9 && tag_in_last(9));
}

// What --help adds after the usage text.
constexpr char kHelpText[] =
    "\n"
    "Makes a 24-key drum kit from up to 24 recordings in the folder (WAV,\n"
    "AIFF or AIFC, PCM or float) and writes it into the same folder as\n"
    "samplepack.aif. A folder whose name ends in \" PO-33.<seconds>\" makes a\n"
    "PO-33 pack of 1 to 40 s; any other folder an OP-1/OP-Z pack of 12 s, or\n"
    "with --device a kit for another device.\n"
    "\n"
    "A drum pack or an OP-XY preset (NAME.preset, or its patch.json) in place\n"
    "of the folder is taken to the device, key for key: written beside it as\n"
    "\"NAME op-1.aif\", \"NAME field.aif\" or NAME.preset.\n"
    "\n"
    "Options, before the folder:\n"
    "  -o, --output PATH            write the pack to PATH instead; into an\n"
    "                               existing folder as <folder name>.aif\n"
    "  --hq                         resample through a band-limited filter:\n"
    "                               the same plan, cleaner sound\n"
    "  --device NAME                the device: op-1 (the OP-1 and OP-Z, 12 s),\n"
    "                               field (an OP-1 field kit: stereo, 20 s) or\n"
    "                               op-xy (an OP-XY preset, NAME.preset: one\n"
    "                               WAV file per sound, each up to 20 s)\n"
    "  --field                      the same as --device field\n"
    "  --replace                    with -o into an OP-Z slot folder that\n"
    "                               holds a pack: swap it for the new one\n"
    "  --sort                       take the recordings in name order (2 before\n"
    "                               10, case aside), not the folder's order\n"
    "  --trim                       leave out the silence (below -60 dBFS) at\n"
    "                               each recording's start and end\n"
    "  --slice                      cut each recording at its hits, each hit\n"
    "                               a recording of its own\n"
    "  --                           ends the options\n"
    "  -h, --help / --version       this text / the version line\n"
    "\n"
    "Tags in a file name:\n"
    "  Kick Oneshot.wav             one-shot (also ONESHOT, oneshot)\n"
    "  Pad Loop.wav                 loop (also LOOP, loop)\n"
    "  Piano Chord,Ebmin7.wav       a chord built from the recording (as C)\n"
    "  Pad ChordSemitones,4,7.wav   copies 4 and 7 semitones up, mixed in\n"
    "  Keys ChromaticMultiSample,5.wav\n"
    "                               note 5 of a multisample (0 plays on key 7)\n"
    "\n"
    "Exit status: 0 a pack was written, 1 no pack, 2 wrong arguments.\n"
    "A folder whose name starts with - is given as ./-name. More in: man kitweaver\n";

// What the command line asks for.
struct RunOptions {
  const char* directory = nullptr;
  std::string output;  // -o PATH; empty: samplepack.aif in the folder
  bool band_limited = false;  // --hq
  std::optional<Device> device;  // --device, --field
  std::string device_word;       // as given
  bool replace = false;       // --replace
  bool sort = false;          // --sort
  bool trim = false;          // --trim
  bool slice = false;         // --slice
};

enum class Request { kRun, kHelp, kVersion, kUsage };

void print_usage() { std::printf("\nUsage:\n\t kitweaver <WAV files directory location>\n"); }

// Options come before the folder, "--" ends them; exactly one folder.
// Prints what is wrong with an option.
Request parse_arguments(int argc, const char* const* argv, RunOptions* options) {
  int folders = 0;
  bool options_ended = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view word = argv[i];
    if (options_ended || folders > 0 || word.size() < 2 || word[0] != '-') {
      options->directory = argv[i];
      ++folders;
      continue;
    }
    if (word == "--") {
      options_ended = true;
    } else if (word == "--help" || word == "-h") {
      return Request::kHelp;
    } else if (word == "--version") {
      return Request::kVersion;
    } else if (word == "--hq") {
      options->band_limited = true;
    } else if (word == "--field") {
      options->device = Device::kField;
      options->device_word = word;
    } else if (word == "--device" || word.rfind("--device=", 0) == 0) {
      if (word == "--device" && i + 1 == argc) {
        std::printf("Option [%s] needs a device\n", argv[i]);
        return Request::kUsage;
      }
      const std::string_view name = word == "--device" ? std::string_view(argv[++i]) : word.substr(9);
      options->device.reset();
      for (const DeviceFacts& facts : kDevices) {
        if (*facts.option != '\0' && name == facts.option) options->device = facts.device;
      }
      if (!options->device) {
        std::printf("Unknown device [%.*s]\n", static_cast<int>(name.size()), name.data());
        return Request::kUsage;
      }
      options->device_word = "--device " + std::string(name);
    } else if (word == "--replace") {
      options->replace = true;
    } else if (word == "--sort") {
      options->sort = true;
    } else if (word == "--trim") {
      options->trim = true;
    } else if (word == "--slice") {
      options->slice = true;
    } else if (word == "-o" || word == "--output") {
      if (i + 1 == argc) {
        std::printf("Option [%s] needs a path\n", argv[i]);
        return Request::kUsage;
      }
      options->output = argv[++i];
    } else if (word.rfind("--output=", 0) == 0) {
      options->output = word.substr(9);
    } else {
      std::printf("Unknown option [%s]\n", argv[i]);
      return Request::kUsage;
    }
  }
  return folders == 1 ? Request::kRun : Request::kUsage;
}

// Plans every slot, printing its lines, then renders them all from their
// files. A read that fails is reported once, after every slot's lines, and
// no pack is made.
bool plan_and_render(PackJob& job) {
  const KitPlan plan = plan_kit(job);
  job.last_resample_rate = plan.tone_rate;
  const RenderFailure failure = render_planned_slices(job, plan.slices);
  if (failure.slot >= 0) {
    const SampleRecord& record = *job.samples[static_cast<std::size_t>(failure.slot)];
    std::printf("Could not read [%s]: %s\n", (record.name.empty() ? record.path : record.name).c_str(),
                error_text(failure.error).c_str());
    return false;
  }
  return true;
}

// Where a kit made from the source kit goes: beside it, named after it and
// the device, unless -o says otherwise; never onto the source itself.
PackTarget choose_source_target(const PackJob& job, const RunOptions& options, SourceKind kind) {
  const DeviceFacts& device = device_facts(job.device);
  const std::string location = source_location(job.directory, kind);
  KitNaming naming;
  naming.name = source_kit_name(job.directory, kind);
  const bool preset = device.container == Container::kPresetFolder;
  const std::string file = preset ? device_name(naming.name) + kOpxyPresetSuffix : naming.name + " " + device.option + ".aif";
  // Beside the source, in its folder as the source names it ("kit.aif": none).
  naming.default_path = last_path_component(location) == location ? file : join_path(folder_of(location), file);
  PackTarget target = preset ? choose_preset_target("", options.output, naming)
                             : choose_pack_target("", options.output, options.replace, naming);
  const std::string here = real_path(target.path);
  if (target.refusal.empty() && !here.empty() && here == real_path(location)) {
    target.refusal = "Could not write [" + target.path + "]: it is the source";
  }
  return target;
}

// --trim: each recording's silence left out, and the total of what is left.
bool trim_recordings(PackJob& job) {
  job.total_seconds = 0.0;
  for (std::int32_t slot = 0; slot < job.sample_count; ++slot) {
    SampleRecord& record = *job.samples[static_cast<std::size_t>(slot)];
    if (int error = trim_silence(record)) {
      std::printf("Could not read [%s]: %s\n", record.path.c_str(), error_text(error).c_str());
      return false;
    }
    job.total_seconds += static_cast<double>(record.data_bytes) / static_cast<double>(record.byte_rate);
  }
  return true;
}

int run_stages(PackJob& job, const RunOptions& options, const RunSettings& settings, SourceKind source) {
  // Where the pack goes, and whether it may: checked before any work.
  PackTarget target;
  const bool preset = device_facts(job.device).container == Container::kPresetFolder;
  if (settings.pack_instead.empty()) {
    target = source != SourceKind::kNone ? choose_source_target(job, options, source)
             : preset                    ? choose_preset_target(job.directory, options.output)
                                         : choose_pack_target(job.directory, options.output, options.replace);
    if (!target.refusal.empty()) {
      std::printf("%s\n", target.refusal.c_str());
      return kExitNoPack;
    }
  } else {
    target.path = settings.pack_instead;
  }
  KeyMap keys;
  if (source != SourceKind::kNone) {
    if (int status = take_source_kit(job, job.directory, source, &keys); status != kExitPackWritten) return status;
  } else {
    scan_directory(job);
  }
  if (job.read_failed) return kExitNoPack;
  if (job.slice_hits && !cut_into_hits(job)) return kExitNoPack;
  if (job.trim_silence && !trim_recordings(job)) return kExitNoPack;
  if (job.sample_count > 0) {
    if (!check_pack_room(job) || !plan_and_render(job)) return kExitNoPack;
  }
  if (job.device != Device::kPo33 && source == SourceKind::kNone) build_key_map(job, keys);
  if (job.sample_count == 0) {
    if (source != SourceKind::kNone) {
      std::printf("No key of [%s] plays a sound\n", job.directory.c_str());
    } else {
      std::printf("No WAV files found\n");
    }
    return kExitNoPack;
  }
  if (!target.new_folder.empty()) {
    if (int error = create_folder(target.new_folder)) {
      std::printf("Could not write [%s]: %s\n", target.path.c_str(), error_text(error).c_str());
      return kExitNoPack;
    }
  }
  if (preset) {
    std::vector<std::string> removed;
    if (!write_opxy_preset(job, keys, target.path, &removed)) return kExitNoPack;
    for (const std::string& file : removed) std::printf("Removed [%s]\n", file.c_str());
    if (settings.pack_instead.empty()) std::printf("Wrote %s\n", target.path.c_str());
    return kExitPackWritten;
  }
  ReplaceSettings writing = settings.writing;
  writing.displaced = target.displaced;
  if (!write_aiff_pack(job, keys, target.path, writing)) return kExitNoPack;
  std::int64_t pack_bytes = 0;
  if (target.in_slot) {
    SystemFile written;
    FileIdentity identity;
    if (open_regular_file(target.path, &written, &identity) == 0) pack_bytes = identity.size;
  }
  for (const std::string& line : target_lines(target, !options.output.empty() || source != SourceKind::kNone, pack_bytes)) {
    std::printf("%s\n", line.c_str());
  }
  // A folder's own samplepack.aif goes without saying; any other target is named.
  const bool named = !options.output.empty() || (source != SourceKind::kNone && settings.pack_instead.empty());
  if (named) std::printf("Wrote %s\n", target.path.c_str());
  return kExitPackWritten;
}

}  // namespace

std::string trim_directory_argument(std::string_view argument) {
  if (!argument.empty() && is_path_separator(argument.back())) argument.remove_suffix(1);
  return std::string(argument);
}

ModeChoice detect_mode(std::string_view directory) {
  ModeChoice mode;
  if (!has_po33_tag(directory)) return mode;
  // The length is read from the last two characters, or from the last one
  // alone when the one before it is the tag's full stop.
  std::size_t digits = directory[directory.size() - 2] == '.' ? 1 : 2;
  std::int32_t seconds = read_leading_int(directory.substr(directory.size() - digits));
  mode.device = Device::kPo33;
  mode.max_pack_seconds = (seconds < 1 || seconds > kPo33MaxSeconds) ? kPo33MaxSeconds : seconds;
  return mode;
}

int run_kitweaver(int argc, const char* const* argv, const RunSettings& settings) {
  std::printf("%s\n", kVersionLine);
  RunOptions options;
  const Request request = parse_arguments(argc, argv, &options);
  if (request == Request::kVersion) return kExitPackWritten;
  if (request != Request::kRun) {
    print_usage();
    if (request == Request::kHelp) std::fputs(kHelpText, stdout);
    std::printf("\n");
    return request == Request::kHelp ? kExitPackWritten : kExitUsage;
  }

  PackJob job;
  int status = kExitNoPack;
  try {
    job.directory = trim_directory_argument(options.directory);
    // A pack or a preset is a source kit; only a folder of recordings is
    // named for the PO-33.
    const SourceKind source = source_kind(job.directory);
    ModeChoice mode = source == SourceKind::kNone ? detect_mode(job.directory) : ModeChoice{};
    if (mode.device == Device::kPo33 && options.device && *options.device != Device::kOp1) {
      // A PO-33 kit is played into the device, not loaded: no other kit.
      std::printf("Option [%s] makes %s; a PO-33 folder makes a PO-33 pack\n", options.device_word.c_str(),
                  *options.device == Device::kField ? "an OP-1 field kit" : "an OP-XY preset");
      print_usage();
      std::printf("\n");
      return kExitUsage;
    }
    job.device = options.device && mode.device != Device::kPo33 ? *options.device : mode.device;
    job.max_pack_seconds = job.device == mode.device ? mode.max_pack_seconds : device_facts(job.device).pack_seconds;
    if (source != SourceKind::kNone && (options.sort || options.trim || options.slice)) {
      // A source kit's keys are its own: nothing is ordered, trimmed or cut.
      std::printf("Option [%s] is for a folder of recordings, not a pack or a preset\n",
                  options.sort ? "--sort" : options.trim ? "--trim" : "--slice");
      print_usage();
      std::printf("\n");
      return kExitUsage;
    }
    job.sort_by_name = options.sort;
    job.trim_silence = options.trim;
    job.slice_hits = options.slice;
    job.band_limited = options.band_limited;
    job.reading = settings.reading;
    const DeviceFacts& device = device_facts(job.device);
    if (job.device == Device::kPo33) {
      std::printf("\n%s mode; max. pack length %.1fs, inserting %.1fs pause between samples\n", device.name,
                  job.max_pack_seconds, static_cast<double>(kPo33GapSeconds));
    } else {
      std::printf("\n%s mode; max. %s length %.1fs\n", device.name, device.per_sample ? "sample" : "pack",
                  job.max_pack_seconds);
    }
    if (job.band_limited) std::printf("High-quality resampling\n");
    std::printf("\n");
    status = run_stages(job, options, settings, source);
  } catch (const std::bad_alloc&) {
    std::printf("Out of memory\n");
    status = kExitNoPack;
  }
  release_pack_job(job);
  std::printf("\n");
  return status;
}

}  // namespace kitweaver
