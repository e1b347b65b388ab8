#include <gtest/gtest.h>

#include <cstring>

#include "intake/wav_reader.h"
#include "test_support.h"

namespace kitweaver {
namespace {

using testing::TempDir;
using wav::Bytes;
using wav::WavShape;

WavVerdict verdict_of(const Bytes& bytes, WavLayout* layout = nullptr) {
  WavLayout scratch;
  ByteSource source;
  source.bytes = bytes.data();
  source.size = bytes.size();
  return read_wav_header(source, layout != nullptr ? layout : &scratch);
}

WavShape ramp_shape() {
  WavShape shape;
  shape.data = wav::pcm16({1, 2, 3, 4});
  return shape;
}

TEST(WavHeader, AcceptsPcmInTheLayoutsCommonToolsWrite) {
  struct Case {
    const char* what;
    WavShape shape;
  };
  std::vector<Case> cases;
  cases.push_back({"plain 44-byte header", ramp_shape()});
  WavShape list = ramp_shape();
  list.list_before_data = true;
  cases.push_back({"LIST chunk before data", list});
  WavShape fmt18 = ramp_shape();
  fmt18.fmt_size = 18;
  cases.push_back({"18-byte format chunk", fmt18});
  WavShape extensible = ramp_shape();
  extensible.format_tag = 0xFFFE;
  extensible.fmt_size = 40;
  extensible.channels = 2;
  extensible.bits_per_sample = 24;
  extensible.sample_rate = 96000;
  cases.push_back({"extensible 24-bit stereo", extensible});
  for (const Case& c : cases) {
    WavLayout layout;
    Bytes bytes = wav::wav_bytes(c.shape);
    ASSERT_EQ(verdict_of(bytes, &layout), WavVerdict::kAccepted) << c.what;
    EXPECT_EQ(layout.channels, c.shape.channels) << c.what;
    EXPECT_EQ(layout.sample_rate, static_cast<std::int32_t>(c.shape.sample_rate)) << c.what;
    EXPECT_EQ(layout.bits_per_sample, c.shape.bits_per_sample) << c.what;
    EXPECT_EQ(layout.byte_rate,
              static_cast<std::int32_t>(c.shape.sample_rate * c.shape.channels * c.shape.bits_per_sample / 8));
    EXPECT_EQ(layout.data_bytes, 8) << c.what;
    EXPECT_EQ(layout.data_offset, bytes.size() - 8) << c.what;
  }
}

TEST(WavHeader, RejectsShapesItCannotUse) {
  struct Case {
    const char* what;
    Bytes bytes;
  };
  std::vector<Case> cases;
  auto with = [](auto change) {
    WavShape shape = ramp_shape();
    change(shape);
    return wav::wav_bytes(shape);
  };
  cases.push_back({"float format", with([](WavShape& s) { s.format_tag = 3; })});
  cases.push_back({"extensible float", with([](WavShape& s) {
                     s.format_tag = 0xFFFE;
                     s.fmt_size = 40;
                     s.pcm_sub_format = false;
                   })});
  cases.push_back({"extensible tag in a short chunk", with([](WavShape& s) {
                     s.format_tag = 0xFFFE;
                     s.fmt_size = 18;
                   })});
  cases.push_back({"format chunk too small", with([](WavShape& s) { s.fmt_size = 14; })});
  cases.push_back({"byte rate 0", with([](WavShape& s) { s.byte_rate = 0; s.sample_rate = 0; })});
  cases.push_back({"negative byte rate", with([](WavShape& s) { s.byte_rate = 0x80000000u; })});
  cases.push_back({"sample rate 0", with([](WavShape& s) { s.sample_rate = 0; s.byte_rate = 88200; })});
  cases.push_back({"no channels", with([](WavShape& s) { s.channels = 0; s.byte_rate = 88200; })});
  cases.push_back({"12 bits", with([](WavShape& s) { s.bits_per_sample = 12; })});
  cases.push_back({"negative data size", with([](WavShape& s) {
                     s.declare_data_size = true;
                     s.declared_data_size = 0x80000000u;
                   })});

  Bytes good = wav::wav_bytes(ramp_shape());
  Bytes avi = good;
  std::memcpy(avi.data() + 8, "AVI ", 4);
  cases.push_back({"RIFF but not WAVE", avi});
  Bytes data_first(good.begin(), good.begin() + 12);
  data_first.insert(data_first.end(), good.begin() + 36, good.end());
  data_first.insert(data_first.end(), good.begin() + 12, good.begin() + 36);
  cases.push_back({"data before fmt", data_first});
  cases.push_back({"no data chunk", Bytes(good.begin(), good.begin() + 36)});
  cases.push_back({"ends after the data ID", Bytes(good.begin(), good.begin() + 40)});
  Bytes runaway(good.begin(), good.begin() + 36);
  wav::append_id(runaway, "junk");
  wav::append_le32(runaway, 1000);  // a skipped body past the end of the file
  runaway.resize(runaway.size() + 20);
  cases.push_back({"skipped chunk past the end", runaway});
  Bytes wrapping(good.begin(), good.begin() + 36);
  wav::append_id(wrapping, "junk");
  wav::append_le32(wrapping, 0xFFFFFFFFu);  // a size that would wrap a 32-bit offset
  cases.push_back({"skipped chunk of 4 GB", wrapping});

  for (const Case& c : cases) {
    EXPECT_EQ(verdict_of(c.bytes), WavVerdict::kRejected) << c.what;
  }
}

TEST(WavHeader, NonRiffInputIsNotReported) {
  EXPECT_EQ(verdict_of({}), WavVerdict::kNotRiff);
  EXPECT_EQ(verdict_of({'R', 'I', 'F'}), WavVerdict::kNotRiff);
  EXPECT_EQ(verdict_of({'F', 'O', 'R', 'M', 0, 0, 0, 4, 'A', 'I', 'F', 'F'}), WavVerdict::kNotRiff);
}

// A read that fails is told apart from a file that ends early: the first is
// reported (and makes no pack), the second passed over or rejected.
std::int64_t failing_read(std::intptr_t, void*, std::size_t, std::uint64_t, int* error) {
  *error = testing::kInputOutputError;
  return -1;
}

TEST(WavHeader, AFailedReadIsToldApartFromAShortFile) {
  testing::TempDir dir("reads");
  dir.write("short.wav", Bytes{'R', 'I', 'F', 'F'});
  struct Case {
    ReadAt read;
    WavVerdict verdict;
    int error;
  };
  for (const Case& c : {Case{failing_read, WavVerdict::kNotRiff, testing::kInputOutputError},
                        Case{system_read_at, WavVerdict::kRejected, 0}}) {
    FileReader file;
    FileIdentity identity;
    ASSERT_EQ(open_regular_file(dir.file("short.wav"), &file.file, &identity), 0);
    file.method.read = c.read;
    int error = 0;
    ByteSource source;
    source.file = &file;
    source.size = 100;  // more than the file holds
    source.read_error = &error;
    WavLayout layout;
    EXPECT_EQ(read_wav_header(source, &layout), c.verdict) << c.error;
    EXPECT_EQ(error, c.error);
  }
}

TEST(WavHeader, EveryTruncationFailsCleanlyUntilTheHeaderIsWhole) {
  Bytes good = wav::wav_bytes(ramp_shape());
  for (std::size_t length = 0; length <= good.size(); ++length) {
    Bytes cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(length));
    WavVerdict expected = length < 4    ? WavVerdict::kNotRiff
                          : length < 44 ? WavVerdict::kRejected
                                        : WavVerdict::kAccepted;
    EXPECT_EQ(verdict_of(cut), expected) << "length " << length;
  }
}

// Reading real files: records, messages and the listing rules.
class IntakeTest : public ::testing::Test {
 protected:
  TempDir dir{"kit"};
  PackJob job;
  void SetUp() override { job.directory = dir.path; }
};

TEST_F(IntakeTest, RecordHoldsTheFormatAndOnlyTheBytesInTheFile) {
  WavShape shape = ramp_shape();
  shape.declare_data_size = true;
  shape.declared_data_size = 0x7FFFFFFF;  // a 52-byte file promising 2 GB
  dir.write("huge.wav", wav::wav_bytes(shape));
  dir.write("one second.wav", testing::mono16(44100));

  ::testing::internal::CaptureStdout();
  EXPECT_TRUE(scan_directory(job));
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  ASSERT_EQ(job.sample_count, 2);
  for (int slot = 0; slot < 2; ++slot) {
    const SampleRecord& r = *job.samples[static_cast<std::size_t>(slot)];
    EXPECT_EQ(r.channels, 1);
    EXPECT_EQ(r.sample_rate, 44100);
    EXPECT_EQ(r.byte_rate, 88200);
    EXPECT_EQ(r.bits_per_sample, 16);
    EXPECT_EQ(r.chromatic_note, -1);
    EXPECT_EQ(r.resampled, nullptr);
    EXPECT_TRUE(r.source.file.is_open());  // kept open until the slice is rendered
    if (r.path == dir.file("huge.wav")) {
      EXPECT_EQ(r.data_bytes, 0x7FFFFFFF);
      EXPECT_EQ(r.data_present, 8);
      EXPECT_EQ(r.data_offset, 44u);
    } else {
      EXPECT_EQ(r.path, dir.file("one second.wav"));
      EXPECT_EQ(r.data_bytes, 88200);
      EXPECT_EQ(r.data_present, 88200);
    }
  }
  EXPECT_DOUBLE_EQ(job.total_seconds, 1.0 + 2147483647.0 / 88200.0);
  release_pack_job(job);
  EXPECT_EQ(job.sample_count, 0);
  EXPECT_EQ(job.samples[0], nullptr);
}

TEST_F(IntakeTest, BrokenRiffFilesAreReportedOthersPassedOverSilently) {
  Bytes good = testing::mono16(10);
  Bytes float_wav = good;
  float_wav[20] = 3;
  dir.write("float.wav", float_wav);
  dir.write("notes.txt", {'h', 'i'});
  dir.write("empty.wav", {});
  dir.write(".hidden.wav", good);
  dir.write("samplepack.aif", {'F', 'O', 'R', 'M', 0, 0, 0, 4, 'A', 'I', 'F', 'F'});
  std::filesystem::create_directory(dir.file("sub"));
  testing::make_pipe(dir.file("pipe.wav"));  // must not block the scan
  testing::make_link(dir.file("missing.wav"), dir.file("dangling.wav"));
  const bool linked = testing::make_link(dir.file(".hidden.wav"), dir.file("link.wav"));
  testing::make_link("/dev/zero", dir.file("endless.wav"));  // a device: never read

  ::testing::internal::CaptureStdout();
  scan_directory(job);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "Processing [" + dir.file("float.wav") + "] failed.\n");
  ASSERT_EQ(job.sample_count, linked ? 2 : 1);  // the hidden file and the link to it
}

TEST_F(IntakeTest, TakesTheFirst24FilesInListingOrderAndOpensNoMore) {
  Bytes good = testing::mono16(100);
  Bytes broken = good;
  broken[20] = 3;
  for (int i = 0; i < 30; ++i) {
    std::string name = std::to_string(i);
    name.insert(0, 1, 'f').append(".wav");
    dir.write(name, i % 5 == 4 ? broken : good);
  }
  std::vector<std::string> order = testing::listing_order(dir.path);

  std::string expected_out;
  std::vector<std::string> expected_paths;
  for (const std::string& name : order) {
    if (expected_paths.size() == 24) break;
    std::string number = name.substr(1, name.size() - 5);
    if (std::stoi(number) % 5 == 4) {
      expected_out += "Processing [" + dir.file(name) + "] failed.\n";
    } else {
      expected_paths.push_back(dir.file(name));
    }
  }
  ::testing::internal::CaptureStdout();
  scan_directory(job);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), expected_out);
  ASSERT_EQ(job.sample_count, 24);
  for (std::size_t i = 0; i < 24; ++i) EXPECT_EQ(job.samples[i]->path, expected_paths[i]);
}

TEST_F(IntakeTest, PathsLongerThanTheBufferAreRejected) {
  // Nest folders until the full path of a file is 4095 and then 4096 bytes.
  std::string deep = dir.path;
  while (deep.size() < 3850) {
    deep += kPathSeparator + std::string(50, 'd');
    if (!testing::make_folder(deep)) GTEST_SKIP() << "this system takes no path of " << deep.size() << " bytes";
  }
  std::string fits = deep + kPathSeparator + std::string(4095 - deep.size() - 1 - 4, 'a') + ".wav";
  std::string too_long = deep + kPathSeparator + std::string(4096 - deep.size() - 1 - 4, 'b') + ".wav";
  ASSERT_EQ(fits.size(), 4095u);
  if (!testing::write_file(fits, testing::mono16(10))) GTEST_SKIP() << "this system takes no path of 4095 bytes";
  job.directory = deep;
  ::testing::internal::CaptureStdout();
  EXPECT_TRUE(read_wav_file(job, fits));
  EXPECT_FALSE(read_wav_file(job, too_long));
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Processing [" + too_long + "] failed.\n");
}

TEST_F(IntakeTest, MissingDirectoryIsReported) {
  job.directory = dir.file("nowhere");
  ::testing::internal::CaptureStdout();
  EXPECT_FALSE(scan_directory(job));
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "Could not open directory [" + job.directory + "]: " + error_text(testing::kNoSuchFolder) + "\n");
}

}  // namespace
}  // namespace kitweaver
