#include "renderer/cli.h"

int main(int argc, char** argv) { return vosh::render::run_command(argc, argv); }
