// Fuzz target: the whole program in-process on a folder built from the input.
//
// Input layout: byte 0 picks the folder's mode tag, byte 1 its length digits,
// byte 2 the number of files (1 to 4); then for each file a byte of name
// fragments, a byte of more fragments, a 2-byte length and that many bytes of
// file content (the last file takes the rest). Byte 0 also asks for --hq
// (bit 4), --field (bit 5), --trim (bit 6) and --slice (bit 7). Afterwards
// either no pack exists or it is a well-formed AIFF (an OP-1 field kit:
// AIFC) of exactly the expected size. With bit 7 of byte 2 the first file
// is given as a source kit (a pack or a preset's patch.json) instead, and
// only the run itself is checked, by the sanitizers.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/run.h"
#include "kitweaver/records.h"
#include "pack_support.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

const char* const kFragments[16] = {
    " Chord,", " ChordSemitones,", " ChromaticMultiSample,", " Oneshot.", " Loop ", ",", ".", "Cmaj",
    "Ebmin7", "-2,", "12", "99999999999", "dimmaj7", "#", " chord,", "-2147483648"};

std::string fragments(std::uint8_t bits) {
  return std::string(kFragments[bits & 15]) + kFragments[bits >> 4];
}

fs::path work_folder() {
  static fs::path root = [] {
    fs::path base = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    fs::path dir = base / ("kitweaver-fuzz-" + std::to_string(getpid()));
    fs::create_directories(dir);
    return dir;
  }();
  return root;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::freopen("/dev/null", "w", stdout);
  work_folder();  // made before the exit handler, so destroyed after it
  std::atexit([] { fs::remove_all(work_folder()); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const std::string modes[4] = {"kit", "kit PO-33.", "kit po-33.", "kit, PO-33.x."};
  std::string folder_name = modes[data[0] % 4];
  if (data[0] & 4) folder_name += std::to_string(data[1] % 100);
  if (data[0] & 8) folder_name += fragments(data[1]);
  fs::remove_all(work_folder());
  const fs::path folder = work_folder() / folder_name;
  fs::create_directories(folder);

  std::size_t at = 3;
  const int files = 1 + data[2] % 4;
  for (int f = 0; f < files && at + 4 <= size; ++f) {
    std::string name = "f" + std::to_string(f) + fragments(data[at]) + fragments(data[at + 1]);
    if (!(data[at + 1] & 0x80)) name += ".wav";
    std::size_t length = data[at + 2] | (static_cast<std::size_t>(data[at + 3]) << 8);
    at += 4;
    if (f == files - 1 || at + length > size) length = size - at;
    kitweaver::wav::write_file((folder / name).string(),
                               kitweaver::wav::Bytes(data + at, data + at + length));
    at += length;
  }

  const std::string argument = folder.string();
  // Every other input is rendered band-limited, and some made field kits.
  const bool hq = (data[0] & 16) != 0;
  const bool field = (data[0] & 32) != 0;
  std::vector<const char*> argv = {"kitweaver"};
  if (hq) argv.push_back("--hq");
  if (field) argv.push_back("--field");
  if ((data[2] & 0x80) != 0 && !fs::is_empty(folder)) {
    // The first file as a source kit, a pack or (named so) a preset.
    const fs::path first = *fs::directory_iterator(folder);
    const fs::path source = folder / ((data[2] & 0x40) != 0 ? "patch.json" : "source.aif");
    fs::rename(first, source);
    const std::string source_argument = source.string();
    argv.push_back(source_argument.c_str());
    kitweaver::run_kitweaver(static_cast<int>(argv.size()), argv.data());
    return 0;
  }
  if ((data[0] & 64) != 0) argv.push_back("--trim");
  if ((data[0] & 128) != 0) argv.push_back("--slice");
  argv.push_back(argument.c_str());
  const int status = kitweaver::run_kitweaver(static_cast<int>(argv.size()), argv.data());

  const fs::path pack_path = folder / "samplepack.aif";
  const bool written = fs::exists(pack_path);
  if (written != (status == 0)) __builtin_trap();
  if (written && field) {
    // FORM, AIFC, FVER, COMM, APPL of 4100 bytes, SSND: 4220 bytes, then
    // 20 s of stereo frames.
    const kitweaver::wav::Bytes bytes = kitweaver::testing::read_bytes(pack_path.string());
    if (bytes.size() != 4220 + 4 * 882000u || std::string(bytes.begin(), bytes.begin() + 4) != "FORM" ||
        std::string(bytes.begin() + 8, bytes.begin() + 12) != "AIFC") {
      __builtin_trap();
    }
  } else if (written) {
    kitweaver::wav::Bytes bytes = kitweaver::testing::read_bytes(pack_path.string());
    kitweaver::testing::PackFile pack = kitweaver::testing::parse_pack(bytes);
    const auto frames = static_cast<std::uint32_t>(
        kitweaver::detect_mode(kitweaver::trim_directory_argument(argument)).max_pack_seconds * kitweaver::kPackRate);
    if (!pack.well_formed || pack.frames != frames || pack.channels != 1 || pack.bits != 16 ||
        bytes.size() != 64 + pack.appl.size() + 2 * static_cast<std::size_t>(frames)) {
      __builtin_trap();
    }
  }
  return 0;
}
