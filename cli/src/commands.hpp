// The norq-profile command line.
#pragma once

namespace norq_cli {

// Parses the arguments, runs the chosen subcommand and returns the exit status.
int run(int argc, char** argv);

}  // namespace norq_cli
