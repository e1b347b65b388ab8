#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cstdint>
#include <vector>

#include "onset_kits.h"
#include "slice/onset_detector.h"

namespace kitweaver {
namespace {

using testing::kOnsetKits;
using testing::OnsetKit;

std::vector<std::int64_t> onsets_of(const std::vector<double>& mono, std::int32_t rate,
                                    const std::vector<std::size_t>& pieces) {
  OnsetDetector detector;
  start_onsets(detector, rate);
  std::size_t at = 0;
  for (std::size_t i = 0; at < mono.size(); ++i) {
    const std::size_t count = std::min(pieces[i % pieces.size()], mono.size() - at);
    feed_onsets(detector, mono.data() + at, count);
    at += count;
  }
  return finish_onsets(detector);
}

// Each kit's hits are found within 2 ms of where they were written, and
// nothing else is: not a tail, a decay or a sustained tone, nor a second
// rise within 30 ms of the one before. Fed in pieces of odd sizes, the
// detector gives the same onsets as fed in one call.
TEST(Onsets, FindTheHitsOfKitsMadeFromKnownHits) {
  for (const OnsetKit& kit : kOnsetKits) {
    SCOPED_TRACE(kit.name);
    const std::vector<double> mono = testing::render_kit(kit);
    const std::vector<std::int64_t> found = onsets_of(mono, kit.rate, {mono.size()});
    ASSERT_EQ(found.size(), kit.onsets_ms.size());
    const double tolerance = kit.rate * 0.002;
    for (std::size_t i = 0; i < found.size(); ++i) {
      const double written = kit.onsets_ms[i] * kit.rate / 1000.0;
      EXPECT_LE(static_cast<double>(found[i]), written + tolerance) << "onset " << i;
      EXPECT_GE(static_cast<double>(found[i]), written - tolerance) << "onset " << i;
    }
    EXPECT_EQ(onsets_of(mono, kit.rate, {1, 3, 127, 4093, 44}), found);
  }
}

// Stored frames, fed as they are, give the onsets of their values: the
// figures' frames decoded, integers summed exactly, in pieces of any size.
TEST(Onsets, StoredFramesGiveTheOnsetsOfTheirValues) {
  struct Layout {
    SampleType type;
    std::int32_t channels;
  };
  for (const Layout layout : {Layout{SampleType::kLittle16, 1}, Layout{SampleType::kLittle24, 2},
                              Layout{SampleType::kBig24, 3}, Layout{SampleType::kFloatLittle32, 2}}) {
    for (std::int32_t rate : {44100, 96000}) {
      OnsetKit kit = kOnsetKits[4];  // the drum loop
      kit.rate = rate;
      const std::vector<double> mono = testing::render_kit(kit);
      // Each frame stored, every channel alike; and the value it holds.
      const int width = layout.type == SampleType::kLittle16 ? 2 : layout.type == SampleType::kFloatLittle32 ? 4 : 3;
      std::vector<std::uint8_t> bytes;
      std::vector<double> values;
      for (double v : mono) {
        const double clamped = std::clamp(v, -1.0, 1.0);
        std::uint32_t word;
        double value;
        if (layout.type == SampleType::kFloatLittle32) {
          const float f = static_cast<float>(clamped);
          std::memcpy(&word, &f, 4);
          value = f;
        } else {
          const double full = width == 2 ? 32767.0 : 8388607.0;
          const auto integer = static_cast<std::int32_t>(std::lround(clamped * full));
          word = static_cast<std::uint32_t>(integer);
          value = integer / (full + 1.0);
        }
        for (std::int32_t c = 0; c < layout.channels; ++c) {
          for (int b = 0; b < width; ++b) {
            const int shift = layout.type == SampleType::kBig24 ? 8 * (width - 1 - b) : 8 * b;
            bytes.push_back(static_cast<std::uint8_t>(word >> shift));
          }
        }
        values.push_back(value);
      }
      bytes.resize(bytes.size() + 3);  // the stream's slack
      SCOPED_TRACE(::testing::Message() << static_cast<int>(layout.type) << " x" << layout.channels << " at " << rate);
      const std::vector<std::int64_t> expected = onsets_of(values, rate, {values.size()});
      ASSERT_EQ(expected.size(), kit.onsets_ms.size());
      OnsetDetector detector;
      start_onsets(detector, rate);
      const std::size_t frame_bytes = static_cast<std::size_t>(width * layout.channels);
      for (std::size_t at = 0, piece = 1; at < values.size(); at += piece, piece = piece * 7 % 5003 + 1) {
        piece = std::min(piece, values.size() - at);
        feed_onset_frames(detector, bytes.data() + at * frame_bytes, piece, layout.type, layout.channels);
      }
      EXPECT_EQ(finish_onsets(detector), expected);
    }
  }
}

}  // namespace
}  // namespace kitweaver
