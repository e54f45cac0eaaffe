#include "cli/argument_loop.h"

int main(int argc, char** argv) { return runArgumentLoop(argc, argv); }
