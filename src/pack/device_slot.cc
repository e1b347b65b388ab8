#include "pack/device_slot.h"

#include <algorithm>

#include "format/device_disk.h"
#include "system/files.h"

namespace kitweaver {
namespace {

// The pack files of a slot folder, by name; hidden files (a Mac's "._"
// companions among them) are not the device's.
std::vector<std::string> packs_in(const std::string& folder) {
  std::vector<std::string> packs;
  FolderListing listing;
  if (open_folder(folder, &listing) != 0) return packs;
  for (std::string name; next_folder_entry(listing, &name);) {
    if (!name.empty() && name[0] != '.' && is_pack_name(name)) packs.push_back(name);
  }
  std::sort(packs.begin(), packs.end());
  return packs;
}

// The device's last figure of used sample memory, from the disk's
// import.log, at its root or in samplepacks/.
std::optional<std::int64_t> device_used_kb(const std::string& root) {
  for (const std::string& log : {root + kImportLog, root + kOpzPacksFolder + kPathSeparator + kImportLog}) {
    std::vector<std::uint8_t> bytes;
    if (read_whole_file(log, &bytes) != 0) continue;
    return read_import_log(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size())).used_kb;
  }
  return std::nullopt;
}

}  // namespace

SlotCheck check_opz_slot(const std::string& target, bool replace) {
  SlotCheck check;
  check.target = target;
  std::size_t cut = target.size();
  while (cut > 0 && !is_path_separator(target[cut - 1])) --cut;
  if (cut == 0) return check;
  const std::string folder = target.substr(0, cut);  // with its separator
  const std::string name = target.substr(cut);
  const OpzSlot slot = opz_slot_of(folder);
  if (slot.track < 0) return check;
  check.in_slot = true;
  const std::string slot_folder = folder.substr(0, folder.size() - 1);
  const OpzTrack& track = kOpzTracks[static_cast<std::size_t>(slot.track)];
  if (!track.drums) {
    check.refusal = "Slot [" + slot_folder + "] is on the synth track " + track.name +
                    ", which takes synth samples, not drum packs";
    return check;
  }
  const std::vector<std::string> packs = packs_in(slot_folder);
  if (!packs.empty() && !replace) {
    std::string held;
    for (const std::string& pack : packs) held += (held.empty() ? "[" : ", [") + pack + "]";
    check.refusal = "Slot [" + slot_folder + "] already holds " + held +
                    ": the OP-Z imports one sample pack per slot (--replace swaps it)";
    return check;
  }
  for (const std::string& pack : packs) {
    // A pack of the kit's own name (whatever its case) is replaced under it.
    if (same_name(pack, name)) {
      check.target = folder + pack;
    } else {
      check.displaced.push_back(folder + pack);
    }
  }
  check.used_kb = device_used_kb(slot.root);
  return check;
}

std::string sample_memory_warning(const SlotCheck& check, std::int64_t pack_bytes) {
  if (!check.in_slot || !check.used_kb) return "";
  const std::int64_t pack_kb = (pack_bytes + 1023) / 1024;
  if (*check.used_kb + pack_kb <= kOpzSampleKb) return "";
  return "Warning: the device last reported " + std::to_string(*check.used_kb) + " kB of its " +
         std::to_string(kOpzSampleKb) + " kB of sample memory in use; with this pack's " + std::to_string(pack_kb) +
         " kB that is " + std::to_string(*check.used_kb + pack_kb) + " kB, and it may refuse the pack";
}

}  // namespace kitweaver
