#include "commands.hpp"

int main(int argc, char** argv) { return norq_cli::run(argc, argv); }
