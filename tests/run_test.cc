#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>

#include "app/run.h"
#include "format/drum_format.h"
#include "kitweaver/version.h"
#include "pack_support.h"
#include "test_support.h"

namespace kitweaver {
namespace {

using testing::run_program;
using testing::TempDir;

const std::string kBanner = std::string(kVersionLine) + "\n";
const std::string kUsage = kBanner + "\nUsage:\n\t kitweaver <WAV files directory location>\n\n";

TEST(Run, WrongArgumentsPrintUsage) {
  struct Case {
    std::vector<std::string> args;
    std::string complaint;  // the line before the usage text
  };
  const Case cases[] = {
      {{}, ""},
      {{"a", "b"}, ""},
      {{"-o", "x.aif"}, ""},                          // no folder
      {{"a", "-o", "x.aif"}, ""},                     // options come before the folder
      {{"-x", "a"}, "Unknown option [-x]\n"},
      {{"--hq=1", "a"}, "Unknown option [--hq=1]\n"},
      {{"a", "-o"}, ""},
      {{"--hq"}, ""},
      {{"--hq", "a", "b"}, ""},
      {{"-o"}, "Option [-o] needs a path\n"},
      {{"--output"}, "Option [--output] needs a path\n"},
      {{"--field"}, ""},
      // A PO-33 kit is played into the device, never loaded as a field kit.
      {{"--field", "kit PO-33.4"}, "Option [--field] makes an OP-1 field kit; a PO-33 folder makes a PO-33 pack\n"},
  };
  for (const Case& c : cases) {
    testing::RunResult r = run_program(c.args);
    EXPECT_EQ(r.out, kBanner + c.complaint + kUsage.substr(kBanner.size())) << c.args.size();
    EXPECT_EQ(r.status, 2);
  }
}

TEST(Run, HelpAndVersionAnswerWhileAFolderOfThatNameIsStillReached) {
  for (const char* option : {"--help", "-h"}) {
    testing::RunResult r = run_program({option});
    EXPECT_EQ(r.status, 0) << option;
    EXPECT_EQ(r.out.rfind(kUsage, 0), 0u) << option << r.out;
    EXPECT_NE(r.out.find(" Oneshot.wav"), std::string::npos) << option;
    EXPECT_NE(r.out.find("man kitweaver\n\n"), std::string::npos) << option;
  }
  testing::RunResult version = run_program({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, kBanner);

  TempDir dir("--help");
  dir.write("a.wav", testing::mono16(441));
  const std::filesystem::path here = std::filesystem::current_path();
  std::filesystem::current_path(dir.root);
  testing::RunResult r = run_program({"./--help"});
  std::filesystem::current_path(here);
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(std::filesystem::exists(dir.file("samplepack.aif")));
}

TEST(Run, MissingDirectoryIsReportedAndFindsNothing) {
  TempDir dir;
  std::string missing = dir.file("gone PO-33.5");
  testing::RunResult r = run_program({missing + "/"});
  EXPECT_EQ(r.out, std::string(kBanner) +
                       "\nPO-33 mode; max. pack length 5.0s, inserting 0.2s pause between samples\n\n"
                       "Could not open directory [" + missing + "]: " + error_text(testing::kNoSuchFolder) + "\n"
                       "No WAV files found\n\n");
  EXPECT_EQ(r.status, 1);
}

TEST(Run, FolderWithoutUsableFilesFindsNothing) {
  TempDir dir;
  wav::Bytes broken = testing::mono16(10);
  broken[16] = 18;  // format chunk claims 18 bytes, so "data" is misread
  dir.write("broken.wav", broken);
  dir.write("readme.txt", {'x'});
  testing::RunResult r = run_program({dir.path});
  EXPECT_EQ(r.out, std::string(kBanner) + "\nOP-1/OP-Z mode; max. pack length 12.0s\n\n" +
                       "Processing [" + dir.file("broken.wav") + "] failed.\n" +
                       "\tthe file ends inside its \"ta??\" chunk\n" + "No WAV files found\n\n");
  EXPECT_EQ(r.status, 1);
}

// Names of the entries of a folder, sorted.
std::vector<std::string> entries(const std::string& dir) {
  std::vector<std::string> names = testing::listing_order(dir);
  std::sort(names.begin(), names.end());
  return names;
}

TEST(Run, WritesAPackThatHoldsEverySliceAndReplacesTheLastOne) {
  TempDir dir;
  dir.write("a.wav", testing::mono16(44100));
  dir.write("b Oneshot.wav", testing::mono16(22050));
  std::string lines;
  std::set<std::int64_t> expected_ends;
  std::int64_t last_frame = 0;
  for (const std::string& name : testing::listing_order(dir.path)) {
    lines += "[" + dir.file(name) + "]\n\tlength " + (name == "a.wav" ? "1.00" : "0.50") +
             "s, resampling to 44100Hz, pitching down 0 semitones\n";
    last_frame += (name == "a.wav" ? 44100 : 22050) - 1;
    expected_ends.insert(position_of_frame(last_frame, kMonoScaleFrames));
  }
  testing::RunResult first = run_program({dir.path + "/"});
  EXPECT_EQ(first.status, 0);
  EXPECT_EQ(first.out, std::string(kBanner) + "\nOP-1/OP-Z mode; max. pack length 12.0s\n\n" + lines + "\n");
  wav::Bytes bytes = testing::read_bytes(dir.file("samplepack.aif"));
  testing::PackFile pack = testing::parse_pack(bytes);
  ASSERT_TRUE(pack.well_formed);
  EXPECT_EQ(pack.frames, 529200u);
  EXPECT_EQ(bytes.size(), 64 + pack.appl.size() + 2 * 529200);
  EXPECT_EQ(bytes[bytes.size() - 1], 0);
  EXPECT_EQ(bytes[bytes.size() - 2], 0);
  std::vector<std::int64_t> ends = testing::list_of(pack.appl, "end");
  EXPECT_EQ(std::set<std::int64_t>(ends.begin(), ends.end()), expected_ends);

  // The next run skips the pack it finds and replaces it.
  dir.write("c.wav", testing::mono16(4410));
  testing::RunResult second = run_program({dir.path});
  EXPECT_EQ(second.status, 0);
  EXPECT_EQ(second.out.find("samplepack"), std::string::npos);
  EXPECT_EQ(std::count(second.out.begin(), second.out.end(), '['), 3);
  EXPECT_NE(testing::read_bytes(dir.file("samplepack.aif")), bytes);
  EXPECT_EQ(entries(dir.path), (std::vector<std::string>{"a.wav", "b Oneshot.wav", "c.wav", "samplepack.aif"}));

}

TEST(Run, UnwritablePackIsReportedAndLeavesNothingBehind) {
  TempDir dir;
  dir.write("a.wav", testing::mono16(441));
  std::filesystem::create_directory(dir.file("samplepack.aif"));
  testing::RunResult r = run_program({dir.path});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("\nCould not write [" + dir.file("samplepack.aif") + "]: " + error_text(testing::kIsAFolder) +
                       "\n\n"),
            std::string::npos);
  EXPECT_EQ(entries(dir.path), (std::vector<std::string>{"a.wav", "samplepack.aif"}));
}

TEST(Run, FolderTooDeepForThePackPathIsAWriteFailure) {
  TempDir dir;
  std::string deep = dir.path;
  while (deep.size() < 4000) {
    deep += kPathSeparator + std::string(50, 'd');
    if (!testing::make_folder(deep)) GTEST_SKIP() << "this system takes no path of " << deep.size() << " bytes";
  }
  deep += kPathSeparator + std::string(4085 - deep.size() - 1, 'e');  // 4085 bytes: the files fit, the pack doesn't
  if (!testing::make_folder(deep)) GTEST_SKIP() << "this system takes no path of " << deep.size() << " bytes";
  ASSERT_TRUE(testing::write_file(deep + kPathSeparator + "a.wav", testing::mono16(441)));
  testing::RunResult r = run_program({deep});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("\tlength 0.01s"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Could not write [" + deep + kPathSeparator + "samplepack.aif]: " + error_text(kNameTooLong) + "\n"),
            std::string::npos);
}

TEST(Run, Po33PackTooShortForItsPausesIsNotWritten) {
  TempDir dir("tiny PO-33.1");
  for (const char* name : {"a.wav", "b.wav", "c.wav", "d.wav"}) dir.write(name, testing::mono16(441));
  testing::RunResult r = run_program({dir.path});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, std::string(kBanner) +
                       "\nPO-33 mode; max. pack length 1.0s, inserting 0.2s pause between samples\n\n"
                       "PO-33 pack length 1.0s leaves no room for 4 samples and their pauses\n\n");
  EXPECT_FALSE(std::filesystem::exists(dir.file("samplepack.aif")));
}

TEST(Run, HugeFolderOpensOnlyTheFirst24WavsInFlatMemory) {
  TempDir small("small");
  TempDir huge("huge");
  wav::Bytes wav = testing::mono16(2000);
  wav::Bytes broken = wav;
  broken[20] = 3;
  for (int i = 0; i < 30; ++i) {
    std::string name = std::to_string(i);
    name.insert(0, "w").append(".wav");
    small.write(name, wav);
    huge.write(name, wav);
  }
  for (int i = 0; i < 9970; ++i) {
    std::string name = std::to_string(i);
    name.insert(0, "note").append(".txt");
    huge.write(name, {'x'});
  }
  // Broken WAVs past the 24th would be reported if they were opened.
  for (int i = 0; i < 5; ++i) {
    std::string name = std::to_string(i);
    name.insert(0, "zz broken").append(".wav");
    huge.write(name, broken);
  }
  testing::RunResult a = run_program({small.path});
  testing::RunResult b = run_program({huge.path});
  EXPECT_EQ(a.status, 0);
  EXPECT_EQ(b.status, 0);
  std::size_t lines = 0;
  for (std::size_t at = b.out.find("\tlength"); at != std::string::npos; at = b.out.find("\tlength", at + 1)) ++lines;
  EXPECT_EQ(lines, 24u);
  std::size_t failures = 0;
  for (std::size_t at = b.out.find("Processing ["); at != std::string::npos; at = b.out.find("Processing [", at + 1)) {
    ++failures;
  }
  // Only broken files met before the 24th WAV are opened and reported.
  std::vector<std::string> order = testing::listing_order(huge.path);
  std::size_t expected_failures = 0, wavs = 0;
  for (const std::string& name : order) {
    if (wavs == 24) break;
    if (name.rfind("zz broken", 0) == 0) ++expected_failures;
    if (name[0] == 'w') ++wavs;
  }
  EXPECT_EQ(failures, expected_failures);
  if (testing::wrapper_words().empty()) {
    EXPECT_LT(b.peak_kib - a.peak_kib, 2048) << "listing 10,000 entries should cost no memory";
  }
}

// Reads of the recordings that fail, or find nothing, from `kFrom` on: the
// sound (the header ends at byte 44), or the whole file. The earlier pack
// (an AIFF file, whose chunks the intake walks) is read as it is, unless
// every read fails.
bool is_aiff(std::intptr_t file) {
  char id[4] = {};
  int error = 0;
  return system_read_at(file, id, 4, 0, &error) == 4 && std::memcmp(id, "FORM", 4) == 0;
}
template <std::uint64_t kFrom>
std::int64_t failing_read(std::intptr_t file, void* buffer, std::size_t size, std::uint64_t offset, int* error) {
  if (offset < kFrom || (kFrom > 0 && is_aiff(file))) return system_read_at(file, buffer, size, offset, error);
  *error = testing::kInputOutputError;
  return -1;
}
std::int64_t read_nothing(std::intptr_t file, void* buffer, std::size_t size, std::uint64_t offset, int* error) {
  return offset < 44 || is_aiff(file) ? system_read_at(file, buffer, size, offset, error) : 0;
}

TEST(Run, ReadFailureIsReportedAfterEveryPlanAndMakesNoPack) {
  // A file that has become shorter since intake is silence; a failing read
  // stops the pack, after every slot's lines (or, at intake, as the file is
  // met), and leaves the earlier one.
  TempDir dir;
  for (const char* name : {"K ChromaticMultiSample,0.wav", "K ChromaticMultiSample,7.wav"}) {
    dir.write(name, testing::mono16(441));
  }
  ASSERT_EQ(run_program({dir.path}).status, 0);
  const wav::Bytes earlier = testing::read_bytes(dir.file("samplepack.aif"));
  std::string plans, first, unreadable;
  for (const std::string& name : testing::listing_order(dir.path)) {
    unreadable += "Could not read [" + dir.file(name) + "]: " + error_text(testing::kInputOutputError) + "\n";
    if (name == "samplepack.aif") continue;
    if (first.empty()) first = dir.file(name);
    plans += "[" + dir.file(name) + "]\n\tlength 0.01s, resampling to 44100Hz, pitching down 0 semitones\n";
  }
  const char* argv[] = {"kitweaver", dir.path.c_str()};
  struct Case {
    ReadAt read;
    int status;
    bool planned;      // the planning lines come first
    std::string tail;  // after them
  };
  const Case cases[] = {
      {failing_read<44>, 1, true, "Could not read [" + first + "]: " + error_text(testing::kInputOutputError) + "\n\n"},
      {failing_read<0>, 1, false, unreadable + "\n"},
      {read_nothing, 0, true, "Sample allocation\n"},
  };
  for (const Case& c : cases) {
    ::testing::internal::CaptureStdout();
    RunSettings settings;
    settings.reading.read = settings.reading.read_sound = c.read;
    const int status = run_kitweaver(2, argv, settings);
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(status, c.status);
    const std::string head =
        std::string(kBanner) + "\nOP-1/OP-Z mode; max. pack length 12.0s\n\n" + (c.planned ? plans : "");
    EXPECT_EQ(out.substr(0, head.size() + c.tail.size()), head + c.tail);
    testing::PackFile pack = testing::parse_pack(testing::read_bytes(dir.file("samplepack.aif")));
    if (c.status == 1) {
      EXPECT_EQ(testing::read_bytes(dir.file("samplepack.aif")), earlier);
    } else {
      ASSERT_TRUE(pack.well_formed);
      EXPECT_EQ(std::count(pack.sound.begin(), pack.sound.end(), 0), static_cast<std::ptrdiff_t>(pack.sound.size()));
    }
  }
}

TEST(Run, LargeKitRendersInSmallMemory) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "memory is not measured under the sanitizers";
#endif
  if (!testing::wrapper_words().empty()) GTEST_SKIP() << "memory is not measured under a checker";
  // About 50 MB of 24-bit stereo 96 kHz sound, two files rendered as chords.
  TempDir dir;
  const wav::Bytes bytes = testing::stereo24_noise(4200000);
  for (int i = 0; i < 12; ++i) {
    dir.write("sound " + std::to_string(i) + (i < 2 ? " Chord,Cmaj7.wav" : ".wav"), bytes);
  }
  testing::RunResult r = run_program({dir.path});
  EXPECT_EQ(r.status, 0);
  EXPECT_LT(r.peak_kib, 16 * 1024) << "peak resident memory in KiB";
}

// Real AIFF readers must read every pack. Outside CI a missing reader skips
// the test; in CI it fails it.
TEST(Interop, SoxAndLibsndfileReadThePacks) {
  if (!testing::kHostTools) GTEST_SKIP() << "sox and sndfile-info are programs of the build machine's";
  bool in_ci = std::getenv("CI") != nullptr;
  for (auto [name, seconds] : {std::pair{"kit", 12}, std::pair{"kit PO-33.5", 5}}) {
    TempDir dir(name);
    dir.write("a.wav", testing::mono16(30000));
    dir.write("b Loop.wav", testing::mono16(9000, 22050));
    ASSERT_EQ(run_program({dir.path}).status, 0);
    std::string pack = "'" + dir.file("samplepack.aif") + "'";
    std::string frames = std::to_string(seconds * 44100);

    std::optional<std::string> sox = testing::command_output("sox --i " + pack);
    std::optional<std::string> sndfile = testing::command_output("sndfile-info " + pack);
    if (!sox || !sndfile) {
      if (in_ci) FAIL() << "sox or sndfile-info is missing";
      GTEST_SKIP() << "sox or sndfile-info is not installed";
    }
    EXPECT_NE(sox->find("Channels       : 1\n"), std::string::npos) << *sox;
    EXPECT_NE(sox->find("Sample Rate    : 44100\n"), std::string::npos) << *sox;
    EXPECT_NE(sox->find("Precision      : 16-bit\n"), std::string::npos) << *sox;
    EXPECT_NE(sox->find("= " + frames + " samples"), std::string::npos) << *sox;
    EXPECT_NE(sndfile->find("Frames      : " + frames + "\n"), std::string::npos) << *sndfile;
    EXPECT_NE(sndfile->find("Channels    : 1\n"), std::string::npos) << *sndfile;
    EXPECT_NE(sndfile->find("Sample Rate : 44100\n"), std::string::npos) << *sndfile;
    EXPECT_EQ(sndfile->find("rror"), std::string::npos) << *sndfile;
  }
}

TEST(Interop, MetadataIsJsonWithFiveListsOf24Numbers) {
  TempDir dir;
  dir.write("a.wav", testing::mono16(30000));
  ASSERT_EQ(run_program({dir.path}).status, 0);
  testing::PackFile pack = testing::parse_pack(testing::read_bytes(dir.file("samplepack.aif")));
  ASSERT_EQ(pack.appl.substr(0, 4), "op-1");
  nlohmann::json metadata = nlohmann::json::parse(pack.appl.substr(4));
  for (const char* key : {"start", "end", "pitch", "playmode", "reverse"}) {
    ASSERT_TRUE(metadata[key].is_array()) << key;
    EXPECT_EQ(metadata[key].size(), 24u) << key;
    for (const auto& v : metadata[key]) EXPECT_TRUE(v.is_number_integer()) << key;
  }
  EXPECT_EQ(metadata["name"], "user99");
  EXPECT_EQ(metadata["type"], "drum");
}

// What a new user meets: a recording of no frames refused with its reason,
// a cut recording's real length, the recordings past the 24th named, and
// a pack whose every position is 0 or more.
TEST(Run, WhatANewUserMeets) {
  wav::WavShape cut;
  cut.data = wav::pcm16(std::vector<std::int16_t>(6615, 100));  // 0.15 s held
  cut.declare_data_size = true;
  cut.declared_data_size = 112014;  // 1.27 s declared
  wav::WavShape empty;
  struct Case {
    const char* what;
    std::vector<std::pair<std::string, wav::Bytes>> files;
    int status;
    std::vector<std::string> lines;  // in the output, in this order
  };
  std::vector<Case> cases = {
      {"a recording of no frames beside two",
       {{"kick.wav", testing::mono16(4410)}, {"empty.wav", wav::wav_bytes(empty)}, {"snare.wav", testing::mono16(2205)}},
       0,
       {"Processing [@empty.wav] failed.\n\tthe header declares no frames\n"}},
      {"only a recording of no frames", {{"empty.wav", wav::wav_bytes(empty)}}, 1,
       {"Processing [@empty.wav] failed.\n\tthe header declares no frames\nNo WAV files found\n"}},
      {"a recording cut short", {{"cut.wav", wav::wav_bytes(cut)}}, 0,
       {"[@cut.wav]\n\tlength 1.27s, resampling to 44100Hz, pitching down 0 semitones\n"
        "\tthe file ends early: 0.15s of the 1.27s its header declares\n"}},
      // Shortened by a long recording, one frame becomes none: it takes no
      // room, and no position falls before the pack.
      {"a one-frame recording shortened to none",
       {{"one.wav", testing::mono16(1)}, {"long.wav", testing::mono16(44100 * 13)}}, 0, {}},
  };
  Case many{"26 recordings", {}, 0, {}};
  for (int i = 0; i < 26; ++i) many.files.push_back({"hit " + std::to_string(i) + ".wav", testing::mono16(441)});
  cases.push_back(many);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    for (const auto& [name, bytes] : c.files) dir.write(name, bytes);
    std::vector<std::string> lines = c.lines;
    if (c.files.size() > 24) {
      // The two the listing gives last are left out, named in its order.
      const std::vector<std::string> order = testing::listing_order(dir.path);
      lines.push_back("\nLeft out, a kit holds 24 recordings: [" + dir.file(order[24]) + "], [" +
                      dir.file(order[25]) + "]\n[");
    }
    const testing::RunResult r = run_program({dir.path});
    EXPECT_EQ(r.status, c.status) << r.out;
    std::size_t at = 0;
    for (std::string line : lines) {
      for (std::size_t p = line.find('@'); p != std::string::npos; p = line.find('@')) line.replace(p, 1, dir.file(""));
      const std::size_t found = r.out.find(line, at);
      ASSERT_NE(found, std::string::npos) << line << "\nin\n" << r.out;
      at = found + line.size();
    }
    for (const auto& [name, bytes] : c.files) EXPECT_EQ(testing::read_bytes(dir.file(name)), bytes) << name;
    if (c.status != 0) {
      EXPECT_FALSE(std::filesystem::exists(dir.file("samplepack.aif")));
      continue;
    }
    const testing::PackFile pack = testing::parse_pack(testing::read_bytes(dir.file("samplepack.aif")));
    ASSERT_TRUE(pack.well_formed);
    for (const char* list : {"start", "end"}) {
      for (std::int64_t position : testing::list_of(pack.appl, list)) EXPECT_GE(position, 0) << list;
    }
  }
}

}  // namespace
}  // namespace kitweaver
