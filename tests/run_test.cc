#include <gtest/gtest.h>

#include "test_support.h"

namespace kitweaver {
namespace {

using testing::run_program;
using testing::TempDir;

const char kBanner[] = "Kitweaver 1.0\n";
const char kUsage[] = "Kitweaver 1.0\n\nUsage:\n\t kitweaver <WAV files directory location>\n\n";

TEST(Run, WrongArgumentCountPrintsUsage) {
  for (const auto& args : {std::vector<std::string>{}, std::vector<std::string>{"a", "b"}}) {
    testing::RunResult r = run_program(args);
    EXPECT_EQ(r.out, kUsage);
    EXPECT_EQ(r.status, 2);
  }
}

TEST(Run, MissingDirectoryIsReportedAndFindsNothing) {
  TempDir dir;
  std::string missing = dir.file("gone PO-33.5");
  testing::RunResult r = run_program({missing + "/"});
  EXPECT_EQ(r.out, std::string(kBanner) +
                       "\nPO-33 mode; max. pack length 5.0s, inserting 0.2s pause between samples\n\n"
                       "Could not open directory [" + missing + "]: No such file or directory\n"
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
                       "No WAV files found\n\n");
  EXPECT_EQ(r.status, 1);
}

}  // namespace
}  // namespace kitweaver
