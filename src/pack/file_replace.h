// Writing a file whole or not at all, durably, and leaving nothing behind.
//
// The new content goes into an unnamed file (O_TMPFILE) in the target's
// folder, which the system forgets by itself if the process dies: it is
// named only once complete, by a hard link to a temporary name and a rename
// over the target, and the folder is synced after the rename so that the new
// name survives a power cut. Where the folder's file system has no unnamed
// files (FAT and exFAT cards, some network file systems), a named temporary
// file takes its place; an interrupt (SIGINT, SIGTERM, SIGHUP) removes it,
// and only SIGKILL or a power cut in the middle of the write can leave it.
// Both programs write every file they make through here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "kitweaver/records.h"

namespace kitweaver {

struct WriteSettings {
  bool unnamed_files = true;  // false: always a named temporary file, as on FAT
  // Where the pack goes instead of the folder's samplepack.aif, without a
  // "Wrote" line: the page's folder is the user's files, read-only.
  std::string pack_instead;
};

// A file being written in place of `target`.
struct FileReplacement {
  std::string target;
  std::string temporary;  // the temporary name, while the file has one
  FileHandle file;
};

// Returned when the target exists and is neither a regular file nor a
// folder (a device, a pipe, a socket): such a thing is never replaced.
inline constexpr int kNotAFile = -3;

// The reason text of a failure: kNotAFile or an errno.
const char* replace_failure_reason(int error);

// Opens the new file in the target's folder. Returns 0, kNotAFile, or the
// errno of the call that failed (ENOENT: the folder is missing). A folder
// as the target is left to the rename to refuse.
int start_replacement(const std::string& target, FileReplacement* replacement, const WriteSettings& settings = {});

// Syncs the written file and gives it the target's name, then syncs the
// folder. With `replace` false an existing target is never replaced (EEXIST).
// Returns 0 or the errno of the call that failed; the new file never stays
// under any other name.
int finish_replacement(FileReplacement& replacement, bool replace);

// Gives up the new file: closes it and removes its temporary name, if any.
void abandon_replacement(FileReplacement& replacement);

struct ByteSpan {
  const std::uint8_t* bytes;
  std::size_t size;
};

// Writes `parts`, one after another, as the new content of `target`, which
// is replaced. Returns 0, kNotAFile or the errno of the call that failed.
int replace_file(const std::string& target, std::initializer_list<ByteSpan> parts,
                 const WriteSettings& settings = {});

// The same for one text.
inline int replace_text_file(const std::string& target, std::string_view text, const WriteSettings& settings = {}) {
  return replace_file(target, {{reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}}, settings);
}

// Makes SIGINT, SIGTERM and SIGHUP remove the temporary name of a file being
// written, then end the process as the signal does by default.
void install_interrupt_cleanup();

}  // namespace kitweaver
