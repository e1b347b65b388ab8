// Fuzz target: every decoder of directory and file names.
#include <cstdint>
#include <cstdio>
#include <string>

#include "app/run.h"
#include "pack/drum_metadata.h"
#include "pack/key_map.h"
#include "slice/chord_tags.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The chord decoder prints; keep the fuzzer's output readable.
  std::freopen("/dev/null", "w", stdout);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kitweaver;
  const std::string name(reinterpret_cast<const char*>(data), size);
  ModeChoice mode = detect_mode(trim_directory_argument(name));
  if (mode.max_pack_seconds < 1.0 || mode.max_pack_seconds > 40.0) __builtin_trap();
  ChordNotes chord = decode_chord_tags(name);
  if (chord.note_count < 1 || chord.note_count > 4) __builtin_trap();
  std::int32_t note = 0;
  chromatic_note_of(name, &note);
  play_mode_of(name);
  return 0;
}
