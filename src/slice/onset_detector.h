// Kitweaver's onset detector: where the hits of a recording begin, so that
// one recording of many hits can be cut into one recording per hit.
//
// How it listens
// - The recording is taken in blocks of about 1 ms (rate / 1000 frames,
//   rounded, from kLeastBlockFrames to kMostBlockFrames). For every block it
//   keeps, on two measures, the sum of squares and the peak of its figures
//   (every frame, or at high rates every stride-th, whose slope is then
//   taken over the stride, as at 32 to 64 kHz over one frame): the level
//   (the sample) and the slope (the difference from the figure before,
//   which weighs high frequencies, so a hat or a snare is heard over a
//   kick's loud low tail). Only the figures' frames are read.
// - A rise is heard at block k when, on either measure, the energy of the
//   window of kWindowBlocks blocks from k, less its loudest block's (so that
//   a click, which fills a block or two, is no rise), is more than
//   kRiseRatio times the loudest such window in the kLookBackBlocks blocks
//   before it (one guard block left between), and more than the floor
//   (-60 dBFS RMS). Taking the loudest window before, not the mean, keeps a
//   sustained tone (of any period up to the look-back, about 30 ms) and a
//   decay from ever rising over their own past.
// - The onset is placed on the first frame of the rise: the first frame,
//   from the guard block on, whose value on the measure that rose leaves
//   the preceding floor (the loudest value of the look-back) by a tenth of
//   the way to the new peak. Where both measures rose, the earlier frame.
// - An onset within kMinimumGapMs (30 ms) of the one before is the same hit
//   and is dropped; frame 0, where the first hit always starts, counts as
//   the one before the first.
// - The recording is taken as silence before its first frame and after its
//   last.
//
// The same onsets on every machine: only additions, multiplications and
// comparisons, in double precision with each sum in the order of the
// frames, or on stored integers exactly; no library calls; and the same
// however the recording is fed, in one call or in pieces. Memory is the
// look-back (about 35 ms of block figures and 4 ms of frames), whatever
// the recording's length; time is a few operations per figure and some
// tens per block.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "slice/sample_decoding.h"

namespace kitweaver {

// The measures a block is heard on: the level and the slope.
inline constexpr int kOnsetMeasures = 2;
// A window heard for a rise, and the look-back it is compared with, in blocks.
inline constexpr std::int64_t kWindowBlocks = 3;
inline constexpr std::int64_t kLookBackBlocks = 30;
inline constexpr std::int64_t kGuardBlocks = 1;
// The fewest frames in a block, so that a noise's energy over a window
// stays steady at low rates.
inline constexpr std::int64_t kLeastBlockFrames = 16;
// The most frames in a block: a header may declare any rate, and the
// frames kept stay within 32 KB (a block is shorter than 1 ms above 1 MHz).
inline constexpr std::int64_t kMostBlockFrames = 1024;
// The most frames a block's figures are taken from: above it (from 64 kHz)
// every other frame is, or every third (96 kHz), and so on, enough to hear
// a rise by (with 44, the kits of the tests at 44.1 to 192 kHz gave the same
// onsets, at half the cost).
inline constexpr std::int64_t kBlockFigures = 32;
// How many times louder than the loudest window of the look-back a window
// is heard as a rise (3 dB; the windows of a steady noise vary by well under 2 dB).
inline constexpr double kRiseRatio = 2.0;
// The floor, as a mean square: (1/1000)^2, -60 dBFS.
inline constexpr double kFloorMeanSquare = 1e-6;
// Two onsets closer than this are one, in ms.
inline constexpr std::int64_t kMinimumGapMs = 30;

// One block's figures on each measure.
struct OnsetBlock {
  std::array<double, kOnsetMeasures> energy{};  // sum of squares
  std::array<double, kOnsetMeasures> peak{};    // largest magnitude
};

// A detector fed a recording's frames front to back, as mono samples (the
// mean of its channels) scaled to [-1, 1], at the recording's rate.
struct OnsetDetector {
  std::int32_t rate = 0;
  std::int64_t block_frames = 1;   // frames per block
  std::int64_t minimum_gap = 1;    // 30 ms in frames
  std::int64_t frames = 0;         // frames fed so far
  std::int64_t stride = 1;         // a block's figures are of every stride-th frame
  double before = 0.0;             // the last figure's frame, for the slope
  OnsetBlock filling;              // the block being filled
  std::int64_t filled = 0;         // and the frames in it
  std::int64_t blocks_done = 0;    // blocks completed
  std::vector<OnsetBlock> blocks;  // the latest completed blocks, a ring by block number
  // The energies of the windows heard from those blocks, a ring by the
  // window's first block.
  std::vector<std::array<double, kOnsetMeasures>> windows;
  // The latest frames of the calls before, a ring by frame number (frame n
  // at n % size): those a rise's first frame is looked for among.
  std::vector<double> recent;
  // The block being filled as exact sums, when it is fed integers (of at
  // most 25 bits) that times `unit` are its frames' values.
  struct Exact {
    std::array<std::int64_t, kOnsetMeasures> energy{};
    std::array<std::int64_t, kOnsetMeasures> peak{};
    std::int64_t before = 0;
    double unit = 0.0;
  } exact;
  std::int64_t last_onset = 0;  // the latest onset kept, 0 before the first
  std::vector<std::int64_t> onsets;
};

// Makes `detector` ready for a recording at `rate` frames per second (a rate
// below 1 is taken as 1), forgetting anything fed before.
void start_onsets(OnsetDetector& detector, std::int32_t rate);

// Feeds the next `frames` frames.
void feed_onsets(OnsetDetector& detector, const double* mono, std::size_t frames);

// Feeds the next `count` frames as stored: `channels` samples of `type`
// each, each frame heard as the mean of its channels' full values (an
// integer over 2^(bits - 1), a float within [-1, 1]). Only the frames the
// figures are taken from are decoded (and a rise's); one or two channels
// of up to 24 bits are summed exactly, so the sums may differ from those of
// feed_onsets in their last bits.
void feed_onset_frames(OnsetDetector& detector, const std::uint8_t* frames, std::size_t count, SampleType type,
                       std::int32_t channels);

// Every onset, as the frame (from 0) of the first frame of its rise, in
// order; frame 0 is not reported as an onset (the first hit always starts
// at 0). The detector is then spent: start it again for another recording.
std::vector<std::int64_t> finish_onsets(OnsetDetector& detector);

}  // namespace kitweaver
