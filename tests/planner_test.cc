#include <gtest/gtest.h>

#include <cstdio>

#include "slice/planner.h"
#include "slice_fixtures.h"

namespace kitweaver {
namespace {

// A job holding `count` mono 16-bit 44.1 kHz records of `seconds` each. The
// PCM is short: only the declared size matters to the planner.
PackJob job_of(int count, double seconds, bool po33, double pack_seconds) {
  PackJob job;
  job.device = po33 ? Device::kPo33 : Device::kOp1;
  job.max_pack_seconds = pack_seconds;
  for (int i = 0; i < count; ++i) {
    auto bytes = static_cast<std::int32_t>(seconds * 88200);
    job.samples[static_cast<std::size_t>(i)] =
        testing::make_record(std::vector<std::uint8_t>(16, 0), 1, 16, 44100, bytes,
                             "/kit/s" + std::to_string(i) + ".wav");
    job.samples[static_cast<std::size_t>(i)]->data_present = bytes;  // as the intake found it
    job.total_seconds += bytes / 88200.0;
    ++job.sample_count;
  }
  return job;
}

std::size_t count_of(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
  return count;
}

std::string plan_all(PackJob& job) {
  ::testing::internal::CaptureStdout();
  if (check_pack_room(job)) {
    double factor = compute_compression_factor(job);
    for (std::int32_t slot = 0; slot < job.sample_count; ++slot) plan_slice(job, slot, factor);
  }
  return ::testing::internal::GetCapturedStdout();
}

TEST(Planner, NoteSearchFollowsTheWorkedTable) {
  struct Row {
    double factor;
    int note;
    const char* printed_rate;
  };
  const Row rows[] = {{1.0, 69, "44100"},      {0.9230769, 67, "39288"}, {0.8181818, 65, "35002"},
                      {0.5, 57, "22050"},      {0.4, 53, "17501"},       {0.3333333, 49, "13890"},
                      {0.2, 41, "8750"},       {0.0625, 21, "2756"}};
  for (const Row& row : rows) {
    PackJob job = job_of(1, 3.0, false, 12.0);
    ::testing::internal::CaptureStdout();
    plan_slice(job, 0, row.factor);
    std::string out = ::testing::internal::GetCapturedStdout();
    char expected[200];
    std::snprintf(expected, sizeof expected,
                  "[/kit/s0.wav]\n\tlength 3.00s, resampling to %sHz, pitching down %d semitones\n",
                  row.printed_rate, 69 - row.note);
    EXPECT_EQ(out, expected);
    const SampleRecord& r = *job.samples[0];
    EXPECT_EQ(r.pitch_semitones, row.note - 69);
    EXPECT_EQ(job.last_resample_rate, note_frequency(row.note) * 44100.0 / 440.0);
    ASSERT_NE(r.resampled, nullptr);
  }
  EXPECT_EQ(note_frequency(69), 440.0);
  EXPECT_EQ(note_frequency(57), 220.0);
  EXPECT_EQ(note_frequency(21), 27.5);
}

TEST(Planner, OutputFrameCountIsTheSourceDurationAtTheNewRate) {
  for (auto [seconds, frames] : {std::pair{3.0, 52503}, std::pair{10.0, 175010}}) {
    PackJob job = job_of(1, seconds, false, 12.0);
    ::testing::internal::CaptureStdout();
    plan_slice(job, 0, 0.4);
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(job.samples[0]->resampled_bytes, 2 * frames);
  }
}

TEST(Planner, OpModeFactorFitsTheTwelveSeconds) {
  PackJob fits = job_of(3, 5.0 / 3, false, 12.0);
  EXPECT_EQ(compute_compression_factor(fits), 1.0);
  PackJob job = job_of(3, 10.0, false, 12.0);
  EXPECT_DOUBLE_EQ(compute_compression_factor(job), 0.4);
  std::string out = plan_all(job);
  EXPECT_EQ(out.find("WARNING"), std::string::npos);
  EXPECT_NE(out.find("\tlength 10.00s, resampling to 17501Hz, pitching down 16 semitones\n"),
            std::string::npos);
}

TEST(Planner, Po33FactorIsTheSoundOverTheRoomTheGapsLeave) {
  // R = T / (M - pause seconds), the n + 1 gaps of 0.2 s in single
  // precision; the gaps take room once, and add nothing to the sound.
  struct Row {
    int count;
    double seconds;       // each
    double pack_seconds;  // M
    double r;             // written out
    const char* line;     // the rate and semitones every slice gets
    bool warning;         // past the PO-33's 12 semitones
  };
  const Row rows[] = {
      // 8.19 s over 8 - 4.2 s: about 14 semitones down (21 when the gaps
      // were counted twice).
      {20, 0.4095, 8.0, 8.1897959183673 / 3.799999713897705, "resampling to 19644Hz, pitching down 14 semitones", true},
      {4, 2.5, 10.0, 10.0 / 9.0, "resampling to 39288Hz, pitching down 2 semitones", false},
      {4, 0.5, 2.0, 2.0, "resampling to 22050Hz, pitching down 12 semitones", false},
      {4, 0.6, 2.0, 2.4, "resampling to 17501Hz, pitching down 16 semitones", true},
      // 3 s fit the 3.2 s the four gaps leave of 4 s: nothing shortened.
      {3, 1.0, 4.0, 1.0, "resampling to 44100Hz, pitching down 0 semitones", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.count);
    PackJob job = job_of(row.count, row.seconds, true, row.pack_seconds);
    EXPECT_NEAR(compute_compression_factor(job), 1.0 / row.r, 1e-12);
    const std::string out = plan_all(job);
    EXPECT_EQ(count_of(out, std::string(row.line) + "\n"), static_cast<std::size_t>(row.count)) << out;
    EXPECT_EQ(count_of(out, "\tWARNING: pitching down past PO-33's 12 semitone pitch range! Consider increasing "
                            "sample pack length.\n"),
              row.warning ? static_cast<std::size_t>(row.count) : 0u);
  }
  EXPECT_EQ(po33_pause_seconds(3), 0.800000011920929f);
  EXPECT_EQ(po33_pause_seconds(4), 1.0f);
  EXPECT_EQ(po33_pause_seconds(20), 4.200000286102295f);
  PackJob same_in_op = job_of(4, 0.5, false, 2.0);
  same_in_op.max_pack_seconds = 0.6;
  EXPECT_EQ(plan_all(same_in_op).find("WARNING"), std::string::npos);
}

TEST(Planner, SlicesThatCannotBeShortenedEnoughStayEmpty) {
  PackJob job = job_of(3, 5.0 / 3, true, 1.0);
  job.last_resample_rate = 0.0;
  std::string out = plan_all(job);
  EXPECT_EQ(out, "[/kit/s0.wav]\n[/kit/s0.wav] :: could not resample (frequency too low)\n"
                 "[/kit/s1.wav]\n[/kit/s1.wav] :: could not resample (frequency too low)\n"
                 "[/kit/s2.wav]\n[/kit/s2.wav] :: could not resample (frequency too low)\n");
  EXPECT_EQ(job.last_resample_rate, 0.0);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(job.samples[static_cast<std::size_t>(i)]->resampled, nullptr);
    EXPECT_EQ(job.samples[static_cast<std::size_t>(i)]->pitch_semitones, 0);
  }

  // A failed slice leaves the rate of the last slice that succeeded.
  PackJob mixed = job_of(2, 1.0, false, 12.0);
  ::testing::internal::CaptureStdout();
  plan_slice(mixed, 0, 0.5);
  plan_slice(mixed, 1, 0.06);
  ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(mixed.last_resample_rate, 22050.0);
  EXPECT_EQ(mixed.samples[1]->resampled, nullptr);
}

TEST(Planner, Po33PackWithoutRoomForItsGapsPlansNothing) {
  PackJob job = job_of(4, 0.1, true, 1.0);  // five gaps of 0.2 s fill the whole second
  EXPECT_EQ(plan_all(job), "PO-33 pack length 1.0s leaves no room for 4 samples and their pauses\n");
  EXPECT_EQ(job.samples[0]->resampled, nullptr);
  PackJob roomy = job_of(3, 0.1, true, 1.0);
  EXPECT_TRUE(check_pack_room(roomy));
}

}  // namespace
}  // namespace kitweaver
