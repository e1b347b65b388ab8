// Writes the packs of device_packs.h into a folder, one "<name>.aif" each,
// for the page's tests, which open them as a user would.
#include <cstdio>
#include <string>

#include "device_packs.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: write_device_packs FOLDER\n");
    return 2;
  }
  for (const kitweaver::testing::DevicePack& shape : kitweaver::testing::device_packs()) {
    const std::string path = std::string(argv[1]) + "/" + shape.name + ".aif";
    if (!kitweaver::wav::write_file(path, kitweaver::testing::device_pack_bytes(shape, shape.lists))) {
      std::fprintf(stderr, "write_device_packs: %s cannot be written\n", path.c_str());
      return 1;
    }
    std::printf("%s\n", path.c_str());
  }
  return 0;
}
