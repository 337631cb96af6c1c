import threading

import pytest

import norq_profile as nq
from conftest import compute, exchange


def test_query_defaults_match_the_default_query(generated):
    assert nq.query(generated) == nq._core._query(generated, nq.Query())
    report = nq.query(generated)
    assert report.tile_count == 12 and report.sample_count == 12 * 150
    assert report.at_offset is None
    assert [g.phase_cycles for g in report.groups] == sorted((g.phase_cycles for g in report.groups), reverse=True)


def test_query_arguments_reach_the_library(generated):
    report = nq.query(generated, group_by="operation", sort_by="samples", kind="compute", tiles=range(4),
                      limit=3, sample_limit=5, metadata={"reason": None}, shared_clock=True)
    assert len(report.groups) <= 3 and len(report.samples) <= 5
    assert all(s.kind == "compute" and s.physical_tile < 4 for s in report.samples)
    assert all(any(m.name == "reason" for m in s.metadata) for s in report.samples)
    counts = [g.sample_count for g in report.groups]
    assert counts == sorted(counts, reverse=True)
    by_enum = nq.query(generated, group_by=nq.GroupBy.Operation, sort_by=nq.SortBy.Samples,
                       kind=nq.StepKind.Compute, tiles={0, 1, 2, 3}, limit=3, sample_limit=5,
                       metadata=[nq.MetadataFilter("reason")], shared_clock=True)
    assert by_enum == report


def test_query_on_a_small_profile(small):
    report = nq.query(small, group_by="kernel", kind="compute", sample_limit=10, shared_clock=True)
    assert [(g.name, g.sample_count, g.maximum_cycles) for g in report.groups] == [("conv", 1, 80), ("gemm", 1, 40)]
    first = report.samples[0]
    assert (first.physical_tile, first.offset, first.duration, first.kernel) == (9, 0, 80, "conv")
    # Both entries of a repeated metadata name survive in the listing.
    gemm = report.samples[1]
    assert [(m.name, m.value) for m in gemm.metadata] == [("block", "a"), ("block", "b")]


@pytest.mark.parametrize("arguments, error, text", [
    ({"group_by": "kernal"}, ValueError, "group_by: unknown GroupBy 'kernal'"),
    ({"sort_by": 3}, TypeError, "sort_by"),
    ({"kind": "computee"}, ValueError, "kind: unknown StepKind 'computee'"),
    ({"kernel": 5}, TypeError, "kernel"),
    ({"tiles": [1, -2]}, ValueError, "tiles[1]"),
    ({"tiles": "12"}, TypeError, "tiles"),
    ({"limit": 1.5}, TypeError, "limit"),
    ({"metadata": [("a", 1)]}, TypeError, "metadata[0] value"),
    ({"shared_clock": "yes"}, TypeError, "shared_clock"),
])
def test_bad_query_arguments_name_the_argument(small, arguments, error, text):
    with pytest.raises(error) as raised:
        nq.query(small, **arguments)
    assert text in str(raised.value)


def test_boundaries_roles_summary(small):
    boundaries = nq.exchange_boundaries(small)
    assert len(boundaries) == 1
    b = boundaries[0]
    assert (b.epoch, b.phase, b.first_entry, b.last_entry, b.last_exit, b.last_arriving_tile) == (0, 1, 50, 90, 100, 9)
    assert (b.arrival_spread_cycles, b.after_last_arrival_cycles, b.scheduled_event_cycles) == (40, 10, None)
    assert list(boundaries) == [b] and boundaries[-1] == b and list(boundaries[0:5]) == [b]
    with pytest.raises(IndexError):
        boundaries[1]

    activities = [nq.ProfileExchangeActivity(kind=nq.ExchangeActivityKind.Send, start_cycle=0, end_cycle=6),
                  nq.ProfileExchangeActivity(kind=nq.ExchangeActivityKind.Receive, start_cycle=4, end_cycle=10)]
    roles = nq.exchange_role_cycles(activities, 14)
    assert (roles.send, roles.receive, roles.simultaneous, roles.partner_busy, roles.idle) == (6, 6, 2, 0, 4)
    assert repr(roles) == "ExchangeRoleCycles { send: 6, receive: 6, simultaneous: 2, partner_busy: 0, idle: 4 }"

    summary = nq.exchange_activity_summary(small)
    assert summary.exchange_samples == 2 and summary.described_samples == 0


def test_results_are_read_only_and_outlive_the_profile(small):
    boundaries = nq.exchange_boundaries(small)
    with pytest.raises(AttributeError):
        boundaries[0].epoch = 3
    with pytest.raises((AttributeError, TypeError)):
        boundaries.append(boundaries[0])
    report = nq.query(small, sample_limit=5)
    del small
    import gc
    gc.collect()
    assert report.samples[0].kernel == "conv"


def test_phase_work_and_kernels():
    # Phases split at boundaries; a repeat marker hides its work (one tile, shared clock).
    profile = nq.ProfileReport(clock_hz=1, tiles=[nq.TileProfile(physical_tile=0, samples=[
        exchange(9, 0, 10), exchange(9, 10, 20, epoch=1), compute("copy", 20, 24, epoch=1),
        compute("repeat-remainder", 24, 1000), compute("norm", 1000, 1010), exchange(10, 1012, 1020)])])
    phases = nq.phase_work(profile, shared_clock=True)
    assert [(p.epoch, p.next_exchange_phase) for p in phases] == [(0, 9), (1, 9), (1, None), (0, 10)]
    assert sum(p.work_cycles for p in phases) == 14
    assert [k.kernel for k in phases[3].kernels] == ["norm"]
    assert phases[3].exposed_preparation_cycles is None and phases[2].exchange is None
    assert phases[3].exchange.phase == 10

    sample = compute("gemm", 0, 10)
    rows = nq.kernels([nq.PhaseSample(tile=1, start=0, end=10, sample=sample),
                       nq.PhaseSample(tile=2, start=5, end=25, sample=sample)])
    assert [(k.kernel, k.samples, k.tiles, k.work_cycles, k.maximum_cycles, k.start, k.end) for k in rows] == [
        ("gemm", 2, 2, 30, 20, 0, 25)]
    with pytest.raises(ValueError, match=r"samples\[0\]: end 1 is before start 5"):
        nq.kernels([nq.PhaseSample(tile=1, start=5, end=1, sample=sample)])


def test_calibration_and_its_errors(generated):
    database = nq.calibrate_profiles([generated, generated], "ipu", "build 7")
    assert (database.schema_version, database.target, database.build_id) == (1, "ipu", "build 7")
    assert database.clock_hz == generated.clock_hz and len(database.measurements) > 0
    keys = [(m.key.kernel, sorted(m.key.dimensions.items())) for m in database.measurements]
    assert keys == sorted(keys)
    with pytest.raises(nq.CalibrationError, match="^at least one profile is required$"):
        nq.calibrate_profiles([], "t", "b")
    other = nq.ProfileReport(clock_hz=generated.clock_hz + 1)
    with pytest.raises(ValueError, match="^profile clock frequencies differ$"):
        nq.calibrate_profiles([generated, other], "t", "b")
    with pytest.raises(TypeError, match=r"profiles\[1\]"):
        nq.calibrate_profiles([generated, "x"], "t", "b")


def test_analyses_run_in_parallel_threads():
    profiles = [nq.generate(tiles=64, steps=400, seed=seed) for seed in range(4)]
    expected = [(nq.query(p, sample_limit=10), nq.phase_work(p), nq.exchange_boundaries(p)) for p in profiles]
    results = [None] * len(profiles)

    def work(i):
        p = profiles[i]
        results[i] = (nq.query(p, sample_limit=10), nq.phase_work(p), nq.exchange_boundaries(p))

    threads = [threading.Thread(target=work, args=(i,)) for i in range(len(profiles))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert results == expected
