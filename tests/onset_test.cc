#include <gtest/gtest.h>

#include <algorithm>
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

}  // namespace
}  // namespace kitweaver
