#include "viewer/key_edit.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "format/aiff_format.h"
#include "format/drum_format.h"
#include "kitweaver/byte_order.h"
#include "system/file_replace.h"
#include "system/files.h"

namespace kitweaver::inspect {
namespace {

// ---- Reading an edit ----

// "-96 to +96 semitones": the most a key is pitched either way.
std::string pitch_range() {
  const std::string most = std::to_string(static_cast<int>(kMostPitchSemitones));
  return "-" + most + " to +" + most + " semitones";
}

// A signed decimal: an optional sign, digits, at most one point.
std::optional<double> decimal(std::string_view text) {
  std::size_t at = text.empty() || (text[0] != '+' && text[0] != '-') ? 0 : 1;
  bool digits = false, point = false;
  for (std::size_t i = at; i < text.size(); ++i) {
    if (text[i] >= '0' && text[i] <= '9') {
      digits = true;
    } else if (text[i] == '.' && !point) {
      point = true;
    } else {
      return std::nullopt;
    }
  }
  if (!digits) return std::nullopt;
  return std::strtod(std::string(text).c_str(), nullptr);
}

std::optional<int> key_number(std::string_view text) {
  if (text.empty() || text.size() > 2 || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  return std::atoi(std::string(text).c_str());
}

// The keys of "7", "12-23" or "all".
std::string read_keys(std::string_view text, std::array<bool, kSlotCount>* keys) {
  const std::string quoted = "\"" + std::string(text) + "\"";
  if (text == "all") {
    keys->fill(true);
    return "";
  }
  const std::size_t dash = text.find('-');
  const std::optional<int> first = key_number(text.substr(0, dash));
  const std::optional<int> last = dash == std::string_view::npos ? first : key_number(text.substr(dash + 1));
  if (!first || !last) return "keys " + quoted + " are not a key, a range such as 12-23, or all";
  if (*first >= kSlotCount || *last >= kSlotCount) return "keys " + quoted + " name a key beyond 23";
  if (*last < *first) return "keys " + quoted + " run backwards";
  for (int k = *first; k <= *last; ++k) (*keys)[static_cast<std::size_t>(k)] = true;
  return "";
}

// A field set by a word: its words' stored values, from the format.
template <std::size_t N>
std::string read_word(std::string_view name, std::string_view value, const std::array<ValueWord, N>& words,
                      KeyEdit* edit) {
  std::int32_t raw = 0;
  if (value_of(words, value, &raw)) {
    edit->raw = raw;
    return "";
  }
  std::string choices;
  for (std::size_t i = 0; i < N; ++i) {
    choices += (i == 0 ? "" : i + 1 == N ? " or " : ", ") + std::string(words[i].word);
  }
  return std::string(name) + " \"" + std::string(value) + "\" is not " + choices;
}

std::string read_value(std::string_view name, std::string_view value, KeyEdit* edit) {
  const std::string quoted = "\"" + std::string(value) + "\"";
  edit->frame.reset();
  edit->relative = false;
  if (name == "pitch+" || name == "pitch-") {
    // A step up or down: where the pitch ends is checked against the pack.
    const std::optional<double> step = decimal(value);
    if (!step) return "pitch " + quoted + " is not a number";
    // No step that large can end within the range; it stays a number.
    const double semitones = std::clamp(*step, -1e6, 1e6);
    edit->field = KeyList::kPitch;
    edit->relative = true;
    edit->raw = std::llround((name.back() == '-' ? -semitones : semitones) * kPitchScale);
    return "";
  }
  if (name == "direction") {
    edit->field = KeyList::kReverse;
    return read_word(name, value, kDirectionWords, edit);
  }
  if (name == "mode") {
    edit->field = KeyList::kPlayMode;
    return read_word(name, value, kPlayModeWords, edit);
  }
  if (name != "pitch" && name != "start" && name != "end") {
    return "unknown field \"" + std::string(name) + "\" (pitch, direction, mode, start, end)";
  }
  const std::optional<double> number = decimal(value);
  if (!number) return std::string(name) + " " + quoted + " is not a number";
  if (name == "pitch") {
    if (!(std::fabs(*number) <= kMostPitchSemitones)) {
      return "pitch " + std::string(value) + " is outside " + pitch_range();
    }
    edit->field = KeyList::kPitch;
    edit->raw = std::llround(*number * kPitchScale);
    return "";
  }
  if (*number < 0) return std::string(name) + " " + std::string(value) + " is before the pack's first frame";
  edit->field = name == "start" ? KeyList::kStart : KeyList::kEnd;
  // No pack is near 2^40 frames: a larger number is simply beyond its end.
  edit->frame = std::llround(std::min(*number, 0x1p40));
  return "";
}

// A list item written as a whole number, as it reads.
std::optional<std::int64_t> whole_number(std::string_view item) {
  std::int64_t value = 0;
  const char* end = item.data() + item.size();
  const auto [stop, error] = std::from_chars(item.data(), end, value);
  if (error != std::errc() || stop != end) return std::nullopt;
  return value;
}

// The pitch the edits leave key `k` at, as stored: the pack's, or the last
// one set, with every step after it added; none when no edit changes it.
std::optional<std::int64_t> edited_pitch(const Pack& pack, const std::vector<KeyEdit>& edits, std::size_t k) {
  std::optional<std::int64_t> pitch;
  for (const KeyEdit& edit : edits) {
    if (!edit.keys[k] || edit.field != KeyList::kPitch) continue;
    pitch = edit.relative ? pitch.value_or(pack.keys[k].pitch_raw) + edit.raw : edit.raw;
  }
  return pitch;
}

}  // namespace

std::string parse_key_edits(std::string_view text, std::vector<KeyEdit>* edits) {
  const std::string head = "--set \"" + std::string(text) + "\": ";
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos) return head + "expected KEYS:FIELD=VALUE[,FIELD=VALUE...]";
  KeyEdit edit;
  if (std::string error = read_keys(text.substr(0, colon), &edit.keys); !error.empty()) return head + error;
  std::vector<KeyEdit> read;
  for (std::size_t at = colon + 1; at <= text.size();) {
    const std::size_t comma = std::min(text.find(',', at), text.size());
    const std::string_view item = text.substr(at, comma - at);
    const std::size_t equals = item.find('=');
    if (equals == std::string_view::npos) return head + "\"" + std::string(item) + "\" is not FIELD=VALUE";
    if (std::string error = read_value(item.substr(0, equals), item.substr(equals + 1), &edit); !error.empty()) {
      return head + error;
    }
    read.push_back(edit);
    at = comma + 1;
  }
  edits->insert(edits->end(), read.begin(), read.end());
  return "";
}

std::vector<KeyEdit> key_as_edits(const KeyRow& from, int key) {
  std::vector<KeyEdit> edits;
  const std::pair<KeyList, std::int64_t> values[] = {{KeyList::kPitch, from.pitch_raw},
                                                      {KeyList::kReverse, from.reverse},
                                                      {KeyList::kPlayMode, from.play_mode},
                                                      {KeyList::kStart, from.start_raw},
                                                      {KeyList::kEnd, from.end_raw}};
  for (const auto& [field, raw] : values) {
    KeyEdit edit;
    edit.keys[static_cast<std::size_t>(key)] = true;
    edit.field = field;
    edit.raw = raw;
    edits.push_back(edit);
  }
  return edits;
}

std::string check_key_edits(const Pack& pack, const std::vector<KeyEdit>& edits) {
  const auto last = static_cast<std::int64_t>(pack.held_frames()) - 1;
  for (std::size_t k = 0; k < kSlotCount; ++k) {
    // Each bound as a frame, and whether it was given as one.
    std::int64_t bounds[2] = {pack.keys[k].start_frame, pack.keys[k].end_frame};
    std::int64_t stored[2] = {pack.keys[k].start_raw, pack.keys[k].end_raw};
    bool given[2] = {false, false};
    bool moved = false;
    char line[160];
    const std::optional<std::int64_t> pitch = edited_pitch(pack, edits, k);
    if (pitch && std::llabs(*pitch) > std::llround(kMostPitchSemitones * kPitchScale)) {
      std::snprintf(line, sizeof line, "key %zu: pitch %+g is outside %s", k,
                    static_cast<double>(*pitch) / kPitchScale, pitch_range().c_str());
      return line;
    }
    for (const KeyEdit& edit : edits) {
      if (!edit.keys[k] || (edit.field != KeyList::kStart && edit.field != KeyList::kEnd)) continue;
      const std::size_t side = edit.field == KeyList::kStart ? 0 : 1;
      given[side] = edit.frame.has_value();
      bounds[side] = edit.frame ? *edit.frame : frame_of_position(edit.raw, pack.scale_frames);
      stored[side] = edit.frame ? position_of_frame(*edit.frame, pack.scale_frames) : edit.raw;
      moved = true;
    }
    if (!moved) continue;
    if (given[1] && bounds[1] > last) {
      std::snprintf(line, sizeof line, "key %zu: end %lld is beyond the pack's last frame, %lld", k,
                    static_cast<long long>(bounds[1]), static_cast<long long>(last));
      return line;
    }
    if (given[0] && bounds[0] > last) {
      std::snprintf(line, sizeof line, "key %zu: start %lld is beyond the pack's last frame, %lld", k,
                    static_cast<long long>(bounds[0]), static_cast<long long>(last));
      return line;
    }
    if (stored[0] > stored[1]) {
      std::snprintf(line, sizeof line, "key %zu: start %lld is after end %lld", k, static_cast<long long>(bounds[0]),
                    static_cast<long long>(bounds[1]));
      return line;
    }
  }
  return "";
}

std::string apply_key_edits(const std::vector<std::uint8_t>& bytes, const Pack& pack,
                            const std::vector<KeyEdit>& edits, std::vector<std::uint8_t>* out) {
  // The text and the places of its numbers, as the pack's one reading
  // found them: everything after the signature, to the chunk's end.
  const AiffChunk& appl = pack.chunks.appl;
  const auto text_at = static_cast<std::size_t>(pack.chunks.text_at);
  if (!pack.chunks.have_text || text_at > bytes.size() || appl.body + appl.size > bytes.size()) {
    return "no op-1 application chunk";
  }
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()) + text_at,
                              static_cast<std::size_t>(appl.size) - 4);
  const DrumLists& places = pack.lists;

  // The last edit of every key and list, then the changed values, last first.
  std::array<std::array<const KeyEdit*, kSlotCount>, kKeyListCount> wanted{};
  for (const KeyEdit& edit : edits) {
    for (std::size_t k = 0; k < kSlotCount; ++k) {
      if (edit.keys[k]) wanted[static_cast<std::size_t>(edit.field)][k] = &edit;
    }
  }
  struct Change {
    std::pair<std::size_t, std::size_t> span;
    std::string value;
  };
  std::vector<Change> changes;
  for (std::size_t f = 0; f < kKeyListCount; ++f) {
    for (std::size_t k = 0; k < kSlotCount; ++k) {
      const KeyEdit* edit = wanted[f][k];
      if (edit == nullptr) continue;
      const auto [from, to] = places.spans[f][k];
      const std::optional<std::int64_t> stored = whole_number(text.substr(from, to - from));
      // A value that is already the stored one keeps its bytes; so does a
      // position that the pack already plays at the frame asked for.
      if (edit->frame && stored && frame_in_sound(pack, *stored) == *edit->frame) continue;
      const std::int64_t value = f == static_cast<std::size_t>(KeyList::kPitch) ? *edited_pitch(pack, edits, k)
                                 : edit->frame ? position_of_frame(*edit->frame, pack.scale_frames)
                                               : edit->raw;
      if (stored == value) continue;
      changes.push_back({places.spans[f][k], std::to_string(value)});
    }
  }
  std::sort(changes.begin(), changes.end(), [](const Change& a, const Change& b) { return a.span.first > b.span.first; });
  std::string edited(text.substr(0, places.end));
  for (const Change& change : changes) {
    edited.replace(change.span.first, change.span.second - change.span.first, change.value);
  }

  // What follows the text: a text padded with up to 3 spaces to a multiple
  // of 4 bytes, as Kitweaver lays a pack out, is padded to one again (so a
  // value set back gives the same bytes); longer padding, after the text or
  // after the line end or zero byte that ends it, takes up the change while
  // the new text fits; any other tail is kept.
  const std::string_view tail = text.substr(places.end);
  const std::size_t kept = tail.find_last_not_of(' ') + 1;  // 0 when the tail is all spaces
  const auto appl_size = static_cast<std::size_t>(appl.size);
  const bool ours = kept == 0 && tail.size() < 4 && appl_size % 4 == 0;
  std::string body = std::string(kAppSignature, 4) + edited + std::string(tail.substr(0, kept));
  if (ours) {
    body.append((4 - body.size() % 4) % 4, ' ');
  } else if (kept < tail.size() && body.size() <= appl_size) {
    body.append(appl_size - body.size(), ' ');
  }

  std::vector<std::uint8_t> chunk(kChunkHeaderSize);
  std::memcpy(chunk.data(), kApplId, 4);
  store_be32(chunk.data() + 4, static_cast<std::uint32_t>(body.size()));
  chunk.insert(chunk.end(), body.begin(), body.end());
  if (body.size() & 1u) chunk.push_back(0);  // the pad byte

  out->assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(appl.header));
  out->insert(out->end(), chunk.begin(), chunk.end());
  out->insert(out->end(), bytes.begin() + static_cast<std::ptrdiff_t>(appl.end), bytes.end());
  const auto grown = static_cast<std::int64_t>(out->size()) - static_cast<std::int64_t>(bytes.size());
  store_be32(out->data() + 4, static_cast<std::uint32_t>(static_cast<std::int64_t>(load_be32(bytes.data() + 4)) + grown));
  return "";
}

std::vector<KeyEdit> rescale_edits(const Pack& pack) {
  std::vector<KeyEdit> edits;
  if (pack.scale != PositionScale::kOlder) return edits;
  for (std::size_t k = 0; k < kSlotCount; ++k) {
    for (KeyList field : {KeyList::kStart, KeyList::kEnd}) {
      const std::int64_t raw = field == KeyList::kStart ? pack.keys[k].start_raw : pack.keys[k].end_raw;
      if (raw == 0) continue;
      KeyEdit edit;
      edit.keys[k] = true;
      edit.field = field;
      edit.raw = position_of_frame(raw / kOlderPositionScale, pack.scale_frames);
      edits.push_back(edit);
    }
  }
  return edits;
}

namespace {

// Reads the pack at `path`, takes its edits from `edits_for(pack, &edits)`
// (which may refuse with a line and a status), and writes the changed pack
// to `target`; none when there are no edits. Returns 0 or the status, with
// the line in `*error`.
template <typename EditsFor>
int change_pack_file(const std::string& path, const std::string& target, EditsFor edits_for, std::string* error) {
  std::vector<std::uint8_t> bytes;
  if (int failed = read_whole_file(path, &bytes)) {
    *error = path + ": cannot be read: " + error_text(failed);
    return kNotAPack;
  }
  Pack pack;
  if (std::string why = read_pack(bytes, &pack); !why.empty()) {
    *error = path + ": " + why;
    return kNotAPack;
  }
  std::vector<KeyEdit> edits;
  if (int status = edits_for(pack, &edits, error)) {
    *error = path + ": " + *error;
    return status;
  }
  if (edits.empty()) return 0;
  std::vector<std::uint8_t> changed;
  if (std::string why = apply_key_edits(bytes, pack, edits, &changed); !why.empty()) {
    *error = path + ": " + why;
    return kNotAPack;
  }
  if (int failed = replace_file(target, {{changed.data(), changed.size()}})) {
    *error = target + ": cannot be written: " + error_text(failed);
    return kNotAPack;
  }
  return 0;
}

}  // namespace

int edit_pack_file(const std::string& path, const std::vector<KeyEdit>& edits, const std::string& target,
                   std::string* error) {
  auto checked = [&edits](const Pack& pack, std::vector<KeyEdit>* out, std::string* why) {
    *why = check_key_edits(pack, edits);
    if (!why->empty()) return kBadEdit;
    *out = edits;
    return 0;
  };
  return change_pack_file(path, target, checked, error);
}

int rescale_pack_file(const std::string& path, const std::string& target, bool* rescaled, std::string* error) {
  *rescaled = false;
  auto rescaling = [rescaled](const Pack& pack, std::vector<KeyEdit>* out, std::string*) {
    *out = rescale_edits(pack);
    *rescaled = !out->empty();
    return 0;
  };
  const int status = change_pack_file(path, target, rescaling, error);
  if (status != 0) *rescaled = false;
  return status;
}

}  // namespace kitweaver::inspect
