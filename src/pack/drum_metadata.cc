#include "pack/drum_metadata.h"

#include <array>
#include <cinttypes>
#include <cstdio>

#include "kitweaver/name_text.h"
#include "pack/replace_all.h"

namespace kitweaver {

// The metadata text, after the 4-character signature "op-1": one JSON-like
// object of 18 entries on one line. Two spaces stand after the colon of the
// "end", "playmode", "reverse", "start" and "volume" lists. Placeholders are
// two letters naming the list and the key number 00 to 23:
//   XX start  YY end  ZZ pitch  VV reverse  WW play mode
const std::string_view kDrumTemplate =
    R"(op-1{ "drum_version" : 3, )"
    R"("dyna_env" : [ 0, 8192, 0, 0, 0, 0, 0, 0 ], )"
    R"("editable" : true, )"
    R"("end" :  [ YY00, YY01, YY02, YY03, YY04, YY05, YY06, YY07, YY08, YY09, YY10, YY11, YY12, YY13, YY14, YY15, YY16, YY17, YY18, YY19, YY20, YY21, YY22, YY23 ], )"
    R"("fx_active" : false, )"
    R"("fx_params" : [ 8000, 8000, 8000, 8000, 8000, 8000, 8000, 8000 ], )"
    R"("fx_type" : "delay", )"
    R"("lfo_active" : false, )"
    R"("lfo_params" : [ 0, 0, 0, 0, 0, 0, 0, 0 ], )"
    R"("lfo_type" : "tremolo", )"
    R"("name" : "user99", )"
    R"("octave" : 0, )"
    R"("pitch" : [ ZZ00, ZZ01, ZZ02, ZZ03, ZZ04, ZZ05, ZZ06, ZZ07, ZZ08, ZZ09, ZZ10, ZZ11, ZZ12, ZZ13, ZZ14, ZZ15, ZZ16, ZZ17, ZZ18, ZZ19, ZZ20, ZZ21, ZZ22, ZZ23 ], )"
    R"("playmode" :  [ WW00, WW01, WW02, WW03, WW04, WW05, WW06, WW07, WW08, WW09, WW10, WW11, WW12, WW13, WW14, WW15, WW16, WW17, WW18, WW19, WW20, WW21, WW22, WW23 ], )"
    R"("reverse" :  [ VV00, VV01, VV02, VV03, VV04, VV05, VV06, VV07, VV08, VV09, VV10, VV11, VV12, VV13, VV14, VV15, VV16, VV17, VV18, VV19, VV20, VV21, VV22, VV23 ], )"
    R"("start" :  [ XX00, XX01, XX02, XX03, XX04, XX05, XX06, XX07, XX08, XX09, XX10, XX11, XX12, XX13, XX14, XX15, XX16, XX17, XX18, XX19, XX20, XX21, XX22, XX23 ], )"
    R"("type" : "drum", )"
    R"("volume" :  [ 8192, 8192, 8192, 8192, 8192, 8192, 8192, 8192, 8192, 8192, 8192, 8192, 8192, 8192, 8192, 8192, 8192, 8192, 8192, 8192, 8192, 8192, 8192, 8192 ] })";

// An OP-1 field kit's text, after the same signature: compact, its members
// in alphabetical order as the field writes them, with the field's own
// (attack, pan, pan_ab, a save time, stereo), the same placeholders and the
// same fixed values otherwise. The save time is one fixed number, so that
// two runs give the same bytes.
const std::string_view kFieldTemplate =
    R"(op-1{"attack":[0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0],)"
    R"("drum_version":2,)"
    R"("dyna_env":[0,8192,0,0,0,0,0,0],)"
    R"("end":[YY00,YY01,YY02,YY03,YY04,YY05,YY06,YY07,YY08,YY09,YY10,YY11,YY12,YY13,YY14,YY15,YY16,YY17,YY18,YY19,YY20,YY21,YY22,YY23],)"
    R"("fx_active":false,)"
    R"("fx_params":[8000,8000,8000,8000,8000,8000,8000,8000],)"
    R"("fx_type":"delay",)"
    R"("lfo_active":false,)"
    R"("lfo_params":[0,0,0,0,0,0,0,0],)"
    R"("lfo_type":"tremolo",)"
    R"("mtime":1796688000,)"
    R"("name":"user99",)"
    R"("octave":0,)"
    R"("pan":[16384,16384,16384,16384,16384,16384,16384,16384,16384,16384,16384,16384,16384,16384,16384,16384,16384,16384,16384,16384,16384,16384,16384,16384],)"
    R"("pan_ab":[false,false,false,false,false,false,false,false,false,false,false,false,false,false,false,false,false,false,false,false,false,false,false,false],)"
    R"("pitch":[ZZ00,ZZ01,ZZ02,ZZ03,ZZ04,ZZ05,ZZ06,ZZ07,ZZ08,ZZ09,ZZ10,ZZ11,ZZ12,ZZ13,ZZ14,ZZ15,ZZ16,ZZ17,ZZ18,ZZ19,ZZ20,ZZ21,ZZ22,ZZ23],)"
    R"("playmode":[WW00,WW01,WW02,WW03,WW04,WW05,WW06,WW07,WW08,WW09,WW10,WW11,WW12,WW13,WW14,WW15,WW16,WW17,WW18,WW19,WW20,WW21,WW22,WW23],)"
    R"("reverse":[VV00,VV01,VV02,VV03,VV04,VV05,VV06,VV07,VV08,VV09,VV10,VV11,VV12,VV13,VV14,VV15,VV16,VV17,VV18,VV19,VV20,VV21,VV22,VV23],)"
    R"("start":[XX00,XX01,XX02,XX03,XX04,XX05,XX06,XX07,XX08,XX09,XX10,XX11,XX12,XX13,XX14,XX15,XX16,XX17,XX18,XX19,XX20,XX21,XX22,XX23],)"
    R"("stereo":true,)"
    R"("type":"drum",)"
    R"("volume":[8192,8192,8192,8192,8192,8192,8192,8192,8192,8192,8192,8192,8192,8192,8192,8192,8192,8192,8192,8192,8192,8192,8192,8192]})";

namespace {

constexpr std::array<std::string_view, 7> kOneShotWords = {
    " Oneshot ", " Oneshot.", " OneShot.", " ONESHOT ", " ONESHOT.", " oneshot ", " oneshot."};
constexpr std::array<std::string_view, 6> kLoopWords = {" Loop ", " Loop.", " LOOP ",
                                                        " LOOP.", " loop ", " loop."};

template <std::size_t N>
bool has_any(std::string_view path, const std::array<std::string_view, N>& words) {
  for (std::string_view word : words) {
    if (contains(path, word)) return true;
  }
  return false;
}

// What one key plays.
struct KeyValues {
  std::int64_t start = 0;
  std::int64_t end = 0;
  std::int64_t pitch = 0;
  std::int32_t reverse = kForwards;
  std::int32_t play_mode = kPlayPlain;
};

// Detune in semitones for repetition number f >= 2 (see the README's table).
std::int32_t repetition_detune(std::int32_t f, bool loop) {
  const std::int32_t g = (f - 2) / 4;
  const bool up = f % 2 == 1;
  if (!loop) return up ? 3 + g : -(3 + g);
  if (g <= 1) return up ? 12 * (g + 1) : -12 * (g + 1);
  return up ? 12 * (g - 2) + 7 : -(12 * (g - 2) + 5);
}

// Records repeat over the keys: the first round as they are, the second
// reversed, then detuned down and up, forwards and reversed in turn.
// What the full position range stands for in the job's pack.
std::int64_t scale_frames_of(const PackJob& job) { return job.field_mode ? kStereoScaleFrames : kMonoScaleFrames; }

KeyValues repetition_key(const PackJob& job, std::int32_t key) {
  const std::int32_t n = job.sample_count;
  const SampleRecord& record = *job.samples[static_cast<std::size_t>(key % n)];
  const std::int32_t f = key / n;
  const bool loop = has_loop_word(record.path);
  KeyValues v;
  v.start = position_of_frame(record.pack_start, scale_frames_of(job));
  v.end = position_of_frame(record.pack_end, scale_frames_of(job));
  std::int32_t detune = f < 2 ? 0 : repetition_detune(f, loop);
  v.pitch = std::int64_t{record.pitch_semitones + detune} * kPitchScale;
  v.reverse = (f == 1 || (f >= 2 && (f / 2) % 2 == 0)) ? kReversed : kForwards;
  v.play_mode = play_mode_of(record.path);
  return v;
}

KeyValues chromatic_key(const PackJob& job, const KeyMap& keys, std::int32_t key) {
  const auto k = static_cast<std::size_t>(key);
  const SampleRecord& record = *job.samples[static_cast<std::size_t>(keys.key_slots[k])];
  KeyValues v;
  v.start = position_of_frame(record.pack_start, scale_frames_of(job));
  v.end = position_of_frame(record.pack_end, scale_frames_of(job));
  v.pitch = std::int64_t{keys.key_pitches[k]} * kPitchScale;
  v.reverse = kForwards;
  v.play_mode = play_mode_of(job.samples[0]->path);
  return v;
}

}  // namespace

bool has_one_shot_word(std::string_view path) { return has_any(path, kOneShotWords); }
bool has_loop_word(std::string_view path) { return has_any(path, kLoopWords); }

std::int32_t play_mode_of(std::string_view path) {
  if (has_one_shot_word(path)) return kPlayOneShot;
  if (has_loop_word(path)) return kPlayLoop;
  return kPlayPlain;
}

std::optional<std::string> build_drum_metadata(const PackJob& job, const KeyMap& keys) {
  std::array<KeyValues, kSlotCount> values;
  for (std::int32_t key = 0; key < kSlotCount; ++key) {
    values[static_cast<std::size_t>(key)] =
        keys.in_use ? chromatic_key(job, keys, key) : repetition_key(job, key);
  }

  // Families in this order, each key 0 to 23: start, end, pitch, reverse,
  // play mode.
  struct Family {
    const char* letters;
    std::int64_t (*value)(const KeyValues&);
  };
  const Family families[] = {
      {"XX", [](const KeyValues& v) { return v.start; }},
      {"YY", [](const KeyValues& v) { return v.end; }},
      {"ZZ", [](const KeyValues& v) { return v.pitch; }},
      {"VV", [](const KeyValues& v) { return std::int64_t{v.reverse}; }},
      {"WW", [](const KeyValues& v) { return std::int64_t{v.play_mode}; }},
  };
  std::optional<std::string> text = std::string(job.field_mode ? kFieldTemplate : kDrumTemplate);
  for (const Family& family : families) {
    for (std::int32_t key = 0; key < kSlotCount && text; ++key) {
      // Two letters and the key number in two digits: "XX07".
      const char name[6] = {family.letters[0], family.letters[1], static_cast<char>('0' + key / 10),
                            static_cast<char>('0' + key % 10), '\0', '\0'};
      char value[32] = {};
      std::snprintf(value, sizeof value, "%" PRId64, family.value(values[static_cast<std::size_t>(key)]));
      text = replace_all(*text, name, value);
    }
  }
  return text;
}

}  // namespace kitweaver
