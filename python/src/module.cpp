#include "bindings.hpp"

NB_MODULE(_core, m) {
  m.doc() = "Cycle profile analysis for many-tile bulk-synchronous processors (C++ core).";
  norq_python::bind_records(m);
  norq_python::bind_results(m);
  norq_python::bind_analyses(m);
}
