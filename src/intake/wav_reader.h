// Directory scan and recording reader: the intake of a run. WAV files are
// read here, AIFF and AIFC files by intake/aiff_reader.h.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "format/byte_source.h"
#include "kitweaver/records.h"
#include "system/files.h"

namespace kitweaver {

// Longest full path, terminating zero included, that the intake handles.
inline constexpr std::size_t kPathBufferSize = 4096;

// What the header walk found.
enum class WavVerdict {
  kAccepted,    // a recording we can read
  kPassedOver,  // not a recording (not RIFF, not AIFF, or a drum pack): no word
  kRejected,    // a RIFF or AIFF file of a shape we can't use: reported
};

// The format and the position of the sound data of an accepted file, WAV
// or AIFF.
struct WavLayout {
  std::int32_t channels = 0;
  std::int32_t sample_rate = 0;
  std::int32_t byte_rate = 0;
  std::int32_t bits_per_sample = 0;
  std::int32_t data_bytes = 0;       // as declared by the data chunk
  std::uint64_t data_offset = 0;     // first byte of the data chunk's body
  std::uint64_t data_available = 0;  // bytes of sound the file holds from there on, at most
  SampleEncoding encoding;
  // Why a file was rejected, in plain words ("no \"data\" chunk").
  std::string rejection;
};

// The frames a header declares: its data bytes over the size of one frame.
std::int64_t declared_frames(const WavLayout& layout);

// Walks the RIFF chunks of `source` and checks the format; anything not
// RIFF is passed over. A rejected file gets its reason in `rejection`.
WavVerdict read_wav_header(const ByteSource& source, WavLayout* layout);

// The header of any recording: a WAV file, or else an AIFF or AIFC one.
WavVerdict read_recording_header(const ByteSource& source, WavLayout* layout);

// Reads one file into a new record appended to `job`, through
// `job.reading`. Prints "Processing [path] failed." and a tab-indented line
// with the reason for RIFF and AIFF files it can't use (a header that
// declares no frames among them), and "Could not read [path]: reason" for a file whose reads
// fail (it then sets `job.read_failed`: a pack without it would pass the
// failure over). Returns whether a record was appended.
bool read_wav_file(PackJob& job, const std::string& path);

// Appends a record of `frames` frames of the sound `layout` describes in
// the file at `path`, from frame `first` on: a slice of a source kit, which
// the lines call `name` and a preset's sample file `stem`. Nothing is
// printed. Returns 0, or the error of the open (or kOutOfMemory).
int read_recording_part(PackJob& job, const std::string& path, const WavLayout& layout, std::int64_t first,
                        std::int64_t frames, const std::string& name, const std::string& stem);

// Opens the record's file again when the intake had to close it, and checks
// that it is the same file. Returns 0, the error of the open, or
// kFileChanged.
int reopen_source(SampleRecord& record);

// The header of the recording at `path`, read through `reading`; a file
// that can't be opened is passed over. Nothing is kept and nothing printed.
WavVerdict read_recording_layout(const std::string& path, const ReadMethod& reading, WavLayout* layout);

// Whether the file at `path` is a recording the intake would take, read
// through `reading`; nothing is kept and nothing printed.
bool is_recording_file(const std::string& path, const ReadMethod& reading);

// The line naming what a kit leaves out ("[path], [path]").
void print_left_out(const std::string& names);

// Name order, as file managers show names: ASCII letters compared without
// case, a run of digits by its value ("2 Snare" before "10 Tom"), and names
// alike by these rules in byte order.
bool comes_before_by_name(std::string_view a, std::string_view b);

// Lists `job.directory` once and reads up to kSlotCount files in listing
// order (with `job.sort_by_name`, in name order). The recordings past the
// last slot are only recognised, then named in one line ("Left out, a kit
// holds 24 recordings: [path], [path]"), or with `job.slice_hits` kept in
// `job.left_out` for the line after the hits.
// Returns false (after printing why) when the directory can't be opened.
bool scan_directory(PackJob& job);

}  // namespace kitweaver
