// What only Windows has, and how the system layer meets it there: names
// in UTF-16, paths past 260 characters, a pack another program holds open,
// names Windows reserves or refuses, Ctrl-C and Ctrl-Break.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>

#include "kitweaver/version.h"
#include "pack_support.h"
#include "system/file_replace.h"
#include "system/windows_support.h"
#include "test_support.h"

namespace kitweaver {
namespace {

using testing::run_program;
using testing::TempDir;


TEST(Windows, NamesInAnyScriptAndTheirTagsWork) {
  // The same recordings under ASCII names and under names in other
  // scripts, in the same order: the same lines but for the names, and the
  // same pack.
  TempDir dir("plain");
  const std::string other = dir.root + "\\Drums \xC3\xBC \xE3\x83\x89\xE3\x83\xA9\xE3\x83\xA0";  // Drums ü ドラム
  ASSERT_TRUE(testing::make_folder(other));
  const wav::Bytes kick = testing::mono16(4410), pad = testing::sine16(8820, 440.0);
  const std::string names[][2] = {
      {"a Kick Oneshot.wav", "a \xF0\x9F\xA5\x81 Oneshot.wav"},            // 🥁
      {"b Pad Chord,Cmaj.wav", "b \xE3\x83\x91\xE3\x83\x83\xE3\x83\x89 Chord,Cmaj.wav"},  // パッド
  };
  for (const auto& [plain_name, other_name] : names) {
    ASSERT_TRUE(testing::write_file(dir.file(plain_name), plain_name[0] == 'a' ? kick : pad));
    ASSERT_TRUE(testing::write_file(other + "\\" + other_name, plain_name[0] == 'a' ? kick : pad));
  }

  const testing::RunResult plain = run_program({dir.path});
  const testing::RunResult scripts = run_program({other});
  ASSERT_EQ(plain.status, 0) << plain.out;
  ASSERT_EQ(scripts.status, 0) << scripts.out;
  std::string expected = plain.out;
  for (const auto& name : names) {
    const std::string from = dir.file(name[0]), to = other + "\\" + name[1];
    expected.replace(expected.find(from), from.size(), to);
  }
  EXPECT_EQ(scripts.out, expected);
  EXPECT_NE(scripts.out.find("\tNote C\n\tChord maj\n"), std::string::npos) << scripts.out;
  std::vector<std::uint8_t> a, b;
  ASSERT_EQ(read_whole_file(dir.file("samplepack.aif"), &a), 0);
  ASSERT_EQ(read_whole_file(other + "\\samplepack.aif", &b), 0);
  EXPECT_EQ(a, b);

  // -o into a folder named in another script takes the kit's name.
  const testing::RunResult into = run_program({"-o", dir.root, other});
  EXPECT_EQ(into.status, 0) << into.out;
  std::vector<std::uint8_t> c;
  ASSERT_EQ(read_whole_file(other + ".aif", &c), 0);
  EXPECT_EQ(a, c);
}

TEST(Windows, AReservedOrRefusedNameIsReportedAndLeavesNothing) {
  TempDir dir;
  dir.write("a.wav", testing::mono16(4410));
  ASSERT_EQ(run_program({dir.path}).status, 0);
  const std::set<std::string> before = testing::entry_set(dir.path);
  for (const char* name : {"CON", "NUL", "aux.aif", "Com1.aif", "a?.aif", "a:b.aif", "kit.aif."}) {
    const std::string target = dir.file(name);
    const testing::RunResult r = run_program({"-o", target, dir.path});
    EXPECT_EQ(r.status, 1) << name;
    const std::string line = "Could not write [" + target + "]: " + error_text(ERROR_INVALID_NAME) + "\n";
    EXPECT_NE(r.out.find(line), std::string::npos) << r.out;
    EXPECT_EQ(testing::entry_set(dir.path), before) << name;
  }
}

TEST(Windows, APackAnotherProgramHoldsOpenIsKept) {
  // Held open without sharing deletion, as an audio player may hold it:
  // the new pack can't take its name, so the run says so, exits 1 and
  // leaves the old pack and no temporary file.
  TempDir dir;
  dir.write("a.wav", testing::mono16(4410));
  ASSERT_EQ(run_program({dir.path}).status, 0);
  dir.write("b.wav", testing::mono16(8820));
  std::vector<std::uint8_t> earlier;
  ASSERT_EQ(read_whole_file(dir.file("samplepack.aif"), &earlier), 0);
  const std::set<std::string> before = testing::entry_set(dir.path);
  const HANDLE held = CreateFileW(testing::to_wide(dir.file("samplepack.aif")).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  const testing::RunResult r = run_program({dir.path});
  CloseHandle(held);
  EXPECT_EQ(r.status, 1);
  const std::string head = "\nCould not write [" + dir.file("samplepack.aif") + "]: ";
  const std::size_t at = r.out.find(head);
  ASSERT_NE(at, std::string::npos) << r.out;
  const std::string reason = r.out.substr(at + head.size(), r.out.find('\n', at + 1) - at - head.size());
  EXPECT_TRUE(reason == error_text(ERROR_SHARING_VIOLATION) || reason == error_text(ERROR_ACCESS_DENIED)) << reason;
  std::vector<std::uint8_t> now;
  ASSERT_EQ(read_whole_file(dir.file("samplepack.aif"), &now), 0);
  EXPECT_EQ(now, earlier);
  EXPECT_EQ(testing::entry_set(dir.path), before);
}

TEST(Windows, PathsPastTheClassicLimitWork) {
  // A kit more than 300 characters deep gets the pack a short path gets.
  TempDir dir("short PO-33.4");
  std::string deep = dir.root;
  while (deep.size() < 300) {
    deep += "\\" + std::string(40, 'd');
    ASSERT_TRUE(testing::make_folder(deep));
  }
  deep += "\\deep PO-33.4";
  ASSERT_TRUE(testing::make_folder(deep));
  for (const std::string& folder : {dir.path, deep}) {
    ASSERT_TRUE(testing::write_file(folder + "\\a.wav", testing::mono16(22050)));
    ASSERT_TRUE(testing::write_file(folder + "\\b Chord,Cmaj.wav", testing::sine16(44100, 440.0)));
  }
  ASSERT_EQ(run_program({dir.path}).status, 0);
  const testing::RunResult r = run_program({deep});
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("[" + deep + "\\b Chord,Cmaj.wav]\n\tNote C\n"), std::string::npos) << r.out;
  std::vector<std::uint8_t> short_pack, deep_pack;
  ASSERT_EQ(read_whole_file(dir.file("samplepack.aif"), &short_pack), 0);
  ASSERT_EQ(read_whole_file(deep + "\\samplepack.aif", &deep_pack), 0);
  EXPECT_EQ(short_pack, deep_pack);
  EXPECT_EQ(testing::entry_set(deep), (std::set<std::string>{"a.wav", "b Chord,Cmaj.wav", "samplepack.aif"}));
}

// The tests' own process outlives the console's Ctrl-C.
BOOL WINAPI outlive_interrupts(DWORD) { return TRUE; }

// Ctrl-C to the whole console, again every 250 ms while the child lives
// (wine lets an event pass now and then), until it ends. False when the
// child outlived 10 s of it; it is then ended with status 99.
//
// The events are spaced: wine can hang a process that a Ctrl-C reaches
// while it ends, and a burst makes that likely. It also hangs one now and
// then that a Ctrl-C reaches in its first milliseconds, about 2 runs in
// 100, even with no handler of ours installed: one of its threads waits
// for ever, inside wine, for a lock that a thread already gone held.
bool interrupt_until_it_ends(const testing::Child& child) {
  for (int sent = 0; sent < 40; ++sent) {
    GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
    if (WaitForSingleObject(child.process, 250) != WAIT_TIMEOUT) return true;
  }
  TerminateProcess(child.process, 99);
  return false;
}

TEST(Windows, CtrlCLeavesTheOldPackOrTheNewOneAndNothingElse) {
  // 24 files of 24-bit stereo 96 kHz: a run long enough to be interrupted
  // at moments spread over it.
  TempDir dir;
  const wav::Bytes sound = testing::stereo24_noise(576000);
  dir.write("s00.wav", sound);
  ASSERT_EQ(run_program({dir.path}).status, 0);
  std::vector<std::uint8_t> old_pack, new_pack, now;
  ASSERT_EQ(read_whole_file(dir.file("samplepack.aif"), &old_pack), 0);
  for (int i = 1; i < 24; ++i) dir.write("s" + std::to_string(10 + i) + ".wav", sound);
  const std::string elsewhere = dir.root + "\\new.aif";
  const ULONGLONG start = GetTickCount64();
  ASSERT_EQ(run_program({"-o", elsewhere, dir.path}).status, 0);
  const ULONGLONG run_time = GetTickCount64() - start;
  ASSERT_EQ(read_whole_file(elsewhere, &new_pack), 0);
  const std::set<std::string> before = testing::entry_set(dir.path);
  ASSERT_TRUE(SetConsoleCtrlHandler(outlive_interrupts, TRUE));
  ASSERT_TRUE(GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) << "no console to send Ctrl-C through";
  int interrupted = 0, hung = 0;
  constexpr int kMoments = 16;
  for (int i = 0; i < kMoments; ++i) {
    testing::Child child = testing::start_program({dir.path}, KITWEAVER_BINARY, 0, true);
    ASSERT_NE(child.process, nullptr);
    // From its first line on, the run takes Ctrl-C as it means to; before
    // that, wine's own ending of a starting program can hang.
    ASSERT_TRUE(testing::wait_for_output(child, std::string(kVersionLine) + "\n", 30000));
    Sleep(static_cast<DWORD>(run_time * 6 / 5 * static_cast<ULONGLONG>(i) / kMoments));
    // A run wine hangs is let go once; what it left is checked all the same.
    const bool ended = interrupt_until_it_ends(child);
    hung += !ended;
    const int status = testing::finish_program(child);
    const bool stopped = status == static_cast<int>(STATUS_CONTROL_C_EXIT);
    EXPECT_TRUE(stopped || status == 0 || (!ended && hung == 1)) << "moment " << i << ": status " << status;
    interrupted += stopped;
    now.clear();
    ASSERT_EQ(read_whole_file(dir.file("samplepack.aif"), &now), 0);
    EXPECT_TRUE(now == old_pack || now == new_pack) << "moment " << i;
    EXPECT_EQ(testing::entry_set(dir.path), before) << "moment " << i;
    if (now != old_pack) {
      ASSERT_TRUE(testing::write_file(dir.file("samplepack.aif"), old_pack));
    }
  }
  SetConsoleCtrlHandler(outlive_interrupts, FALSE);
  std::printf("%d of %d runs were interrupted, %d hung by wine (a run takes %llu ms here)\n", interrupted, kMoments,
              hung, run_time);
  EXPECT_GT(interrupted, 0);
}

// Run as a child by the test below: starts writing a file in place of the
// one KITWEAVER_HOLD names and waits to be interrupted.
TEST(WindowsChild, WritesUntilInterrupted) {
  const char* target = std::getenv("KITWEAVER_HOLD");
  if (target == nullptr) GTEST_SKIP() << "run by Windows.CtrlCRemovesTheFileBeingWritten";
  install_interrupt_cleanup();
  FileReplacement replacement;
  ASSERT_EQ(start_replacement(target, &replacement), 0);
  const std::uint8_t half[] = {'h', 'a', 'l', 'f'};
  ASSERT_EQ(write_replacement(replacement, half, sizeof half), 0);
  Sleep(60000);
  FAIL() << "not interrupted";
}

TEST(Windows, CtrlCRemovesTheFileBeingWritten) {
  TempDir dir;
  dir.write("samplepack.aif", {'o', 'l', 'd'});
  const std::set<std::string> before = testing::entry_set(dir.path);
  wchar_t self[MAX_PATH];
  const std::wstring own(self, GetModuleFileNameW(nullptr, self, MAX_PATH));
  std::string own_path(own.size() * 3, '\0');
  own_path.resize(static_cast<std::size_t>(WideCharToMultiByte(CP_UTF8, 0, own.data(), static_cast<int>(own.size()),
                                                               own_path.data(), static_cast<int>(own_path.size()),
                                                               nullptr, nullptr)));
  ASSERT_TRUE(SetEnvironmentVariableW(L"KITWEAVER_HOLD", testing::to_wide(dir.file("samplepack.aif")).c_str()));
  testing::Child child = testing::start_program({"--gtest_filter=WindowsChild.*"}, own_path.c_str(), 0, true);
  SetEnvironmentVariableW(L"KITWEAVER_HOLD", nullptr);
  ASSERT_NE(child.process, nullptr);
  // Once the temporary file is there, Ctrl-C until the child ends.
  bool writing = false;
  for (int wait = 0; wait < 2000 && !writing; ++wait) {
    writing = testing::entry_set(dir.path).size() > before.size();
    if (!writing) Sleep(10);
  }
  ASSERT_TRUE(writing) << "the child never started writing";
  ASSERT_TRUE(SetConsoleCtrlHandler(outlive_interrupts, TRUE));
  EXPECT_TRUE(interrupt_until_it_ends(child)) << "the child outlived 10 s of Ctrl-C";
  SetConsoleCtrlHandler(outlive_interrupts, FALSE);
  EXPECT_EQ(testing::finish_program(child), static_cast<int>(STATUS_CONTROL_C_EXIT)) << child.output->out;
  EXPECT_EQ(testing::entry_set(dir.path), before);
  EXPECT_EQ(testing::read_bytes(dir.file("samplepack.aif")), (wav::Bytes{'o', 'l', 'd'}));
}

}  // namespace
}  // namespace kitweaver
