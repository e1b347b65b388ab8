#include "format/device_disk.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "format/pack_chunks.h"
#include "system/files.h"

namespace kitweaver {
namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

constexpr std::string_view kCalculating = "Calculating used sample space...";
constexpr std::string_view kNewUsedSpace = "New used space ";
constexpr std::string_view kImporting = "importing ";
constexpr std::string_view kCantImport = "Can't import ";
constexpr std::string_view kSuccess = "SUCCESS";

// Splits `text` at `separator` into the file and the reason: at the first
// separator that follows a pack's name (a name may hold the separator
// itself), else at the first. False when there is none.
bool split_file_reason(std::string_view text, std::string_view separator, std::string_view* file,
                       std::string_view* reason) {
  std::size_t at = std::string_view::npos;
  for (std::size_t i = text.find(separator); i != std::string_view::npos; i = text.find(separator, i + 1)) {
    if (at == std::string_view::npos) at = i;
    if (is_pack_name(text.substr(0, i))) {
      at = i;
      break;
    }
  }
  if (at == std::string_view::npos) return false;
  *file = text.substr(0, at);
  *reason = text.substr(at + separator.size());
  return true;
}

// The last component of a path the log gives.
std::string_view bare_name(std::string_view path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// A decimal number at the start of `text` (digits, at most one point); none
// when it does not start with a digit.
std::optional<double> leading_number(std::string_view text) {
  std::size_t end = 0;
  bool point = false;
  while (end < text.size() && ((text[end] >= '0' && text[end] <= '9') || (text[end] == '.' && !point))) {
    point = point || text[end] == '.';
    ++end;
  }
  if (end == 0 || text[0] == '.') return std::nullopt;
  return std::strtod(std::string(text.substr(0, end)).c_str(), nullptr);
}

}  // namespace

bool same_name(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

bool ends_with_name(std::string_view name, std::string_view suffix) {
  return name.size() >= suffix.size() && same_name(name.substr(name.size() - suffix.size()), suffix);
}

int opz_track_of(std::string_view name) {
  for (std::size_t t = 0; t < kOpzTracks.size(); ++t) {
    if (same_name(name, kOpzTracks[t].name)) return static_cast<int>(t);
  }
  return -1;
}

bool is_opz_slot_name(std::string_view name) {
  if (name.size() != 2 || name[0] < '0' || name[0] > '9' || name[1] < '0' || name[1] > '9') return false;
  const int slot = (name[0] - '0') * 10 + (name[1] - '0');
  return slot >= 1 && slot <= kOpzSlots;
}

bool is_pack_name(std::string_view name) {
  return ends_with_name(name, ".aif") || ends_with_name(name, ".aiff") || ends_with_name(name, ".aifc");
}

bool is_on_device_pack(std::string_view name, std::int64_t bytes) {
  return bytes == 0 && name.size() > 1 && name[0] == '~' && is_pack_name(name);
}

bool is_on_device_engine(std::string_view name, std::int64_t bytes) {
  return bytes == 0 && name.size() > 1 && name[0] == '~' && ends_with_name(name, ".engine");
}

bool is_rule_note(std::string_view name) { return ends_with_name(name, ".plz"); }

bool read_whole_on_disk(std::string_view relative, std::int64_t bytes) {
  const std::size_t slash = relative.rfind('/');
  const std::string_view name = slash == std::string_view::npos ? relative : relative.substr(slash + 1);
  const std::string_view folder = slash == std::string_view::npos ? std::string_view() : relative.substr(0, slash);
  if (same_name(name, kImportLog)) return folder.empty() || same_name(folder, kOpzPacksFolder);
  return is_pack_name(name) && bytes > 0 && bytes <= kLargestPackBytes;
}

ImportLog read_import_log(std::string_view text) {
  ImportLog log;
  std::vector<std::string_view> lines;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(at, end - at);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
    lines.push_back(line);
    at = end + 1;
  }
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string_view line = lines[i];
    if (const std::size_t at = line.find(kCalculating); at != std::string_view::npos) {
      // "12.1/24.0 MB": the used megabytes, as kB.
      if (const auto mb = leading_number(line.substr(at + kCalculating.size()))) {
        log.used_kb = std::llround(*mb * 1024.0);
      }
    } else if (const std::size_t used = line.find(kNewUsedSpace); used != std::string_view::npos) {
      if (const auto kb = leading_number(line.substr(used + kNewUsedSpace.size()))) log.used_kb = std::llround(*kb);
    }
  }
  for (std::string_view line : lines) {
    while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
    std::string_view file, reason;
    if (line.starts_with(kImporting)) {
      if (!split_file_reason(line.substr(kImporting.size()), "...", &file, &reason)) continue;
    } else if (line.starts_with(kCantImport)) {
      if (!split_file_reason(line.substr(kCantImport.size()), ", ", &file, &reason)) continue;
    } else {
      continue;
    }
    file = bare_name(file);
    if (file.empty() || reason.empty()) continue;
    // The name's earlier refusal, if any, gives way to this outcome.
    std::erase_if(log.rejections, [file](const ImportRefusal& refusal) { return same_name(refusal.file, file); });
    if (!reason.starts_with(kSuccess)) log.rejections.push_back({std::string(file), std::string(reason)});
  }
  return log;
}

std::vector<std::string> disk_entries(const std::string& folder) {
  std::vector<std::string> names;
  FolderListing listing;
  if (open_folder(folder, &listing) != 0) return names;
  for (std::string name; next_folder_entry(listing, &name);) {
    if (!name.empty() && name[0] != '.') names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string disk_folder(const std::string& parent, std::string_view name) {
  for (const std::string& child : disk_entries(parent)) {
    if (same_name(child, name) && is_folder(join_path(parent, child))) return child;
  }
  return "";
}

std::optional<ImportLog> read_disk_import_log(const std::string& root) {
  const std::string packs = disk_folder(root, kOpzPacksFolder);
  for (const std::string& log :
       {join_path(root, kImportLog), packs.empty() ? std::string() : join_path(join_path(root, packs), kImportLog)}) {
    std::vector<std::uint8_t> bytes;
    if (log.empty() || read_whole_file(log, &bytes) != 0) continue;
    return read_import_log(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  }
  return std::nullopt;
}

}  // namespace kitweaver
