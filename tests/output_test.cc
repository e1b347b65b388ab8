// Where the pack goes, and a recording that changes during the run. How
// interrupts, the named-file fallback and descriptor limits leave the
// folder is each system's own: tests/system/.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "app/run.h"
#include "intake/wav_reader.h"
#include "pack_support.h"
#include "slice/planner.h"
#include "system/file_replace.h"
#include "test_support.h"

namespace kitweaver {
namespace {

using testing::run_program;
using testing::TempDir;
namespace fs = std::filesystem;


// Runs the test body with `dir` as the working folder.
struct InFolder {
  fs::path before = fs::current_path();
  explicit InFolder(const std::string& dir) { fs::current_path(dir); }
  ~InFolder() { fs::current_path(before); }
};

TEST(Output, OptionPutsThePackWhereAsked) {
  TempDir dir("909 PO-33.8");
  dir.write("a.wav", testing::mono16(4410));
  fs::create_directory(dir.root + "/-o");
  wav::write_file(dir.root + "/-o/a.wav", testing::mono16(4410));
  fs::create_directory(dir.root + "/out");
  const bool pipes = testing::make_pipe(dir.root + "/pipe");  // never replaced, as no device would be
  ASSERT_EQ(run_program({dir.path}).status, 0);
  const wav::Bytes po33 = testing::read_bytes(dir.file("samplepack.aif"));
  fs::remove(dir.file("samplepack.aif"));

  InFolder here(dir.root);
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string tail;     // the output's end
    std::string written;  // the pack it makes, if any
  };
  const Case cases[] = {
      {{"-o", "out/mine.aif", "909 PO-33.8"}, 0, "Wrote out/mine.aif\n\n", "out/mine.aif"},
      {{"--output", "out", "909 PO-33.8/"}, 0, "Wrote out" + std::string(1, kPathSeparator) + "909 PO-33.8.aif\n\n",
       "out/909 PO-33.8.aif"},
      {{"--output=out/", "./-o/."}, 0, "Wrote out/-o.aif\n\n", "out/-o.aif"},
      {{"--", "-o"}, 0, "0 semitones\n\n", "-o/samplepack.aif"},
      {{"-o", "out/missing/x.aif", "909 PO-33.8"}, 1,
       "\nCould not write [out/missing/x.aif]: " + error_text(testing::kNoSuchFolder) + "\n\n", ""},
      {{"-o", "pipe", "909 PO-33.8"}, 1, "\nCould not write [pipe]: Not a regular file or folder\n\n", ""},
  };
  for (const Case& c : cases) {
    if (c.args[1] == "pipe" && !pipes) continue;
    const testing::RunResult r = run_program(c.args);
    EXPECT_EQ(r.status, c.status) << c.args[1] << r.out;
    EXPECT_TRUE(r.out.size() >= c.tail.size() && r.out.compare(r.out.size() - c.tail.size(), c.tail.size(), c.tail) == 0)
        << c.args[1] << r.out;
    if (c.written.empty()) continue;
    const wav::Bytes bytes = testing::read_bytes(c.written);
    EXPECT_TRUE(testing::parse_pack(bytes).well_formed) << c.written;
    if (c.args.back().rfind("909", 0) == 0) {
      EXPECT_EQ(bytes, po33) << c.written;
    }
  }
  EXPECT_EQ(testing::entry_set("out"), (std::set<std::string>{"mine.aif", "909 PO-33.8.aif", "-o.aif"}));
  EXPECT_EQ(testing::entry_set("909 PO-33.8"), std::set<std::string>{"a.wav"});
}

TEST(Intake, ClosedFileIsReadAgainOnlyWhileItIsTheSame) {
  TempDir dir;
  dir.write("a.wav", testing::mono16(441));
  dir.write("b.wav", testing::mono16(441));
  PackJob job;
  job.directory = dir.path;
  ::testing::internal::CaptureStdout();
  scan_directory(job);
  std::array<SlicePlan, kSlotCount> plans;
  for (std::int32_t slot = 0; slot < job.sample_count; ++slot) {
    plans[static_cast<std::size_t>(slot)] = announce_slice_plan(job, slot, 1.0);
    job.samples[static_cast<std::size_t>(slot)]->source.file.reset();
  }
  ::testing::internal::GetCapturedStdout();
  ASSERT_EQ(job.sample_count, 2);
  dir.write("b.wav", testing::mono16(442));
  const RenderFailure failure = render_planned_slices(job, plans);
  const std::int32_t changed = job.samples[0]->path == dir.file("b.wav") ? 0 : 1;
  EXPECT_EQ(failure.slot, changed);
  EXPECT_EQ(failure.error, kFileChanged);
  EXPECT_NE(job.samples[static_cast<std::size_t>(1 - changed)]->resampled, nullptr);
  release_pack_job(job);
}

}  // namespace
}  // namespace kitweaver
