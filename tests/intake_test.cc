#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

#include "intake/wav_reader.h"
#include "test_support.h"

namespace kitweaver {
namespace {

using testing::TempDir;
using wav::Bytes;
using wav::WavShape;

ByteSource in_memory(const Bytes& bytes) {
  ByteSource source;
  source.bytes = bytes.data();
  source.size = bytes.size();
  return source;
}

WavVerdict verdict_of(const Bytes& bytes, WavLayout* layout = nullptr) {
  WavLayout scratch;
  return read_wav_header(in_memory(bytes), layout != nullptr ? layout : &scratch);
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

TEST(WavHeader, RejectsShapesItCannotUseAndSaysWhy) {
  struct Case {
    Bytes bytes;
    const char* reason;
  };
  std::vector<Case> cases;
  auto with = [](auto change) {
    WavShape shape = ramp_shape();
    change(shape);
    return wav::wav_bytes(shape);
  };
  cases.push_back({with([](WavShape& s) { s.format_tag = 3; }), "16-bit float samples are not read (32 or 64 bits)"});
  cases.push_back({with([](WavShape& s) { s.format_tag = 0x11; }), "IMA ADPCM (format 0x11) is not read: convert it to PCM"});
  cases.push_back({with([](WavShape& s) {
                     s.format_tag = 0xFFFE;
                     s.fmt_size = 40;
                     s.pcm_sub_format = false;
                   }),
                   "16-bit float samples are not read (32 or 64 bits)"});
  cases.push_back({with([](WavShape& s) {
                     s.format_tag = 0xFFFE;
                     s.fmt_size = 18;
                   }),
                   "the extensible \"fmt \" chunk is 18 bytes, fewer than 40"});
  cases.push_back({with([](WavShape& s) { s.fmt_size = 14; }), "the \"fmt \" chunk is 14 bytes, fewer than the 16 of a format"});
  cases.push_back({with([](WavShape& s) { s.byte_rate = 0; s.sample_rate = 0; }), "the header's sample rate is 0"});
  cases.push_back({with([](WavShape& s) { s.byte_rate = 0x80000000u; }), "the header's byte rate is past 2^31 bytes a second"});
  cases.push_back({with([](WavShape& s) { s.sample_rate = 0; s.byte_rate = 88200; }), "the header's sample rate is 0"});
  cases.push_back({with([](WavShape& s) { s.channels = 0; s.byte_rate = 88200; }), "the header declares no channels"});
  cases.push_back({with([](WavShape& s) { s.bits_per_sample = 12; }), "12-bit samples are not read (8, 16, 24 or 32 bits)"});
  cases.push_back({with([](WavShape& s) {
                     s.declare_data_size = true;
                     s.declared_data_size = 0x80000000u;
                   }),
                   "the \"data\" chunk declares more than 2 GB"});
  cases.push_back({with([](WavShape& s) { s.data.clear(); }), "the header declares no frames"});
  cases.push_back({with([](WavShape& s) { s.data.resize(1); }), "the header declares no frames"});

  Bytes good = wav::wav_bytes(ramp_shape());
  Bytes avi = good;
  std::memcpy(avi.data() + 8, "AVI ", 4);
  cases.push_back({avi, "a RIFF file of type \"AVI \", not \"WAVE\""});
  Bytes data_first(good.begin(), good.begin() + 12);
  data_first.insert(data_first.end(), good.begin() + 36, good.end());
  data_first.insert(data_first.end(), good.begin() + 12, good.begin() + 36);
  cases.push_back({data_first, "the \"data\" chunk comes before any \"fmt \" chunk"});
  cases.push_back({Bytes(good.begin(), good.begin() + 36), "no \"data\" chunk"});
  cases.push_back({Bytes(good.begin(), good.begin() + 40), "the file ends inside a chunk's header"});
  Bytes runaway(good.begin(), good.begin() + 36);
  wav::append_id(runaway, "junk");
  wav::append_le32(runaway, 1000);  // a skipped body past the end of the file
  runaway.resize(runaway.size() + 20);
  cases.push_back({runaway, "the file ends inside its \"junk\" chunk"});
  Bytes wrapping(good.begin(), good.begin() + 36);
  wav::append_id(wrapping, "junk");
  wav::append_le32(wrapping, 0xFFFFFFFFu);  // a size that would wrap a 32-bit offset
  cases.push_back({wrapping, "the file ends inside its \"junk\" chunk"});

  for (const Case& c : cases) {
    WavLayout layout;
    EXPECT_EQ(verdict_of(c.bytes, &layout), WavVerdict::kRejected) << c.reason;
    EXPECT_EQ(layout.rejection, c.reason);
  }
}

// Float WAV, AIFF and AIFC shapes, written byte by byte: each read with the
// layout it declares, refused, or passed over as no recording at all.
TEST(RecordingHeader, FloatWavAiffAndAifcShapes) {
  struct Case {
    const char* what;
    Bytes bytes;
    WavVerdict verdict;
    WavLayout expected{};  // when accepted
  };
  constexpr SampleEncoding kFloat{false, false, true}, kBig{true, true, false}, kSowt{false, true, false},
      kFloatBig{true, true, true};
  auto layout = [](std::int32_t channels, std::int32_t rate, std::int32_t bits, std::int32_t data_bytes,
                   std::uint64_t offset, std::uint64_t available, SampleEncoding encoding) {
    WavLayout l;
    l.channels = channels;
    l.sample_rate = rate;
    l.bits_per_sample = bits;
    l.byte_rate = rate * channels * bits / 8;
    l.data_bytes = data_bytes;
    l.data_offset = offset;
    l.data_available = available;
    l.encoding = encoding;
    return l;
  };
  auto float_wav = [](std::uint16_t tag, std::uint16_t bits, std::uint32_t fmt_size = 16) {
    WavShape shape;
    shape.format_tag = tag;
    shape.bits_per_sample = bits;
    shape.fmt_size = fmt_size;
    shape.pcm_sub_format = false;  // an extensible chunk names float
    shape.data = wav::float_samples({0.5, -0.5}, bits);
    return wav::wav_bytes(shape);
  };
  auto aiff = [](auto change) {
    wav::AiffShape shape;
    shape.data = Bytes{0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0};
    change(shape);
    return wav::aiff_bytes(shape);
  };
  auto aifc = [&aiff](const char* compression, std::uint16_t bits = 16) {  // null: COMM without the type
    return aiff([=](wav::AiffShape& s) {
      s.aifc = true;
      s.compression = compression;
      s.bits = bits;
    });
  };
  auto with_text = [&aiff](const char* signature_and_text) {
    const std::string text = signature_and_text;
    return aiff([&](wav::AiffShape& s) { s.extra.push_back(wav::aiff_chunk("APPL", Bytes(text.begin(), text.end()))); });
  };
  // AIFF: FORM 12, COMM 8 + 18, SSND 8 + 8, the frames at 54; AIFC's COMM adds 6.
  const Bytes plain = aiff([](wav::AiffShape&) {});
  Bytes offset_past = plain;
  store_be32(offset_past.data() + 46, 9);  // SSND holds 8 bytes after its offset field and block size
  const Case cases[] = {
      {"float WAV, 32-bit", float_wav(3, 32), WavVerdict::kAccepted, layout(1, 44100, 32, 8, 44, 8, kFloat)},
      {"float WAV, 64-bit, 18-byte format", float_wav(3, 64, 18), WavVerdict::kAccepted,
       layout(1, 44100, 64, 16, 46, 16, kFloat)},
      {"extensible float", float_wav(0xFFFE, 32, 40), WavVerdict::kAccepted, layout(1, 44100, 32, 8, 68, 8, kFloat)},
      {"float WAV, 24-bit", float_wav(3, 24), WavVerdict::kRejected},
      {"AIFF, 16-bit", plain, WavVerdict::kAccepted, layout(1, 44100, 16, 8, 54, 8, kBig)},
      {"AIFF, 8-bit stereo, sound first, an odd chunk before", aiff([](wav::AiffShape& s) {
         s.bits = 8;
         s.channels = 2;
         s.sound_first = true;
         s.extra.push_back(wav::aiff_chunk("ANNO", {'o', 'd', 'd'}));
       }),
       WavVerdict::kAccepted, layout(2, 44100, 8, 8, 40, 8, kBig)},
      {"AIFF, 12-bit in two bytes", aiff([](wav::AiffShape& s) { s.bits = 12; }), WavVerdict::kAccepted,
       layout(1, 44100, 16, 8, 54, 8, kBig)},
      {"AIFF, 24-bit, the sound's offset honoured", aiff([](wav::AiffShape& s) {
         s.bits = 24;
         s.frames = 2;
         s.ssnd_offset = 2;
         s.sample_rate = 96000;
       }),
       WavVerdict::kAccepted, layout(1, 96000, 24, 6, 56, 8, kBig)},
      {"AIFF, rate rounded up from 44100.5", aiff([](wav::AiffShape& s) { s.sample_rate = 44100.5; }),
       WavVerdict::kAccepted, layout(1, 44101, 16, 8, 54, 8, kBig)},
      {"AIFF, rate rounded down from 22050.4999", aiff([](wav::AiffShape& s) { s.sample_rate = 22050.4999; }),
       WavVerdict::kAccepted, layout(1, 22050, 16, 8, 54, 8, kBig)},
      {"AIFF, sound cut short", Bytes(plain.begin(), plain.end() - 3), WavVerdict::kAccepted,
       layout(1, 44100, 16, 8, 54, 5, kBig)},
      {"AIFF, more frames declared than held", aiff([](wav::AiffShape& s) { s.frames = 100; }),
       WavVerdict::kAccepted, layout(1, 44100, 16, 200, 54, 8, kBig)},
      {"AIFC NONE", aifc("NONE"), WavVerdict::kAccepted, layout(1, 44100, 16, 8, 60, 8, kBig)},
      {"AIFC twos", aifc("twos"), WavVerdict::kAccepted, layout(1, 44100, 16, 8, 60, 8, kBig)},
      {"AIFC sowt", aifc("sowt"), WavVerdict::kAccepted, layout(1, 44100, 16, 8, 60, 8, kSowt)},
      {"AIFC fl32", aifc("fl32", 32), WavVerdict::kAccepted, layout(1, 44100, 32, 8, 60, 8, kFloatBig)},
      {"AIFC fl64", aifc("fl64", 64), WavVerdict::kAccepted, layout(1, 44100, 64, 8, 60, 8, kFloatBig)},
      {"AIFC ulaw", aifc("ulaw", 8), WavVerdict::kRejected},
      {"AIFC alaw", aifc("alaw", 8), WavVerdict::kRejected},
      {"AIFC ima4", aifc("ima4"), WavVerdict::kRejected},
      {"AIFC without a compression type", aifc(nullptr), WavVerdict::kRejected},
      {"no channels", aiff([](wav::AiffShape& s) { s.channels = 0; }), WavVerdict::kRejected},
      {"7 bits", aiff([](wav::AiffShape& s) { s.bits = 7; }), WavVerdict::kRejected},
      {"33 bits", aiff([](wav::AiffShape& s) { s.bits = 33; }), WavVerdict::kRejected},
      {"rate 0", aiff([](wav::AiffShape& s) { s.sample_rate = 0; }), WavVerdict::kRejected},
      {"negative rate", aiff([](wav::AiffShape& s) { s.sample_rate = -44100; }), WavVerdict::kRejected},
      {"rate beyond 32 bits", aiff([](wav::AiffShape& s) { s.sample_rate = 3e9; }), WavVerdict::kRejected},
      {"2 GB of frames", aiff([](wav::AiffShape& s) { s.frames = 0x40000000; }), WavVerdict::kRejected},
      {"the sound's offset at its chunk's end", aiff([](wav::AiffShape& s) {
         s.ssnd_offset = 4;
         s.frames = 1;  // declared, none held
         s.data.clear();
       }),
       WavVerdict::kAccepted, layout(1, 44100, 16, 2, 58, 0, kBig)},
      {"no frames", aiff([](wav::AiffShape& s) {
         s.frames = 0;
         s.data.clear();
       }),
       WavVerdict::kRejected},
      {"the sound's offset past its chunk", offset_past, WavVerdict::kRejected},
      {"a drum pack", with_text("op-1{ \"drum_version\" : 3, \"type\" : \"drum\", \"name\" : \"user1\" }    "),
       WavVerdict::kPassedOver},
      {"a drum pack, another spacing", with_text("op-1{\n\"type\":\"drum\"}"), WavVerdict::kPassedOver},
      {"a sound of another type", with_text("op-1{ \"type\" : \"sampler\" }"), WavVerdict::kAccepted,
       layout(1, 44100, 16, 8, 54 + 8 + 26, 8, kBig)},
      {"type named twice, the last not drum", with_text("op-1{\"type\":\"drum\",\"type\":\"synth\"}"),
       WavVerdict::kAccepted, layout(1, 44100, 16, 8, 54 + 8 + 34, 8, kBig)},
      {"drum text under another signature", with_text("op-2{\"type\":\"drum\"}"), WavVerdict::kAccepted,
       layout(1, 44100, 16, 8, 54 + 8 + 20, 8, kBig)},
      {"another form type", Bytes{'F', 'O', 'R', 'M', 0, 0, 0, 4, '8', 'S', 'V', 'X'}, WavVerdict::kPassedOver},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WavLayout got;
    ASSERT_EQ(read_recording_header(in_memory(c.bytes), &got), c.verdict);
    if (c.verdict != WavVerdict::kAccepted) continue;
    const WavLayout& e = c.expected;
    EXPECT_EQ(std::tie(got.channels, got.sample_rate, got.byte_rate, got.bits_per_sample, got.data_bytes),
              std::tie(e.channels, e.sample_rate, e.byte_rate, e.bits_per_sample, e.data_bytes));
    EXPECT_EQ(std::tie(got.data_offset, got.data_available), std::tie(e.data_offset, e.data_available));
    EXPECT_EQ(std::tie(got.encoding.big_endian, got.encoding.signed_bytes, got.encoding.floating),
              std::tie(e.encoding.big_endian, e.encoding.signed_bytes, e.encoding.floating));
  }

  // Cut at every length: passed over until the form type, then refused
  // until SSND's offset and block size are there, then the frames that are.
  for (std::size_t length = 0; length <= plain.size(); ++length) {
    const Bytes cut(plain.begin(), plain.begin() + static_cast<std::ptrdiff_t>(length));
    WavLayout got;
    const WavVerdict expected = length < 12 ? WavVerdict::kPassedOver : length < 54 ? WavVerdict::kRejected
                                                                                    : WavVerdict::kAccepted;
    ASSERT_EQ(read_recording_header(in_memory(cut), &got), expected) << "length " << length;
    if (expected == WavVerdict::kAccepted) {
      EXPECT_EQ(got.data_available, length - 54) << "length " << length;
    }
  }
}

TEST(WavHeader, NonRiffInputIsNotReported) {
  EXPECT_EQ(verdict_of({}), WavVerdict::kPassedOver);
  EXPECT_EQ(verdict_of({'R', 'I', 'F'}), WavVerdict::kPassedOver);
  EXPECT_EQ(verdict_of({'F', 'O', 'R', 'M', 0, 0, 0, 4, 'A', 'I', 'F', 'F'}), WavVerdict::kPassedOver);
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
  for (const Case& c : {Case{failing_read, WavVerdict::kPassedOver, testing::kInputOutputError},
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
    WavVerdict expected = length < 4    ? WavVerdict::kPassedOver
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
  const std::string drum_text = "op-1{\"type\":\"drum\"}";
  wav::AiffShape pack;
  pack.extra.push_back(wav::aiff_chunk("APPL", Bytes(drum_text.begin(), drum_text.end())));
  dir.write("samplepack.aif", wav::aiff_bytes(pack));  // an earlier pack
  dir.write("form.aif", {'F', 'O', 'R', 'M', 0, 0, 0, 4, 'A', 'I', 'F', 'F'});  // an AIFF file without chunks
  std::filesystem::create_directory(dir.file("sub"));
  testing::make_pipe(dir.file("pipe.wav"));  // must not block the scan
  testing::make_link(dir.file("missing.wav"), dir.file("dangling.wav"));
  const bool linked = testing::make_link(dir.file(".hidden.wav"), dir.file("link.wav"));
  testing::make_link("/dev/zero", dir.file("endless.wav"));  // a device: never read

  ::testing::internal::CaptureStdout();
  scan_directory(job);
  std::string reported;
  for (const std::string& name : testing::listing_order(dir.path)) {
    if (name == "float.wav") {
      reported += "Processing [" + dir.file(name) + "] failed.\n\t16-bit float samples are not read (32 or 64 bits)\n";
    }
    if (name == "form.aif") reported += "Processing [" + dir.file(name) + "] failed.\n\tno \"COMM\" chunk\n";
  }
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), reported);
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
      expected_out += "Processing [" + dir.file(name) + "] failed.\n\t16-bit float samples are not read (32 or 64 bits)\n";
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
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "Processing [" + too_long + "] failed.\n\tthe path is longer than 4095 bytes\n");
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
