#include "pack/device_slot.h"

#include "format/device_disk.h"
#include "system/files.h"

namespace kitweaver {

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
  std::vector<std::string> packs = disk_entries(slot_folder);
  std::erase_if(packs, [](const std::string& entry) { return !is_pack_name(entry); });
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
  if (const auto log = read_disk_import_log(slot.root)) check.used_kb = log->used_kb;
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
