// Shared declarations of the extension's translation units.
#pragma once

#include <nanobind/nanobind.h>
#include <norq_profile/norq_profile.hpp>

#include <vector>

// Record lists are bound as types of their own, not copied to Python lists: profile lists stay
// editable in place, result lists stay cheap to hand around and carry to_pandas()/to_arrow().
NB_MAKE_OPAQUE(std::vector<norq_package::profile::TileProfile>)
NB_MAKE_OPAQUE(std::vector<norq_package::profile::CycleSample>)
NB_MAKE_OPAQUE(std::vector<norq_package::profile::ProfileMetadata>)
NB_MAKE_OPAQUE(std::vector<norq_package::profile::ProfileExchangeActivity>)
NB_MAKE_OPAQUE(std::vector<norq_profile::GroupSummary>)
NB_MAKE_OPAQUE(std::vector<norq_profile::SampleRecord>)
NB_MAKE_OPAQUE(std::vector<norq_profile::ExchangeBoundary>)
NB_MAKE_OPAQUE(std::vector<norq_profile::phases::KernelWork>)
NB_MAKE_OPAQUE(std::vector<norq_profile::phases::PhaseWork>)
NB_MAKE_OPAQUE(std::vector<norq_profile::CalibrationMeasurement>)

namespace norq_python {

namespace nb = nanobind;

void bind_records(nb::module_& module);
void bind_results(nb::module_& module);
void bind_analyses(nb::module_& module);

// Column sets of the tables; to_pandas()/to_arrow() in Python assemble them into frames.
nb::list group_columns(const std::vector<norq_profile::GroupSummary>& rows, bool for_pandas);
nb::list sample_record_columns(const std::vector<norq_profile::SampleRecord>& rows, bool for_pandas);
nb::list boundary_columns(const std::vector<norq_profile::ExchangeBoundary>& rows, bool for_pandas);
nb::list kernel_columns(const std::vector<norq_profile::phases::KernelWork>& rows, bool for_pandas);
nb::list phase_columns(const std::vector<norq_profile::phases::PhaseWork>& rows, bool for_pandas);
nb::list measurement_columns(const std::vector<norq_profile::CalibrationMeasurement>& rows,
                             bool for_pandas);
nb::list profile_sample_columns(const norq_profile::ProfileReport& report, bool shared_clock,
                                bool for_pandas);

// Calls norq_profile._tables.<function>(self, *args), where the frames are put together.
nb::object table_call(const char* function, nb::handle self, nb::tuple args = nb::tuple());

}  // namespace norq_python
