// What every system's file replacement does alike, built on the calls each
// system layer implements.
#include "system/file_replace.h"

#include <algorithm>

namespace kitweaver {

std::vector<std::string> folder_names(const std::string& folder) {
  std::vector<std::string> names;
  FolderListing listing;
  if (open_folder(folder, &listing) != 0) return names;
  for (std::string name; next_folder_entry(listing, &name);) {
    if (name != "." && name != "..") names.push_back(name);
  }
  return names;
}

std::vector<std::string> files_given_up(const FolderReplacement& replacement) {
  std::vector<std::string> gone;
  for (const std::string& name : folder_names(replacement.target)) {
    if (std::find(replacement.names.begin(), replacement.names.end(), name) == replacement.names.end()) {
      gone.push_back(join_path(replacement.target, name));
    }
  }
  return gone;
}

int replace_file(const std::string& target, std::initializer_list<ByteSpan> parts, const ReplaceSettings& settings) {
  FileReplacement replacement;
  if (int error = start_replacement(target, &replacement, settings)) return error;
  for (const ByteSpan& part : parts) {
    if (int error = write_replacement(replacement, part.bytes, part.size)) {
      abandon_replacement(replacement);
      return error;
    }
  }
  return finish_replacement(replacement, true);
}

}  // namespace kitweaver
