// Playing a pack's keys as the device plays them, and taking its slices out
// again as sounds to build a new kit from.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "viewer/pack_reader.h"

namespace kitweaver::inspect {

// 16-bit sound at 44.1 kHz, its channels interleaved.
struct Sound {
  int channels = 1;
  std::vector<std::int16_t> samples;
  std::size_t frames() const { return samples.size() / static_cast<std::size_t>(channels); }
};

// Silence between two keys of an audition: 0.25 s.
inline constexpr std::size_t kAuditionGapFrames = 11025;

// Plays `sound` 2^(semitones/12) times as fast (beyond eight octaves
// either way, at eight), each channel through the band-limited resampler
// kitweaver --hq renders with, rounded to 16 bits without dither.
std::string play_faster(const Sound& sound, double semitones, Sound* out);

// The frames in reverse order, each frame's channels as they were.
void reverse_frames(Sound* sound);

// Reads a key list such as "0,3,7-9" into keys in the order given (a range
// counts up). Returns an empty text, or the line saying what is wrong.
std::string parse_key_list(std::string_view text, std::vector<int>* keys);

// The stored frames of a key's slice, from its start to its end frame, in
// every channel of the pack; none for an empty key.
Sound slice_sound(const Pack& pack, const KeyRow& row);

// What a key sounds like: its slice, reversed when it plays reversed, played
// at its pitch (p semitones play 2^(p/12) times as fast; pitches beyond eight
// octaves are played at eight). Returns an empty text or the error line.
std::string key_sound(const Pack& pack, const KeyRow& row, Sound* sound);

// The keys one after another, as they sound, with kAuditionGapFrames of
// silence between two keys (an empty key is silence alone).
std::string audition(const Pack& pack, const std::vector<int>& keys, Sound* sound);

struct ExtractedSlice {
  std::string name;  // "03 keys 2 9 16 23 Oneshot.wav"
  Sound sound;
};

// Every distinct slice once, named by its number, the keys that play it and
// the play mode of the first key that plays it forwards (which is also the
// key whose sound it holds, unless `raw` asks for the stored frames). Each
// runs from its start frame to its end frame, or to the frame before it
// where another slice starts on that frame (the slices laid end to end). A
// slice that leaves no frame (an empty one) is left out.
std::string extract_slices(const Pack& pack, bool raw, std::vector<ExtractedSlice>* slices);

}  // namespace kitweaver::inspect
