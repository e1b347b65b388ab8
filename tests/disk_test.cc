// The devices' own disks: kitweaver-inspect's library of an OP-Z's slots and
// an OP-1's drum folders, --rescale of a disk, and kitweaver -o into an
// OP-Z slot by the device's rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <nlohmann/json.hpp>

#include "device_packs.h"
#include "format/device_disk.h"
#include "test_support.h"

namespace kitweaver {
namespace {

using testing::TempDir;
namespace fs = std::filesystem;

// The files of a disk, by their paths on it.
using DiskFiles = std::vector<std::pair<std::string, wav::Bytes>>;

// The packs a disk holds: drum packs as the devices write them (on their
// scale, and at 4056 per frame), and a synth sample.
struct Packs {
  wav::Bytes device, older, synth;
};
const Packs& packs() {
  static const Packs made = [] {
    Packs p;
    for (const testing::DevicePack& shape : testing::device_packs()) {
      if (std::string(shape.name) == "drum utility") p.device = testing::device_pack_bytes(shape, shape.lists);
      if (std::string(shape.name) == "Kitweaver 1.0") p.older = testing::device_pack_bytes(shape, shape.lists);
    }
    wav::AiffShape sample;
    sample.data.assign(2 * 4410, 1);
    p.synth = wav::aiff_bytes(sample);
    return p;
  }();
  return made;
}

// A disk under `dir` made of `files` (a path ending in "/" is an empty folder).
void make_disk(const TempDir& dir, const DiskFiles& files) {
  for (const auto& [path, bytes] : files) {
    const fs::path full = fs::path(dir.path) / path;
    if (path.back() == '/') {
      fs::create_directories(full);
      continue;
    }
    fs::create_directories(full.parent_path());
    wav::write_file(full.string(), bytes);
  }
}

nlohmann::json library_of(const TempDir& dir) {
  const testing::RunResult run = testing::run_program({"--json", dir.path}, KITWEAVER_INSPECT_BINARY);
  EXPECT_EQ(run.status, 0);
  return nlohmann::json::parse(run.out, nullptr, false);
}

TEST(Disk, LibraryReportsWhatTheDeviceWillMeet) {
  const wav::Bytes none;
  const std::string held = "Calculating used sample space...23.9/24.0 MB\n";
  // Refusals in an earlier import and in the last; lines that are none.
  const std::string log = "Calculating used sample space...11.0/24.0 MB\nimporting a.aif...invalid synth sample\n" +
                          held + "importing kit.aif...SUCCESS. New used space 24524 kB\n"
                                 "importing bass.aif...invalid synth sample\n"
                                 "importing big.aif...sample memory full\n"
                                 "Can't import samplepacks/4-fx/08/big.aif, sample memory full\n"
                                 "Ignoring file of wrong type: notes.txt\n"
                                 "Syncronizing rejected\nSyncronizing config\n[IMPORT COMPLETE]\n";
  // A refused file that a later import took.
  const std::string taken = "Calculating used sample space...11.0/24.0 MB\nimporting kick.aif...sample memory full\n"
                            "Can't import samplepacks/1-kick/01/kick.aif, sample memory full\n"
                            "Calculating used sample space...12.1/24.0 MB\n"
                            "importing kick.aif...SUCCESS. New used space 24524 kB\nSyncronizing rejected\n";
  // A drum pack whose sound (from byte 1084 on) stops 50000 frames into its
  // 100000.
  const wav::Bytes cut(packs().device.begin(), packs().device.begin() + 1084 + 2 * 50000);
  struct Case {
    const char* what;
    DiskFiles files;
    const char* device;
    std::map<std::string, std::string> kinds;  // path: kind
    nlohmann::json problems;
    nlohmann::json used_kb;
    nlohmann::json rejections = nlohmann::json::array();
    std::vector<std::string> table_lines = {};  // lines the table holds
  };
  const Case cases[] = {
      {"an empty OP-Z disk", {{"samplepacks/1-kick/01/", none}}, "op-z", {}, nlohmann::json::array(), nullptr},
      {"a pack in each kind of slot",
       {{"samplepacks/1-kick/01/kit.aif", packs().device}, {"samplepacks/5-bass/01/bass.aif", packs().synth}},
       "op-z",
       {{"samplepacks/1-kick/01/kit.aif", "drum"}, {"samplepacks/5-bass/01/bass.aif", "synth"}},
       nlohmann::json::array(),
       nullptr},
      {"two packs in one slot, and the device's own beside a new one",
       {{"samplepacks/2-snare/04/a.aif", packs().device},
        {"samplepacks/2-snare/04/b.aif", packs().device},
        {"samplepacks/3-perc/10/~held.aif", none},
        {"samplepacks/3-perc/10/new.aif", packs().device}},
       "op-z",
       {{"samplepacks/3-perc/10/~held.aif", "on-device"}},
       R"([{"path": "samplepacks/2-snare/04", "problem": "several-packs-in-slot", "keeps": null},
           {"path": "samplepacks/3-perc/10", "problem": "several-packs-in-slot", "keeps": "~held.aif"}])"_json,
       nullptr},
      {"a synth sample on a drum track, a drum pack on a synth track",
       {{"samplepacks/2-snare/01/bass.aif", packs().synth}, {"samplepacks/6-lead/01/kit.aif", packs().device}},
       "op-z",
       {},
       R"([{"path": "samplepacks/2-snare/01/bass.aif", "problem": "synth-on-drum-track"},
           {"path": "samplepacks/6-lead/01/kit.aif", "problem": "drum-on-synth-track"}])"_json,
       nullptr},
      {"the device's placeholders and notes, and a file that is no pack",
       {{"samplepacks/1-kick/01/~boombap.aif", none},
        {"samplepacks/5-bass/01/~3.engine", none},
        {"samplepacks/1-kick/one_sample_pack_per_slot.plz", none},
        {"samplepacks/1-kick/02/notes.txt", {'h', 'i'}}},
       "op-z",
       {{"samplepacks/1-kick/01/~boombap.aif", "on-device"},
        {"samplepacks/5-bass/01/~3.engine", "engine"},
        {"samplepacks/1-kick/one_sample_pack_per_slot.plz", "other"}},
       R"([{"path": "samplepacks/1-kick/02/notes.txt", "problem": "not-a-pack"}])"_json,
       nullptr},
      {"an import.log of 23.9 MB used", {{"samplepacks/1-kick/01/", none}, {"import.log", wav::Bytes(held.begin(), held.end())}},
       "op-z", {}, nlohmann::json::array(), 24474, nlohmann::json::array(), {"\nNo file refused in import.log.\n"}},
      {"an import.log with refusals, in samplepacks/, one of the files still on the disk",
       {{"samplepacks/import.log", wav::Bytes(log.begin(), log.end())}, {"samplepacks/4-fx/08/BIG.aif", packs().device}},
       "op-z", {}, nlohmann::json::array(), 24524,
       R"([{"file": "a.aif", "reason": "invalid synth sample", "on_disk": false},
           {"file": "bass.aif", "reason": "invalid synth sample", "on_disk": false},
           {"file": "big.aif", "reason": "sample memory full", "on_disk": true}])"_json,
       {"\nFiles the device refused (import.log):\n  a.aif: invalid synth sample (no longer in samplepacks/)\n"
        "  bass.aif: invalid synth sample (no longer in samplepacks/)\n  big.aif: sample memory full (still in samplepacks/)\n"}},
      {"an import.log whose refused file a later import took",
       {{"samplepacks/1-kick/01/kick.aif", packs().device}, {"import.log", wav::Bytes(taken.begin(), taken.end())}},
       "op-z", {}, nlohmann::json::array(), 24524, nlohmann::json::array(), {"\nNo file refused in import.log.\n"}},
      {"packs outside every slot: in a track folder, in samplepacks/, at the disk's root",
       {{"samplepacks/1-kick/kit.aif", packs().device},
        {"samplepacks/1-kick/one_sample_pack_per_slot.plz", none},
        {"samplepacks/kit.aif", packs().synth},
        {"kit.aif", packs().device}},
       "op-z",
       {{"samplepacks/1-kick/kit.aif", "drum"}, {"samplepacks/kit.aif", "synth"}, {"kit.aif", "drum"}},
       R"([{"path": "kit.aif", "problem": "outside-slot"},
           {"path": "samplepacks/1-kick/kit.aif", "problem": "outside-slot"},
           {"path": "samplepacks/kit.aif", "problem": "outside-slot"}])"_json,
       nullptr, nlohmann::json::array(),
       {"  samplepacks/1-kick/kit.aif: outside every slot; the device imports only from samplepacks/TRACK/01 to 10\n"}},
      {"a drum pack cut short",
       {{"samplepacks/1-kick/01/short.aif", cut}},
       "op-z",
       {{"samplepacks/1-kick/01/short.aif", "drum"}},
       R"([{"path": "samplepacks/1-kick/01/short.aif", "problem": "cut-short"}])"_json,
       nullptr, nlohmann::json::array(),
       {"past-end, cut short\n",
        "  samplepacks/1-kick/01/short.aif: cut short: its sound holds 50000 of the 100000 frames its header declares\n"}},
      {"an OP-1's drum folders",
       {{"drum/user/old.aif", packs().older}, {"drum/kicks/new.aif", packs().device}, {"drum/user/bass.aif", packs().synth}},
       "op-1",
       {{"drum/user/old.aif", "drum"}, {"drum/kicks/new.aif", "drum"}},
       R"([{"path": "drum/user/bass.aif", "problem": "synth-on-drum-track"}])"_json,
       nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir("disk");
    make_disk(dir, c.files);
    const nlohmann::json library = library_of(dir);
    EXPECT_EQ(library["device"], c.device);
    EXPECT_EQ(library["problems"], c.problems);
    EXPECT_EQ(library["device_used_kb"], c.used_kb);
    EXPECT_EQ(library["rejections"], c.rejections);
    std::int64_t used = 0;
    for (const nlohmann::json& entry : library["entries"]) {
      const std::string path = entry["path"];
      if (c.kinds.count(path) != 0) {
        EXPECT_EQ(entry["kind"], c.kinds.at(path)) << path;
      }
      if (entry["kind"] == "drum" || entry["kind"] == "synth") used += entry["bytes"].get<std::int64_t>();
      if (entry["kind"] == "drum") {
        EXPECT_EQ(entry["scale"], path.ends_with("old.aif") ? "4056" : "past-end") << path;
        EXPECT_EQ(entry.value("cut_short", false), path.ends_with("short.aif")) << path;
      }
    }
    EXPECT_EQ(library["used_bytes"], used);
    EXPECT_EQ(library["budget_bytes"], std::string(c.device) == "op-z" ? nlohmann::json(24576 * 1024) : nlohmann::json());
    if (c.table_lines.empty()) continue;
    const std::string table = testing::run_program({dir.path}, KITWEAVER_INSPECT_BINARY).out;
    for (const std::string& line : c.table_lines) EXPECT_NE(table.find(line), std::string::npos) << line << table;
  }

  // Packs alone past the device's 24 MB: a sample of 25 MB (a hole, as a
  // sparse file), and the table says so too.
  TempDir dir("disk");
  make_disk(dir, {{"samplepacks/5-bass/02/long.aif", packs().synth}});
  fs::resize_file(dir.file("samplepacks/5-bass/02/long.aif"), 25 << 20);
  EXPECT_EQ(library_of(dir)["problems"], R"([{"path": "", "problem": "over-budget"}])"_json);
  const testing::RunResult table = testing::run_program({dir.path}, KITWEAVER_INSPECT_BINARY);
  EXPECT_NE(table.out.find("the packs on the disk alone, 25600 kB, pass the device's 24576 kB of sample memory"),
            std::string::npos);
}

// --rescale of a disk rewrites the packs at 4056 per frame, their positions
// alone, one line each, then the count; nothing else on the disk changes.
TEST(Disk, RescaleFixesEveryPackThatNeedsItAndNothingElse) {
  TempDir dir("disk");
  make_disk(dir, {{"drum/user/old.aif", packs().older}, {"drum/kicks/new.aif", packs().device}});
  const testing::RunResult run = testing::run_program({"--rescale", dir.path}, KITWEAVER_INSPECT_BINARY);
  EXPECT_EQ(run.status, 0);
  const std::string old_path = (fs::path(dir.path) / "drum" / "user" / "old.aif").string();
  const std::string new_path = (fs::path(dir.path) / "drum" / "kicks" / "new.aif").string();
  EXPECT_EQ(run.out, new_path + ": positions already on the devices' scale; left as it is\nWrote " + old_path +
                         ": positions rescaled from 4056 per frame to the devices' scale\n"
                         "1 pack rewritten, 1 already on the devices' scale, 0 failed\n");
  EXPECT_EQ(testing::read_bytes(new_path), packs().device);
  testing::KeyLists rescaled{};
  for (const testing::DevicePack& shape : testing::device_packs()) {
    if (std::string(shape.name) != "Kitweaver 1.0") continue;
    rescaled = shape.lists;
    for (auto list : {testing::kStartList, testing::kEndList}) {
      for (std::int64_t& position : rescaled[list]) position = position_of_frame(position / 4056, kMonoScaleFrames);
    }
    EXPECT_EQ(testing::read_bytes(old_path), testing::device_pack_bytes(shape, rescaled));
  }
}

// Every file under `root`, by its path there, with its bytes.
std::map<std::string, wav::Bytes> snapshot(const std::string& root) {
  std::map<std::string, wav::Bytes> files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string relative = fs::relative(entry.path(), root).string();
    files[relative + (entry.is_directory() ? "/" : "")] = entry.is_directory() ? wav::Bytes{} : testing::read_bytes(entry.path().string());
  }
  return files;
}

// kitweaver -o onto a disk and onto files: a free slot takes the pack, one
// named by its number is made, a full one refuses it unless --replace,
// which swaps it and names what it removed; a synth track's, a number that
// is no slot, and anywhere outside the slots refuse it; so do a recording
// and any other file that is not a drum pack. A refused run leaves the disk
// and the kit byte for byte as they were; a device near full is warned of.
TEST(Disk, PacksGoOnlyWhereTheDeviceTakesThem) {
  TempDir kit("909");
  kit.write("kick.wav", testing::mono16(4410));
  kit.write("notes.txt", {'h', 'i'});
  TempDir disk("disk");
  const std::string held = "Calculating used sample space...23.9/24.0 MB\n";
  make_disk(disk, {{"samplepacks/1-kick/01/", {}},
                   {"samplepacks/1-kick/02/old kit.aif", packs().device},
                   {"samplepacks/1-kick/03/~boombap.aif", {}},
                   {"samplepacks/2-snare/", {}},
                   {"samplepacks/5-bass/01/", {}},
                   {"samplepacks/6-LEAD/02/", {}},
                   {"elsewhere/take.wav", testing::mono16(100)},
                   {"op1/drum/user/909.aif", packs().device},
                   {"import.log", wav::Bytes(held.begin(), held.end())}});
  // Paths as the system writes them, with its own separator.
  auto native = [](std::string path) {
    std::replace(path.begin(), path.end(), '/', kPathSeparator);
    return path;
  };
  auto slot = [&](const std::string& name) { return native(disk.path + "/samplepacks/" + name); };
  auto on_disk = [&](const std::string& name) { return native(disk.file(name)); };
  const std::string other_case = slot("6-LEAD/02");
  const std::string sep(1, kPathSeparator);
  const std::string warning =
      "Warning: the device last reported 24474 kB of its 24576 kB of sample memory in use; with this pack's 1035 kB "
      "that is 25509 kB, and it may refuse the pack\n";
  const std::string outside = "]: the OP-Z imports drum packs only from its slot folders, " + slot("1-kick/01") +
                              " to 10 (and those of 2-snare, 3-perc, 4-fx)\n";
  const std::string synth = " is on the synth track 5-bass, which takes synth samples, not drum packs; the drum "
                            "tracks are 1-kick, 2-snare, 3-perc, 4-fx\n";
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string last_lines;  // what the run ends with, before its empty line
    std::string folder;      // what it holds after the run
    std::set<std::string> holds;
  };
  const Case cases[] = {
      {{"-o", slot("1-kick/01"), kit.path}, 0, warning + "Wrote " + slot("1-kick/01") + sep + "909.aif\n",
       slot("1-kick/01"), {"909.aif"}},
      {{"-o", slot("1-kick/02"), kit.path}, 1,
       "Slot [" + slot("1-kick/02") + "] already holds [old kit.aif]: the OP-Z imports one sample pack per slot "
       "(--replace swaps it); [" + slot("1-kick/04") + "] is free\n", slot("1-kick/02"), {"old kit.aif"}},
      {{"--replace", "-o", slot("1-kick/02"), kit.path}, 0,
       "Removed [" + slot("1-kick/02/old kit.aif") + "]\n"
       "Warning: the device last reported 24474 kB of its 24576 kB of sample memory in use; with this pack's 1035 kB "
       "in place of the 197 kB it replaces that is 25312 kB, and it may refuse the pack\n"
       "Wrote " + slot("1-kick/02") + sep + "909.aif\n", slot("1-kick/02"), {"909.aif"}},
      {{"-o", slot("1-kick/03"), kit.path}, 1,
       "Slot [" + slot("1-kick/03") + "] already holds [~boombap.aif]: the OP-Z imports one sample pack per slot "
       "(--replace swaps it); [" + slot("1-kick/04") + "] is free\n", slot("1-kick/03"), {"~boombap.aif"}},
      {{"--replace", "-o", slot("1-kick/03"), kit.path}, 0,
       "Removed [" + slot("1-kick/03/~boombap.aif") + "]: it stood for a pack the device holds itself, which the "
       "device drops at its next import\n" + warning + "Wrote " + slot("1-kick/03") + sep + "909.aif\n",
       slot("1-kick/03"), {"909.aif"}},
      // A slot named by its number is that slot, made where it is missing.
      {{"-o", slot("1-kick/07"), kit.path}, 0, warning + "Wrote " + slot("1-kick/07") + sep + "909.aif\n",
       slot("1-kick/07"), {"909.aif"}},
      {{"-o", slot("2-snare/7"), kit.path}, 0, warning + "Wrote " + slot("2-snare/07") + sep + "909.aif\n",
       slot("2-snare/07"), {"909.aif"}},
      {{"-o", slot("1-kick/11"), kit.path}, 1,
       "Slot [" + slot("1-kick/11") + "] is not one of the OP-Z's slots 01 to 10\n", slot("1-kick"),
       {"01", "02", "03", "07"}},
      {{"-o", slot("5-bass/01"), kit.path}, 1, "Slot [" + slot("5-bass/01") + "]" + synth, slot("5-bass/01"), {}},
      {{"-o", slot("5-bass/03"), kit.path}, 1, "Slot [" + slot("5-bass/03") + "]" + synth, slot("5-bass"), {"01"}},
      // The device's disk compares names without case.
      {{"-o", other_case, kit.path}, 1,
       "Slot [" + other_case + "] is on the synth track 6-lead, which takes synth samples, not drum packs; the "
       "drum tracks are 1-kick, 2-snare, 3-perc, 4-fx\n", other_case, {}},
      // Outside every slot: a track folder, a file in one, samplepacks/ and the disk's root.
      {{"-o", slot("1-kick"), kit.path}, 1, "Could not write [" + slot("1-kick") + sep + "909.aif" + outside,
       slot("1-kick"), {"01", "02", "03", "07"}},
      {{"-o", slot("1-kick/kit.aif"), kit.path}, 1, "Could not write [" + slot("1-kick/kit.aif") + outside,
       slot("1-kick"), {"01", "02", "03", "07"}},
      {{"-o", slot(""), kit.path}, 1, "Could not write [" + slot("909.aif") + outside, slot(""),
       {"1-kick", "2-snare", "5-bass", "6-LEAD"}},
      {{"-o", disk.path, kit.path}, 1, "Could not write [" + disk.file("909.aif") + outside, disk.path,
       {"samplepacks", "elsewhere", "op1", "import.log"}},
      // A drum pack of the kit's name is replaced, and the run says so.
      {{"-o", on_disk("op1/drum/user"), kit.path}, 0,
       "Replaced [" + on_disk("op1/drum/user/909.aif") + "]\nWrote " + on_disk("op1/drum/user/909.aif") + "\n",
       on_disk("op1/drum/user"), {"909.aif"}},
      // A file that is no drum pack is never written over.
      {{"-o", kit.file("kick.wav"), kit.path}, 1,
       "Could not write [" + kit.file("kick.wav") + "]: it is one of the kit's recordings\n", kit.path,
       {"kick.wav", "notes.txt"}},
      {{"-o", on_disk("elsewhere/take.wav"), kit.path}, 1,
       "Could not write [" + on_disk("elsewhere/take.wav") + "]: it is not a drum pack\n", on_disk("elsewhere"),
       {"take.wav"}},
      {{"-o", kit.file("notes.txt"), kit.path}, 1,
       "Could not write [" + kit.file("notes.txt") + "]: it is not a drum pack\n", kit.path, {"kick.wav", "notes.txt"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[c.args.size() - 2]);
    const auto disk_before = snapshot(disk.path);
    const auto kit_before = snapshot(kit.path);
    const testing::RunResult run = testing::run_program(c.args);
    EXPECT_EQ(run.status, c.status);
    ASSERT_GE(run.out.size(), c.last_lines.size() + 1);
    EXPECT_EQ(run.out.substr(run.out.size() - c.last_lines.size() - 1), c.last_lines + "\n");
    EXPECT_EQ(testing::entry_set(c.folder), c.holds);
    EXPECT_EQ(snapshot(kit.path), kit_before);
    if (c.status != 0) {
      EXPECT_EQ(snapshot(disk.path), disk_before);
    }
  }
}

// The files the library reads whole, which the page reads for it where the
// browser lets only the page read the user's files.
TEST(Disk, FilesReadWholeByTheCoresRule) {
  struct Case {
    const char* path;
    std::int64_t bytes;
    bool whole;
  };
  const Case cases[] = {
      {"samplepacks/1-kick/01/kit.aif", 1000, true},  {"samplepacks/1-kick/01/KIT.AIFC", 1, true},
      {"samplepacks/1-kick/01/~kit.aif", 0, false},   {"drum/user/big.aif", (64 << 20) + 1, false},
      {"import.log", 10, true},                       {"SamplePacks/import.log", 10, true},
      {"samplepacks/1-kick/import.log", 10, false},   {"samplepacks/1-kick/01/take.wav", 10, false},
  };
  for (const Case& c : cases) EXPECT_EQ(read_whole_on_disk(c.path, c.bytes), c.whole) << c.path;
}

}  // namespace
}  // namespace kitweaver
