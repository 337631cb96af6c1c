#include <norq_profile/phases.hpp>
