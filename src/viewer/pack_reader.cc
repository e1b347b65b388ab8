#include "viewer/pack_reader.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <utility>

#include "format/aiff_format.h"
#include "format/pack_chunks.h"
#include "format/drum_format.h"
#include "kitweaver/byte_order.h"
#include "format/devices.h"

namespace kitweaver::inspect {
namespace {

bool id_is(const char* p, const char* id) { return std::memcmp(p, id, 4) == 0; }

// The chunks a pack needs, with the line that says which is missing.
std::string check_chunks(const PackChunks& chunks) {
  if (!chunks.have_comm || chunks.comm_size < kCommSize) return "no common (COMM) chunk";
  if (!chunks.have_ssnd || chunks.ssnd_size < kSsndPrefixSize) return "no sound data (SSND) chunk";
  if (!chunks.have_text) return "no op-1 application chunk";
  return "";
}

std::string read_sound(const ByteSource& source, const PackChunks& chunks, Pack* pack) {
  const CommFields& comm = chunks.comm;
  pack->channels = static_cast<std::int32_t>(comm.channels);
  pack->frames = comm.frames;
  pack->bits = static_cast<std::int32_t>(comm.bits);
  pack->rate = comm.rate;
  if (pack->aifc) {
    if (chunks.comm_size < kAifcCommMinSize) return "AIFC common chunk without a compression type";
    const char* type = comm.compression;
    pack->little_endian = id_is(type, kCompressionSowt);
    if (!pack->little_endian && !id_is(type, kCompressionNone) && !id_is(type, kCompressionTwos)) {
      return "compressed AIFC sound (" + std::string(type, 4) + ") is not supported";
    }
  }
  if (pack->bits != 16 || pack->channels < 1) {
    return "sound of " + std::to_string(pack->bits) + " bits and " + std::to_string(pack->channels) +
           " channels is not a pack's 16-bit sound";
  }
  if (chunks.sound_past_end) return "the sound data (SSND) chunk's sound starts past its end";
  const std::size_t frame_size = 2 * static_cast<std::size_t>(pack->channels);
  const std::size_t frames = std::min<std::size_t>(pack->frames, static_cast<std::size_t>(chunks.sound_held / frame_size));
  if (frames < pack->frames) {
    pack->warnings.push_back("the sound data holds " + std::to_string(frames) + " of the " +
                             std::to_string(pack->frames) + " frames its header declares");
  }
  std::vector<std::uint8_t> data(frames * frame_size);
  if (!read_source(source, chunks.sound_at, data.data(), data.size())) return "the sound data can't be read";
  const std::size_t count = frames * static_cast<std::size_t>(pack->channels);
  pack->samples.resize(count);
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t* p = data.data() + 2 * i;
    pack->samples[i] = static_cast<std::int16_t>(pack->little_endian ? load_le16(p) : load_be16(p));
  }
  return "";
}

// A marker value as the pack's big-endian frames read it back: it is stored
// low byte first.
std::int16_t read_back(std::int16_t stored) {
  std::uint8_t bytes[2];
  store_le16(bytes, static_cast<std::uint16_t>(stored));
  return static_cast<std::int16_t>(load_be16(bytes));
}

// Our PO-33 packs open with kPo33GapFrames frames of the two marker values.
bool opens_with_marker_tone(const Pack& pack) {
  const std::int16_t even = read_back(kToneEven);
  const std::int16_t odd = read_back(kToneOdd);
  if (pack.little_endian || pack.channels != 1 || pack.samples.size() < static_cast<std::size_t>(kPo33GapFrames)) {
    return false;
  }
  if (pack.samples[0] != even) return false;
  for (std::int32_t i = 0; i < kPo33GapFrames; ++i) {
    if (pack.samples[static_cast<std::size_t>(i)] != even && pack.samples[static_cast<std::size_t>(i)] != odd) {
      return false;
    }
  }
  return true;
}

// A warning about a key, worded for it alone ("starts past ...") and for
// several keys that share it ("start past ...").
struct KeyWarning {
  std::string one, several;
  std::vector<std::size_t> keys;
};

void warn(std::vector<KeyWarning>* warnings, std::size_t k, std::string one, std::string several) {
  for (KeyWarning& warning : *warnings) {
    if (warning.one == one) {
      warning.keys.push_back(k);
      return;
    }
  }
  warnings->push_back({std::move(one), std::move(several), {k}});
}

// "2, 5, 8" or "2-23": runs of three keys or more as ranges.
std::string key_list(const std::vector<std::size_t>& keys) {
  std::string text;
  for (std::size_t i = 0; i < keys.size();) {
    std::size_t j = i;
    while (j + 1 < keys.size() && keys[j + 1] == keys[j] + 1) ++j;
    const bool range = j >= i + 2;
    if (!range) j = i;
    text += (text.empty() ? "" : ", ") + std::to_string(keys[i]) + (range ? "-" + std::to_string(keys[j]) : "");
    i = j + 1;
  }
  return text;
}

// One line per warning: keys that get the same one share a line.
void add_key_warnings(const std::vector<KeyWarning>& warnings, Pack* pack) {
  for (const KeyWarning& warning : warnings) {
    pack->warnings.push_back(warning.keys.size() == 1 ? "key " + std::to_string(warning.keys[0]) + ": " + warning.one
                                                      : "keys " + key_list(warning.keys) + ": " + warning.several);
  }
}

// Where a key's stored positions fall in the sound, clamped to it, with a
// warning when they fall outside. A slice may end on the sound's end (the
// frame after its last), as the devices write a slice that runs to the end.
void place_key(Pack* pack, std::size_t k, KeyRow* row, std::vector<KeyWarning>* warnings) {
  const auto held = static_cast<std::int64_t>(pack->held_frames());
  const std::int64_t first = frame_of_position(row->start_raw, pack->scale_frames);
  const std::int64_t last = frame_of_position(row->end_raw, pack->scale_frames);
  const bool start_past = first > held, end_past = last > held;
  const std::string of_held = " of " + std::to_string(held) + "; played up to the end";
  if (start_past && end_past) {
    const std::string frames = std::to_string(first) + " and " + std::to_string(last);
    warn(warnings, k, "starts and ends past the sound's end, at frames " + frames + of_held,
         "start and end past the sound's end, at " +
             (first == last ? "frame " + std::to_string(first) : "frames " + frames) + of_held);
  } else if (start_past || end_past) {
    const std::string at = "past the sound's end, at frame " + std::to_string(start_past ? first : last) + of_held;
    warn(warnings, k, (start_past ? "starts " : "ends ") + at, (start_past ? "start " : "end ") + at);
  }
  if (start_past || end_past) {
    pack->scale = PositionScale::kPastEnd;
  } else if (std::min(first, last) < 0) {
    const std::string at = "before the sound, at frame " + std::to_string(std::min(first, last)) +
                           "; played from the start";
    warn(warnings, k, "starts " + at, "start " + at);
    pack->scale = PositionScale::kPastEnd;
  }
  row->start_frame = frame_in_sound(*pack, row->start_raw);
  row->end_frame = held == 0 ? -1 : frame_in_sound(*pack, row->end_raw);
  if (row->end_raw < row->start_raw) warn(warnings, k, "ends before it starts", "end before they start");
}

// The warning of a pack written at 4056 per frame: the frames by which a
// device misplaces its last slice.
std::string older_scale_warning(const Pack& pack) {
  std::int64_t most = 0, shift = 0;
  for (const KeyRow& row : pack.keys) {
    for (std::int64_t position : {row.start_raw, row.end_raw}) {
      if (position <= most) continue;
      most = position;
      shift = position / kOlderPositionScale - frame_of_position(position, pack.scale_frames);
    }
  }
  return "positions are written at " + std::to_string(kOlderPositionScale) +
         " per frame, as older tools wrote them: a device plays the last slice " + std::to_string(std::abs(shift)) +
         " frames " + (shift >= 0 ? "early" : "late") + " (kitweaver-inspect --rescale rewrites them)";
}

std::string read_keys(const std::string& text, Pack* pack) {
  if (std::string error = read_drum_lists(text, &pack->lists); !error.empty()) return error;
  const auto& start = pack->lists.of(KeyList::kStart);
  const auto& end = pack->lists.of(KeyList::kEnd);
  const auto& pitch = pack->lists.of(KeyList::kPitch);
  const auto& reverse = pack->lists.of(KeyList::kReverse);
  const auto& mode = pack->lists.of(KeyList::kPlayMode);
  pack->scale_frames = scale_frames_for(pack->channels);
  std::map<std::pair<std::int64_t, std::int64_t>, int> slices;
  std::vector<KeyWarning> warnings;
  for (std::size_t k = 0; k < kSlotCount; ++k) {
    KeyRow& row = pack->keys[k];
    row.start_raw = start[k];
    row.end_raw = end[k];
    row.pitch_raw = pitch[k];
    row.reverse = reverse[k];
    row.play_mode = mode[k];
    auto [it, added] = slices.try_emplace({row.start_raw, row.end_raw}, static_cast<int>(slices.size()) + 1);
    row.slice = it->second;
    place_key(pack, k, &row, &warnings);
  }
  add_key_warnings(warnings, pack);
  if (at_older_scale(start, end)) {
    pack->scale = PositionScale::kOlder;
    pack->scale_warning = older_scale_warning(*pack);
    pack->warnings.push_back(pack->scale_warning);
  }
  pack->slice_count = static_cast<int>(slices.size());
  return "";
}

}  // namespace

std::string read_pack(const ByteSource& source, const PackChunks& chunks, Pack* pack) {
  pack->aifc = chunks.aifc;
  pack->chunks = chunks;
  std::string error = check_chunks(chunks);
  if (error.empty()) error = read_sound(source, chunks, pack);
  if (!error.empty()) return error;
  pack->po33 = opens_with_marker_tone(*pack);
  // The text ends at a zero byte, if it has one; spaces and line ends after
  // it are JSON's own white space.
  return read_keys(chunks.text, pack);
}

std::string read_pack(const std::vector<std::uint8_t>& bytes, Pack* pack) {
  ByteSource source;
  source.bytes = bytes.data();
  source.size = bytes.size();
  PackChunks chunks;
  if (!read_pack_chunks(source, &chunks)) return "not an AIFF file";
  return read_pack(source, chunks, pack);
}

std::string direction_name(std::int64_t reverse) { return word_of(kDirectionWords, reverse); }

std::int64_t frame_in_sound(const Pack& pack, std::int64_t position) {
  const auto last = static_cast<std::int64_t>(pack.held_frames()) - 1;
  return std::max<std::int64_t>(0, std::min(frame_of_position(position, pack.scale_frames), last));
}

const char* scale_name(PositionScale scale) {
  switch (scale) {
    case PositionScale::kDevice: return "device";
    case PositionScale::kOlder: return "4056";
    case PositionScale::kPastEnd: return "past-end";
  }
  return "";
}

std::string play_mode_name(std::int64_t play_mode) { return word_of(kPlayModeWords, play_mode); }

}  // namespace kitweaver::inspect
