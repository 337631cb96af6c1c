#!/bin/sh
# Builds the fuzz targets (preset `fuzz`: clang 14, ASan, UBSan) and runs each one for SECONDS on
# its corpus. Fails on any crash, leak, sanitizer report, timeout or out-of-memory; the input that
# caused it is left as build/fuzz/findings/<target>/crash-*.
#
#   fuzz/run.sh SECONDS [TARGET...]
#
# New inputs that the fuzzer finds interesting go to build/fuzz/corpus/<target>; the corpus in the
# repository stays small and is only read.
set -eu

usage() { echo "usage: fuzz/run.sh SECONDS [TARGET...]  (targets: fuzz_load_json fuzz_load_zst fuzz_analyses)" >&2; exit 2; }
[ $# -ge 1 ] || usage
seconds=$1; shift
case $seconds in ''|*[!0-9]*) usage ;; esac
[ "$seconds" -gt 0 ] || usage

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
targets=${*:-fuzz_load_json fuzz_load_zst fuzz_analyses}

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target $targets

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:allocator_may_return_null=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"

status=0
for target in $targets; do
  seeds=fuzz/corpus/$target
  [ -d "$seeds" ] || { echo "fuzz/run.sh: no seed corpus $seeds" >&2; exit 2; }
  work=build/fuzz/corpus/$target
  findings=build/fuzz/findings/$target
  mkdir -p "$work" "$findings"
  dict=
  case $target in fuzz_load_json|fuzz_analyses) dict=-dict=fuzz/profile.dict ;; esac
  echo "== $target: $seconds s"
  # One process on one core (no -jobs): the machine is shared. -timeout catches hangs, -rss_limit_mb runaway
  # memory; both count as findings.
  if ! build/fuzz/fuzz/$target "$work" "$seeds" $dict \
      -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="$findings/" -print_final_stats=1 2>"build/fuzz/$target.log"; then
    status=1
    echo "fuzz/run.sh: $target failed; see build/fuzz/$target.log and $findings/" >&2
    tail -n 40 "build/fuzz/$target.log" >&2
  else
    grep -E '^stat::number_of_executed_units|^stat::average_exec_per_sec|^stat::peak_rss_mb' \
      "build/fuzz/$target.log" || true
  fi
done
exit $status
