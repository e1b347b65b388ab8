#include "app/run.h"
#include "intake/wav_reader.h"
#include "pack/file_replace.h"

int main(int argc, char** argv) {
  kitweaver::raise_descriptor_limit();
  kitweaver::install_interrupt_cleanup();
  return kitweaver::run_kitweaver(argc, argv);
}
