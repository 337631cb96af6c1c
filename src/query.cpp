#include <norq_profile/query.hpp>
