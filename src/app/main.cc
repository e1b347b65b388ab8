#include "app/run.h"

int main(int argc, char** argv) { return kitweaver::run_kitweaver(argc, argv); }
