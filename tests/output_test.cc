// Where the pack goes, and that no way a run ends leaves a half-written or
// stray file: -o, interrupts, the named-file fallback, descriptor limits.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <set>
#include <thread>

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

std::set<std::string> entries(const std::string& dir) {
  const std::vector<std::string> names = testing::listing_order(dir);
  return {names.begin(), names.end()};
}

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
  ASSERT_EQ(mkfifo((dir.root + "/pipe").c_str(), 0600), 0);  // never replaced, as no device would be
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
      {{"--output", "out", "909 PO-33.8/"}, 0, "Wrote out/909 PO-33.8.aif\n\n", "out/909 PO-33.8.aif"},
      {{"--output=out/", "./-o/."}, 0, "Wrote out/-o.aif\n\n", "out/-o.aif"},
      {{"--", "-o"}, 0, "0 semitones\n\n", "-o/samplepack.aif"},
      {{"-o", "out/missing/x.aif", "909 PO-33.8"}, 1,
       "\nCould not write [out/missing/x.aif]: No such file or directory\n\n", ""},
      {{"-o", "pipe", "909 PO-33.8"}, 1, "\nCould not write [pipe]: Not a regular file or folder\n\n", ""},
  };
  for (const Case& c : cases) {
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
  EXPECT_EQ(entries("out"), (std::set<std::string>{"mine.aif", "909 PO-33.8.aif", "-o.aif"}));
  EXPECT_EQ(entries("909 PO-33.8"), std::set<std::string>{"a.wav"});
}

// Whether this build writes unnamed files in the folder: it takes Linux's
// own paths, and the folder's file system has unnamed files.
bool unnamed_files_work(const std::string& dir) {
#if defined(O_TMPFILE) && !defined(KITWEAVER_PORTABLE)
  const int fd = open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  close(fd);
  return true;
#else
  (void)dir;
  return false;
#endif
}

TEST(Output, NamedTemporaryFileWhereUnnamedOnesAreMissing) {
  // A file system without unnamed files gets the same pack through a named
  // temporary file, which an interrupt removes.
  TempDir dir;
  dir.write("a.wav", testing::mono16(4410));
  ASSERT_EQ(run_program({dir.path}).status, 0);
  const wav::Bytes expected = testing::read_bytes(dir.file("samplepack.aif"));
  fs::remove(dir.file("samplepack.aif"));
  const char* argv[] = {"kitweaver", dir.path.c_str()};
  ::testing::internal::CaptureStdout();
  RunSettings named;
  named.writing.unnamed_files = false;
  const int status = run_kitweaver(2, argv, named);
  ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(status, 0);
  EXPECT_EQ(testing::read_bytes(dir.file("samplepack.aif")), expected);
  EXPECT_EQ(entries(dir.path), (std::set<std::string>{"a.wav", "samplepack.aif"}));

  // Where unnamed files work, a file being written has no name at all.
  FileReplacement unnamed;
  ASSERT_EQ(start_replacement(dir.file("x.aif"), &unnamed), 0);
  EXPECT_EQ(unnamed.temporary.empty(), unnamed_files_work(dir.path));
  if (unnamed_files_work(dir.path)) {
    EXPECT_EQ(entries(dir.path), (std::set<std::string>{"a.wav", "samplepack.aif"}));
  }
  abandon_replacement(unnamed);

  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    const pid_t child = fork();
    if (child == 0) {
      install_interrupt_cleanup();
      FileReplacement replacement;
      if (start_replacement(dir.file("samplepack.aif"), &replacement, ReplaceSettings{false}) != 0) _exit(3);
      const std::uint8_t half[] = {'h', 'a', 'l', 'f'};
      if (write_replacement(replacement, half, 4) != 0 || replacement.temporary.empty()) _exit(4);
      raise(signal_number);
      _exit(5);
    }
    int wait_status = 0;
    waitpid(child, &wait_status, 0);
    EXPECT_TRUE(WIFSIGNALED(wait_status) && WTERMSIG(wait_status) == signal_number) << wait_status;
    EXPECT_EQ(entries(dir.path), (std::set<std::string>{"a.wav", "samplepack.aif"})) << signal_number;
    EXPECT_EQ(testing::read_bytes(dir.file("samplepack.aif")), expected);
  }
}

pid_t start_quietly(const std::vector<std::string>& args) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  std::vector<std::string> words = args;
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

TEST(Interrupted, RunsLeaveTheOldPackOrTheNewOneAndNothingElse) {
  if (!testing::wrapper_words().empty()) GTEST_SKIP() << "the run's timing is the checker's under a wrapper";
  // 24 files of 24-bit stereo 96 kHz, about 14 MB: a run of some tens of
  // milliseconds, killed at 36 moments spread over it and a little past it.
  TempDir dir;
  const wav::Bytes sound = testing::stereo24_noise(576000);
  dir.write("s00.wav", sound);
  ASSERT_EQ(run_program({dir.path}).status, 0);
  const wav::Bytes old_pack = testing::read_bytes(dir.file("samplepack.aif"));
  for (int i = 1; i < 24; ++i) dir.write("s" + std::to_string(10 + i) + ".wav", sound);
  const std::string elsewhere = dir.root + "/new.aif";
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(run_program({"-o", elsewhere, dir.path}).status, 0);
  const auto run_time = std::chrono::steady_clock::now() - start;
  const wav::Bytes new_pack = testing::read_bytes(elsewhere);
  ASSERT_NE(old_pack, new_pack);
  const std::set<std::string> before = entries(dir.path);
  const bool unnamed = unnamed_files_work(dir.path);
  if (!unnamed) std::printf("No unnamed files here: a SIGKILL may leave a part-written temporary file\n");

  const int signals[] = {SIGKILL, SIGTERM, SIGINT};
  int interrupted = 0;
  int stranded = 0;
  constexpr int kMoments = 36;
  for (int i = 0; i < kMoments; ++i) {
    const int signal_number = signals[i % 3];
    const pid_t pid = start_quietly({KITWEAVER_BINARY, dir.path});
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(run_time * 6 / 5 * i / kMoments);
    kill(pid, signal_number);
    int wait_status = 0;
    waitpid(pid, &wait_status, 0);
    const bool killed = WIFSIGNALED(wait_status) && WTERMSIG(wait_status) == signal_number;
    EXPECT_TRUE(killed || (WIFEXITED(wait_status) && WEXITSTATUS(wait_status) == 0)) << wait_status;
    interrupted += killed;
    const wav::Bytes now = testing::read_bytes(dir.file("samplepack.aif"));
    EXPECT_TRUE(now == old_pack || now == new_pack) << "moment " << i;
    std::set<std::string> after = entries(dir.path);
    if (signal_number == SIGKILL) {
      // A SIGKILL that lands inside the step that names the finished pack
      // (the link to its temporary name, then the rename) takes effect
      // between the two: the complete new pack stays under that name. A
      // named temporary file can be left at any point of its writing.
      for (const std::string& name : after) {
        if (before.count(name) == 0 && name.rfind("samplepack.aif.tmp", 0) == 0 &&
            (!unnamed || testing::read_bytes(dir.file(name)) == new_pack)) {
          ++stranded;
          fs::remove(dir.file(name));
        }
      }
      after = entries(dir.path);
    }
    EXPECT_EQ(after, before) << "moment " << i;
    if (now != old_pack) wav::write_file(dir.file("samplepack.aif"), old_pack);
  }
  std::printf("%d of %d runs were interrupted; %d SIGKILLs left a temporary file%s\n", interrupted, kMoments,
              stranded, unnamed ? " (the complete new pack)" : "");
}

TEST(Run, DescriptorLimitTakesEveryFile) {
  if (!testing::wrapper_words().empty()) GTEST_SKIP() << "a checker needs descriptors of its own";
  TempDir dir;
  for (int i = 0; i < 24; ++i) dir.write("s" + std::to_string(10 + i) + ".wav", testing::mono16(441 * (i + 1)));
  const testing::RunResult free_run = run_program({dir.path});
  const wav::Bytes expected = testing::read_bytes(dir.file("samplepack.aif"));
  const testing::RunResult limited = run_program({dir.path}, KITWEAVER_BINARY, -1, false, 16);
  EXPECT_EQ(limited.status, 0);
  EXPECT_EQ(limited.out, free_run.out);
  EXPECT_EQ(testing::read_bytes(dir.file("samplepack.aif")), expected);
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
