#include <gtest/gtest.h>

#include "app/run.h"
#include "kitweaver/name_text.h"

namespace kitweaver {
namespace {

struct ModeCase {
  const char* argument;
  bool po33;
  double seconds;
};

TEST(ModeDetection, TagAtTheEndOfTheNameChoosesPo33AndItsLength) {
  const ModeCase cases[] = {
      {"/kits/drums PO-33.25", true, 25.0},
      {"/kits/drums PO-33.5/", true, 5.0},   // the slash goes first
      {"/kits/drums po-33.12", true, 12.0},  // lower-case form
      {"/kits/drums PO-33.0", true, 40.0},
      {"/kits/drums PO-33.99", true, 40.0},
      {"/kits/drums PO-33.x", true, 40.0},   // no digits reads as 0
      {"/kits/drums PO-33.", true, 3.0},     // read from "3."
      {"/kits/drums PO-33.40", true, 40.0},
      {"/kits/drums PO-33.1", true, 1.0},
      {" PO-33.5", true, 5.0},               // exactly 8 characters
      {"/kits/drums PO-33.250", false, 12.0},  // three digits: too far from the end
      {"/kits/drums PO-33.25 live", false, 12.0},
      {"/kits/drums Po-33.25", false, 12.0},   // mixed case is not a tag
      {"/kits/drums pO-33.25", false, 12.0},
      {"/kits/drumsPO-33.25", false, 12.0},    // no space before the tag
      {"/kits/drums", false, 12.0},
      {"", false, 12.0},
      {"PO-33.5", false, 12.0},                // 7 characters: too short
  };
  for (const ModeCase& c : cases) {
    ModeChoice mode = detect_mode(trim_directory_argument(c.argument));
    EXPECT_EQ(mode.device == Device::kPo33, c.po33) << c.argument;
    EXPECT_EQ(mode.max_pack_seconds, c.seconds) << c.argument;
  }
}

TEST(ModeDetection, OneTrailingSlashIsTrimmed) {
  EXPECT_EQ(trim_directory_argument("/a/b/"), "/a/b");
  EXPECT_EQ(trim_directory_argument("/a/b//"), "/a/b/");
  EXPECT_EQ(trim_directory_argument("/"), "");
  EXPECT_EQ(trim_directory_argument(""), "");
}

TEST(NameText, LeadingIntegersSaturateAtThe32BitLimits) {
  EXPECT_EQ(read_leading_int("  -12abc"), -12);
  EXPECT_EQ(read_leading_int("+7"), 7);
  EXPECT_EQ(read_leading_int("x1"), 0);
  EXPECT_EQ(read_leading_int(""), 0);
  EXPECT_EQ(read_leading_int("-"), 0);
  EXPECT_EQ(read_leading_int("2147483647"), 2147483647);
  EXPECT_EQ(read_leading_int("2147483648"), 2147483647);
  EXPECT_EQ(read_leading_int("-2147483648"), -2147483647 - 1);
  EXPECT_EQ(read_leading_int("-99999999999999999999"), -2147483647 - 1);
  EXPECT_EQ(read_leading_int("99999999999999999999"), 2147483647);
  // The read stops at the end of the view, not at a zero byte.
  EXPECT_EQ(read_leading_int(std::string_view("123", 2)), 12);
}

TEST(NameText, StemEndsBeforeTheLastDotButNeverAtTheFirstCharacter) {
  EXPECT_EQ(stem_length("/a/b.wav"), 4u);
  EXPECT_EQ(stem_length("/a.b/c"), 2u);
  EXPECT_EQ(stem_length(".wav"), 0u);
  EXPECT_EQ(stem_length("x.wav"), 1u);
  EXPECT_EQ(stem_length("abc"), 0u);
  EXPECT_EQ(stem_length(""), 0u);
}

}  // namespace
}  // namespace kitweaver
