#include <norq_profile/calibration.hpp>
