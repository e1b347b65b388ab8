// kitweaver-inspect: prints the key table of a drum pack, draws it, plays its
// keys into a WAV file, takes its slices out as WAV files and changes keys.
#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "intake/aiff_reader.h"
#include "kitweaver/version.h"
#include "system/file_replace.h"
#include "system/files.h"
#include "viewer/disk_library.h"
#include "viewer/key_edit.h"
#include "viewer/pack_reader.h"
#include "viewer/playback.h"
#include "viewer/preset_reader.h"
#include "viewer/preset_report.h"
#include "viewer/report.h"
#include "viewer/wav_output.h"

namespace {

const char kSynopsis[] =
    "Usage: kitweaver-inspect [--json] [--svg FILE] PACK.aif\n"
    "       kitweaver-inspect PACK.aif --audition OUT.wav [--keys LIST]\n"
    "       kitweaver-inspect PACK.aif --extract DIR [--raw]\n"
    "       kitweaver-inspect --set KEYS:FIELD=VALUE[,FIELD=VALUE...] [--set ...] [-o OUT] PACK.aif\n"
    "       kitweaver-inspect --rescale [-o OUT] PACK.aif\n"
    "       kitweaver-inspect [--json] DISK\n"
    "       kitweaver-inspect --rescale DISK\n"
    "       kitweaver-inspect [--json] NAME.preset\n"
    "       kitweaver-inspect NAME.preset --audition OUT.wav [--keys LIST]\n"
    "       kitweaver-inspect NAME.preset --extract DIR [--raw]\n"
    "Prints the pack's form and a table of its 24 keys: slice start and end, length,\n"
    "pitch, direction and play mode, and which distinct slice each key plays.\n"
    "Given a device's disk (a folder with samplepacks/ for an OP-Z, drum/ for an\n"
    "OP-1), prints its library: every slot's or folder's packs, what the device\n"
    "will meet when it imports them, and the last import's rejections.\n"
    "Given an OP-XY preset (its folder or its patch.json), prints its regions by pad\n"
    "and every problem the device would meet; --keys then names pads 0-23.\n";

// What a run does with the pack, as the options given and the path make it.
enum Mode : unsigned {
  kTable = 1u << 0,     // prints the key table: none of --audition, --extract, --set, --rescale
  kJson = 1u << 1,
  kSvg = 1u << 2,
  kAudition = 1u << 3,
  kExtract = 1u << 4,
  kSet = 1u << 5,
  kRescale = 1u << 6,
  kDisk = 1u << 7,      // the path is a device's disk
  kPreset = 1u << 8,    // the path is an OP-XY preset
};
constexpr int kModeCount = 9;
constexpr const char* kModeNames[kModeCount] = {"the key table", "--json", "--svg", "--audition",
                                                "--extract", "--set", "--rescale", "a DISK", "a PRESET"};
// The kinds of path that take only some options.
constexpr unsigned kPlaces = kDisk | kPreset;

// The options, in the order of the usage text; the parser, the check of
// which options go together and the usage text all read this table.
enum OptionId { kJsonOption, kSvgOption, kAuditionOption, kKeysOption, kExtractOption, kRawOption,
                kSetOption, kRescaleOption, kOutputOption, kHelpOption, kVersionOption, kOptionCount };

struct InspectOption {
  const char* name;        // "--keys"
  const char* short_name;  // "-o", or null
  const char* value;       // the value's word in the usage ("LIST"), or null for none
  // An option with a mode of its own (`mode`) goes with the other modes in
  // `goes_with`, and with no other. An option without one (`mode` 0)
  // applies to the modes in `goes_with`: the run must have one of them. A
  // DISK or a PRESET goes only with the options whose `goes_with` names it.
  unsigned mode;
  unsigned goes_with;
  const char* help;        // its lines in the usage, the later ones indented
};

constexpr InspectOption kOptions[kOptionCount] = {
    {"--json", nullptr, nullptr, kJson, kTable | kSvg | kAudition | kExtract | kDisk | kPreset,
     "print the table as JSON instead\n"},
    {"--svg", nullptr, "FILE", kSvg, kTable | kJson | kAudition | kExtract,
     "also draw the pack's waveform and slices into FILE\n"},
    {"--audition", nullptr, "FILE", kAudition, kJson | kSvg | kExtract | kPreset,
     "write the keys as the device plays them, one after another\n"
     "                    with 0.25 s between them, into FILE (WAV, 44.1 kHz, 16-bit, the\n"
     "                    channels of the pack) instead of printing the table; an\n"
     "                    existing file is never replaced\n"},
    {"--keys", nullptr, "LIST", 0, kAudition | kPreset, "audition only these keys, in this order (e.g. 0,3,7-9)\n"},
    {"--extract", nullptr, "DIR", kExtract, kJson | kSvg | kAudition | kPreset,
     "write every distinct slice once into DIR as a WAV file named\n"
     "                    by its keys and play mode (\"03 keys 2 9 16 23 Oneshot.wav\"),\n"
     "                    sounding as its first forwards key plays it; an existing\n"
     "                    file stops it before anything is written\n"},
    {"--raw", nullptr, nullptr, 0, kExtract | kPreset, "extract the frames as stored in the pack instead\n"},
    {"--set", nullptr, "KEYS:FIELD=VALUE[,FIELD=VALUE...]", kSet, 0,
     "change keys: KEYS is a key 0-23, a range such as 12-23,\n"
     "                    or all; FIELD is pitch (semitones, -96 to +96, as +3 or\n"
     "                    -2.5: pitch=+3 sets the pitch to +3; pitch+=2.5 and\n"
     "                    pitch-=2.5 raise and lower it), direction (forwards,\n"
     "                    reversed), mode (plain, one-shot, loop), start or end\n"
     "                    (frames, as the table shows them). Several --set apply\n"
     "                    in order; the pack is replaced, or written to OUT with -o\n"
     "                    (into OUT under the pack's own name when OUT is a folder)\n"},
    {"--rescale", nullptr, nullptr, kRescale, kDisk,
     "rewrite a pack whose positions are at 4056 per frame (older\n"
     "                    tools' scale) in the devices' scale; the pack is replaced,\n"
     "                    or written to OUT with -o. A pack already on the devices'\n"
     "                    scale is left as it is. --rescale DISK rewrites every such\n"
     "                    pack on the disk, one line each, then counts them\n"},
    {"--output", "-o", "OUT", 0, kSet | kRescale,
     "where --set and --rescale write the changed pack; an existing\n"
     "                    OUT that is not a drum pack is never replaced\n"},
    {"--help", "-h", nullptr, 0, 0, "print this text\n"},
    {"--version", nullptr, nullptr, 0, 0, "print the version\n"},
};

// The synopsis, then one entry per option of the table.
std::string usage() {
  std::string text = kSynopsis;
  for (const InspectOption& option : kOptions) {
    std::string label = option.short_name != nullptr ? std::string(option.short_name) + ", " + option.name : option.name;
    if (option.value != nullptr) label += std::string(" ") + option.value;
    constexpr std::size_t kLabelWidth = 16;
    text += "  " + label;
    text += label.size() <= kLabelWidth ? std::string(kLabelWidth + 2 - label.size(), ' ') : "\n" + std::string(20, ' ');
    text += option.help;
  }
  return text;
}

// The names of the modes in `modes`: "--set or --rescale".
std::string mode_names(unsigned modes) {
  std::vector<const char*> names;
  for (int m = 0; m < kModeCount; ++m) {
    if ((modes & (1u << m)) != 0) names.push_back(kModeNames[m]);
  }
  std::string text;
  for (std::size_t i = 0; i < names.size(); ++i) {
    text += (i == 0 ? "" : i + 1 == names.size() ? " or " : ", ") + std::string(names[i]);
  }
  return text;
}

// What the options given make of a run, as far as the path is no disk.
unsigned run_modes(const std::array<bool, kOptionCount>& given) {
  unsigned modes = 0;
  for (int o = 0; o < kOptionCount; ++o) {
    if (given[static_cast<std::size_t>(o)]) modes |= kOptions[o].mode;
  }
  if ((modes & (kAudition | kExtract | kSet | kRescale)) == 0) modes |= kTable;
  return modes;
}

// Whether the options given, in the order given, go with the run's modes:
// an empty text, or the line saying what goes with what.
std::string check_combination(const std::vector<OptionId>& order, const std::vector<std::string>& typed, unsigned modes) {
  for (std::size_t i = 0; i < order.size(); ++i) {
    const InspectOption& option = kOptions[order[i]];
    if (option.mode == 0) {
      if ((modes & option.goes_with & ~kPlaces) == 0) return typed[i] + " goes with " + mode_names(option.goes_with & ~kPlaces);
      if (const unsigned place = modes & kPlaces & ~option.goes_with; place != 0) {
        return typed[i] + " does not go with " + mode_names(place);
      }
      continue;
    }
    const unsigned others = modes & ~option.mode & ~option.goes_with;
    if (others != 0) return typed[i] + " does not go with " + mode_names(others & (~others + 1));
  }
  return "";
}

// Takes the value of an option given as "--name VALUE" or "--name=VALUE".
bool option_value(int argc, char** argv, int* i, const char* name, const char** value) {
  const std::size_t length = std::strlen(name);
  if (std::strcmp(argv[*i], name) == 0 && *i + 1 < argc) {
    *value = argv[++*i];
    return true;
  }
  if (std::strncmp(argv[*i], name, length) == 0 && argv[*i][length] == '=') {
    *value = argv[*i] + length + 1;
    return true;
  }
  return false;
}

// Which option of the table argv[*i] is (taking its value, if it has one),
// with the name as typed; kOptionCount for none.
OptionId read_option(int argc, char** argv, int* i, const char** value, std::string* typed) {
  for (int o = 0; o < kOptionCount; ++o) {
    const InspectOption& option = kOptions[o];
    for (const char* name : {option.name, option.short_name}) {
      if (name == nullptr) continue;
      const bool matched = option.value != nullptr ? option_value(argc, argv, i, name, value)
                                                   : std::strcmp(argv[*i], name) == 0;
      if (!matched) continue;
      *typed = name;
      return static_cast<OptionId>(o);
    }
  }
  return kOptionCount;
}

int fail(const std::string& line, int status = 1) {
  std::fprintf(stderr, "kitweaver-inspect: %s\n", line.c_str());
  return status;
}

// Where a changed pack goes: `output` (into it under the pack's name when it
// is a folder), or over the pack.
std::string target_of(const char* pack_path, const char* output) {
  if (output == nullptr) return pack_path;
  return kitweaver::output_path(output, kitweaver::last_path_component(pack_path));
}

// -o never replaces a file that is not a drum pack (a recording, a synth
// sample, a document given by mistake): an empty text, or the line.
std::string refuse_other_file(const std::string& target) {
  if (!kitweaver::entry_exists(target) || kitweaver::is_drum_pack_file(target)) return "";
  return "Could not write [" + target + "]: it is not a drum pack";
}

// Applies every --set in order to the pack and writes the result. Bad edits
// exit 2, a file that is not a pack or can't be written 1; nothing is
// written then.
int change_keys(const char* pack_path, const std::vector<const char*>& sets, const char* output) {
  std::vector<kitweaver::inspect::KeyEdit> edits;
  for (const char* set : sets) {
    if (std::string error = kitweaver::inspect::parse_key_edits(set, &edits); !error.empty()) return fail(error, 2);
  }
  const std::string target = target_of(pack_path, output);
  std::string error = output != nullptr ? refuse_other_file(target) : "";
  if (!error.empty()) return fail(error);
  if (int status = kitweaver::inspect::edit_pack_file(pack_path, edits, target, &error)) return fail(error, status);
  std::printf("Wrote %s\n", target.c_str());
  return 0;
}

// --rescale: one line, whether the pack was rewritten or not (`*rescaled`).
int rescale(const char* pack_path, const char* output, bool* rescaled) {
  const std::string target = target_of(pack_path, output);
  *rescaled = false;
  std::string error = output != nullptr ? refuse_other_file(target) : "";
  if (!error.empty()) return fail(error);
  if (int status = kitweaver::inspect::rescale_pack_file(pack_path, target, rescaled, &error)) return fail(error, status);
  if (*rescaled) {
    std::printf("Wrote %s: positions rescaled from 4056 per frame to the devices' scale\n", target.c_str());
  } else {
    std::printf("%s: positions already on the devices' scale; left as it is\n", pack_path);
  }
  return 0;
}

// A device's disk: its library, or --rescale of each of its drum packs,
// then how many were rewritten, were already on the devices' scale, and
// failed.
int show_disk(const char* disk, bool json, bool rescaling) {
  const kitweaver::inspect::Library library = kitweaver::inspect::read_library(disk);
  if (!rescaling) {
    std::fputs((json ? kitweaver::inspect::library_json(library) : kitweaver::inspect::library_table(library)).c_str(),
               stdout);
    return 0;
  }
  int rewritten = 0, kept = 0, failed = 0;
  for (const std::string& pack : kitweaver::inspect::library_drum_packs(library)) {
    bool rescaled = false;
    if (rescale(pack.c_str(), nullptr, &rescaled) != 0) {
      ++failed;
    } else {
      ++(rescaled ? rewritten : kept);
    }
  }
  std::fflush(stderr);
  std::printf("%d pack%s rewritten, %d already on the devices' scale, %d failed\n", rewritten,
              rewritten == 1 ? "" : "s", kept, failed);
  return failed > 0 ? 1 : 0;
}

double seconds(const kitweaver::inspect::Sound& sound) { return static_cast<double>(sound.frames()) / kitweaver::kPackRate; }

int write_audition(const kitweaver::inspect::Pack& pack, const char* path, const std::vector<int>& keys) {
  kitweaver::inspect::Sound sound;
  std::string error = kitweaver::inspect::audition(pack, keys, &sound);
  // An existing file is never replaced.
  if (error.empty()) error = kitweaver::inspect::write_wav(path, sound, false);
  if (!error.empty()) return fail(error);
  std::string listed;
  for (int key : keys) listed += " " + std::to_string(key);
  std::printf("%s: keys%s, %.3f s\n", path, listed.c_str(), seconds(sound));
  return 0;
}

// Writes the sounds into `dir`, none when one of their names is taken.
int write_sounds(const std::string& dir, const std::vector<kitweaver::inspect::ExtractedSlice>& slices) {
  std::string error;
  if (int made = kitweaver::create_folders(dir)) return fail(dir + ": cannot be made: " + kitweaver::error_text(made));
  for (const auto& slice : slices) {
    const std::string path = kitweaver::join_path(dir, slice.name);
    if (kitweaver::entry_exists(path)) return fail(path + " already exists; nothing was written");
  }
  for (const auto& slice : slices) {
    const std::string path = kitweaver::join_path(dir, slice.name);
    error = kitweaver::inspect::write_wav(path, slice.sound, false);
    if (!error.empty()) return fail(error);
    std::printf("%s: %.3f s\n", path.c_str(), seconds(slice.sound));
  }
  return 0;
}

int write_extraction(const kitweaver::inspect::Pack& pack, const std::string& dir, bool raw) {
  std::vector<kitweaver::inspect::ExtractedSlice> slices;
  std::string error = kitweaver::inspect::extract_slices(pack, raw, &slices);
  if (!error.empty()) return fail(error);
  return write_sounds(dir, slices);
}

// An OP-XY preset: its table (or JSON), or its pads auditioned or
// extracted. A preset that is none gets its line and status 1.
int show_preset(const char* path, bool json, const char* audition_path, const char* extract_dir, bool raw,
                const char* key_list) {
  std::vector<int> pads;
  if (key_list != nullptr) {
    if (std::string error = kitweaver::inspect::parse_key_list(key_list, &pads); !error.empty()) return fail(error);
  } else {
    for (int pad = 0; pad < kitweaver::kOpxyPadCount; ++pad) pads.push_back(pad);
  }
  kitweaver::inspect::Preset preset;
  if (std::string error = kitweaver::inspect::read_preset(path, &preset); !error.empty()) return fail(error);
  if (audition_path != nullptr) {
    kitweaver::inspect::Sound sound;
    std::string error = kitweaver::inspect::preset_audition(preset, pads, &sound);
    if (error.empty()) error = kitweaver::inspect::write_wav(audition_path, sound, false);
    if (!error.empty()) return fail(error);
    std::string listed;
    for (int pad : pads) listed += " " + std::to_string(pad);
    std::printf("%s: pads%s, %.3f s\n", audition_path, listed.c_str(), seconds(sound));
  }
  if (extract_dir != nullptr) {
    std::vector<kitweaver::inspect::ExtractedSlice> sounds;
    if (std::string error = kitweaver::inspect::extract_pads(preset, raw, &sounds); !error.empty()) return fail(error);
    if (write_sounds(extract_dir, sounds) != 0) return 1;
  }
  if (audition_path == nullptr && extract_dir == nullptr) {
    std::fputs((json ? kitweaver::inspect::preset_json_report(preset) : kitweaver::inspect::preset_text_report(preset)).c_str(),
               stdout);
  }
  return 0;
}

}  // namespace

int main(int system_argc, char** system_argv) {
  kitweaver::prepare_output();
  kitweaver::install_interrupt_cleanup();
  // The arguments as UTF-8, whatever the system passes them as.
  std::vector<std::string> arguments = kitweaver::program_arguments(system_argc, system_argv);
  std::vector<char*> words;
  for (std::string& argument : arguments) words.push_back(argument.data());
  words.push_back(nullptr);
  const int argc = static_cast<int>(arguments.size());
  char** argv = words.data();
  const char* pack_path = nullptr;
  // Every option's last value (--set: each value, in order), whether it was
  // given, and the options in the order given, as typed.
  std::array<const char*, kOptionCount> values{};
  std::array<bool, kOptionCount> given{};
  std::vector<const char*> sets;
  std::vector<OptionId> order;
  std::vector<std::string> typed;
  for (int i = 1; i < argc; ++i) {
    const char* value = nullptr;
    std::string name;
    const OptionId id = read_option(argc, argv, &i, &value, &name);
    if (id == kHelpOption) {
      std::fputs(usage().c_str(), stdout);
      return 0;
    }
    if (id == kVersionOption) {
      std::printf("%s\n", kitweaver::kVersionLine);
      return 0;
    }
    if (id != kOptionCount) {
      if (!given[id]) order.push_back(id), typed.push_back(name);
      given[id] = true;
      values[id] = value;
      if (id == kSetOption) sets.push_back(value);
    } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
      std::fprintf(stderr, "kitweaver-inspect: unknown option %s\n%s", argv[i], usage().c_str());
      return 2;
    } else if (pack_path == nullptr) {
      pack_path = argv[i];
    } else {
      std::fprintf(stderr, "kitweaver-inspect: one pack at a time\n%s", usage().c_str());
      return 2;
    }
  }
  if (pack_path == nullptr) {
    std::fputs(usage().c_str(), stderr);
    return 2;
  }
  const unsigned modes = run_modes(given);
  if (std::string error = check_combination(order, typed, modes); !error.empty()) return fail(error, 2);
  const bool json = given[kJsonOption], rescaling = given[kRescaleOption];
  const char* output = values[kOutputOption];
  // A folder holding a patch.json is an OP-XY preset, not a disk.
  if (kitweaver::inspect::names_preset(pack_path)) {
    if (std::string error = check_combination(order, typed, modes | kPreset); !error.empty()) return fail(error, 2);
    return show_preset(pack_path, json, values[kAuditionOption], values[kExtractOption], given[kRawOption],
                       values[kKeysOption]);
  }
  if (kitweaver::is_folder(pack_path)) {
    if (kitweaver::inspect::disk_kind(pack_path) == kitweaver::DiskKind::kNone) {
      return fail(std::string(pack_path) + ": not a device's disk (it has no samplepacks or drum folder)");
    }
    if (std::string error = check_combination(order, typed, modes | kDisk); !error.empty()) return fail(error, 2);
    return show_disk(pack_path, json, rescaling);
  }
  if (!sets.empty()) return change_keys(pack_path, sets, output);
  if (rescaling) {
    bool rescaled = false;
    return rescale(pack_path, output, &rescaled);
  }
  const char* svg_path = values[kSvgOption];
  const char* audition_path = values[kAuditionOption];
  const char* extract_dir = values[kExtractOption];
  std::vector<int> keys;
  if (const char* key_list = values[kKeysOption]; key_list != nullptr) {
    const std::string error = kitweaver::inspect::parse_key_list(key_list, &keys);
    if (!error.empty()) return fail(error);
  } else {
    for (int k = 0; k < kitweaver::kSlotCount; ++k) keys.push_back(k);
  }

  std::vector<std::uint8_t> bytes;
  if (int failed = kitweaver::read_whole_file(pack_path, &bytes)) {
    return fail(std::string(pack_path) + ": cannot be read: " + kitweaver::error_text(failed));
  }
  kitweaver::inspect::Pack pack;
  const std::string error = kitweaver::inspect::read_pack(bytes, &pack);
  if (!error.empty()) return fail(std::string(pack_path) + ": " + error);
  if (audition_path != nullptr && write_audition(pack, audition_path, keys) != 0) return 1;
  if (extract_dir != nullptr && write_extraction(pack, extract_dir, given[kRawOption]) != 0) return 1;
  if (audition_path == nullptr && extract_dir == nullptr) {
    const std::string report = json ? kitweaver::inspect::json_report(pack) : kitweaver::inspect::text_report(pack);
    std::fputs(report.c_str(), stdout);
  }
  if (svg_path != nullptr) {
    if (int failed = kitweaver::replace_text_file(svg_path, kitweaver::inspect::svg_picture(pack))) {
      return fail(std::string(svg_path) + ": cannot be written: " + kitweaver::error_text(failed));
    }
  }
  return 0;
}
