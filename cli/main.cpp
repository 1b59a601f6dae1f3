#include "cli/command.h"

int main(int argc, char** argv) { return quorbel::run_command(argc, argv); }
