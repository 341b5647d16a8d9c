// fpxwrite: the command-line tool; everything it does lives in fpxwrite_lib
// (see fpxwrite.h) so that the tests call the same code.
#include "fpxwrite.h"

int main(int argc, char **argv) { return fpxw::run_command_line(argc, argv); }
