// The devices Kitweaver makes kits for, and each one's facts: one row of
// kDevices per device. The driver, the planner, the layout, the writer and
// the reader take these facts from here and restate none of them; a new
// device is a new row and the code for what is new about it.
//
//   device       length             channels     container          text
//   OP-1/OP-Z    12 s, the pack     1            AIFF, big-endian    the template, spaced
//   PO-33        the folder's name  1            AIFF, big-endian    the template, spaced
//   OP-1 field   20 s, the pack     2            AIFC sowt + FVER    compact, padded to 4096
//   OP-XY        20 s, each sample  the sound's  a preset folder     patch.json
//
// A PO-33 pack is played into the device through its line in: it opens with
// a marker tone, and a gap stands before every slice. An OP-XY kit is a
// folder, NAME.preset, of one WAV file per sound and a patch.json.
#pragma once

#include <array>
#include <cstdint>

#include "kitweaver/records.h"

namespace kitweaver {

// How the pack file holds its chunks and samples.
enum class Container {
  kAiff,          // AIFF: COMM of 18 bytes, APPL, SSND; big-endian samples
  kAifcSowt,      // AIFC: FVER, COMM of 64 bytes naming "sowt", APPL, SSND; little-endian samples
  kPresetFolder,  // a folder of 16-bit WAV files, one per sound, and patch.json
};

// How the metadata text is written.
enum class TextForm {
  kSpaced,         // the OP-1 template, spaced, padded to a multiple of 4
  kCompactPadded,  // compact, members in order, a line end, spaces up to 4096 bytes
  kPatchJson,      // the OP-XY's patch.json (format/opxy_preset.h)
};

struct DeviceFacts {
  Device device;
  const char* name;      // in the mode line
  const char* option;    // --device's word; empty: chosen by the folder's name
  double pack_seconds;   // 0: read from the folder's name (the PO-33)
  bool per_sample;       // the length is each sample's, not the pack's
  int channels;          // 0: each sample keeps its recording's (one or two)
  Container container;
  TextForm text;
};

inline constexpr std::array<DeviceFacts, 4> kDevices = {{
    {Device::kOp1, "OP-1/OP-Z", "op-1", 12.0, false, 1, Container::kAiff, TextForm::kSpaced},
    {Device::kPo33, "PO-33", "", 0.0, false, 1, Container::kAiff, TextForm::kSpaced},
    {Device::kField, "OP-1 field", "field", 20.0, false, 2, Container::kAifcSowt, TextForm::kCompactPadded},
    {Device::kOpXy, "OP-XY", "op-xy", 20.0, true, 0, Container::kPresetFolder, TextForm::kPatchJson},
}};

constexpr const DeviceFacts& device_facts(Device device) {
  for (const DeviceFacts& facts : kDevices) {
    if (facts.device == device) return facts;
  }
  return kDevices[0];
}

// The PO-33's own facts: the length a folder's name may ask for, and the
// gap (the marker tone, then one before every slice) in seconds, as the
// nearest single-precision value, and in frames.
inline constexpr double kPo33MaxSeconds = 40.0;
inline constexpr float kPo33GapSeconds = 0.2f;
inline constexpr std::int32_t kPo33GapFrames = 8820;
// The marker tone's values by half-period parity, stored low byte first.
inline constexpr std::int16_t kToneEven = -32676;
inline constexpr std::int16_t kToneOdd = 32676;

// The frames the full range of positions stands for: a full pack of one
// channel (the OP-1's 12 s) or of two (the field's 20 s). A PO-33 pack is
// on the one-channel scale, and longer ones go on past its range.
inline constexpr std::int64_t kMonoScaleFrames =
    static_cast<std::int64_t>(device_facts(Device::kOp1).pack_seconds) * kPackRate;
inline constexpr std::int64_t kStereoScaleFrames =
    static_cast<std::int64_t>(device_facts(Device::kField).pack_seconds) * kPackRate;
static_assert(kMonoScaleFrames == 529200 && kStereoScaleFrames == 882000);

// The scale of a pack of `channels` channels, whichever device wrote it.
constexpr std::int64_t scale_frames_for(std::int64_t channels) {
  return channels >= 2 ? kStereoScaleFrames : kMonoScaleFrames;
}

// The scale of the device's own packs.
constexpr std::int64_t scale_frames_of(Device device) { return scale_frames_for(device_facts(device).channels); }

// Whether a slice of a two-channel recording keeps its two sides.
constexpr bool keeps_stereo(Device device) { return device_facts(device).channels != 1; }

}  // namespace kitweaver
