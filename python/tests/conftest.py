import pytest

import norq_profile as nq


@pytest.fixture(scope="session")
def generated():
    return nq.generate(tiles=12, steps=150, seed=7)


def compute(kernel, start, end, epoch=0, metadata=()):
    return nq.CycleSample(
        step=nq.ProfileStep(kind=nq.StepKind.Compute, epoch=epoch, kernel=kernel, operation="op " + kernel,
                            metadata=[nq.ProfileMetadata(n, v) for n, v in metadata]),
        start_cycle=start, end_cycle=end)


def exchange(phase, start, end, epoch=0):
    return nq.CycleSample(step=nq.ProfileStep(kind=nq.StepKind.Exchange, phase=phase, epoch=epoch),
                          start_cycle=start, end_cycle=end)


@pytest.fixture
def small():
    """Two tiles meeting at one exchange; tile 9 arrives late and its counter wraps."""
    return nq.ProfileReport(clock_hz=1_000_000, tiles=[
        nq.TileProfile(physical_tile=4, samples=[
            compute("gemm", 100, 140, metadata=[("block", "a"), ("block", "b")]),
            exchange(1, 150, 200),
        ]),
        nq.TileProfile(physical_tile=9, samples=[
            compute("conv", 100, 180),
            exchange(1, 190, 200),
        ]),
    ])
