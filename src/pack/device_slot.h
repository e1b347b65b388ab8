// A pack written into a slot folder of an OP-Z's disk (-o
// DISK/samplepacks/1-kick/03): the device's rules, checked before anything is
// written. format/device_disk.h has the rules themselves.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kitweaver {

struct SlotCheck {
  bool in_slot = false;
  std::string refusal;                  // one line; empty: the pack may be written
  std::string target;                   // where the pack goes
  std::vector<std::string> displaced;   // with --replace: the slot's packs the new one takes the place of
  std::optional<std::int64_t> used_kb;  // the device's last figure of used sample memory, from its import.log
};

// Checks the pack about to be written at `target` against the slot folder
// it lies in, if it lies in one. A synth track's slot is refused. A slot
// that already holds a pack (a file, or the "~NAME.aif" of one the device
// holds itself) is refused unless `replace`; then the new pack displaces
// the slot's packs, and takes the name of one that already has its own.
SlotCheck check_opz_slot(const std::string& target, bool replace);

// The warning line for a pack of `pack_bytes` written where `check` found
// the device's last figure, when the two together pass the device's sample
// memory; empty otherwise.
std::string sample_memory_warning(const SlotCheck& check, std::int64_t pack_bytes);

}  // namespace kitweaver
