// Fingerprints of every analysis's full result on generated profiles, so an optimisation can be
// checked to change no result: run before and after, and compare the lines.
#pragma once

namespace norq_bench {

int print_digests();

}  // namespace norq_bench
