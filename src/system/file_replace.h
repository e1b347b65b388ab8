// Writing a file whole or not at all, durably, and leaving nothing behind.
// Both programs write every file they make through here.
//
// The new content goes into a file of its own in the target's folder, which
// takes the target's name only once it is complete and synced, by a rename
// over the target; the folder is synced after the rename so that the new
// name survives a power cut.
//
// - Linux: the file is unnamed (O_TMPFILE), so the system forgets it by
//   itself if the process dies; it is named by a hard link to a temporary
//   name right before the rename.
// - Elsewhere, and on Linux file systems without unnamed files (FAT and
//   exFAT cards, some network file systems): a named temporary file beside
//   the target, which an interrupt removes; only a kill that can't be caught
//   or a power cut in the middle of the write can leave it.
// - Windows: a named temporary file, flushed, then moved over the target
//   with MoveFileExW's write-through; a target another program holds open,
//   or a name Windows reserves or refuses, is reported and keeps the old
//   file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "system/files.h"

namespace kitweaver {

struct ByteSpan {
  const std::uint8_t* bytes;
  std::size_t size;
};

struct ReplaceSettings {
  bool unnamed_files = true;  // false: always a named temporary file, as on FAT
  // Files the new one takes the place of under other names (a pack in a
  // device's slot): removed in the step that names the new file, which
  // holds interrupts off, so that an interrupt leaves the old files or the
  // new one, never both and never neither.
  std::vector<std::string> displaced;
};

// A file being written in place of `target`.
struct FileReplacement {
  std::string target;
  std::string temporary;  // the temporary name, while the file has one
  SystemFile file;
  std::vector<std::string> displaced;
};

// Opens the new file in the target's folder. Returns 0, kNotAFile, or the
// error of the call that failed (the folder is missing, the name is
// refused). A folder as the target is left to the rename to refuse.
int start_replacement(const std::string& target, FileReplacement* replacement,
                      const ReplaceSettings& settings = {});

// Appends `size` bytes to the new file. Returns 0 or an error number.
int write_replacement(FileReplacement& replacement, const std::uint8_t* bytes, std::size_t size);

// Syncs the written file and gives it the target's name (removing the
// displaced files in the same step), then syncs the folder. With `replace`
// false an existing target is never replaced (kTargetExists). Returns 0 or
// the error of the call that failed; the new file never stays under any
// other name. (A displaced file that can't be removed is reported with the
// new file in place.)
inline constexpr int kTargetExists = -5;
int finish_replacement(FileReplacement& replacement, bool replace);

// Gives up the new file: closes it and removes its temporary name, if any.
void abandon_replacement(FileReplacement& replacement);

// Writes `parts`, one after another, as the new content of `target`, which
// is replaced. Returns 0, kNotAFile or the error of the call that failed.
int replace_file(const std::string& target, std::initializer_list<ByteSpan> parts,
                 const ReplaceSettings& settings = {});

// The same for one text.
inline int replace_text_file(const std::string& target, std::string_view text, const ReplaceSettings& settings = {}) {
  return replace_file(target, {{reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}}, settings);
}

// A folder written whole in place of `target` (an OP-XY preset). Its files
// go into a new folder beside the target, TARGET.tmpPID-N, each synced as it
// is written; then the folder is synced and takes the target's name in one
// step that interrupts are held off from: on Linux an exchange with the
// earlier folder, which is then removed; where there is no exchange (FAT,
// exFAT, Windows) the earlier folder is moved aside first. So an interrupt
// caught at any moment leaves the earlier folder or the new one, and no
// temporary folder; only a kill that can't be caught or a power cut can
// leave TARGET.tmpPID-N (or, without the exchange, between its two moves,
// the earlier folder aside).
struct FolderReplacement {
  std::string target;
  std::string temporary;           // the new folder's name while it has one
  std::vector<std::string> names;  // the files written into it
};

// Makes the new folder. Returns 0 or the error of the call that failed.
int start_folder_replacement(const std::string& target, FolderReplacement* replacement);

// Writes `parts`, one after another, as the file `name` of the new folder,
// and syncs it. Returns 0 or an error number.
int write_folder_file(FolderReplacement& replacement, const std::string& name, std::initializer_list<ByteSpan> parts);

// Puts the new folder in the target's place, removing the earlier folder,
// and appends to `removed` the earlier folder's files that the new one does
// not hold. Returns 0, kNotAFile (the target is a file), or the error of the
// call that failed; on a failure the new folder is gone and the earlier one
// stays.
int finish_folder_replacement(FolderReplacement& replacement, std::vector<std::string>* removed);

// The files of the earlier folder at the target that the new one does not
// hold, by their paths.
std::vector<std::string> files_given_up(const FolderReplacement& replacement);

// Gives up the new folder: removes it and what was written into it.
void abandon_folder_replacement(FolderReplacement& replacement);

// Makes an interrupt (Ctrl-C, SIGTERM, SIGHUP; on Windows also Ctrl-Break
// and closing the console) remove the temporary name of a file being
// written, then end the process as the interrupt does by default.
void install_interrupt_cleanup();

}  // namespace kitweaver
