// What every system's file replacement does alike, built on the calls each
// system layer implements.
#include "system/file_replace.h"

namespace kitweaver {

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
