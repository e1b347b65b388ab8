// The records that carry the whole state of one run.
//
// One PackJob per run, owned by the driver; one SampleRecord per accepted
// recording, owned by the job's slot; ChordNotes and KeyMap are small values that
// pass between the stages. Every buffer is owned by the record that holds it
// and is let go when the record is released.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "system/files.h"

namespace kitweaver {

// Sample slots in a job, and keys in a drum patch.
inline constexpr int kSlotCount = 24;
// Pack sample rate in Hz; every pack position is a frame at this rate.
inline constexpr int kPackRate = 44100;

// How a recording's samples are stored. The default is a PCM WAV file's:
// little-endian two's complement, 8-bit samples unsigned (offset by 128).
struct SampleEncoding {
  bool big_endian = false;    // AIFF, AIFC "NONE", "twos", "fl32", "fl64"
  bool signed_bytes = false;  // 8-bit samples are two's complement (AIFF and AIFC)
  bool floating = false;      // IEEE 754 samples of 32 or 64 bits
};

// The device a kit is made for; format/devices.h holds each one's facts.
enum class Device { kOp1, kPo33, kField, kOpXy };

struct SampleRecord {
  // Where the sound is. No record holds sound data: the file stays open from
  // intake until its slice is rendered, which reads the data chunk (from
  // `data_offset`, interleaved samples stored as `encoding` says) straight
  // from it.
  // `data_present` is how many of its bytes the file held at intake; for a
  // truncated file it is less than `data_bytes`, and the rest is silence.
  // `source` is the file and how it is read. When open files run short it
  // is closed after intake and opened again for rendering; `identity` tells
  // that it is still the same file.
  FileReader source;
  FileIdentity identity;
  std::uint64_t data_offset = 0;
  std::int64_t data_present = 0;
  // Full path: directory, "/", entry name. File-name tags are searched here.
  std::string path;
  // A part of a file rather than a recording of its own: what the lines
  // call it and the stem its sample file takes in a preset. A slice of a
  // source kit (a pack or a preset, `from_kit`) is "SOURCE key K", and its
  // path's tags do not apply; a hit --slice cut from a recording is
  // "PATH#N", `hit` N from 1, and keeps its recording's tags but for a
  // chromatic one. Empty (and 0) for a recording.
  std::string name;
  std::string stem;
  bool from_kit = false;
  std::int32_t hit = 0;
  // The data chunk size the file declares.
  std::int32_t data_bytes = 0;
  // The rendered slice, signed 16-bit host order; null when the slice could
  // not be resampled. A slice of zero frames is a non-null empty buffer.
  std::unique_ptr<std::int16_t[]> resampled;
  // The right side of a stereo slice (an OP-1 field kit) rendered from a
  // two-channel recording, as `resampled` is the left; null where the slice
  // plays the same on both sides.
  std::unique_ptr<std::int16_t[]> resampled_right;
  std::int32_t resampled_bytes = 0;
  std::int32_t channels = 0;
  std::int32_t sample_rate = 0;
  std::int32_t byte_rate = 0;
  std::int32_t bits_per_sample = 0;  // of each stored sample: 8, 16, 24, 32, or 64 for float
  SampleEncoding encoding;
  // First and last pack frame of the slice.
  std::int32_t pack_start = 0;
  std::int32_t pack_end = 0;
  // Pitch correction the device applies: chosen note minus 69, never above 0.
  std::int32_t pitch_semitones = 0;
  // Note number of a chromatic multisample tag; -1 until read.
  std::int32_t chromatic_note = -1;
  // The silence --trim left out of the data: frames at its start and at its
  // end (what the file declares past what it holds among them), whether the
  // recording was silent throughout (one frame is kept), and the data as the
  // file declared and held it before.
  struct Trim {
    bool applied = false;
    bool silent = false;
    std::int64_t start_frames = 0;
    std::int64_t end_frames = 0;
    std::int32_t declared_bytes = 0;
    std::int64_t present_bytes = 0;
  } trim;
};

struct PackJob {
  // Sum of data_bytes / byte_rate over accepted files.
  double total_seconds = 0.0;
  std::int32_t sample_count = 0;
  // The directory argument with one trailing "/" removed.
  std::string directory;
  // Slots 0 .. sample_count - 1 hold records in acceptance order.
  std::array<std::unique_ptr<SampleRecord>, kSlotCount> samples;
  Device device = Device::kOp1;
  // Slices resampled by the band-limited renderer rather than scattered.
  bool band_limited = false;
  // A file the intake opened could not be read (and was reported): no pack.
  bool read_failed = false;
  // How the recordings are read: the system's reads, or the tests' and the
  // page's own.
  ReadMethod reading;
  double max_pack_seconds = 0.0;
  // --sort: the recordings taken in name order; --trim: their silence left
  // out before the plan.
  bool sort_by_name = false;
  bool trim_silence = false;
  // --slice: each recording cut at its hits, each hit a record. The
  // recordings the intake left out ("[path], [path]") are then named after
  // the hits that do not fit, in one line.
  bool slice_hits = false;
  std::string left_out;
  // The marker tone's rate (a PO-33 pack's), from the plan: the rate of the
  // last slot whose note search succeeded.
  double last_resample_rate = 0.0;
};

// One to four semitone offsets in which a slice is rendered; 0 is the
// recording unchanged.
struct ChordNotes {
  std::int32_t note_count = 1;
  std::array<std::int32_t, 4> semitones{};
};

// A key of a source kit as the new kit plays it: its slot (-1: the key is
// empty), its pitch in stored units (semitones x 512) before its slot's
// correction, its stored direction and play mode, and its pan from -1 (left)
// to 1 (right).
struct GivenKey {
  std::int32_t slot = -1;
  std::int64_t pitch = 0;
  std::int32_t reverse = 0;
  std::int32_t play_mode = 0;
  double pan = 0.0;
};

// Which record plays on each key, and at which pitch, for a chromatic
// multisample. Used by the metadata only when `in_use` is set. A kit made
// from a source kit plays its `given` keys instead, when `given_in_use` is.
struct KeyMap {
  bool in_use = false;
  std::array<std::int32_t, kSlotCount> key_slots{};
  std::array<std::int32_t, kSlotCount> key_pitches{};
  bool given_in_use = false;
  std::array<GivenKey, kSlotCount> given{};
};

// Releases every record from the last slot down to slot 0, each record's
// buffers first. The job itself stays usable (empty).
void release_pack_job(PackJob& job);

}  // namespace kitweaver
