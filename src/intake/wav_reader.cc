#include "intake/wav_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "intake/aiff_reader.h"
#include "kitweaver/byte_order.h"

namespace kitweaver {
namespace {

// RIFF WAVE layout as read here (all numbers little-endian):
//
//   0   "RIFF"
//   4   RIFF size (ignored)
//   8   "WAVE"
//   12  chunks: 4-byte ID, 4-byte body size, body, one pad byte after an odd
//       body. Only "fmt " (the first one) and "data" (the first one after the
//       format) are read; every other chunk is skipped.
//
// "fmt " body (at least 16 bytes):
//   0   format tag: 1 = PCM, 3 = IEEE float, 0xFFFE = extensible (then at
//       least 40 bytes)
//   2   channel count
//   4   sample rate in Hz
//   8   byte rate (bytes per second)
//   12  block align (ignored)
//   14  bits per sample
//   16  extension size, 18 valid bits (ignored)
//   20  channel mask (ignored)
//   24  sub-format GUID, which must be PCM or float for an extensible file
constexpr std::size_t kChunkHeaderSize = 8;
constexpr std::size_t kFmtMinSize = 16;
constexpr std::size_t kFmtExtensibleSize = 40;
constexpr std::size_t kSubFormatOffset = 24;
constexpr std::uint16_t kFormatPcm = 1;
constexpr std::uint16_t kFormatFloat = 3;
constexpr std::uint16_t kFormatExtensible = 0xFFFE;
constexpr std::uint8_t kPcmSubFormat[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                            0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
constexpr std::uint8_t kFloatSubFormat[16] = {0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                              0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

bool id_is(const std::uint8_t* bytes, const char* id) { return std::memcmp(bytes, id, 4) == 0; }

}  // namespace

namespace {

bool body_fits(const ByteSource& source, std::uint64_t body, std::uint32_t size) {
  return body <= source.size && size <= source.size - body;
}

// A chunk ID as it can be printed: its four characters, or "?" for each
// that is not printable.
std::string printable_id(const std::uint8_t* id) {
  std::string text(4, '?');
  for (std::size_t i = 0; i < 4; ++i) {
    if (id[i] >= 0x20 && id[i] < 0x7F) text[i] = static_cast<char>(id[i]);
  }
  return text;
}

// The names of the compressed WAV formats met most, for the reason line.
const char* format_name(std::uint16_t tag) {
  switch (tag) {
    case 0x0002: return "Microsoft ADPCM";
    case 0x0006: return "A-law";
    case 0x0007: return "mu-law";
    case 0x0011: return "IMA ADPCM";
    case 0x0031: return "GSM 6.10";
    case 0x0050: return "MPEG";
    case 0x0055: return "MP3";
    default: return "compressed sound";
  }
}

std::string hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(value));
  return text;
}

bool read_format(const ByteSource& source, std::uint64_t body, std::uint32_t size, WavLayout* layout) {
  if (size < kFmtMinSize) {
    layout->rejection = "the \"fmt \" chunk is " + std::to_string(size) + " bytes, fewer than the 16 of a format";
    return false;
  }
  std::uint8_t fmt[kFmtExtensibleSize];
  std::size_t wanted = std::min<std::size_t>(size, kFmtExtensibleSize);
  if (!body_fits(source, body, size) || !read_source(source, body, fmt, wanted)) {
    layout->rejection = "the file ends inside its \"fmt \" chunk";
    return false;
  }
  std::uint16_t tag = load_le16(fmt);
  auto sub_format_is = [&](const std::uint8_t (&guid)[16]) {
    return tag == kFormatExtensible && size >= kFmtExtensibleSize &&
           std::memcmp(fmt + kSubFormatOffset, guid, sizeof guid) == 0;
  };
  const bool pcm = tag == kFormatPcm || sub_format_is(kPcmSubFormat);
  const bool floating = tag == kFormatFloat || sub_format_is(kFloatSubFormat);
  if (!pcm && !floating) {
    if (tag != kFormatExtensible) {
      layout->rejection = std::string(format_name(tag)) + " (format " + hex(tag) + ") is not read: convert it to PCM";
    } else if (size < kFmtExtensibleSize) {
      layout->rejection = "the extensible \"fmt \" chunk is " + std::to_string(size) + " bytes, fewer than 40";
    } else {
      layout->rejection = "an extensible format of compressed sound (sub-format " +
                          hex(load_le16(fmt + kSubFormatOffset)) + ") is not read: convert it to PCM";
    }
    return false;
  }
  layout->encoding.floating = floating;
  layout->channels = load_le16(fmt + 2);
  layout->sample_rate = static_cast<std::int32_t>(load_le32(fmt + 4));
  layout->byte_rate = static_cast<std::int32_t>(load_le32(fmt + 8));
  layout->bits_per_sample = load_le16(fmt + 14);
  return true;
}

// Numbers that later stages divide by or size buffers from; the reason of
// the first that is not usable.
std::string unusable_format(const WavLayout& layout) {
  const int bits = layout.bits_per_sample;
  if (layout.encoding.floating && bits != 32 && bits != 64) {
    return std::to_string(bits) + "-bit float samples are not read (32 or 64 bits)";
  }
  if (!layout.encoding.floating && bits != 8 && bits != 16 && bits != 24 && bits != 32) {
    return std::to_string(bits) + "-bit samples are not read (8, 16, 24 or 32 bits)";
  }
  if (layout.channels <= 0) return "the header declares no channels";
  if (layout.sample_rate == 0) return "the header's sample rate is 0";
  if (layout.sample_rate < 0) return "the header's sample rate is past 2^31 Hz";
  if (layout.byte_rate == 0) return "the header's byte rate is 0";
  if (layout.byte_rate < 0) return "the header's byte rate is past 2^31 bytes a second";
  if (layout.data_bytes < 0) return "the \"data\" chunk declares more than 2 GB";
  return "";
}

void report_failure(const std::string& path, const std::string& reason) {
  std::printf("Processing [%s] failed.\n", path.c_str());
  if (!reason.empty()) std::printf("\t%s\n", reason.c_str());
}

// Opens `path` for reading. When the process is out of open files, the
// latest record still holding its file lets it go (it is opened again for
// rendering), until the open succeeds or no record holds one.
int open_for_intake(PackJob& job, const std::string& path, SystemFile* file, FileIdentity* identity) {
  for (std::int32_t slot = job.sample_count;;) {
    const int error = open_regular_file(path, file, identity);
    if (!is_out_of_files(error)) return error;
    while (slot > 0 && !job.samples[static_cast<std::size_t>(slot - 1)]->source.file.is_open()) --slot;
    if (slot == 0) return error;
    job.samples[static_cast<std::size_t>(--slot)]->source.file.reset();
  }
}

WavVerdict rejected(WavLayout* layout, std::string reason) {
  layout->rejection = std::move(reason);
  return WavVerdict::kRejected;
}

// Appends the record of the sound `layout` finds in the file `reader` holds
// open. The sound stays in the file until its slice is rendered; only what
// it takes to find it again is kept, and how much of it the file really has.
bool append_record(PackJob& job, const std::string& path, FileReader reader, const FileIdentity& identity,
                   const WavLayout& layout) {
  std::unique_ptr<SampleRecord> record(new (std::nothrow) SampleRecord);
  if (!record) return false;
  record->source = std::move(reader);
  record->identity = identity;
  record->data_offset = layout.data_offset;
  record->data_present = static_cast<std::int64_t>(
      std::min<std::uint64_t>(static_cast<std::uint64_t>(layout.data_bytes), layout.data_available));
  record->path = path;
  record->data_bytes = layout.data_bytes;
  record->byte_rate = layout.byte_rate;
  record->channels = layout.channels;
  record->bits_per_sample = layout.bits_per_sample;
  record->sample_rate = layout.sample_rate;
  record->encoding = layout.encoding;
  record->chromatic_note = -1;
  job.samples[static_cast<std::size_t>(job.sample_count)] = std::move(record);
  ++job.sample_count;
  job.total_seconds += static_cast<double>(layout.data_bytes) / static_cast<double>(layout.byte_rate);
  return true;
}

}  // namespace

std::int64_t declared_frames(const WavLayout& layout) {
  const std::int64_t frame_bytes = std::int64_t{layout.channels} * ((layout.bits_per_sample + 7) / 8);
  return frame_bytes > 0 ? layout.data_bytes / frame_bytes : 0;
}

WavVerdict read_wav_header(const ByteSource& source, WavLayout* layout) {
  std::uint8_t riff[12];
  if (!read_source(source, 0, riff, 4) || !id_is(riff, "RIFF")) return WavVerdict::kPassedOver;
  if (!read_source(source, 4, riff + 4, 8)) return rejected(layout, "the file ends inside its header");
  if (!id_is(riff + 8, "WAVE")) return rejected(layout, "a RIFF file of type \"" + printable_id(riff + 8) + "\", not \"WAVE\"");

  bool have_format = false;
  std::uint64_t offset = 12;
  for (;;) {
    std::uint8_t header[kChunkHeaderSize];
    if (!read_source(source, offset, header, kChunkHeaderSize)) {
      if (offset < source.size) return rejected(layout, "the file ends inside a chunk's header");
      return rejected(layout, have_format ? "no \"data\" chunk" : "no \"fmt \" chunk");
    }
    std::uint32_t size = load_le32(header + 4);
    std::uint64_t body = offset + kChunkHeaderSize;
    if (id_is(header, "data")) {
      // The data chunk may be cut short; its declared size is kept.
      if (!have_format) return rejected(layout, "the \"data\" chunk comes before any \"fmt \" chunk");
      layout->data_bytes = static_cast<std::int32_t>(size);
      layout->data_offset = body;
      layout->data_available = source.size - body;
      break;
    }
    if (id_is(header, "fmt ") && !have_format) {
      if (!read_format(source, body, size, layout)) return WavVerdict::kRejected;
      have_format = true;
    } else if (!body_fits(source, body, size)) {
      return rejected(layout, "the file ends inside its \"" + printable_id(header) + "\" chunk");
    }
    offset = body + size + (size & 1u);
  }
  if (std::string reason = unusable_format(*layout); !reason.empty()) return rejected(layout, std::move(reason));
  if (declared_frames(*layout) == 0) return rejected(layout, "the header declares no frames");
  return WavVerdict::kAccepted;
}

WavVerdict read_recording_header(const ByteSource& source, WavLayout* layout) {
  const WavVerdict wav = read_wav_header(source, layout);
  return wav == WavVerdict::kPassedOver ? read_aiff_header(source, layout) : wav;
}

bool read_wav_file(PackJob& job, const std::string& path) {
  if (path.size() >= kPathBufferSize) {
    report_failure(path, "the path is longer than " + std::to_string(kPathBufferSize - 1) + " bytes");
    return false;
  }
  // Only regular files are opened; anything else is passed over silently.
  FileReader reader;
  reader.method = job.reading;
  FileIdentity identity;
  if (open_for_intake(job, path, &reader.file, &identity) != 0) return false;

  ByteSource source;
  source.size = static_cast<std::uint64_t>(identity.size);
  source.file = &reader;
  int read_error = 0;
  source.read_error = &read_error;
  WavLayout layout;
  WavVerdict verdict = read_recording_header(source, &layout);
  if (read_error != 0) {
    std::printf("Could not read [%s]: %s\n", path.c_str(), error_text(read_error).c_str());
    job.read_failed = true;
    return false;
  }
  if (verdict != WavVerdict::kAccepted) {
    if (verdict == WavVerdict::kRejected) report_failure(path, layout.rejection);
    return false;
  }
  if (!append_record(job, path, std::move(reader), identity, layout)) {
    report_failure(path, error_text(kOutOfMemory));
    return false;
  }
  return true;
}

int read_recording_part(PackJob& job, const std::string& path, const WavLayout& layout, std::int64_t first,
                        std::int64_t frames, const std::string& name, const std::string& stem) {
  FileReader reader;
  reader.method = job.reading;
  FileIdentity identity;
  if (int error = open_for_intake(job, path, &reader.file, &identity)) return error;
  const std::int64_t frame_bytes = std::int64_t{layout.channels} * ((layout.bits_per_sample + 7) / 8);
  const auto skipped = static_cast<std::uint64_t>(first * frame_bytes);
  WavLayout part = layout;
  part.data_offset = layout.data_offset + skipped;
  part.data_available = layout.data_available > skipped ? layout.data_available - skipped : 0;
  part.data_bytes = static_cast<std::int32_t>(frames * frame_bytes);
  if (!append_record(job, path, std::move(reader), identity, part)) return kOutOfMemory;
  SampleRecord& record = *job.samples[static_cast<std::size_t>(job.sample_count - 1)];
  record.name = name;
  record.stem = stem;
  return 0;
}

int reopen_source(SampleRecord& record) {
  if (record.source.file.is_open()) return 0;
  SystemFile file;
  FileIdentity identity;
  const int error = open_regular_file(record.path, &file, &identity);
  if (error == kNotAFile || (error == 0 && !(identity == record.identity))) return kFileChanged;
  if (error != 0) return error;
  record.source.file = std::move(file);
  return 0;
}

WavVerdict read_recording_layout(const std::string& path, const ReadMethod& reading, WavLayout* layout) {
  FileReader reader;
  reader.method = reading;
  FileIdentity identity;
  if (path.size() >= kPathBufferSize || open_regular_file(path, &reader.file, &identity) != 0) {
    return WavVerdict::kPassedOver;
  }
  ByteSource source;
  source.size = static_cast<std::uint64_t>(identity.size);
  source.file = &reader;
  return read_recording_header(source, layout);
}

bool is_recording_file(const std::string& path, const ReadMethod& reading) {
  WavLayout layout;
  return read_recording_layout(path, reading, &layout) == WavVerdict::kAccepted;
}

void print_left_out(const std::string& names) {
  std::printf("Left out, a kit holds %d recordings: %s\n", kSlotCount, names.c_str());
}

bool comes_before_by_name(std::string_view a, std::string_view b) {
  auto is_digit = [](char c) { return c >= '0' && c <= '9'; };
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (is_digit(a[i]) && is_digit(b[j])) {
      // Runs of digits by their value: leading zeros aside, the longer run
      // is the larger number, and runs of one length compare digit by digit.
      std::size_t i_end = i, j_end = j;
      while (i_end < a.size() && is_digit(a[i_end])) ++i_end;
      while (j_end < b.size() && is_digit(b[j_end])) ++j_end;
      std::size_t i_lead = i, j_lead = j;
      while (i_lead + 1 < i_end && a[i_lead] == '0') ++i_lead;
      while (j_lead + 1 < j_end && b[j_lead] == '0') ++j_lead;
      const std::string_view x = a.substr(i_lead, i_end - i_lead), y = b.substr(j_lead, j_end - j_lead);
      if (x.size() != y.size()) return x.size() < y.size();
      if (x != y) return x < y;
      i = i_end;
      j = j_end;
      continue;
    }
    const char x = lower(a[i]), y = lower(b[j]);
    if (x != y) return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
    ++i;
    ++j;
  }
  if ((a.size() - i) != (b.size() - j)) return a.size() - i < b.size() - j;
  // Names alike by these rules fall back to their bytes.
  return a < b;
}

bool scan_directory(PackJob& job) {
  std::string prefix = job.directory;
  if (prefix.empty() || !is_path_separator(prefix.back())) prefix += kPathSeparator;
  FolderListing listing;
  if (int error = open_folder(prefix, &listing)) {
    std::printf("Could not open directory [%s]: %s\n", job.directory.c_str(), error_text(error).c_str());
    return false;
  }
  std::string path;
  std::string left_out;
  auto take = [&](const std::string& name) {
    if (name == "." || name == "..") return;
    path.assign(prefix).append(name);
    // Past the last slot, a recording is only recognised, to be named.
    if (job.sample_count >= kSlotCount) {
      if (is_recording_file(path, job.reading)) left_out += (left_out.empty() ? "[" : ", [") + path + "]";
      return;
    }
    read_wav_file(job, path);
  };
  std::string name;
  if (job.sort_by_name) {
    // Every name first, then in name order.
    std::vector<std::string> names;
    while (next_folder_entry(listing, &name)) names.push_back(name);
    std::sort(names.begin(), names.end(), comes_before_by_name);
    for (const std::string& each : names) take(each);
  } else {
    while (next_folder_entry(listing, &name)) take(name);
  }
  if (job.slice_hits) {
    job.left_out = left_out;
  } else if (!left_out.empty()) {
    print_left_out(left_out);
  }
  return true;
}

}  // namespace kitweaver
