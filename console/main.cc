// pagrove: salvages the records of one Btrieve data file into a dump file.
#include "console/driver.h"

int main(int argc, char** argv) { return RunPagrove(argc, argv); }
