#include "viewer/key_edit.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "format/aiff_chunks.h"
#include "format/aiff_format.h"
#include "format/drum_format.h"
#include "format/json_scanner.h"
#include "kitweaver/byte_order.h"
#include "system/file_replace.h"
#include "system/files.h"

namespace kitweaver::inspect {
namespace {

// ---- Reading an edit ----

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

// The fields set by a word, and their words' stored values.
struct WordField {
  const char* name;
  KeyField field;
  std::array<std::pair<const char*, std::int64_t>, 3> words;  // a null word ends the list
  const char* choices;
};
constexpr WordField kWordFields[] = {
    {"direction", KeyField::kDirection, {{{"forwards", kForwards}, {"reversed", kReversed}, {nullptr, 0}}},
     "forwards or reversed"},
    {"mode", KeyField::kMode, {{{"plain", kPlayPlain}, {"one-shot", kPlayOneShot}, {"loop", kPlayLoop}}},
     "plain, one-shot or loop"},
};

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
    edit->field = KeyField::kPitch;
    edit->relative = true;
    edit->raw = std::llround((name.back() == '-' ? -semitones : semitones) * kPitchScale);
    return "";
  }
  for (const WordField& words : kWordFields) {
    if (name != words.name) continue;
    edit->field = words.field;
    for (const auto& [word, raw] : words.words) {
      if (word != nullptr && value == word) {
        edit->raw = raw;
        return "";
      }
    }
    return std::string(name) + " " + quoted + " is not " + words.choices;
  }
  if (name != "pitch" && name != "start" && name != "end") {
    return "unknown field \"" + std::string(name) + "\" (pitch, direction, mode, start, end)";
  }
  const std::optional<double> number = decimal(value);
  if (!number) return std::string(name) + " " + quoted + " is not a number";
  if (name == "pitch") {
    if (!(std::fabs(*number) <= kMostEditSemitones)) {
      return "pitch " + std::string(value) + " is outside -96 to +96 semitones";
    }
    edit->field = KeyField::kPitch;
    edit->raw = std::llround(*number * kPitchScale);
    return "";
  }
  if (*number < 0) return std::string(name) + " " + std::string(value) + " is before the pack's first frame";
  edit->field = name == "start" ? KeyField::kStart : KeyField::kEnd;
  // No pack is near 2^40 frames: a larger number is simply beyond its end.
  edit->frame = std::llround(std::min(*number, 0x1p40));
  return "";
}

// ---- Finding the values in the text ----

// The spans of the 24 numbers of each list an edit can change, and where
// the top-level object ends.
struct TextPlaces {
  std::array<std::array<std::pair<std::size_t, std::size_t>, kSlotCount>, 5> items{};
  std::array<bool, 5> found{};
  std::size_t end = 0;
};

const char* list_name(KeyField field) {
  switch (field) {
    case KeyField::kPitch: return "pitch";
    case KeyField::kDirection: return "reverse";
    case KeyField::kMode: return "playmode";
    case KeyField::kStart: return "start";
    case KeyField::kEnd: return "end";
  }
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

// The places of the five lists in the text of a top-level object; a name
// given twice counts where it is last, as a JSON reader takes it. A name
// written with escapes is refused: its text is not its name.
bool find_places(std::string_view text, TextPlaces* places) {
  auto member = [places](std::string_view name, JsonScanner& scan) {
    if (name.find('\\') != std::string_view::npos) return false;
    int list = -1;
    for (int f = 0; f < 5; ++f) {
      if (name == list_name(static_cast<KeyField>(f))) list = f;
    }
    if (list < 0) return scan.value();
    places->found[static_cast<std::size_t>(list)] = true;
    return scan.numbers(&places->items[static_cast<std::size_t>(list)]);
  };
  return scan_object(text, member, &places->end);
}

// ---- The chunk around the text ----

struct Appl {
  std::size_t header = 0;  // where the chunk starts
  std::size_t size = 0;    // of its body in the file
  std::size_t end = 0;     // where what follows it starts
};

std::string find_appl(const std::vector<std::uint8_t>& bytes, Appl* appl) {
  ByteSource source;
  source.bytes = bytes.data();
  source.size = bytes.size();
  AiffWalk walk;
  if (!start_aiff_walk(source, &walk)) return "not an AIFF file";
  for (AiffChunk chunk; next_aiff_chunk(walk, &chunk);) {
    const std::uint8_t* body = bytes.data() + static_cast<std::size_t>(chunk.body);
    if (chunk_is(chunk, kApplId) && chunk.size >= 4 && std::memcmp(body, kAppSignature, 4) == 0) {
      *appl = {static_cast<std::size_t>(chunk.header), static_cast<std::size_t>(chunk.size),
               static_cast<std::size_t>(chunk.end)};
      return "";
    }
  }
  return "no op-1 application chunk";
}

// The pitch the edits leave key `k` at, as stored: the pack's, or the last
// one set, with every step after it added; none when no edit changes it.
std::optional<std::int64_t> edited_pitch(const Pack& pack, const std::vector<KeyEdit>& edits, std::size_t k) {
  std::optional<std::int64_t> pitch;
  for (const KeyEdit& edit : edits) {
    if (!edit.keys[k] || edit.field != KeyField::kPitch) continue;
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
  const std::pair<KeyField, std::int64_t> values[] = {{KeyField::kPitch, from.pitch_raw},
                                                      {KeyField::kDirection, from.reverse},
                                                      {KeyField::kMode, from.play_mode},
                                                      {KeyField::kStart, from.start_raw},
                                                      {KeyField::kEnd, from.end_raw}};
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
    if (pitch && std::llabs(*pitch) > std::llround(kMostEditSemitones * kPitchScale)) {
      std::snprintf(line, sizeof line, "key %zu: pitch %+g is outside -96 to +96 semitones", k,
                    static_cast<double>(*pitch) / kPitchScale);
      return line;
    }
    for (const KeyEdit& edit : edits) {
      if (!edit.keys[k] || (edit.field != KeyField::kStart && edit.field != KeyField::kEnd)) continue;
      const std::size_t side = edit.field == KeyField::kStart ? 0 : 1;
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
  Appl appl;
  if (std::string error = find_appl(bytes, &appl); !error.empty()) return error;
  const std::size_t text_at = appl.header + kChunkHeaderSize + 4;
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()) + text_at, appl.size - 4);
  TextPlaces places;
  if (!find_places(text, &places)) return "the metadata text can't be read for changing";

  // The last edit of every key and list, then the changed values, last first.
  std::array<std::array<const KeyEdit*, kSlotCount>, 5> wanted{};
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
  for (std::size_t f = 0; f < 5; ++f) {
    for (std::size_t k = 0; k < kSlotCount; ++k) {
      const KeyEdit* edit = wanted[f][k];
      if (edit == nullptr) continue;
      if (!places.found[f]) return std::string("the metadata text has no \"") + list_name(static_cast<KeyField>(f)) + "\" list";
      const auto [from, to] = places.items[f][k];
      const std::optional<std::int64_t> stored = whole_number(text.substr(from, to - from));
      // A value that is already the stored one keeps its bytes; so does a
      // position that the pack already plays at the frame asked for.
      if (edit->frame && stored && frame_in_sound(pack, *stored) == *edit->frame) continue;
      const std::int64_t value = f == static_cast<std::size_t>(KeyField::kPitch) ? *edited_pitch(pack, edits, k)
                                 : edit->frame ? position_of_frame(*edit->frame, pack.scale_frames)
                                               : edit->raw;
      if (stored == value) continue;
      changes.push_back({places.items[f][k], std::to_string(value)});
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
  const bool ours = kept == 0 && tail.size() < 4 && appl.size % 4 == 0;
  std::string body = std::string(kAppSignature, 4) + edited + std::string(tail.substr(0, kept));
  if (ours) {
    body.append((4 - body.size() % 4) % 4, ' ');
  } else if (kept < tail.size() && body.size() <= appl.size) {
    body.append(appl.size - body.size(), ' ');
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
    for (KeyField field : {KeyField::kStart, KeyField::kEnd}) {
      const std::int64_t raw = field == KeyField::kStart ? pack.keys[k].start_raw : pack.keys[k].end_raw;
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
