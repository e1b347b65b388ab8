#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "pack/drum_metadata.h"
#include "pack/key_map.h"
#include "pack_support.h"
#include "slice/chord_tags.h"
#include "slice/resampler.h"
#include "slice_fixtures.h"
#include "test_support.h"

namespace kitweaver {
namespace {

struct Decoded {
  std::string lines;
  std::vector<std::int32_t> offsets;
};

Decoded decode(const std::string& path) {
  ::testing::internal::CaptureStdout();
  ChordNotes chord = decode_chord_tags(path);
  Decoded d;
  d.lines = ::testing::internal::GetCapturedStdout();
  d.offsets.assign(chord.semitones.begin(), chord.semitones.begin() + chord.note_count);
  return d;
}

using Offsets = std::vector<std::int32_t>;

TEST(ChordTags, ChordNamesFollowTheWorkedTable) {
  struct Row {
    const char* name;
    const char* lines;
    Offsets offsets;
  };
  const Row rows[] = {
      {"Piano Chord,Cmaj.wav", "\tNote C\n\tChord maj\n", {0, 4, 7}},
      {"Piano Chord,C.wav", "\tNote C\n\tChord \n", {0, 4, 7}},
      {"Piano Chord,Ebmin7.wav", "\tNote E\n\tFlat\n\tChord min7\n", {3, 6, 10, 1}},
      {"Piano Chord,-2,C#dom9.wav", "\tNote C\n\tSharp\n\tChord dom9\n", {11, 3, 9, 1}},
      {"Piano Chord,3,Am.wav", "\tNote A\n\tChord m\n", {0, 3, 7}},
      {"Piano Chord,Bb.wav", "\tNote B\n\tFlat\n\tChord \n", {10, 2, 5}},
      {"Piano Chord,B#dim.wav", "\tNote B\n\tSharp\n\tChord dim\n", {0, 3, 6}},
      {"Piano Chord,Xbmin.wav", "\tNote X\n\tFlat\n\tChord min\n", {11, 2, 6}},
      {"Piano Chord,Ddimmaj7.wav", "\tNote D\n\tChord dimmaj7\n", {2, 5, 8, 1}},
      {"Piano Chord,Csus4.wav", "\tNote C\n\tChord sus4\n", {0}},
      {"Piano Chord,Cmaj Oneshot.wav", "\tNote C\n\tChord maj Oneshot\n", {0}},
      {"Piano Chord,Ddimmaj7 Oneshot.wav", "\tNote D\n\tChord dimmaj7 Oneshot\n", {2, 5, 8, 1}},
      {"Piano Chord,cmaj.wav", "\tNote c\n\tChord maj\n", {0, 4, 7}},
      {"Piano Chord,-14,C.wav", "\tNote C\n\tChord \n", {10, 2, 5}},
      {"Piano Chord,25,C.wav", "\tNote C\n\tChord \n", {1, 5, 8}},
      {"Piano Chord,-2147483648,C.wav", "\tNote C\n\tChord \n", {4, 8, 11}},
      {"Piano Chord,99999999999,C.wav", "\tNote C\n\tChord \n", {7, 11, 2}},
      {"Pad ChordSemitones,-12.wav", "", {0, -12}},
      {"Pad ChordSemitones,4,7.wav", "", {0, 7, 4}},
      {"Pad ChordSemitones,2,4,7,11.wav", "", {0, 11, 7, 4}},
      {"Pad ChordSemitones,,x.wav", "", {0, 0, 0}},
      {"Pad ChordSemitones,99999999999.wav", "", {0, 2147483647}},
      {"Pad chordsemitones,5.wav", "", {0, 5}},
      {"Pad Chord,C ChordSemitones,5.wav", "", {0, 5, 0}},
      {"Kick.wav", "", {0}},
      {"Piano chord,Cmaj.wav", "\tNote C\n\tChord maj\n", {0, 4, 7}},
      {"Piano CHORD,Cmaj.wav", "", {0}},
      {"PianoChord,Cmaj.wav", "", {0}},
      {"Pad Chordsemitones,5.wav", "", {0}},
  };
  for (const Row& row : rows) {
    Decoded d = decode(std::string("/kit/") + row.name);
    EXPECT_EQ(d.lines, row.lines) << row.name;
    EXPECT_EQ(d.offsets, row.offsets) << row.name;
  }
}

TEST(ChordTags, TheWholePathIsSearched) {
  // A folder tag applies to every file in it; its comma serves as the comma
  // before a transposition, which then reads 0.
  Decoded folder = decode("/kits/Strings Chord,/pad,Cmin.wav");
  EXPECT_EQ(folder.lines, "\tNote C\n\tChord min\n");
  EXPECT_EQ(folder.offsets, (Offsets{0, 3, 7}));
  Decoded plain = decode("/kits/Strings Chord,/Cmin.wav");
  EXPECT_EQ(plain.lines, "\tNote /\n\tChord Cmin\n");
  EXPECT_EQ(plain.offsets, (Offsets{0}));
  Decoded comma_before = decode("/kits/a,b/Piano Chord,Dmaj.wav");
  EXPECT_EQ(comma_before.offsets, (Offsets{2, 6, 9}));
  // Without an extension the stem ends at the folder's ".": the Note line
  // shows the path's second character.
  Decoded cut = decode("/k.v2/Piano Chord,Dmaj");
  EXPECT_EQ(cut.lines, "\tNote k\n\tChord \n");
  EXPECT_EQ(cut.offsets, (Offsets{0, 4, 7}));
}

TEST(ChordTags, ShortStemsStayInsideThePath) {
  struct Row {
    const char* path;
    const char* lines;
    Offsets offsets;
  };
  const Row rows[] = {
      // No "." after the first character: the stem is empty.
      {" Chord,", "\tNote \n\tChord \n", {0, 4, 7}},
      // The last "." at position 1: a one-character stem.
      {"a. Chord,Cmaj", "\tNote \n\tChord \n", {0, 4, 7}},
      // The stem's last comma at position 1: no room for a transposition.
      {"x,Dmaj.v Chord,z", "\tNote D\n\tChord maj\n", {2, 6, 9}},
      {"x,E Chord.wav", "", {0}},
      // The comma is the stem's last character.
      {"/k/Piano Chord,.wav", "\tNote \n\tChord \n", {0, 4, 7}},
      {"/k/Piano Chord,5,.wav", "\tNote \n\tChord \n", {5, 9, 0}},
      {"/k/Piano Chord,E.wav", "\tNote E\n\tChord \n", {4, 8, 11}},
      {"/k/Piano Chord,Eb.wav", "\tNote E\n\tFlat\n\tChord \n", {3, 7, 10}},
      {". ChordSemitones,5", "", {0}},
      {", ChordSemitones,5.wav", "", {0, 5}},
      {"/k/Pad ChordSemitones,.wav", "", {0, 0}},
  };
  for (const Row& row : rows) {
    Decoded d = decode(row.path);
    EXPECT_EQ(d.lines, row.lines) << row.path;
    EXPECT_EQ(d.offsets, row.offsets) << row.path;
  }
}

// Power of `signal` at `hz` (Goertzel).
double power_at(const std::vector<std::int16_t>& signal, std::size_t count, double hz) {
  const double w = 2.0 * std::numbers::pi * hz / 44100.0;
  double s1 = 0, s2 = 0;
  for (std::size_t i = 0; i < count; ++i) {
    double s = signal[i] + 2.0 * std::cos(w) * s1 - s2;
    s2 = s1;
    s1 = s;
  }
  return s1 * s1 + s2 * s2 - 2.0 * std::cos(w) * s1 * s2;
}

TEST(ChordTags, AMajorChordSoundsItsThreeNotesAboveTheRecording) {
  std::vector<std::int16_t> sine(44100);
  for (std::size_t i = 0; i < sine.size(); ++i) {
    sine[i] = static_cast<std::int16_t>(std::lround(12000 * std::sin(2 * std::numbers::pi * 440.0 * static_cast<double>(i) / 44100)));
  }
  auto record = testing::make_record(testing::le16_bytes(sine), 1, 16, 44100, -1, "/kit/Sine Chord,Cmaj.wav");
  ::testing::internal::CaptureStdout();
  ChordNotes chord = decode_chord_tags(record->path);
  ::testing::internal::GetCapturedStdout();
  render_slice(*record, 44100.0, 44100, chord);
  std::vector<std::int16_t> out = testing::rendered(*record);
  // All three copies sound over the first 20000 frames.
  const double root = power_at(out, 20000, 440.0);
  const double third = power_at(out, 20000, 440.0 * std::pow(2.0, 4 / 12.0));
  const double fifth = power_at(out, 20000, 440.0 * std::pow(2.0, 7 / 12.0));
  const double quiet = power_at(out, 20000, 500.0);
  const double wrong_third = power_at(out, 20000, 440.0 * std::pow(2.0, -4 / 12.0));
  const double wrong_fifth = power_at(out, 20000, 440.0 * std::pow(2.0, -7 / 12.0));
  for (double loud : {root, third, fifth}) {
    EXPECT_GT(loud, 100 * quiet);
    EXPECT_GT(loud, 100 * wrong_third);
    EXPECT_GT(loud, 100 * wrong_fifth);
  }
}

// Chromatic key map.
PackJob chromatic_job(const std::vector<std::pair<std::string, std::int32_t>>& files) {
  PackJob job;
  for (const auto& [name, pitch] : files) {
    auto record = std::make_unique<SampleRecord>();
    record->path = "/kit/" + name;
    record->pitch_semitones = pitch;
    record->pack_start = 100 * job.sample_count;
    record->pack_end = 100 * job.sample_count + 99;
    job.samples[static_cast<std::size_t>(job.sample_count++)] = std::move(record);
  }
  return job;
}

std::string row(const std::vector<int>& values) {
  std::string out = "\t";
  char cell[16];
  for (int v : values) {
    std::snprintf(cell, sizeof cell, "[%2d]", v);
    out += cell;
  }
  return out + "\n";
}

std::string build(PackJob& job, KeyMap& keys) {
  ::testing::internal::CaptureStdout();
  build_key_map(job, keys);
  return ::testing::internal::GetCapturedStdout();
}

std::vector<int> range(int from, int count, int step = 1) {
  std::vector<int> out;
  for (int i = 0; i < count; ++i) out.push_back(from + i * step);
  return out;
}

TEST(KeyMap, OneFileFillsEveryKeyAroundItsNote) {
  for (int pitch : {0, -3}) {
    PackJob job = chromatic_job({{"Keys ChromaticMultiSample,0.wav", pitch}});
    KeyMap keys;
    EXPECT_EQ(build(job, keys), "Sample allocation\n" + row(std::vector<int>(24, 0)) + "Sample pitch\n" +
                                    row(range(-7 + pitch, 24)));
    EXPECT_TRUE(keys.in_use);
    EXPECT_EQ(job.samples[0]->chromatic_note, 0);
  }
}

TEST(KeyMap, TheUpperNeighbourWinsATie) {
  PackJob job = chromatic_job({{"K ChromaticMultiSample,0.wav", 0}, {"K ChromaticMultiSample,4.wav", 0}});
  KeyMap keys;
  build(job, keys);
  std::vector<int> slots(24, 1);
  std::fill(slots.begin(), slots.begin() + 9, 0);
  std::vector<int> pitches = range(-7, 9);
  for (int p : range(-2, 15)) pitches.push_back(p);
  EXPECT_EQ(std::vector<int>(keys.key_slots.begin(), keys.key_slots.end()), slots);
  EXPECT_EQ(std::vector<int>(keys.key_pitches.begin(), keys.key_pitches.end()), pitches);

  // The metadata takes every key from the map: its slice and pitch, forwards,
  // and the first file's play mode for all keys.
  job.samples[0]->path = "/kit/K Loop ChromaticMultiSample,0.wav";
  std::optional<std::string> text = build_drum_metadata(job, keys);
  ASSERT_TRUE(text);
  std::vector<std::int64_t> start = testing::list_of(*text, "start");
  std::vector<std::int64_t> pitch = testing::list_of(*text, "pitch");
  for (std::size_t k = 0; k < 24; ++k) {
    EXPECT_EQ(start[k], position_of_frame(100 * slots[k], kMonoScaleFrames));
    EXPECT_EQ(pitch[k], pitches[k] * 512);
  }
  EXPECT_EQ(testing::list_of(*text, "reverse"), std::vector<std::int64_t>(24, 8192));
  EXPECT_EQ(testing::list_of(*text, "playmode"), std::vector<std::int64_t>(24, 24576));
}

TEST(KeyMap, NotesBeyondTheKeysAreClampedAndRepitched) {
  PackJob high = chromatic_job({{"K ChromaticMultiSample,20.wav", -2}});
  KeyMap keys;
  build(high, keys);
  EXPECT_EQ(keys.key_pitches[23], -6);
  PackJob low = chromatic_job({{"K ChromaticMultiSample,-10.wav", 0}});
  build(low, keys);
  EXPECT_EQ(keys.key_pitches[0], 3);
  // Absurd notes saturate when read, and so do the pitches made from them.
  PackJob absurd = chromatic_job({{"K ChromaticMultiSample,99999999999.wav", -48},
                                  {"K ChromaticMultiSample,-99999999999.wav", 0}});
  build(absurd, keys);
  EXPECT_EQ(keys.key_slots[23], 0);
  EXPECT_EQ(keys.key_slots[0], 1);
  EXPECT_EQ(absurd.samples[0]->chromatic_note, 2147483647);
  EXPECT_EQ(absurd.samples[1]->chromatic_note, -2147483647 - 1);
  EXPECT_EQ(keys.key_pitches[23], -2147483647 - 1);
  EXPECT_EQ(keys.key_pitches[22], -2147483647 - 1);
  EXPECT_EQ(keys.key_pitches[0], 2147483641);
}

TEST(KeyMap, WhichNamesArePlaced) {
  struct Row {
    const char* path;
    bool placed;
    std::int32_t note;
  };
  const Row rows[] = {
      {"/k/K ChromaticMultiSample,5.wav", true, 5},
      {"/k/K chromaticmultisample,5.wav", true, 5},
      {"/k/K Chromaticmultisample,5.wav", false, 0},
      {"/k/K ChromaticMultiSample,5, take2.wav", true, 0},
      {"/k/K ChromaticMultiSample,.wav", true, 0},
      {"/k/K ChromaticMultiSample,5", false, 0},
      {"./K ChromaticMultiSample,5", false, 0},
      {"/k,3.d/K ChromaticMultiSample,5", true, 3},
      {"/k.d/K ChromaticMultiSample,5", false, 0},
  };
  for (const Row& r : rows) {
    std::int32_t note = -99;
    EXPECT_EQ(chromatic_note_of(r.path, &note), r.placed) << r.path;
    if (r.placed) {
      EXPECT_EQ(note, r.note) << r.path;
    }
  }
  PackJob later = chromatic_job({{"A ChromaticMultiSample,3.wav", 0}, {"B ChromaticMultiSample,3.wav", -1}});
  KeyMap keys;
  build(later, keys);
  EXPECT_EQ(keys.key_slots[10], 1);
  EXPECT_EQ(keys.key_pitches[10], -1);

  PackJob none = chromatic_job({{"Kick.wav", 0}});
  EXPECT_EQ(build(none, keys), "");
  EXPECT_FALSE(keys.in_use);
}

TEST(KeyMap, RunPrintsTheTablesInOpModeOnly) {
  for (const char* folder : {"keys", "keys PO-33.12"}) {
    testing::TempDir dir(folder);
    dir.write("Keys ChromaticMultiSample,0.wav", testing::mono16(4410));
    testing::RunResult r = testing::run_program({dir.path});
    EXPECT_EQ(r.status, 0);
    bool po33 = std::string(folder).find("PO-33") != std::string::npos;
    EXPECT_EQ(r.out.find("Sample allocation\n\t[ 0]") != std::string::npos, !po33) << r.out;
    EXPECT_EQ(r.out.find("Sample pitch\n\t[-7][-6]") != std::string::npos, !po33) << r.out;
  }
}

}  // namespace
}  // namespace kitweaver
