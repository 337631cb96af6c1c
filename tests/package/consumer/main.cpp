#include <norq_profile/norq_profile.hpp>

#include <iostream>

int main() {
  using namespace norq_profile;
  const ProfileReport report{
      .clock_hz = 1'000'000,
      .tiles = {{.physical_tile = 4,
                 .samples = {{.step = {.kind = StepKind::Exchange}, .start_cycle = 10, .end_cycle = 30}}}}};
  std::cout << "boundaries: " << exchange_boundaries(report).size() << '\n';
}
