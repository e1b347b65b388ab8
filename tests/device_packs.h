// Drum packs as the devices and other tools write them, rebuilt byte by byte
// from what their files hold: the chunks they write and in which order,
// their metadata texts (compact or spaced, keys in their own order, the
// members and values Kitweaver doesn't write, the tail after the text), and
// their positions. Each shape is built from its five key lists, so a test
// can say what a pack should hold after an edit by building it again.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "format/drum_format.h"
#include "kitweaver/byte_order.h"
#include "wav_builder.h"

namespace kitweaver::testing {

// start, end, pitch, reverse, playmode: the lists an edit changes.
using KeyLists = std::array<std::array<std::int64_t, 24>, 5>;
enum ListIndex { kStartList, kEndList, kPitchList, kReverseList, kModeList };

struct DevicePack {
  const char* name;             // who wrote it
  bool aifc = false;            // AIFC "sowt", with FVER and a 64-byte COMM
  bool mark_inst = false;       // an empty MARK and an INST chunk between APPL and SSND
  int channels = 1;
  std::uint32_t frames = 0;     // as COMM declares, and as SSND holds
  std::uint32_t ssnd_extra = 0; // bytes SSND holds beyond the frames
  std::string (*text)(const KeyLists&) = nullptr;  // the APPL text after "op-1", tail included
  KeyLists lists{};
  std::array<std::int64_t, 24> start_frames{}, end_frames{};  // where a device plays each key
};

// ---- Metadata texts ----

inline std::string json_list(const std::array<std::int64_t, 24>& values, const char* separator) {
  std::string text;
  for (std::size_t k = 0; k < values.size(); ++k) text += (k > 0 ? separator : "") + std::to_string(values[k]);
  return text;
}

// `item` `count` times, separated by commas.
inline std::string repeated(const std::string& item, int count) {
  std::string text = item;
  for (int i = 1; i < count; ++i) text += "," + item;
  return text;
}

// The OP-1 field's: compact, keys in alphabetical order, then a line end and
// spaces up to 4096 bytes.
inline std::string field_text(const KeyLists& v) {
  const std::string text = "{\"attack\":[" + repeated("0", 24) + "],\"drum_version\":2," +
                           "\"dyna_env\":[0,8192,0,0,0,0,0,0],\"end\":[" + json_list(v[kEndList], ",") +
                           "],\"fx_active\":false,\"fx_params\":[" + repeated("8000", 8) +
                           "],\"fx_type\":\"delay\",\"lfo_active\":false,\"lfo_params\":[" + repeated("0", 8) +
                           "],\"lfo_type\":\"tremolo\",\"mtime\":1733000000,\"name\":\"field kit\",\"octave\":0,"
                           "\"pan\":[" + repeated("16384", 24) + "],\"pan_ab\":[" + repeated("false", 24) +
                           "],\"pitch\":[" + json_list(v[kPitchList], ",") + "],\"playmode\":[" +
                           json_list(v[kModeList], ",") + "],\"reverse\":[" + json_list(v[kReverseList], ",") +
                           "],\"start\":[" + json_list(v[kStartList], ",") + "],\"stereo\":true,\"type\":\"drum\","
                           "\"volume\":[" + repeated("8192", 24) + "]}\n";
  return text + std::string(4096 - text.size(), ' ');
}

// The OP-1's own, sampled on the device: spaced, version 1, ended by a zero
// byte.
inline std::string op1_text(const KeyLists& v) {
  return "{ \"drum_version\" : 1, \"dyna_env\" : [ 0, 8192, 0, 0, 0, 0, 0, 0 ], \"editable\" : true, \"end\" : [ " +
         json_list(v[kEndList], ", ") + " ], \"fx_active\" : false, \"fx_type\" : \"delay\", \"name\" : \"sampled\", "
         "\"octave\" : 0, \"pitch\" : [ " + json_list(v[kPitchList], ", ") + " ], \"playmode\" : [ " +
         json_list(v[kModeList], ", ") + " ], \"reverse\" : [ " + json_list(v[kReverseList], ", ") +
         " ], \"start\" : [ " + json_list(v[kStartList], ", ") + " ], \"type\" : \"drum\", \"volume\" : [ " +
         repeated("8192", 24) + " ] }" + std::string(1, '\0');
}

// The makers' drum utility: compact, keys in its own order, members of its
// own, a line end after the text.
inline std::string utility_text(const KeyLists& v) {
  return "{\"type\":\"drum\",\"name\":\"utility kit\",\"octave\":0,\"drum_version\":3,\"start\":[" +
         json_list(v[kStartList], ",") + "],\"end\":[" + json_list(v[kEndList], ",") + "],\"pitch\":[" +
         json_list(v[kPitchList], ",") + "],\"playmode\":[" + json_list(v[kModeList], ",") + "],\"reverse\":[" +
         json_list(v[kReverseList], ",") + "],\"volume\":[" + repeated("8192", 24) +
         "],\"dyna_env\":[0,8192,0,0,0,0,0,0],\"fx_active\":false,\"fx_type\":\"delay\",\"lfo_active\":false,"
         "\"lfo_type\":\"tremolo\",\"editable\":true,\"fademode\":0,\"original_folder\":\"kits/909\"}\n";
}

// The OP-Z's, saved after edits on the device: spaced, other keys first,
// volumes of its own, padded with spaces to 1536 bytes.
inline std::string opz_text(const KeyLists& v) {
  std::array<std::int64_t, 24> volumes;
  for (std::size_t k = 0; k < 24; ++k) volumes[k] = 6000 + 100 * static_cast<std::int64_t>(k);
  const std::string text = "{ \"type\" : \"drum\", \"drum_version\" : 2, \"name\" : \"opz\", \"volume\" : [ " + json_list(volumes, ", ") +
         " ], \"pitch\" : [ " + json_list(v[kPitchList], ", ") + " ], \"start\" : [ " + json_list(v[kStartList], ", ") +
         " ], \"end\" : [ " + json_list(v[kEndList], ", ") + " ], \"reverse\" : [ " + json_list(v[kReverseList], ", ") +
         " ], \"playmode\" : [ " + json_list(v[kModeList], ", ") + " ], \"editable\" : false }";
  return text + std::string(1536 - text.size(), ' ');
}

// Kitweaver 1.0's (and the older tools'): the template, positions at 4056
// per frame, padded with spaces to a multiple of 4 bytes.
inline std::string kitweaver10_text(const KeyLists& v) {
  std::string text = "{ \"drum_version\" : 3, \"dyna_env\" : [ 0, 8192, 0, 0, 0, 0, 0, 0 ], \"editable\" : true, "
                     "\"end\" :  [ " + json_list(v[kEndList], ", ") + " ], \"name\" : \"user99\", \"octave\" : 0, "
                     "\"pitch\" : [ " + json_list(v[kPitchList], ", ") + " ], \"playmode\" :  [ " +
                     json_list(v[kModeList], ", ") + " ], \"reverse\" :  [ " + json_list(v[kReverseList], ", ") +
                     " ], \"start\" :  [ " + json_list(v[kStartList], ", ") + " ], \"type\" : \"drum\" }";
  return text + std::string((4 - (4 + text.size()) % 4) % 4, ' ');
}

// ---- The file ----

// Frame i of channel c: a ramp of its own per channel.
inline std::int16_t device_sample(std::uint32_t i, int c) {
  return static_cast<std::int16_t>(static_cast<std::int32_t>((i * 37u + static_cast<std::uint32_t>(c) * 7001u) % 20000u) - 10000);
}

inline wav::Bytes device_pack_bytes(const DevicePack& shape, const KeyLists& lists) {
  using wav::aiff_chunk;
  wav::Bytes comm(18);
  store_be16(comm.data(), static_cast<std::uint16_t>(shape.channels));
  store_be32(comm.data() + 2, shape.frames);
  store_be16(comm.data() + 6, 16);
  encode_extended80(comm.data() + 8, 44100);
  if (shape.aifc) {
    const std::string name = "Signed integer (little-endian) linear PCM";
    comm.insert(comm.end(), {'s', 'o', 'w', 't', static_cast<std::uint8_t>(name.size())});
    comm.insert(comm.end(), name.begin(), name.end());  // 18 + 4 + 42: 64 bytes
  }
  const std::string text = "op-1" + shape.text(lists);
  wav::Bytes ssnd(8, 0);
  for (std::uint32_t i = 0; i < shape.frames; ++i) {
    for (int c = 0; c < shape.channels; ++c) {
      const auto v = static_cast<std::uint16_t>(device_sample(i, c));
      ssnd.push_back(static_cast<std::uint8_t>(shape.aifc ? v : v >> 8));
      ssnd.push_back(static_cast<std::uint8_t>(shape.aifc ? v >> 8 : v));
    }
  }
  ssnd.resize(ssnd.size() + shape.ssnd_extra, 0);
  wav::Bytes body = {'A', 'I', 'F', shape.aifc ? std::uint8_t{'C'} : std::uint8_t{'F'}};
  std::vector<wav::Bytes> chunks;
  if (shape.aifc) chunks.push_back(aiff_chunk("FVER", {0xA2, 0x80, 0x51, 0x40}));
  chunks.push_back(aiff_chunk("COMM", comm));
  chunks.push_back(aiff_chunk("APPL", wav::Bytes(text.begin(), text.end())));
  if (shape.mark_inst) {
    chunks.push_back(aiff_chunk("MARK", {0, 0}));
    chunks.push_back(aiff_chunk("INST", {60, 0, 127, 0, 127, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  }
  chunks.push_back(aiff_chunk("SSND", ssnd));
  for (const wav::Bytes& chunk : chunks) body.insert(body.end(), chunk.begin(), chunk.end());
  return aiff_chunk("FORM", body);
}

// ---- The shapes ----

// Slices back to back from frame 0, `count` of them `length` frames long,
// the keys repeating them; `place` writes a frame as a position.
template <typename Place>
void lay_out_keys(DevicePack* shape, int count, std::int64_t length, Place place) {
  for (std::size_t k = 0; k < 24; ++k) {
    const auto slice = static_cast<std::int64_t>(k % static_cast<std::size_t>(count));
    shape->start_frames[k] = slice * length;
    shape->end_frames[k] = slice * length + length;
    shape->lists[kStartList][k] = place(shape->start_frames[k], k);
    shape->lists[kEndList][k] = place(shape->end_frames[k], k);
    shape->lists[kPitchList][k] = 0;
    shape->lists[kReverseList][k] = kForwards;
    shape->lists[kModeList][k] = kPlayPlain;
  }
}

// Where the devices put a frame: the nearest position.
inline std::int64_t device_position(std::int64_t frame, std::int64_t scale) {
  return (frame * kFullScalePosition + scale / 2) / scale;
}

inline std::vector<DevicePack> device_packs() {
  std::vector<DevicePack> shapes;

  // A stereo kit of 20 s sampled on an OP-1 field, with values of its own.
  DevicePack field{"OP-1 field, stereo"};
  field.aifc = true;
  field.channels = 2;
  field.frames = 882000;
  field.text = field_text;
  lay_out_keys(&field, 6, 147000, [](std::int64_t f, std::size_t) { return device_position(f, kStereoScaleFrames); });
  field.lists[kModeList] = {4096, 12288, 16384, 28672, 8192, 20480, 24576, 8192, 8192, 8192, 8192, 8192,
                            8192, 8192, 8192, 8192, 8192, 8192, 8192, 8192, 8192, 8192, 8192, 8192};
  field.lists[kReverseList][1] = 12000;
  field.lists[kPitchList][2] = 300;
  shapes.push_back(field);

  // A kit sampled on an OP-1: 12 s exactly, its last slice ending at the
  // very end of the range.
  DevicePack op1{"OP-1, sampled"};
  op1.mark_inst = true;
  op1.frames = 529200;
  op1.text = op1_text;
  lay_out_keys(&op1, 4, 132300, [](std::int64_t f, std::size_t) { return device_position(f, kMonoScaleFrames); });
  shapes.push_back(op1);

  // The makers' utility: positions rounded to multiples of 4096, unused keys
  // at 0 and 0, a sound 16 bytes short of its SSND and shorter than its
  // last slice.
  DevicePack utility{"drum utility"};
  utility.aifc = true;
  utility.frames = 100000;
  utility.ssnd_extra = 16;
  utility.text = utility_text;
  lay_out_keys(&utility, 3, 40000, [](std::int64_t f, std::size_t) {
    return device_position(f, kMonoScaleFrames) / 4096 * 4096;
  });
  for (std::size_t k = 0; k < 24; ++k) {
    utility.start_frames[k] = frame_of_position(utility.lists[kStartList][k], kMonoScaleFrames);
    utility.end_frames[k] = frame_of_position(utility.lists[kEndList][k], kMonoScaleFrames);
    if (k >= 12) {
      utility.lists[kStartList][k] = utility.lists[kEndList][k] = 0;
      utility.start_frames[k] = utility.end_frames[k] = 0;
    }
  }
  shapes.push_back(utility);

  // The OP-Z after edits: positions within a little of the frames, values
  // of its own.
  DevicePack opz{"OP-Z, edited"};
  opz.frames = 529200;
  opz.text = opz_text;
  lay_out_keys(&opz, 8, 60000, [](std::int64_t f, std::size_t k) {
    return f == 0 ? 0 : device_position(f, kMonoScaleFrames) + static_cast<std::int64_t>(k % 3) - 1;
  });
  for (std::size_t k = 0; k < 24; ++k) {
    opz.lists[kReverseList][k] = 9216 + 256 * static_cast<std::int64_t>(k);  // 9216 to 15104
    opz.lists[kPitchList][k] = 100 * static_cast<std::int64_t>(k) - 700;
  }
  shapes.push_back(opz);

  // Kitweaver 1.0: 4056 per frame, its last slice up to the pack's end.
  DevicePack old{"Kitweaver 1.0"};
  old.frames = 529200;
  old.text = kitweaver10_text;
  lay_out_keys(&old, 6, 88199, [](std::int64_t f, std::size_t) { return f * kOlderPositionScale; });
  for (std::size_t k = 0; k < 24; ++k) {
    old.start_frames[k] = frame_of_position(old.lists[kStartList][k], kMonoScaleFrames);
    old.end_frames[k] = frame_of_position(old.lists[kEndList][k], kMonoScaleFrames);
  }
  shapes.push_back(old);
  // Nothing plays past the sound's last frame.
  for (DevicePack& shape : shapes) {
    for (std::size_t k = 0; k < 24; ++k) {
      shape.start_frames[k] = std::min<std::int64_t>(shape.start_frames[k], shape.frames - 1);
      shape.end_frames[k] = std::min<std::int64_t>(shape.end_frames[k], shape.frames - 1);
    }
  }
  return shapes;
}

}  // namespace kitweaver::testing
