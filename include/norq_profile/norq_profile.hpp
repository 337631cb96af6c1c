// Everything norq-profile offers: profile records, clock, queries, exchange, phases, calibration.
#pragma once

#include <norq_package/profile.hpp>
#include <norq_profile/calibration.hpp>
#include <norq_profile/clock.hpp>
#include <norq_profile/exchange.hpp>
#include <norq_profile/phases.hpp>
#include <norq_profile/query.hpp>
