// gandrel: the subcommand table decides everything (gandrel/commands.cc).
#include "gandrel/command_line.h"

int main(int argc, char** argv) { return RunGandrel(argc, argv); }
