// What only POSIX systems have, and how the system layer meets it there:
// signals and the named-file fallback of the file writer, kills at any
// moment of a run, open-file and file-size limits, a plain create's
// permissions, reading a folder.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <set>
#include <thread>

#include "app/run.h"
#include "intake/wav_reader.h"
#include "pack_support.h"
#include "system/file_replace.h"
#include "test_support.h"

namespace kitweaver {
namespace {

using testing::run_program;
using testing::TempDir;
namespace fs = std::filesystem;


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
  EXPECT_EQ(testing::entry_set(dir.path), (std::set<std::string>{"a.wav", "samplepack.aif"}));

  // Where unnamed files work, a file being written has no name at all.
  FileReplacement unnamed;
  ASSERT_EQ(start_replacement(dir.file("x.aif"), &unnamed), 0);
  EXPECT_EQ(unnamed.temporary.empty(), unnamed_files_work(dir.path));
  if (unnamed_files_work(dir.path)) {
    EXPECT_EQ(testing::entry_set(dir.path), (std::set<std::string>{"a.wav", "samplepack.aif"}));
  }
  abandon_replacement(unnamed);

  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    const pid_t child = fork();
    if (child == 0) {
      install_interrupt_cleanup();
      FileReplacement replacement;
      if (start_replacement(dir.file("samplepack.aif"), &replacement, ReplaceSettings{false, {}}) != 0) _exit(3);
      const std::uint8_t half[] = {'h', 'a', 'l', 'f'};
      if (write_replacement(replacement, half, 4) != 0 || replacement.temporary.empty()) _exit(4);
      raise(signal_number);
      _exit(5);
    }
    int wait_status = 0;
    waitpid(child, &wait_status, 0);
    EXPECT_TRUE(WIFSIGNALED(wait_status) && WTERMSIG(wait_status) == signal_number) << wait_status;
    EXPECT_EQ(testing::entry_set(dir.path), (std::set<std::string>{"a.wav", "samplepack.aif"})) << signal_number;
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
  const std::set<std::string> before = testing::entry_set(dir.path);
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
    std::set<std::string> after = testing::entry_set(dir.path);
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
      after = testing::entry_set(dir.path);
    }
    EXPECT_EQ(after, before) << "moment " << i;
    if (now != old_pack) wav::write_file(dir.file("samplepack.aif"), old_pack);
  }
  std::printf("%d of %d runs were interrupted; %d SIGKILLs left a temporary file%s\n", interrupted, kMoments,
              stranded, unnamed ? " (the complete new pack)" : "");
}

// --replace into an OP-Z slot that holds another pack: an interrupt at any
// moment leaves the old pack or the new one in the slot, never both and
// never neither.
TEST(Interrupted, ReplaceInASlotLeavesTheOldPackOrTheNewOne) {
  if (!testing::wrapper_words().empty()) GTEST_SKIP() << "the run's timing is the checker's under a wrapper";
  TempDir kit("909");
  const wav::Bytes sound = testing::stereo24_noise(576000);
  for (int i = 0; i < 24; ++i) kit.write("s" + std::to_string(10 + i) + ".wav", sound);
  TempDir disk("disk");
  const std::string slot = disk.path + "/samplepacks/1-kick/01";
  fs::create_directories(slot);
  const wav::Bytes old_pack = testing::mono16(100);  // any bytes: the slot's pack is not read
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(run_program({"-o", slot, kit.path}).status, 0);
  const auto run_time = std::chrono::steady_clock::now() - start;
  const wav::Bytes new_pack = testing::read_bytes(slot + "/909.aif");
  fs::remove(slot + "/909.aif");

  constexpr int kMoments = 36;
  int interrupted = 0;
  for (int i = 0; i < kMoments; ++i) {
    const int signal_number = i % 2 == 0 ? SIGINT : SIGTERM;
    wav::write_file(slot + "/old kit.aif", old_pack);
    const pid_t pid = start_quietly({KITWEAVER_BINARY, "--replace", "-o", slot, kit.path});
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(run_time * 6 / 5 * i / kMoments);
    kill(pid, signal_number);
    int wait_status = 0;
    waitpid(pid, &wait_status, 0);
    interrupted += WIFSIGNALED(wait_status) && WTERMSIG(wait_status) == signal_number;
    const std::set<std::string> held = testing::entry_set(slot);
    if (held == std::set<std::string>{"old kit.aif"}) {
      EXPECT_EQ(testing::read_bytes(slot + "/old kit.aif"), old_pack) << "moment " << i;
    } else {
      EXPECT_EQ(held, std::set<std::string>{"909.aif"}) << "moment " << i;
      EXPECT_EQ(testing::read_bytes(slot + "/909.aif"), new_pack) << "moment " << i;
      fs::remove(slot + "/909.aif");
    }
  }
  std::printf("%d of %d runs were interrupted\n", interrupted, kMoments);
}

// An OP-XY preset written over an earlier one: an interrupt caught at any
// moment leaves the earlier preset or the new one, whole, and no temporary
// folder beside it.
TEST(Interrupted, PresetLeavesTheOldOneOrTheNewOne) {
  if (!testing::wrapper_words().empty()) GTEST_SKIP() << "the run's timing is the checker's under a wrapper";
  TempDir kit("909");
  const wav::Bytes sound = testing::stereo24_noise(576000);
  kit.write("s10.wav", testing::mono16(4410));
  TempDir out("out");
  const std::string preset = out.path + "/909.preset";
  auto files_of = [](const std::string& folder) {
    std::map<std::string, wav::Bytes> files;
    for (const std::string& name : testing::entry_set(folder)) files[name] = testing::read_bytes(folder + "/" + name);
    return files;
  };
  ASSERT_EQ(run_program({"--device", "op-xy", "-o", preset, kit.path}).status, 0);
  const auto old_preset = files_of(preset);
  for (int i = 1; i < 24; ++i) kit.write("s" + std::to_string(10 + i) + ".wav", sound);
  const std::string elsewhere = out.root + "/new.preset";
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(run_program({"--device", "op-xy", "-o", elsewhere, kit.path}).status, 0);
  const auto run_time = std::chrono::steady_clock::now() - start;
  const auto new_preset = files_of(elsewhere);
  ASSERT_NE(old_preset, new_preset);

  constexpr int kMoments = 24;
  int interrupted = 0;
  for (int i = 0; i < kMoments; ++i) {
    const int signal_number = i % 2 == 0 ? SIGINT : SIGTERM;
    const pid_t pid = start_quietly({KITWEAVER_BINARY, "--device", "op-xy", "-o", preset, kit.path});
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(run_time * 6 / 5 * i / kMoments);
    kill(pid, signal_number);
    int wait_status = 0;
    waitpid(pid, &wait_status, 0);
    interrupted += WIFSIGNALED(wait_status) && WTERMSIG(wait_status) == signal_number;
    EXPECT_EQ(testing::entry_set(out.path), std::set<std::string>{"909.preset"}) << "moment " << i;
    const auto now = files_of(preset);
    EXPECT_TRUE(now == old_preset || now == new_preset) << "moment " << i;
    if (now != old_preset) {
      fs::remove_all(preset);
      fs::create_directory(preset);
      for (const auto& [name, bytes] : old_preset) wav::write_file(preset + "/" + name, bytes);
    }
  }
  std::printf("%d of %d runs were interrupted\n", interrupted, kMoments);
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

TEST(Run, FailedWriteKeepsTheEarlierPack) {
  TempDir dir;
  dir.write("a.wav", testing::mono16(441));
  ASSERT_EQ(run_program({dir.path}).status, 0);
  wav::Bytes earlier = testing::read_bytes(dir.file("samplepack.aif"));
  dir.write("b.wav", testing::mono16(4410));
  // Every write past 100 kB fails, as on a full disk.
  testing::RunResult r = run_program({dir.path}, KITWEAVER_BINARY, 100000);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("\nCould not write [" + dir.file("samplepack.aif") + "]: File too large\n\n"),
            std::string::npos);
  EXPECT_EQ(testing::read_bytes(dir.file("samplepack.aif")), earlier);
  EXPECT_EQ(testing::entry_set(dir.path), (std::set<std::string>{"a.wav", "b.wav", "samplepack.aif"}));
}

TEST(Run, APlainCreateHasTheUsualPermissions) {
  // 0666 less the umask, as any file a program creates.
  TempDir dir;
  dir.write("a.wav", testing::mono16(441));
  ASSERT_EQ(run_program({dir.path}).status, 0);
  mode_t mask = umask(0);
  umask(mask);
  struct stat info;
  ASSERT_EQ(stat(dir.file("samplepack.aif").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0666 & ~mask);
}

TEST(WavHeader, AFolderReadAsAFileIsAFailedRead) {
  testing::TempDir dir("reads");
  FileReader file;
  file.file = SystemFile(open(dir.path.c_str(), O_RDONLY));
  ASSERT_TRUE(file.file.is_open());
  int error = 0;
  ByteSource source;
  source.file = &file;
  source.size = 100;
  source.read_error = &error;
  WavLayout layout;
  EXPECT_EQ(read_wav_header(source, &layout), WavVerdict::kPassedOver);
  EXPECT_EQ(error, EISDIR);
}

}  // namespace
}  // namespace kitweaver
