#include <vector>

#include "app/run.h"
#include "system/file_replace.h"
#include "system/files.h"

int main(int argc, char** argv) {
  kitweaver::prepare_output();
  kitweaver::raise_open_file_limit();
  kitweaver::install_interrupt_cleanup();
  const std::vector<std::string> arguments = kitweaver::program_arguments(argc, argv);
  std::vector<const char*> words;
  for (const std::string& argument : arguments) words.push_back(argument.c_str());
  return kitweaver::run_kitweaver(static_cast<int>(words.size()), words.data());
}
