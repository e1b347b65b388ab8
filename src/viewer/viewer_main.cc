// kitweaver-inspect: prints the key table of a drum pack, draws it, plays its
// keys into a WAV file, takes its slices out as WAV files and changes keys.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "system/file_replace.h"
#include "system/files.h"
#include "viewer/disk_library.h"
#include "viewer/key_edit.h"
#include "viewer/pack_reader.h"
#include "viewer/playback.h"
#include "viewer/report.h"
#include "viewer/wav_output.h"

namespace {

const char kUsage[] =
    "Usage: kitweaver-inspect [--json] [--svg FILE] PACK.aif\n"
    "       kitweaver-inspect PACK.aif --audition OUT.wav [--keys LIST]\n"
    "       kitweaver-inspect PACK.aif --extract DIR [--raw]\n"
    "       kitweaver-inspect --set KEYS:FIELD=VALUE[,FIELD=VALUE...] [--set ...] [-o OUT] PACK.aif\n"
    "       kitweaver-inspect --rescale [-o OUT] PACK.aif\n"
    "       kitweaver-inspect [--json] DISK\n"
    "       kitweaver-inspect --rescale DISK\n"
    "Prints the pack's form and a table of its 24 keys: slice start and end, length,\n"
    "pitch, direction and play mode, and which distinct slice each key plays.\n"
    "Given a device's disk (a folder with samplepacks/ for an OP-Z, drum/ for an\n"
    "OP-1), prints its library: every slot's or folder's packs, what the device\n"
    "will meet when it imports them, and the last import's rejections.\n"
    "  --json            print the table as JSON instead\n"
    "  --svg FILE        also draw the pack's waveform and slices into FILE\n"
    "  --audition FILE   write the keys as the device plays them, one after another\n"
    "                    with 0.25 s between them, into FILE (WAV, 44.1 kHz, 16-bit, the\n"
    "                    channels of the pack) instead of printing the table\n"
    "  --keys LIST       audition only these keys, in this order (e.g. 0,3,7-9)\n"
    "  --extract DIR     write every distinct slice once into DIR as a WAV file named\n"
    "                    by its keys and play mode (\"03 keys 2 9 16 23 Oneshot.wav\"),\n"
    "                    sounding as its first forwards key plays it; an existing\n"
    "                    file stops it before anything is written\n"
    "  --raw             extract the frames as stored in the pack instead\n"
    "  --set KEYS:FIELD=VALUE[,FIELD=VALUE...]\n"
    "                    change keys: KEYS is a key 0-23, a range such as 12-23,\n"
    "                    or all; FIELD is pitch (semitones, -96 to +96, as +3 or\n"
    "                    -2.5), direction (forwards, reversed), mode (plain,\n"
    "                    one-shot, loop), start or end (frames, as the table\n"
    "                    shows them). Several --set apply in order; the pack is\n"
    "                    replaced, or written to OUT with -o (into OUT under the\n"
    "                    pack's own name when OUT is a folder)\n"
    "  --rescale         rewrite a pack whose positions are at 4056 per frame (older\n"
    "                    tools' scale) in the devices' scale; the pack is replaced,\n"
    "                    or written to OUT with -o. A pack already on the devices'\n"
    "                    scale is left as it is. --rescale DISK rewrites every such\n"
    "                    pack on the disk, one line each\n"
    "  -o, --output OUT  where --set and --rescale write the changed pack\n"
    "  --help            print this text\n";

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

int fail(const std::string& line, int status = 1) {
  std::fprintf(stderr, "kitweaver-inspect: %s\n", line.c_str());
  return status;
}

// Where a changed pack goes: `output` (into it under the pack's name when it
// is a folder), or over the pack.
std::string target_of(const char* pack_path, const char* output) {
  std::string target = output != nullptr ? output : pack_path;
  std::error_code ignored;
  if (output != nullptr && std::filesystem::is_directory(output, ignored)) {
    target = (std::filesystem::path(output) / std::filesystem::path(pack_path).filename()).string();
  }
  return target;
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
  std::string error;
  if (int status = kitweaver::inspect::edit_pack_file(pack_path, edits, target, &error)) return fail(error, status);
  std::printf("Wrote %s\n", target.c_str());
  return 0;
}

// --rescale: one line, whether the pack was rewritten or not.
int rescale(const char* pack_path, const char* output) {
  const std::string target = target_of(pack_path, output);
  bool rescaled = false;
  std::string error;
  if (int status = kitweaver::inspect::rescale_pack_file(pack_path, target, &rescaled, &error)) return fail(error, status);
  if (rescaled) {
    std::printf("Wrote %s: positions rescaled from 4056 per frame to the devices' scale\n", target.c_str());
  } else {
    std::printf("%s: positions already on the devices' scale; left as it is\n", pack_path);
  }
  return 0;
}

// A device's disk: its library, or --rescale of each of its drum packs.
int show_disk(const char* disk, bool json, bool rescaling) {
  const kitweaver::inspect::Library library = kitweaver::inspect::read_library(disk);
  if (!rescaling) {
    std::fputs((json ? kitweaver::inspect::library_json(library) : kitweaver::inspect::library_table(library)).c_str(),
               stdout);
    return 0;
  }
  int status = 0;
  for (const std::string& pack : kitweaver::inspect::library_drum_packs(library)) {
    if (rescale(pack.c_str(), nullptr) != 0) status = 1;
  }
  return status;
}

double seconds(const kitweaver::inspect::Sound& sound) { return static_cast<double>(sound.frames()) / kitweaver::kPackRate; }

int write_audition(const kitweaver::inspect::Pack& pack, const char* path, const std::vector<int>& keys) {
  kitweaver::inspect::Sound sound;
  std::string error = kitweaver::inspect::audition(pack, keys, &sound);
  if (error.empty()) error = kitweaver::inspect::write_wav(path, sound, true);
  if (!error.empty()) return fail(error);
  std::string listed;
  for (int key : keys) listed += " " + std::to_string(key);
  std::printf("%s: keys%s, %.3f s\n", path, listed.c_str(), seconds(sound));
  return 0;
}

int write_extraction(const kitweaver::inspect::Pack& pack, const std::string& dir, bool raw) {
  std::vector<kitweaver::inspect::ExtractedSlice> slices;
  std::string error = kitweaver::inspect::extract_slices(pack, raw, &slices);
  if (!error.empty()) return fail(error);
  std::error_code made;
  std::filesystem::create_directories(dir, made);
  if (made) return fail(dir + ": cannot be made: " + made.message());
  for (const auto& slice : slices) {
    const std::string path = dir + "/" + slice.name;
    std::error_code ignored;
    if (std::filesystem::exists(std::filesystem::symlink_status(path, ignored))) {
      return fail(path + " already exists; nothing was written");
    }
  }
  for (const auto& slice : slices) {
    const std::string path = dir + "/" + slice.name;
    error = kitweaver::inspect::write_wav(path, slice.sound, false);
    if (!error.empty()) return fail(error);
    std::printf("%s: %.3f s\n", path.c_str(), seconds(slice.sound));
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
  const char* svg_path = nullptr;
  const char* audition_path = nullptr;
  const char* key_list = nullptr;
  const char* extract_dir = nullptr;
  const char* output = nullptr;
  std::vector<const char*> sets;
  bool json = false;
  bool raw = false;
  bool rescaling = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (std::strcmp(argv[i], "--json") == 0) {
      json = true;
    } else if (std::strcmp(argv[i], "--raw") == 0) {
      raw = true;
    } else if (std::strcmp(argv[i], "--rescale") == 0) {
      rescaling = true;
    } else if (const char* set = nullptr; option_value(argc, argv, &i, "--set", &set)) {
      sets.push_back(set);
    } else if (option_value(argc, argv, &i, "-o", &output) || option_value(argc, argv, &i, "--output", &output) ||
               option_value(argc, argv, &i, "--svg", &svg_path) ||
               option_value(argc, argv, &i, "--audition", &audition_path) ||
               option_value(argc, argv, &i, "--keys", &key_list) ||
               option_value(argc, argv, &i, "--extract", &extract_dir)) {
      continue;
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
  const bool other_modes = json || raw || svg_path != nullptr || audition_path != nullptr || extract_dir != nullptr ||
                           key_list != nullptr;
  if (pack_path == nullptr || (key_list != nullptr && audition_path == nullptr) || (raw && extract_dir == nullptr) ||
      (output != nullptr && sets.empty() && !rescaling) || (!sets.empty() && (other_modes || rescaling)) ||
      (rescaling && other_modes)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  if (kitweaver::is_folder(pack_path)) {
    if (kitweaver::inspect::disk_kind(pack_path) == kitweaver::DiskKind::kNone) {
      return fail(std::string(pack_path) + ": not a device's disk (it has no samplepacks or drum folder)");
    }
    if (other_modes && !(json && !raw && svg_path == nullptr && audition_path == nullptr && extract_dir == nullptr &&
                         key_list == nullptr)) {
      std::fputs(kUsage, stderr);
      return 2;
    }
    if (!sets.empty() || output != nullptr) {
      std::fputs(kUsage, stderr);
      return 2;
    }
    return show_disk(pack_path, json, rescaling);
  }
  if (!sets.empty()) return change_keys(pack_path, sets, output);
  if (rescaling) return rescale(pack_path, output);
  std::vector<int> keys;
  if (key_list != nullptr) {
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
  if (extract_dir != nullptr && write_extraction(pack, extract_dir, raw) != 0) return 1;
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
