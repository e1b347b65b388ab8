#include "viewer/disk_library.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>

#include "format/aiff_chunks.h"
#include "format/aiff_format.h"
#include "format/byte_source.h"
#include "format/pack_chunks.h"
#include "format/drum_format.h"
#include "system/files.h"
#include "viewer/pack_reader.h"

namespace kitweaver::inspect {
namespace {

// One file of the disk: its kind, and a drum pack's length, slices and
// positions.
LibraryEntry read_entry(const std::string& path, const std::string& relative, const std::string& folder,
                        const std::string& name) {
  LibraryEntry entry;
  entry.path = relative;
  entry.folder = folder;
  entry.name = name;
  entry.kind = "other";
  FileReader reader;
  FileIdentity identity;
  if (open_regular_file(path, &reader.file, &identity) != 0) return entry;
  entry.bytes = identity.size;
  if (is_on_device_pack(name, entry.bytes)) {
    entry.kind = "on-device";
    return entry;
  }
  if (is_on_device_engine(name, entry.bytes)) {
    entry.kind = "engine";
    return entry;
  }
  if (!is_pack_name(name)) return entry;
  // One reading of the file: its chunks tell its kind; a drum pack's
  // sound is then read from where they say it is.
  ByteSource source;
  source.size = static_cast<std::uint64_t>(entry.bytes);
  source.file = &reader;
  PackChunks chunks;
  if (!read_pack_chunks(source, &chunks)) return entry;
  if (!chunks.drum) {
    entry.kind = "synth";
    return entry;
  }
  entry.kind = "drum";
  Pack pack;
  if (entry.bytes > kLargestPackBytes || !read_pack(source, chunks, &pack).empty()) {
    entry.scale = "broken";
    return entry;
  }
  entry.seconds = pack.rate > 0 ? pack.frames / pack.rate : 0.0;
  entry.slices = pack.slice_count;
  entry.scale = scale_name(pack.scale);
  entry.frames = pack.frames;
  entry.held_frames = static_cast<std::int64_t>(pack.held_frames());
  entry.cut_short = entry.held_frames < entry.frames;
  return entry;
}

std::string quoted_names(const std::vector<const LibraryEntry*>& entries) {
  std::string text;
  for (const LibraryEntry* entry : entries) text += (text.empty() ? "[" : ", [") + entry->name + "]";
  return text;
}

void add_problem(Library& library, const std::string& path, const char* problem, const std::string& line) {
  library.problems.push_back({path, problem, line, std::nullopt});
}

void check_cut_short(Library& library, const LibraryEntry& entry) {
  if (!entry.cut_short) return;
  add_problem(library, entry.path, "cut-short",
              entry.path + ": cut short: its sound holds " + std::to_string(entry.held_frames) + " of the " +
                  std::to_string(entry.frames) + " frames its header declares");
}

// The problems of one file of a slot where `drums` (drum track or drum
// folder) says what belongs there.
void check_entry(Library& library, const LibraryEntry& entry, bool drums) {
  check_cut_short(library, entry);
  if (entry.kind == "synth" && drums) {
    add_problem(library, entry.path, "synth-on-drum-track", entry.path + ": a synth sample where drum packs belong");
  } else if (entry.kind == "drum" && !drums) {
    add_problem(library, entry.path, "drum-on-synth-track", entry.path + ": a drum pack on a synth track");
  } else if (entry.kind == "other" && !is_rule_note(entry.name)) {
    add_problem(library, entry.path, "not-a-pack", entry.path + ": not a pack the device can read");
  }
}

// The problems of a file outside every slot (in a track folder, in
// samplepacks/ or at the disk's root), where the device never looks for a
// pack; any other file is what it would be in a slot.
void check_outside_slot(Library& library, const LibraryEntry& entry, bool drums) {
  if (!is_pack_name(entry.name)) {
    check_entry(library, entry, drums);
    return;
  }
  check_cut_short(library, entry);
  add_problem(library, entry.path, "outside-slot",
              entry.path + ": outside every slot; the device imports only from " + kOpzPacksFolder + "/TRACK/01 to " +
                  std::to_string(kOpzSlots));
}

// Where the device looks for a file refused at an import: anywhere under
// samplepacks/ (a few folders deep at most).
void collect_file_names(const std::string& folder, int depth, std::vector<std::string>* names) {
  for (const std::string& name : disk_entries(folder)) {
    const std::string path = join_path(folder, name);
    if (!is_folder(path)) {
      names->push_back(name);
    } else if (depth > 0) {
      collect_file_names(path, depth - 1, names);
    }
  }
}

void read_opz(Library& library) {
  // Packs left at the disk's root.
  for (const std::string& name : disk_entries(library.root)) {
    const std::string path = join_path(library.root, name);
    if (!is_pack_name(name) || is_folder(path)) continue;
    library.entries.push_back(read_entry(path, name, "(root)", name));
    check_outside_slot(library, library.entries.back(), true);
  }
  const std::string packs_name = disk_folder(library.root, kOpzPacksFolder);
  const std::string packs = join_path(library.root, packs_name);
  for (const std::string& track_name : disk_entries(packs)) {
    const int track = opz_track_of(track_name);
    const std::string track_path = join_path(packs, track_name);
    if (!is_folder(track_path)) {
      // Files left in samplepacks/ itself, its import.log aside.
      if (same_name(track_name, kImportLog)) continue;
      library.entries.push_back(read_entry(track_path, packs_name + "/" + track_name, packs_name, track_name));
      check_outside_slot(library, library.entries.back(), true);
      continue;
    }
    if (track < 0) continue;
    const bool drums = kOpzTracks[static_cast<std::size_t>(track)].drums;
    for (const std::string& name : disk_entries(track_path)) {
      const std::string path = join_path(track_path, name);
      const std::string relative = packs_name + "/" + track_name + "/" + name;
      if (!is_folder(path)) {
        // The track folder's own files: its rule note, and what strayed there.
        library.entries.push_back(read_entry(path, relative, track_name, name));
        check_outside_slot(library, library.entries.back(), drums);
        continue;
      }
      if (!is_opz_slot_name(name)) continue;
      std::vector<const LibraryEntry*> held;
      const std::size_t first = library.entries.size();
      for (const std::string& file : disk_entries(path)) {
        if (is_folder(join_path(path, file))) continue;
        library.entries.push_back(read_entry(join_path(path, file), relative + "/" + file, track_name + "/" + name, file));
        check_entry(library, library.entries.back(), drums);
      }
      for (std::size_t i = first; i < library.entries.size(); ++i) {
        if (is_pack_name(library.entries[i].name)) held.push_back(&library.entries[i]);
      }
      if (held.size() <= kOpzPacksPerSlot) continue;
      // The device keeps the pack it holds itself, where there is exactly one.
      std::vector<const LibraryEntry*> own;
      std::copy_if(held.begin(), held.end(), std::back_inserter(own), [](const LibraryEntry* e) { return e->kind == "on-device"; });
      LibraryProblem problem{relative, "several-packs-in-slot",
                             relative + ": " + std::to_string(held.size()) + " packs in one slot (" + quoted_names(held) +
                                 "); ",
                             std::nullopt};
      if (own.size() == 1) {
        problem.keeps = own.front()->name;
        problem.line += "the device keeps [" + own.front()->name + "], the pack it holds, and rejects the others";
      } else {
        problem.line += "it imports one and rejects the others, and which one can't be told";
      }
      library.problems.push_back(problem);
    }
  }
}

void read_op1(Library& library) {
  const std::string drum_name = disk_folder(library.root, kOp1DrumFolder);
  const std::string drum = join_path(library.root, drum_name);
  for (const std::string& name : disk_entries(drum)) {
    const std::string path = join_path(drum, name);
    if (!is_folder(path)) {
      library.entries.push_back(read_entry(path, drum_name + "/" + name, "", name));
      check_entry(library, library.entries.back(), true);
      continue;
    }
    for (const std::string& file : disk_entries(path)) {
      if (is_folder(join_path(path, file))) continue;
      library.entries.push_back(read_entry(join_path(path, file), drum_name + "/" + name + "/" + file, name, file));
      check_entry(library, library.entries.back(), true);
    }
  }
}

std::string kb(std::int64_t bytes) { return std::to_string((bytes + 1023) / 1024) + " kB"; }

std::string format(const char* pattern, auto... values) {
  char buffer[512];
  std::snprintf(buffer, sizeof buffer, pattern, values...);
  return buffer;
}

}  // namespace

DiskKind disk_kind(const std::string& folder) {
  if (!disk_folder(folder, kOpzPacksFolder).empty()) return DiskKind::kOpZ;
  if (!disk_folder(folder, kOp1DrumFolder).empty()) return DiskKind::kOp1;
  return DiskKind::kNone;
}

Library read_library(const std::string& root) {
  Library library;
  library.root = root;
  library.device = disk_kind(root);
  if (library.device == DiskKind::kOpZ) {
    read_opz(library);
    library.budget_bytes = kOpzSampleKb * 1024;
  } else if (library.device == DiskKind::kOp1) {
    read_op1(library);
  }
  for (const LibraryEntry& entry : library.entries) {
    if (entry.kind == "drum" || entry.kind == "synth") library.used_bytes += entry.bytes;
  }
  if (library.budget_bytes && library.used_bytes > *library.budget_bytes) {
    add_problem(library, "", "over-budget",
                "the packs on the disk alone, " + kb(library.used_bytes) + ", pass the device's " +
                    std::to_string(kOpzSampleKb) + " kB of sample memory");
  }
  if (const std::optional<ImportLog> log = read_disk_import_log(root)) {
    library.import_log = true;
    library.device_used_kb = log->used_kb;
    std::vector<std::string> names;
    const std::string packs = disk_folder(root, kOpzPacksFolder);
    if (!log->rejections.empty() && !packs.empty()) collect_file_names(join_path(root, packs), 4, &names);
    for (const ImportRefusal& refusal : log->rejections) {
      const bool on_disk = std::any_of(names.begin(), names.end(),
                                       [&refusal](const std::string& name) { return same_name(name, refusal.file); });
      library.rejections.push_back({refusal.file, refusal.reason, on_disk});
    }
  }
  return library;
}

std::string library_table(const Library& library) {
  const bool opz = library.device == DiskKind::kOpZ;
  std::size_t packs = 0;
  for (const LibraryEntry& entry : library.entries) packs += entry.kind == "drum" || entry.kind == "synth";
  std::string out = format("%s disk %s: %zu pack%s, %s", opz ? "OP-Z" : "OP-1", library.root.c_str(), packs,
                           packs == 1 ? "" : "s", kb(library.used_bytes).c_str());
  if (library.budget_bytes) out += " of the device's " + std::to_string(*library.budget_bytes / 1024) + " kB";
  if (library.device_used_kb) {
    out += "; the device last reported " + std::to_string(*library.device_used_kb) + " kB in use";
  }
  out += "\n\n";
  out += format("%-16s %-32s %-9s %9s %6s %10s  %s\n", opz ? "track/slot" : "folder", "file", "kind", "length",
                "slices", "size", "positions");
  for (const LibraryEntry& entry : library.entries) {
    const std::string length = entry.seconds ? format("%.3fs", *entry.seconds) : "-";
    const std::string slices = entry.slices ? std::to_string(*entry.slices) : "-";
    const std::string positions = (entry.scale.empty() ? "-" : entry.scale) + (entry.cut_short ? ", cut short" : "");
    out += format("%-16s %-32s %-9s %9s %6s %10s  %s\n", entry.folder.c_str(), entry.name.c_str(), entry.kind.c_str(),
                  length.c_str(), slices.c_str(), kb(entry.bytes).c_str(), positions.c_str());
  }
  if (!library.problems.empty()) {
    out += "\nWhat the device will meet:\n";
    for (const LibraryProblem& problem : library.problems) out += "  " + problem.line + "\n";
  }
  if (library.import_log && library.rejections.empty()) {
    out += "\nNo file refused in import.log.\n";
  } else if (library.import_log) {
    out += "\nFiles the device refused (import.log):\n";
    for (const LibraryRejection& rejection : library.rejections) {
      out += "  " + rejection.file + ": " + rejection.reason +
             (rejection.on_disk ? " (still in samplepacks/)\n" : " (no longer in samplepacks/)\n");
    }
  }
  return out;
}

std::string library_json(const Library& library) {
  nlohmann::json doc;
  doc["device"] = library.device == DiskKind::kOpZ ? "op-z" : "op-1";
  doc["used_bytes"] = library.used_bytes;
  doc["budget_bytes"] = library.budget_bytes ? nlohmann::json(*library.budget_bytes) : nlohmann::json(nullptr);
  doc["device_used_kb"] = library.device_used_kb ? nlohmann::json(*library.device_used_kb) : nlohmann::json(nullptr);
  doc["entries"] = nlohmann::json::array();
  for (const LibraryEntry& entry : library.entries) {
    nlohmann::json item = {{"path", entry.path}, {"kind", entry.kind}, {"bytes", entry.bytes}};
    if (entry.kind == "drum") {
      item["seconds"] = entry.seconds ? nlohmann::json(*entry.seconds) : nlohmann::json(nullptr);
      item["slices"] = entry.slices ? nlohmann::json(*entry.slices) : nlohmann::json(nullptr);
      item["scale"] = entry.scale;
      if (entry.cut_short) item["cut_short"] = true;
    }
    doc["entries"].push_back(item);
  }
  doc["problems"] = nlohmann::json::array();
  for (const LibraryProblem& problem : library.problems) {
    nlohmann::json item = {{"path", problem.path}, {"problem", problem.problem}};
    if (problem.problem == "several-packs-in-slot") {
      item["keeps"] = problem.keeps ? nlohmann::json(*problem.keeps) : nlohmann::json(nullptr);
    }
    doc["problems"].push_back(item);
  }
  doc["rejections"] = nlohmann::json::array();
  for (const LibraryRejection& rejection : library.rejections) {
    doc["rejections"].push_back({{"file", rejection.file}, {"reason", rejection.reason}, {"on_disk", rejection.on_disk}});
  }
  return doc.dump(2) + "\n";
}

std::vector<std::string> library_drum_packs(const Library& library) {
  std::vector<std::string> paths;
  const char separator[2] = {kPathSeparator, '\0'};
  for (const LibraryEntry& entry : library.entries) {
    if (entry.kind != "drum") continue;
    std::string path = entry.path;
    std::replace(path.begin(), path.end(), '/', separator[0]);
    paths.push_back(join_path(library.root, path));
  }
  return paths;
}

}  // namespace kitweaver::inspect
