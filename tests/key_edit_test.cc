// Changing keys of a pack with kitweaver-inspect --set: ours and one laid out
// as another tool might write it, edits that hold and edits that are refused.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <nlohmann/json.hpp>

#include "kitweaver/byte_order.h"
#include "pack_support.h"
#include "test_support.h"
#include "viewer/key_edit.h"
#include "viewer/pack_reader.h"

namespace kitweaver {
namespace {

using testing::TempDir;
using Lists = std::array<std::array<std::int64_t, kSlotCount>, 5>;  // start, end, pitch, reverse, playmode

using testing::aiff_chunk;

std::string list(const std::array<std::int64_t, kSlotCount>& values, const char* separator) {
  std::string text;
  for (std::size_t k = 0; k < values.size(); ++k) text += (k > 0 ? separator : "") + std::to_string(values[k]);
  return text;
}

// A pack as another tool might write it: the text's fields in another order
// and spacing, with a field no tool here knows (which names "pitch" and
// "end" itself), ended by a zero byte; an odd-sized chunk before the sound.
wav::Bytes other_tool_pack(const Lists& v) {
  constexpr std::uint32_t kFrames = 44100;
  const std::string text = "op-1{\"type\":\"drum\",\"name\":\"other tool\",\n  \"pitch\":[" + list(v[2], ",") +
                           "],\n  \"start\": [ " + list(v[0], ", ") +
                           " ],\n  \"x_unknown\": {\"pitch\": [1, 2], \"note\": \"say \\\"end\\\"\"},\n  \"end\":[" +
                           list(v[1], ",") + "],\"playmode\":[" + list(v[4], ",") + "],\n  \"reverse\" :[" +
                           list(v[3], " , ") + "],\"volume\":[" + list({}, ",") + "],\"drum_version\":3}";
  wav::Bytes appl(text.begin(), text.end());
  appl.push_back(0);
  wav::Bytes comm = {0, 1, 0, 0, 0, 0, 0, 16, 0x40, 0x0E, 0xAC, 0x44, 0, 0, 0, 0, 0, 0};
  store_be32(comm.data() + 2, kFrames);
  wav::Bytes ssnd(8, 0);
  for (std::uint32_t i = 0; i < kFrames; ++i) {
    ssnd.push_back(static_cast<std::uint8_t>(i >> 3));
    ssnd.push_back(static_cast<std::uint8_t>(i));
  }
  wav::Bytes body = {'A', 'I', 'F', 'F'};
  for (const wav::Bytes& c : {aiff_chunk("COMM", comm), aiff_chunk("APPL", appl),
                              aiff_chunk("ANNO", {'h', 'e', 'l', 'l', 'o'}), aiff_chunk("SSND", ssnd)}) {
    body.insert(body.end(), c.begin(), c.end());
  }
  return aiff_chunk("FORM", body);
}

Lists other_tool_values() {
  Lists v{};
  for (std::size_t k = 0; k < kSlotCount; ++k) {
    v[0][k] = static_cast<std::int64_t>(k) * 1000 * 4056;
    v[1][k] = (static_cast<std::int64_t>(k) * 1000 + 999) * 4056;
    v[2][k] = k % 2 == 0 ? 0 : -1536;
    v[3][k] = 8192;
    v[4][k] = 20480;
  }
  return v;
}

inspect::Pack read(const wav::Bytes& bytes) {
  inspect::Pack pack;
  EXPECT_EQ(inspect::read_pack(bytes, &pack), "");
  return pack;
}

Lists lists_of(const inspect::Pack& pack) {
  Lists v{};
  for (std::size_t k = 0; k < kSlotCount; ++k) {
    const inspect::KeyRow& r = pack.keys[k];
    v[0][k] = r.start_raw;
    v[1][k] = r.end_raw;
    v[2][k] = r.pitch_raw;
    v[3][k] = r.reverse;
    v[4][k] = r.play_mode;
  }
  return v;
}

// A pack Kitweaver made from three recordings.
wav::Bytes our_pack(TempDir& dir) {
  dir.write("a.wav", testing::mono16(30000));
  dir.write("b.wav", testing::mono16(20000));
  dir.write("c.wav", testing::mono16(10000));
  EXPECT_EQ(testing::run_program({dir.path}).status, 0);
  return testing::read_bytes(dir.file("samplepack.aif"));
}

// The APPL chunk's body and the bytes before and after the chunk.
struct Parts {
  wav::Bytes before, body, after;
};
Parts parts_of(const wav::Bytes& pack) {
  std::size_t at = 12;
  while (std::memcmp(pack.data() + at, "APPL", 4) != 0) at += 8 + ((load_be32(pack.data() + at + 4) + 1) & ~1u);
  const std::uint32_t size = load_be32(pack.data() + at + 4);
  const auto begin = pack.begin() + static_cast<std::ptrdiff_t>(at);
  return {{pack.begin(), begin}, {begin + 8, begin + 8 + size}, {begin + 8 + size + (size & 1u), pack.end()}};
}

TEST(KeyEdit, ChangesOnlyTheNamedValuesOfPacksInAnyLayout) {
  TempDir ours_dir("kit");
  const wav::Bytes ours = our_pack(ours_dir);
  const wav::Bytes other = other_tool_pack(other_tool_values());
  // A pack whose sound chunk runs past the end of the file (a copy cut
  // short): read as far as it goes, changed, and left as cut as it was.
  const wav::Bytes cut(ours.begin(), ours.end() - 1000);
  struct Case {
    const char* what;
    const wav::Bytes& pack;
    std::vector<std::string> sets;
    std::function<void(Lists&)> expect;  // the lists after the edits
  };
  const Case cases[] = {
      {"ours: several fields, a range, a later set winning", ours,
       {"3:pitch=+2.5,direction=reversed", "all:mode=one-shot", "12-13:mode=loop", "13:mode=plain"},
       [](Lists& v) {
         v[2][3] += 1280;
         v[3][3] = 24576;
         v[4].fill(20480);
         v[4][12] = 24576;
         v[4][13] = 8192;
       }},
      {"ours: start and end in frames, decimals rounded", ours, {"0:start=100.5,end=2000", "1:pitch=-0.001"},
       [](Lists& v) {
         v[0][0] = 409857;  // frame 101 on the devices' scale
         v[1][0] = 8115963;  // frame 2000
         v[2][1] = -1;
       }},
      {"ours: pitch steps, added up in order", ours,
       {"3:pitch+=2.5,pitch-=1", "3:pitch+=0.5", "4:pitch=2,pitch+=1", "5:pitch+=1,pitch=-2", "6:pitch-=93"},
       [](Lists& v) {
         v[2][3] += 1024;
         v[2][4] = 1536;
         v[2][5] = -1024;
         v[2][6] = -49152;  // -3 - 93: -96, the lowest
       }},
      {"ours, cut short in its sound", cut, {"5:pitch=-1"}, [](Lists& v) { v[2][5] = -512; }},
      {"another tool's layout", other, {"1:pitch=-3,end=1500.25", "23:direction=reversed,mode=loop"},
       [](Lists& v) {
         v[2][1] = -1536;  // as it was: its bytes stay
         v[1][1] = 6086972;  // frame 1500
         v[3][23] = 24576;
         v[4][23] = 24576;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir("edit");
    dir.write("pack.aif", c.pack);
    std::vector<std::string> args;
    for (const std::string& set : c.sets) args.insert(args.end(), {"--set", set});
    args.insert(args.end(), {"-o", dir.file("out.aif"), dir.file("pack.aif")});
    const testing::RunResult run = testing::run_program(args, KITWEAVER_INSPECT_BINARY);
    ASSERT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "Wrote " + dir.file("out.aif") + "\n");
    EXPECT_EQ(testing::read_bytes(dir.file("pack.aif")), c.pack);
    const wav::Bytes edited = testing::read_bytes(dir.file("out.aif"));
    Lists expected = lists_of(read(c.pack));
    c.expect(expected);
    EXPECT_EQ(lists_of(read(edited)), expected);
    // The FORM size follows the change of length (the size of the whole file
    // where it was, as in every uncut pack).
    EXPECT_EQ(load_be32(edited.data() + 4), load_be32(c.pack.data() + 4) + edited.size() - c.pack.size());
    if (&c.pack == &other) {
      // The tool's own layout, with just the values changed.
      EXPECT_EQ(edited, other_tool_pack(expected));
      continue;
    }
    // Ours: the same text with the values changed, padded with spaces to a
    // multiple of 4 as before; every other chunk as it was.
    const Parts before = parts_of(c.pack), after = parts_of(edited);
    EXPECT_EQ(after.before.size(), before.before.size());
    EXPECT_TRUE(std::equal(after.before.begin() + 8, after.before.end(), before.before.begin() + 8));
    EXPECT_EQ(after.after, before.after);
    EXPECT_EQ(after.body.size() % 4, 0u);
    std::string text(after.body.begin() + 4, after.body.end()), old(before.body.begin() + 4, before.body.end());
    while (text.back() == ' ') text.pop_back();
    while (old.back() == ' ') old.pop_back();
    nlohmann::json was = nlohmann::json::parse(old), now = nlohmann::json::parse(text);
    for (const char* field : {"start", "end", "pitch", "reverse", "playmode"}) was.erase(field), now.erase(field);
    EXPECT_EQ(now, was);
  }
}

// Every key set to the values it has: the same bytes, ours and another
// tool's alike, in place too.
TEST(KeyEdit, OwnValuesGiveTheSameBytes) {
  TempDir dir("kit");
  for (const wav::Bytes& pack : {our_pack(dir), other_tool_pack(other_tool_values())}) {
    const inspect::Pack read_back = read(pack);
    std::vector<inspect::KeyEdit> edits;
    for (int k = 0; k < kSlotCount; ++k) {
      const std::vector<inspect::KeyEdit> own = inspect::key_as_edits(read_back.keys[static_cast<std::size_t>(k)], k);
      edits.insert(edits.end(), own.begin(), own.end());
    }
    wav::Bytes out;
    ASSERT_EQ(inspect::check_key_edits(read_back, edits), "");
    ASSERT_EQ(inspect::apply_key_edits(pack, read_back, edits, &out), "");
    EXPECT_EQ(out, pack);
  }
  const std::string pack = dir.file("samplepack.aif");
  const wav::Bytes before = testing::read_bytes(pack);
  const testing::RunResult run = testing::run_program({"--set", "2:pitch=0,direction=forwards,mode=plain", pack},
                                                      KITWEAVER_INSPECT_BINARY);
  EXPECT_EQ(run.out, "Wrote " + pack + "\n");
  EXPECT_EQ(testing::read_bytes(pack), before);
  // A value changed (the text growing past its padding) and set back.
  ASSERT_EQ(testing::run_program({"--set", "2:pitch=-8.5", "-o", dir.file("up.aif"), pack}, KITWEAVER_INSPECT_BINARY).status, 0);
  ASSERT_NE(testing::read_bytes(dir.file("up.aif")).size(), before.size());
  ASSERT_EQ(testing::run_program({"--set", "2:pitch=0", "-o", dir.file("back.aif"), dir.file("up.aif")},
                                 KITWEAVER_INSPECT_BINARY).status, 0);
  EXPECT_EQ(testing::read_bytes(dir.file("back.aif")), before);
}

TEST(KeyEdit, BadInputGetsOneLineAndChangesNothing) {
  TempDir dir("kit");
  our_pack(dir);
  const std::string pack = dir.file("samplepack.aif");
  const wav::Bytes before = testing::read_bytes(pack);
  const Parts parts = parts_of(before);
  wav::Bytes cut = before;
  cut.resize(parts.before.size() + 8 + parts.body.size() / 2);  // inside the metadata text
  dir.write("cut.aif", cut);
  dir.write("sound.wav", testing::mono16(100));
  wav::Bytes renamed = before;
  std::memcpy(renamed.data() + 46, "xp-1", 4);
  dir.write("no text.aif", renamed);
  const std::string head = "kitweaver-inspect: ";
  struct Case {
    std::string set;
    std::string file;
    int status;
    std::string line;
  };
  const Case cases[] = {
      {"3pitch=1", pack, 2, "--set \"3pitch=1\": expected KEYS:FIELD=VALUE[,FIELD=VALUE...]"},
      {"24:pitch=1", pack, 2, "--set \"24:pitch=1\": keys \"24\" name a key beyond 23"},
      {"x:pitch=1", pack, 2, "--set \"x:pitch=1\": keys \"x\" are not a key, a range such as 12-23, or all"},
      {"3:volume=1", pack, 2, "--set \"3:volume=1\": unknown field \"volume\" (pitch, direction, mode, start, end)"},
      {"3:pitch=high", pack, 2, "--set \"3:pitch=high\": pitch \"high\" is not a number"},
      {"3:direction=up", pack, 2, "--set \"3:direction=up\": direction \"up\" is not forwards or reversed"},
      {"3:mode=once", pack, 2, "--set \"3:mode=once\": mode \"once\" is not plain, one-shot or loop"},
      {"3:pitch=+97", pack, 2, "--set \"3:pitch=+97\": pitch +97 is outside -96 to +96 semitones"},
      {"3:pitch+=97", pack, 2, pack + ": key 3: pitch +97 is outside -96 to +96 semitones"},
      {"all:pitch-=93", pack, 2, pack + ": key 18: pitch -97 is outside -96 to +96 semitones"},
      {"3:pitch+=x", pack, 2, "--set \"3:pitch+=x\": pitch \"x\" is not a number"},
      {"3:start=2000,end=1000", pack, 2, pack + ": key 3: start 2000 is after end 1000"},
      {"3:end=529200", pack, 2, pack + ": key 3: end 529200 is beyond the pack's last frame, 529199"},
      {"3:start=-1", pack, 2, "--set \"3:start=-1\": start -1 is before the pack's first frame"},
      {"3:pitch=1", dir.file("sound.wav"), 1, dir.file("sound.wav") + ": not an AIFF file"},
      {"3:pitch=1", dir.file("cut.aif"), 1, dir.file("cut.aif") + ": no sound data (SSND) chunk"},
      {"3:pitch=1", dir.file("no text.aif"), 1, dir.file("no text.aif") + ": no op-1 application chunk"},
  };
  for (const Case& c : cases) {
    const wav::Bytes file = testing::read_bytes(c.file);
    for (bool in_place : {true, false}) {
      std::vector<std::string> args = {"--set", c.set, c.file};
      if (!in_place) args.insert(args.begin() + 2, {"-o", dir.file("out.aif")});
      const testing::RunResult run = testing::run_program(args, KITWEAVER_INSPECT_BINARY, -1, true);
      EXPECT_EQ(run.status, c.status) << c.set;
      EXPECT_EQ(run.err, head + c.line + "\n");
      EXPECT_EQ(testing::read_bytes(c.file), file) << c.set;
      EXPECT_FALSE(std::filesystem::exists(dir.file("out.aif"))) << c.set;
    }
  }
  EXPECT_EQ(testing::read_bytes(pack), before);
}

// Keys that get the same warning share its line; a key alone keeps its own.
TEST(KeyEdit, KeysAlikeShareAWarningLine) {
  Lists v = other_tool_values();
  v[0].fill(position_of_frame(50000, kMonoScaleFrames));  // keys 2-23: empty, past the sound's 44100 frames
  v[1] = v[0];
  v[0][0] = v[0][1] = 0;
  v[1][0] = position_of_frame(1000, kMonoScaleFrames);
  v[1][1] = position_of_frame(60000, kMonoScaleFrames);
  EXPECT_EQ(read(other_tool_pack(v)).warnings,
            (std::vector<std::string>{
                "key 1: ends past the sound's end, at frame 60000 of 44100; played up to the end",
                "keys 2-23: start and end past the sound's end, at frame 50000 of 44100; played up to the end"}));
}

// --set through a symbolic link changes the file it leads to and leaves the
// link; the pack keeps its permission bits (one read-only stays so).
TEST(KeyEdit, ChangesALinkedPackThroughTheLinkAndKeepsItsMode) {
#ifdef _WIN32
  GTEST_SKIP() << "permission bits and links as the tests make them are POSIX systems'";
#else
  namespace fs = std::filesystem;
  TempDir dir("kit");
  our_pack(dir);
  const std::string pack = dir.file("samplepack.aif");
  ASSERT_TRUE(testing::make_link("samplepack.aif", dir.file("link.aif")));
  for (const fs::perms mode : {fs::perms(0444), fs::perms(0640)}) {
    fs::permissions(pack, mode);
    const inspect::Pack before = read(testing::read_bytes(pack));
    for (const std::string& path : {dir.file("link.aif"), pack}) {
      const std::string set = (path == pack ? "1" : "0") + std::string(":pitch=+4");
      EXPECT_EQ(testing::run_program({"--set", set, path}, KITWEAVER_INSPECT_BINARY).out, "Wrote " + path + "\n");
    }
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(dir.file("link.aif"))));
    EXPECT_EQ(fs::status(pack).permissions(), mode);
    const inspect::Pack after = read(testing::read_bytes(pack));
    EXPECT_EQ(after.keys[0].pitch_raw, 2048) << before.keys[0].pitch_raw;
    EXPECT_EQ(after.keys[1].pitch_raw, 2048) << before.keys[1].pitch_raw;
    ASSERT_EQ(testing::run_program({"--set", "0-1:pitch=0", pack}, KITWEAVER_INSPECT_BINARY).status, 0);
  }
  EXPECT_EQ(testing::listing_order(dir.path).size(), 5u);  // no temporary file left
#endif
}

// -o onto a file that is no drum pack refuses before anything is read or
// written; onto a drum pack, or a folder, it writes.
TEST(KeyEdit, OutputOntoAFileThatIsNoPackIsRefused) {
  TempDir dir("kit");
  our_pack(dir);
  const std::string pack = dir.file("samplepack.aif");
  dir.write("other.aif", testing::read_bytes(pack));
  testing::make_folder(dir.file("out"));
  dir.write("out/samplepack.aif", testing::mono16(10));  // what -o FOLDER would write over
  struct Case {
    std::vector<std::string> args;
    std::string target;
    int status;
  };
  const Case cases[] = {
      {{"--set", "0:pitch=1", "-o", dir.file("a.wav"), pack}, dir.file("a.wav"), 1},
      {{"--rescale", "--output", dir.file("a.wav"), pack}, dir.file("a.wav"), 1},
      {{"--set", "0:pitch=1", "-o", dir.file("out"), pack}, dir.file("out") + kPathSeparator + "samplepack.aif", 1},
      {{"--set", "0:pitch=1", "-o", dir.file("other.aif"), pack}, dir.file("other.aif"), 0},
  };
  for (const Case& c : cases) {
    const wav::Bytes before = testing::read_bytes(c.target);
    const testing::RunResult run = testing::run_program(c.args, KITWEAVER_INSPECT_BINARY, -1, true);
    EXPECT_EQ(run.status, c.status) << c.target;
    if (c.status == 0) {
      EXPECT_EQ(run.out, "Wrote " + c.target + "\n");
      EXPECT_NE(testing::read_bytes(c.target), before);
      continue;
    }
    EXPECT_EQ(run.err, "kitweaver-inspect: Could not write [" + c.target + "]: it is not a drum pack\n");
    EXPECT_EQ(testing::read_bytes(c.target), before);
  }
  EXPECT_EQ(testing::listing_order(dir.path).size(), 6u);  // three recordings, two packs, out: no other file
}

}  // namespace
}  // namespace kitweaver
