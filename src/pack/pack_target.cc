#include "pack/pack_target.h"

#include <array>

#include "format/byte_source.h"
#include "format/device_disk.h"
#include "format/opxy_preset.h"
#include "intake/aiff_reader.h"
#include "intake/wav_reader.h"
#include "system/files.h"

namespace kitweaver {
namespace {

constexpr char kPackFileName[] = "samplepack.aif";

// Whether `folder` holds an OP-XY drum preset: a patch.json of one.
bool is_drum_preset(const std::string& folder) {
  std::vector<std::uint8_t> bytes;
  if (read_whole_file(join_path(folder, kOpxyPatchFile), &bytes) != 0) return false;
  std::vector<PresetRegion> regions;
  return read_preset_json(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), &regions).empty();
}

// One component of a path: where it starts and ends.
struct Part {
  std::size_t start = 0;
  std::size_t end = 0;
};

std::vector<Part> parts_of(const std::string& path) {
  std::vector<Part> parts;
  for (std::size_t at = 0; at < path.size();) {
    while (at < path.size() && is_path_separator(path[at])) ++at;
    const std::size_t start = at;
    while (at < path.size() && !is_path_separator(path[at])) ++at;
    if (at > start) parts.push_back({start, at});
  }
  return parts;
}

bool all_digits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// The slot a number names, 1 to 10; 0 for any other number.
int slot_number(std::string_view digits) {
  int value = 0;
  for (char c : digits) {
    value = value * 10 + (c - '0');
    if (value > kOpzSlots) return 0;
  }
  return value;
}

std::string two_digits(int slot) { return std::string(1, static_cast<char>('0' + slot / 10)) + static_cast<char>('0' + slot % 10); }

// Whether `folder` is an OP-Z's samplepacks/: named so, whatever the case,
// and holding one of the track folders.
bool is_packs_folder(const std::string& folder, std::string_view name) {
  if (!same_name(name, kOpzPacksFolder) || !is_folder(folder)) return false;
  for (const OpzTrack& track : kOpzTracks) {
    if (!disk_folder(folder, track.name).empty()) return true;
  }
  return false;
}

// Whether `folder` is the root of an OP-Z's disk.
bool is_opz_root(const std::string& folder) {
  const std::string packs = disk_folder(folder, kOpzPacksFolder);
  return !packs.empty() && is_packs_folder(join_path(folder, packs), packs);
}

// The line that refuses a pack outside every slot of the disk at `root`
// (its samplepacks/ named `packs`).
std::string outside_slots(const std::string& target, const std::string& root, const std::string& packs) {
  std::string others;
  for (std::size_t t = 1; t < kOpzTracks.size(); ++t) {
    if (kOpzTracks[t].drums) others += std::string(others.empty() ? "" : ", ") + kOpzTracks[t].name;
  }
  return "Could not write [" + target + "]: the OP-Z imports drum packs only from its slot folders, " +
         join_path(join_path(join_path(root, packs), kOpzTracks[0].name), "01") + " to 10 (and those of " + others +
         ")";
}

// The packs a slot folder holds, by name.
std::vector<std::string> packs_in(const std::string& slot_folder) {
  std::vector<std::string> packs = disk_entries(slot_folder);
  std::erase_if(packs, [](const std::string& entry) { return !is_pack_name(entry); });
  return packs;
}

// The first slot of a drum track that holds no pack, this track's first.
std::string free_slot(const std::string& packs_folder, int track) {
  std::vector<int> order = {track};
  for (int t = 0; t < static_cast<int>(kOpzTracks.size()); ++t) {
    if (t != track && kOpzTracks[static_cast<std::size_t>(t)].drums) order.push_back(t);
  }
  for (int t : order) {
    const char* name = kOpzTracks[static_cast<std::size_t>(t)].name;
    const std::string found = disk_folder(packs_folder, name);
    const std::string track_folder = join_path(packs_folder, found.empty() ? name : found);
    for (int slot = 1; slot <= kOpzSlots; ++slot) {
      const std::string folder = join_path(track_folder, two_digits(slot));
      const std::string held = disk_folder(track_folder, two_digits(slot));
      if (held.empty() || packs_in(join_path(track_folder, held)).empty()) return folder;
    }
  }
  return "";
}

std::int64_t size_of(const std::string& path) {
  SystemFile file;
  FileIdentity identity;
  return open_regular_file(path, &file, &identity) == 0 ? identity.size : 0;
}

// The slot rules, for a pack named `name` in slot `slot` of `track`.
void check_slot(PackTarget& target, const std::string& root, const std::string& packs_folder, int track,
                const std::string& slot_folder, const std::string& name, bool replace) {
  target.in_slot = true;
  const OpzTrack& rules = kOpzTracks[static_cast<std::size_t>(track)];
  if (!rules.drums) {
    std::string drums;
    for (const OpzTrack& t : kOpzTracks) {
      if (t.drums) drums += std::string(drums.empty() ? "" : ", ") + t.name;
    }
    target.refusal = "Slot [" + slot_folder + "] is on the synth track " + rules.name +
                     ", which takes synth samples, not drum packs; the drum tracks are " + drums;
    return;
  }
  target.path = join_path(slot_folder, name);
  if (!is_folder(slot_folder)) {
    target.new_folder = slot_folder;
  } else {
    const std::vector<std::string> packs = packs_in(slot_folder);
    if (packs.size() >= kOpzPacksPerSlot && !replace) {
      std::string held;
      for (const std::string& pack : packs) held += (held.empty() ? "[" : ", [") + pack + "]";
      const std::string free = free_slot(packs_folder, track);
      target.refusal = "Slot [" + slot_folder + "] already holds " + held +
                       ": the OP-Z imports one sample pack per slot (--replace swaps it); " +
                       (free.empty() ? std::string("every slot of the drum tracks holds a pack")
                                     : "[" + free + "] is free");
      return;
    }
    for (const std::string& pack : packs) {
      // A pack of the kit's own name (whatever its case) is replaced under it.
      const std::string path = join_path(slot_folder, pack);
      const std::int64_t bytes = size_of(path);
      target.replaced_bytes += bytes;
      if (same_name(pack, name)) {
        target.path = path;
      } else {
        target.displaced.push_back(path);
        target.placeholders.push_back(is_on_device_pack(pack, bytes));
      }
    }
  }
  if (const auto log = read_disk_import_log(root)) target.used_kb = log->used_kb;
}

// The rules of an OP-Z's disk for -o `output`; false when it does not lie
// on one.
bool check_disk(PackTarget& target, const std::string& output, const std::string& file_name, bool replace) {
  std::string o = output;
  while (o.size() > 1 && is_path_separator(o.back())) o.pop_back();
  const std::vector<Part> parts = parts_of(o);
  for (std::size_t i = parts.size(); i-- > 0;) {
    const std::string packs_name = o.substr(parts[i].start, parts[i].end - parts[i].start);
    const std::string packs_folder = o.substr(0, parts[i].end);
    if (!is_packs_folder(packs_folder, packs_name)) continue;
    const std::string root = i == 0 ? o.substr(0, parts[i].start) : o.substr(0, parts[i - 1].end);
    auto part = [&](std::size_t k) { return o.substr(parts[k].start, parts[k].end - parts[k].start); };
    const std::size_t rest = parts.size() - i - 1;
    const int track = rest >= 1 ? opz_track_of(part(i + 1)) : -1;
    if (track < 0 || rest < 2 || rest > 3 || !all_digits(part(i + 2)) ||
        (rest == 3 && is_folder(o))) {
      target.refusal = outside_slots(is_folder(o) ? join_path(o, file_name) : o, root, packs_name);
      return true;
    }
    const std::string track_folder = o.substr(0, parts[i + 1].end);
    const int slot = slot_number(part(i + 2));
    if (slot == 0) {
      target.refusal = "Slot [" + o.substr(0, parts[i + 2].end) + "] is not one of the OP-Z's slots 01 to 10";
      return true;
    }
    const std::string held = disk_folder(track_folder, two_digits(slot));
    const std::string slot_folder = join_path(track_folder, held.empty() ? two_digits(slot) : held);
    check_slot(target, root, packs_folder, track, slot_folder, rest == 3 ? part(i + 3) : file_name,
               replace);
    return true;
  }
  // The disk's root, or a file in it.
  const std::string folder = is_folder(o) ? o : folder_of(o);
  if (!is_opz_root(folder)) return false;
  target.refusal = outside_slots(is_folder(o) ? join_path(o, file_name) : o, folder,
                                 disk_folder(folder, kOpzPacksFolder));
  return true;
}

// An existing file at the target may be replaced only when it is a drum pack.
void check_existing(PackTarget& target, const std::string& kit) {
  FileReader reader;
  FileIdentity identity;
  if (open_regular_file(target.path, &reader.file, &identity) != 0) return;
  if (is_drum_pack_file(target.path)) {
    target.replaces_pack = true;
    return;
  }
  ByteSource source;
  source.size = static_cast<std::uint64_t>(identity.size);
  source.file = &reader;
  WavLayout layout;
  const bool recording = read_recording_header(source, &layout) != WavVerdict::kPassedOver;
  const std::string here = real_path(folder_of(target.path));
  const bool in_kit = !here.empty() && here == real_path(kit);
  target.refusal = "Could not write [" + target.path + "]: " +
                   (recording && in_kit ? "it is one of the kit's recordings" : "it is not a drum pack");
}

}  // namespace

std::string kit_name(const std::string& directory) {
  const std::string name = folder_own_name(directory);
  return name.empty() ? std::string("samplepack") : name;
}

PackTarget choose_pack_target(const std::string& kit_folder, const std::string& output, bool replace,
                              const KitNaming& naming) {
  PackTarget target;
  const std::string file_name = (naming.name.empty() ? kit_name(kit_folder) : naming.name) + ".aif";
  if (output.empty()) {
    target.path = !naming.default_path.empty()
                      ? naming.default_path
                      : join_path(kit_folder.empty() ? std::string(1, kPathSeparator) : kit_folder, kPackFileName);
  } else if (check_disk(target, output, file_name, replace)) {
    if (!target.refusal.empty()) return target;
  } else {
    target.path = output_path(output, file_name);
  }
  check_existing(target, kit_folder);
  return target;
}

PackTarget choose_preset_target(const std::string& kit_folder, const std::string& output, const KitNaming& naming) {
  PackTarget target;
  const std::string name = device_name(naming.name.empty() ? kit_name(kit_folder) : naming.name) + kOpxyPresetSuffix;
  std::string o = output;
  while (o.size() > 1 && is_path_separator(o.back())) o.pop_back();
  if (o.empty()) {
    target.path = !naming.default_path.empty()
                      ? naming.default_path
                      : join_path(kit_folder.empty() ? std::string(1, kPathSeparator) : kit_folder, name);
  } else if (ends_with_name(o, kOpxyPresetSuffix)) {
    target.path = o;
  } else if (is_folder(o)) {
    target.path = join_path(o, name);
  } else {
    target.refusal = "Could not write [" + o + "]: an OP-XY preset goes into a folder, or to a path ending in " +
                     std::string(kOpxyPresetSuffix);
    return target;
  }
  SystemFile file;
  FileIdentity identity;
  const bool exists = is_folder(target.path) || open_regular_file(target.path, &file, &identity) == 0;
  if (exists && !is_drum_preset(target.path)) {
    target.refusal = "Could not write [" + target.path + "]: not an OP-XY drum preset";
  }
  target.replaces_pack = exists;
  return target;
}

std::vector<std::string> target_lines(const PackTarget& target, bool output_given, std::int64_t pack_bytes) {
  std::vector<std::string> lines;
  if (target.replaces_pack && output_given) lines.push_back("Replaced [" + target.path + "]");
  for (std::size_t i = 0; i < target.displaced.size(); ++i) {
    lines.push_back("Removed [" + target.displaced[i] + "]" +
                    (target.placeholders[i]
                         ? ": it stood for a pack the device holds itself, which the device drops at its next import"
                         : ""));
  }
  if (!target.in_slot || !target.used_kb) return lines;
  const std::int64_t pack_kb = (pack_bytes + 1023) / 1024;
  const std::int64_t replaced_kb = (target.replaced_bytes + 1023) / 1024;
  const std::int64_t total = *target.used_kb + pack_kb - replaced_kb;
  if (total <= kOpzSampleKb) return lines;
  lines.push_back("Warning: the device last reported " + std::to_string(*target.used_kb) + " kB of its " +
                  std::to_string(kOpzSampleKb) + " kB of sample memory in use; with this pack's " +
                  std::to_string(pack_kb) + " kB" +
                  (replaced_kb > 0 ? " in place of the " + std::to_string(replaced_kb) + " kB it replaces" : "") +
                  " that is " + std::to_string(total) + " kB, and it may refuse the pack");
  return lines;
}

}  // namespace kitweaver
