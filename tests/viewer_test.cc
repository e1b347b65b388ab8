#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>

#include "app/run.h"
#include "viewer/pack_reader.h"
#include "viewer/report.h"
#include "intake/wav_reader.h"
#include "kitweaver/byte_order.h"
#include "pack/aiff_writer.h"
#include "pack/key_map.h"
#include "pack/pack_target.h"
#include "slice/planner.h"
#include "pack_support.h"
#include "test_support.h"

namespace kitweaver {
namespace {

using inspect::Pack;
using testing::TempDir;

// Runs the stages of a run in-process, so that the records that made the
// pack are still there to compare with what the inspector reads.
struct MadePack {
  PackJob job;
  KeyMap keys;
  wav::Bytes bytes;
};

void make_pack(TempDir& dir, MadePack* made) {
  made->job.directory = dir.path;
  ModeChoice mode = detect_mode(dir.path);
  made->job.device = mode.device;
  made->job.max_pack_seconds = mode.max_pack_seconds;
  ::testing::internal::CaptureStdout();
  scan_directory(made->job);
  const double factor = compute_compression_factor(made->job);
  for (std::int32_t slot = 0; slot < made->job.sample_count; ++slot) plan_slice(made->job, slot, factor);
  if (made->job.device != Device::kPo33) build_key_map(made->job, made->keys);
  const bool written = write_aiff_pack(made->job, made->keys, choose_pack_target(made->job.directory, "", false).path);
  ::testing::internal::GetCapturedStdout();
  ASSERT_TRUE(written);
  made->bytes = testing::read_bytes(dir.file("samplepack.aif"));
}

Pack read_ok(const wav::Bytes& bytes) {
  Pack pack;
  EXPECT_EQ(inspect::read_pack(bytes, &pack), "");
  return pack;
}

const SampleRecord& record(const MadePack& made, std::size_t slot) { return *made.job.samples[slot]; }

TEST(Inspect, RepetitionPackMatchesItsRecords) {
  TempDir dir("kit");
  dir.write("a.wav", testing::mono16(30000));
  dir.write("b Oneshot.wav", testing::mono16(20000));
  dir.write("c Loop.wav", testing::mono16(500000));  // long enough to be shortened
  MadePack made;
  make_pack(dir, &made);
  Pack pack = read_ok(made.bytes);
  EXPECT_FALSE(pack.aifc);
  EXPECT_FALSE(pack.po33);
  EXPECT_EQ(pack.frames, 529200u);
  EXPECT_EQ(pack.rate, 44100.0);
  EXPECT_EQ(pack.slice_count, 3);
  EXPECT_TRUE(pack.warnings.empty());
  const int detune_plain[8] = {0, 0, -3, 3, -3, 3, -4, 4};
  const int detune_loop[8] = {0, 0, -12, 12, -12, 12, -24, 24};
  for (std::size_t k = 0; k < 24; ++k) {
    const SampleRecord& r = record(made, k % 3);
    const inspect::KeyRow& row = pack.keys[k];
    EXPECT_EQ(row.start_frame, r.pack_start) << k;
    EXPECT_EQ(row.end_frame, r.pack_end) << k;
    bool loop = r.path.find(" Loop.") != std::string::npos;
    const int* detune = loop ? detune_loop : detune_plain;
    EXPECT_EQ(row.pitch_semitones(), r.pitch_semitones + detune[k / 3]) << k;
    EXPECT_EQ(inspect::direction_name(row.reverse), (k / 3 == 1 || k / 3 == 4 || k / 3 == 5) ? "reversed" : "forwards");
    std::string mode = r.path.find("Oneshot") != std::string::npos ? "one-shot" : loop ? "loop" : "plain";
    EXPECT_EQ(inspect::play_mode_name(row.play_mode), mode) << k;
  }
  std::string table = inspect::text_report(pack);
  EXPECT_EQ(table.substr(0, 62), "AIFF, 529200 frames at 44100 Hz (12.000 s), 16-bit, 1 channel\n");
  EXPECT_NE(table.find("3 distinct slices"), std::string::npos);
}

TEST(Inspect, ChromaticAndPo33Packs) {
  TempDir chromatic("keys");
  chromatic.write("K ChromaticMultiSample,0.wav", testing::mono16(9000));
  chromatic.write("K ChromaticMultiSample,5.wav", testing::mono16(7000));
  MadePack made;
  make_pack(chromatic, &made);
  Pack pack = read_ok(made.bytes);
  for (std::size_t k = 0; k < 24; ++k) {
    const SampleRecord& r = record(made, static_cast<std::size_t>(made.keys.key_slots[k]));
    EXPECT_EQ(pack.keys[k].start_frame, r.pack_start);
    EXPECT_EQ(pack.keys[k].pitch_semitones(), made.keys.key_pitches[k]);
    EXPECT_EQ(pack.keys[k].reverse, 8192);
  }

  TempDir pocket("pocket PO-33.6");
  pocket.write("a.wav", testing::mono16(44100));
  pocket.write("b.wav", testing::mono16(22050));
  MadePack po;
  make_pack(pocket, &po);
  Pack po_pack = read_ok(po.bytes);
  EXPECT_TRUE(po_pack.po33);
  EXPECT_EQ(po_pack.frames, 6u * 44100);
  EXPECT_NE(inspect::text_report(po_pack).find("PO-33 pack"), std::string::npos);
  for (std::size_t k = 0; k < 2; ++k) EXPECT_EQ(po_pack.keys[k].start_frame, record(po, k).pack_start);
  EXPECT_GE(po_pack.keys[0].start_frame, 17640);
}

// Rewrites our pack as AIFC "sowt": little-endian samples, the chunks in
// another order, an extra chunk, and the text ending in a zero byte.
wav::Bytes as_sowt(const wav::Bytes& aiff) {
  Pack ours = read_ok(aiff);
  const auto chunk = testing::aiff_chunk;
  wav::Bytes comm(aiff.begin() + 20, aiff.begin() + 38);
  const char sowt[] = "sowt\x0elittle-endian";  // type, then a Pascal string
  comm.insert(comm.end(), sowt, sowt + 4 + 1 + 14);
  const std::uint32_t appl_size = load_be32(aiff.data() + 42);
  wav::Bytes appl(aiff.begin() + 46, aiff.begin() + 46 + appl_size);
  while (appl.back() == ' ') appl.pop_back();
  appl.push_back(0);
  wav::Bytes ssnd(8, 0);
  for (std::int16_t s : ours.samples) {
    ssnd.push_back(static_cast<std::uint8_t>(s & 0xFF));
    ssnd.push_back(static_cast<std::uint8_t>((s >> 8) & 0xFF));
  }
  wav::Bytes body = {'A', 'I', 'F', 'C'};
  for (const wav::Bytes& c : {chunk("FVER", {0xA2, 0x80, 0x51, 0x40}), chunk("SSND", ssnd), chunk("APPL", appl),
                              chunk("COMM", comm)}) {
    body.insert(body.end(), c.begin(), c.end());
  }
  return chunk("FORM", body);
}

TEST(Inspect, ReadsAifcSowtWithChunksInAnyOrder) {
  TempDir dir("kit");
  dir.write("a.wav", testing::mono16(30000));
  dir.write("b.wav", testing::mono16(3000));
  MadePack made;
  make_pack(dir, &made);
  Pack ours = read_ok(made.bytes);
  Pack sowt = read_ok(as_sowt(made.bytes));
  EXPECT_TRUE(sowt.aifc);
  EXPECT_TRUE(sowt.little_endian);
  EXPECT_EQ(sowt.frames, ours.frames);
  EXPECT_EQ(sowt.samples, ours.samples);
  for (std::size_t k = 0; k < 24; ++k) {
    EXPECT_EQ(sowt.keys[k].start_raw, ours.keys[k].start_raw);
    EXPECT_EQ(sowt.keys[k].end_raw, ours.keys[k].end_raw);
    EXPECT_EQ(sowt.keys[k].pitch_raw, ours.keys[k].pitch_raw);
  }
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  text.replace(text.find(from), from.size(), to);
  return text;
}

// The text with the first number of one list replaced.
std::string first_value_replaced(std::string text, const std::string& list, const std::string& value) {
  std::size_t at = text.find('[', text.find("\"" + list + "\" :")) + 2;
  text.replace(at, text.find(',', at) - at, value);
  return text;
}

// Our pack with its metadata text replaced.
wav::Bytes with_metadata(const wav::Bytes& aiff, const std::string& text) {
  const std::uint32_t appl_size = load_be32(aiff.data() + 42);
  wav::Bytes out(aiff.begin(), aiff.begin() + 42);
  std::uint8_t size[4];
  store_be32(size, static_cast<std::uint32_t>((text.size() + 1) / 2 * 2));
  out.insert(out.end(), size, size + 4);
  out.insert(out.end(), text.begin(), text.end());
  if (text.size() % 2 == 1) out.push_back(' ');
  out.insert(out.end(), aiff.begin() + 46 + appl_size, aiff.end());
  store_be32(out.data() + 4, static_cast<std::uint32_t>(out.size() - 8));
  return out;
}

TEST(Inspect, BrokenPacksGetOneLineAndAFailingStatus) {
  TempDir dir("kit");
  dir.write("a.wav", testing::mono16(3000));
  MadePack made;
  make_pack(dir, &made);
  const std::uint32_t appl_size = load_be32(made.bytes.data() + 42);
  const std::string text(made.bytes.begin() + 46, made.bytes.begin() + 46 + appl_size);
  wav::Bytes no_appl = made.bytes;
  std::memcpy(no_appl.data() + 46, "xp-1", 4);
  // A text conversion put U+FFFD (EF BF BD) for a byte of the FORM size.
  wav::Bytes mangled = made.bytes;
  mangled[7] = 0xEF;
  mangled.insert(mangled.begin() + 8, {0xBF, 0xBD});
  struct Case {
    const char* name;
    wav::Bytes bytes;
    const char* error;
  };
  const Case cases[] = {
      {"wav", testing::mono16(10), "not an AIFF file"},
      {"empty", {}, "not an AIFF file"},
      {"no-appl", no_appl, "no op-1 application chunk"},
      {"bad-json", with_metadata(made.bytes, replaced(text, "\"drum_version\" : 3,", "\"drum_version\" : ,")),
       "metadata not valid JSON"},
      {"short-list", with_metadata(made.bytes, replaced(text, "\"pitch\" : [ 0, ", "\"pitch\" : [ ")),
       "the \"pitch\" list does not hold 24 numbers"},
      {"form-mangled", mangled, "not an AIFF file"},
      {"25-starts", with_metadata(made.bytes, replaced(text, "\"start\" :  [ ", "\"start\" :  [ 0, ")),
       "the \"start\" list does not hold 24 numbers"},
      {"huge", with_metadata(made.bytes, first_value_replaced(text, "pitch", "2e81")),
       "the \"pitch\" list holds a number out of range"},
  };
  for (const Case& c : cases) {
    Pack pack;
    EXPECT_EQ(inspect::read_pack(c.bytes, &pack), c.error) << c.name;
  }
  // The program says so on one line and fails.
  dir.write("broken.aif", cases[3].bytes);
  testing::RunResult r = testing::run_program({dir.file("broken.aif")}, KITWEAVER_INSPECT_BINARY);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");

  // A pack whose COMM declares no frames reads as a silent pack.
  wav::Bytes no_frames = made.bytes;
  const auto comm = std::search(no_frames.begin(), no_frames.end(), "COMM", "COMM" + 4);
  ASSERT_NE(comm, no_frames.end());
  store_be32(&*comm + 10, 0);
  Pack silent;
  EXPECT_EQ(inspect::read_pack(no_frames, &silent), "");
  EXPECT_TRUE(silent.samples.empty());

  // Values Kitweaver doesn't write are shown as their numbers.
  Pack odd;
  std::string odd_text = first_value_replaced(first_value_replaced(text, "reverse", "5"), "playmode", "77");
  ASSERT_EQ(inspect::read_pack(with_metadata(made.bytes, odd_text), &odd), "");
  EXPECT_TRUE(odd.warnings.empty());
  EXPECT_NE(inspect::text_report(odd).find("  5          77 "), std::string::npos);
}

TEST(Inspect, DrawsOneLabelledRegionPerSlice) {
  TempDir dir("kit");
  dir.write("a.wav", testing::mono16(30000));
  dir.write("b.wav", testing::mono16(20000));
  dir.write("c.wav", testing::mono16(10000));
  MadePack made;
  make_pack(dir, &made);
  testing::RunResult r = testing::run_program(
      {"--json", dir.file("samplepack.aif"), "--svg", dir.file("pack.svg")}, KITWEAVER_INSPECT_BINARY);
  ASSERT_EQ(r.status, 0);
  nlohmann::json doc = nlohmann::json::parse(r.out);
  EXPECT_EQ(doc["keys"].size(), 24u);
  EXPECT_EQ(doc["slices"], 3);
  wav::Bytes svg_bytes = testing::read_bytes(dir.file("pack.svg"));
  std::string svg(svg_bytes.begin(), svg_bytes.end());
  std::size_t regions = 0;
  for (std::size_t at = svg.find("<g class=\"slice\""); at != std::string::npos; at = svg.find("<g class=\"slice\"", at + 1)) {
    ++regions;
  }
  EXPECT_EQ(regions, 3u);
  EXPECT_NE(svg.find("<path class=\"wave\" d=\"M20 "), std::string::npos);  // one lane, a mono pack's
  EXPECT_EQ(svg.find("data-channel"), std::string::npos);
  EXPECT_NE(svg.find("keys 0,3,6,9,12,15,18,21"), std::string::npos);
  EXPECT_EQ(svg.rfind("</svg>\n"), svg.size() - 7);

  // A real renderer must accept it.
  if (!testing::kHostTools) GTEST_SKIP() << "rsvg-convert is a program of the build machine's";
  const std::optional<std::string> converted = testing::command_output(
      "rsvg-convert -o '" + dir.file("pack.png") + "' '" + dir.file("pack.svg") + "' && echo converted");
  if (!converted) {
    if (std::getenv("CI") != nullptr) FAIL() << "rsvg-convert is missing";
    GTEST_SKIP() << "rsvg-convert is not installed";
  }
  EXPECT_EQ(*converted, "converted\n");
  EXPECT_TRUE(std::filesystem::exists(dir.file("pack.png")));
}

// Hearing and reusing a pack.

// The frames of a 16-bit mono WAV file.
std::vector<std::int16_t> wav_frames(const std::string& path) {
  const wav::Bytes bytes = testing::read_bytes(path);
  WavLayout layout;
  ByteSource source{bytes.data(), bytes.size()};
  if (read_wav_header(source, &layout) != WavVerdict::kAccepted) return {};
  std::vector<std::int16_t> frames(static_cast<std::size_t>(layout.data_bytes) / 2);
  std::memcpy(frames.data(), bytes.data() + layout.data_offset, frames.size() * 2);
  return frames;
}

// Stretches of sound between silences of 1000 frames or more.
std::vector<std::vector<std::int16_t>> sounding_parts(const std::vector<std::int16_t>& frames) {
  std::vector<std::vector<std::int16_t>> parts;
  std::size_t start = 0, quiet = 0;
  bool in_part = false;
  for (std::size_t i = 0; i <= frames.size(); ++i) {
    const bool sound = i < frames.size() && frames[i] != 0;
    if (sound && !in_part) start = i, in_part = true;
    quiet = sound ? 0 : quiet + 1;
    if (in_part && (quiet == 1000 || i == frames.size())) {
      parts.emplace_back(frames.begin() + static_cast<std::ptrdiff_t>(start),
                         frames.begin() + static_cast<std::ptrdiff_t>(i + 1 - quiet));
      in_part = false;
    }
  }
  return parts;
}

TEST(Inspect, AuditionPlaysEachKeyAtItsRecordedPitchAndLength) {
  // 24 s of recordings in a 12 s pack: every slice is an octave up, half as
  // long, and its key pitches it back down.
  TempDir dir("kit");
  for (int i = 0; i < 24; ++i) dir.write("tone " + std::to_string(i) + ".wav", testing::sine16(44100, 440.0));
  MadePack made;
  make_pack(dir, &made);
  ASSERT_EQ(record(made, 0).pitch_semitones, -12);
  testing::RunResult r = testing::run_program(
      {dir.file("samplepack.aif"), "--audition", dir.file("heard.wav"), "--keys", "0,5-6"}, KITWEAVER_INSPECT_BINARY);
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.out, dir.file("heard.wav") + ": keys 0 5 6, " + r.out.substr(r.out.rfind(", ") + 2));
  const auto parts = sounding_parts(wav_frames(dir.file("heard.wav")));
  ASSERT_EQ(parts.size(), 3u);
  for (const auto& part : parts) {
    EXPECT_NEAR(static_cast<double>(part.size()), 44100.0, 0.03 * 44100);
    std::size_t crossings = 0;
    for (std::size_t i = part.size() / 10 + 1; i < part.size() * 9 / 10; ++i) {
      crossings += (part[i - 1] < 0) != (part[i] < 0);
    }
    EXPECT_NEAR(static_cast<double>(crossings) / 2.0 / (0.8 * static_cast<double>(part.size()) / 44100.0), 440.0, 4.4);
  }
}

TEST(Inspect, ReversedKeySoundsLikeItsForwardsKeyBackwards) {
  // One file: key 2 plays it 3 semitones down, key 4 the same reversed.
  TempDir dir("kit");
  dir.write("decay.wav", testing::sine16(22050, 300.0, [](std::size_t i) { return std::exp(static_cast<double>(i) / -5000.0); }));
  MadePack made;
  make_pack(dir, &made);
  std::vector<double> envelopes[2];
  for (int side = 0; side < 2; ++side) {
    const std::string out = dir.file(side == 0 ? "forwards.wav" : "reversed.wav");
    ASSERT_EQ(testing::run_program({dir.file("samplepack.aif"), "--audition", out, "--keys", side == 0 ? "2" : "4"},
                                   KITWEAVER_INSPECT_BINARY).status, 0);
    std::vector<std::int16_t> frames = wav_frames(out);
    if (side == 1) std::reverse(frames.begin(), frames.end());
    for (std::size_t at = 0; at + 441 <= frames.size(); at += 441) {
      double power = 0;
      for (std::size_t i = at; i < at + 441; ++i) power += static_cast<double>(frames[i]) * frames[i];
      envelopes[side].push_back(std::sqrt(power / 441));
    }
  }
  ASSERT_EQ(envelopes[0].size(), envelopes[1].size());
  ASSERT_GT(envelopes[0].size(), 50u);  // 0.5 s played 3 semitones down
  EXPECT_GT(envelopes[0].front(), 20 * envelopes[0].back());
  for (std::size_t w = 0; w < envelopes[0].size(); ++w) EXPECT_NEAR(envelopes[0][w], envelopes[1][w], 200.0) << w;
}

TEST(Inspect, RawSlicesExtractedFromAPackRebuildTheKit) {
  // A PO-33 pack that needs no shortening holds every recording unchanged.
  TempDir dir("pocket PO-33.5");
  const std::pair<const char*, wav::Bytes> recordings[] = {
      {"kick Oneshot.wav", testing::sine16(9000, 60.0)},
      {"pad Loop.wav", testing::sine16(12000, 220.0)},
      {"hat.wav", testing::mono16(5000)},
  };
  std::set<std::vector<std::int16_t>> originals;
  for (const auto& [name, bytes] : recordings) {
    dir.write(name, bytes);
    originals.insert(wav_frames(dir.file(name)));
  }
  MadePack made;
  make_pack(dir, &made);
  dir.write("sowt.aif", as_sowt(made.bytes));

  auto slices_of = [](const Pack& pack) {
    std::multiset<std::pair<double, std::string>> slices;
    for (std::size_t k = 0; k < 3; ++k) {
      slices.insert({pack.keys[k].end_frame - pack.keys[k].start_frame, inspect::play_mode_name(pack.keys[k].play_mode)});
    }
    return slices;
  };
  for (const char* pack_name : {"samplepack.aif", "sowt.aif"}) {
    const std::string out = dir.root + "/out " + pack_name + " PO-33.5";
    testing::RunResult r =
        testing::run_program({dir.file(pack_name), "--extract", out, "--raw"}, KITWEAVER_INSPECT_BINARY);
    ASSERT_EQ(r.status, 0) << pack_name;
    std::set<std::vector<std::int16_t>> extracted;
    std::set<std::string> names;
    for (const std::string& name : testing::listing_order(out)) {
      extracted.insert(wav_frames(out + "/" + name));
      names.insert(name);
    }
    EXPECT_EQ(extracted, originals) << pack_name;
    EXPECT_EQ(names.size(), 3u);
    EXPECT_EQ(std::count_if(names.begin(), names.end(), [](const std::string& n) { return n.ends_with(" Oneshot.wav"); }), 1);
    EXPECT_EQ(std::count_if(names.begin(), names.end(), [](const std::string& n) { return n.ends_with(" Loop.wav"); }), 1);

    // The extracted folder makes a kit of the same slices and play modes.
    ASSERT_EQ(testing::run_program({out}).status, 0);
    EXPECT_EQ(slices_of(read_ok(testing::read_bytes(out + "/samplepack.aif"))), slices_of(read_ok(made.bytes)));
  }
}

TEST(Inspect, AuditionAndExtractFailuresGetOneLineAndLeaveNothing) {
  TempDir dir("kit");
  dir.write("a.wav", testing::mono16(3000));
  dir.write("b.wav", testing::mono16(2000));
  MadePack made;
  make_pack(dir, &made);
  const std::string pack = dir.file("samplepack.aif");
  std::filesystem::create_directory(dir.file("taken"));
  const bool pipes = testing::make_pipe(dir.file("pipe"));
  ASSERT_EQ(testing::run_program({pack, "--extract", dir.file("taken")}, KITWEAVER_INSPECT_BINARY).status, 0);
  std::filesystem::remove(dir.file("taken/02 keys 1 3 5 7 9 11 13 15 17 19 21 23.wav"));  // one is gone
  struct Case {
    std::vector<std::string> args;
    std::string line;
  };
  const Case cases[] = {
      {{dir.file("none.aif"), "--audition", dir.file("x.wav")}, "kitweaver-inspect: " + dir.file("none.aif") + ": cannot be read: " + error_text(testing::kNoSuchFile)},
      {{pack, "--audition", dir.file("nowhere/x.wav")}, "kitweaver-inspect: " + dir.file("nowhere/x.wav") + ": cannot be written: " + error_text(testing::kNoSuchFolder)},
      {{pack, "--audition", dir.file("pipe")}, "kitweaver-inspect: " + dir.file("pipe") + ": cannot be written: Not a regular file or folder"},
      {{pack, "--audition", dir.file("x.wav"), "--keys", "0,24"}, "kitweaver-inspect: key list \"0,24\" names a key out of range (keys are 0 to 23)"},
      {{pack, "--audition", dir.file("x.wav"), "--keys", "3-x"}, "kitweaver-inspect: key list \"3-x\" is malformed (use numbers and ranges, as in 0,3,7-9)"},
      {{pack, "--audition", dir.file("x.wav"), "--keys", "5-2,"}, "kitweaver-inspect: key list \"5-2,\" is malformed (use numbers and ranges, as in 0,3,7-9)"},
      {{pack, "--extract", dir.file("taken")}, "kitweaver-inspect: " + dir.file("taken") + kPathSeparator + "01 keys 0 2 4 6 8 10 12 14 16 18 20 22.wav" + " already exists; nothing was written"},
      {{pack, "--audition", dir.file("a.wav")}, "kitweaver-inspect: " + dir.file("a.wav") + " already exists; nothing was written"},
  };
  for (const Case& c : cases) {
    if (c.args.back() == dir.file("pipe") && !pipes) continue;
    testing::RunResult r = testing::run_program(c.args, KITWEAVER_INSPECT_BINARY, -1, true);
    EXPECT_EQ(r.status, 1) << c.line;
    EXPECT_EQ(r.err, c.line + "\n");
  }
  EXPECT_EQ(testing::read_bytes(dir.file("a.wav")), testing::mono16(3000));
  EXPECT_EQ(testing::listing_order(dir.file("taken")).size(), 1u);
  for (const std::string& name : testing::listing_order(dir.path)) {
    EXPECT_TRUE(name == "a.wav" || name == "b.wav" || name == "samplepack.aif" || name == "taken" || name == "pipe") << name;
  }
}

// Options that don't go together get one line saying what goes with what;
// --help lists every option and --version prints the version line.
TEST(Inspect, OptionsThatDoNotGoTogetherGetOneLine) {
  TempDir dir("kit");
  dir.write("a.wav", testing::mono16(3000));
  ASSERT_EQ(testing::run_program({dir.path}).status, 0);
  const std::string pack = dir.file("samplepack.aif");
  const std::string disk = dir.file("disk");
  ASSERT_TRUE(testing::make_folder(disk) && testing::make_folder(dir.file("disk/drum")));
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--keys", "1", pack}, "--keys goes with --audition"},
      {{pack, "--extract", dir.file("x"), "--keys", "1"}, "--keys goes with --audition"},
      {{"--raw", pack}, "--raw goes with --extract"},
      {{"-o", dir.file("x.aif"), pack}, "-o goes with --set or --rescale"},
      {{"--output=" + dir.file("x.aif"), "--json", pack}, "--output goes with --set or --rescale"},
      {{"--rescale", "--set", "0:pitch=1", pack}, "--rescale does not go with --set"},
      {{"--set", "0:pitch=1", "--svg", dir.file("x.svg"), pack}, "--set does not go with --svg"},
      {{"--json", "--rescale", pack}, "--json does not go with --rescale"},
      {{pack, "--audition", dir.file("x.wav"), "--set", "0:pitch=1"}, "--audition does not go with --set"},
      {{"--svg", dir.file("x.svg"), disk}, "--svg does not go with a DISK"},
      {{"--set", "0:pitch=1", disk}, "--set does not go with a DISK"},
      {{"--rescale", "-o", dir.file("x.aif"), disk}, "-o does not go with a DISK"},
      {{disk, "--extract", dir.file("x")}, "--extract does not go with a DISK"},
  };
  for (const auto& [args, line] : cases) {
    const testing::RunResult r = testing::run_program(args, KITWEAVER_INSPECT_BINARY, -1, true);
    EXPECT_EQ(r.status, 2) << line;
    EXPECT_EQ(r.err, "kitweaver-inspect: " + line + "\n");
    EXPECT_EQ(r.out, "");
  }
  EXPECT_EQ(testing::listing_order(dir.path).size(), 3u);  // a.wav, the pack, the disk: nothing written
  const testing::RunResult help = testing::run_program({"-h"}, KITWEAVER_INSPECT_BINARY);
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("\n  -h, --help        print this text\n  --version         print the version\n"),
            std::string::npos);
  const testing::RunResult version = testing::run_program({pack, "--version"}, KITWEAVER_INSPECT_BINARY);
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, testing::run_program({"--version"}).out);
  EXPECT_TRUE(version.out.starts_with("Kitweaver ")) << version.out;
}

}  // namespace
}  // namespace kitweaver
