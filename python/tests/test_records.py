import copy

import pytest

import norq_profile as nq


def test_keyword_construction_defaults_and_attribute_access():
    sample = nq.CycleSample(start_cycle=5, end_cycle=15)
    assert sample.step == nq.ProfileStep()
    assert sample.step.kind is nq.StepKind.Exchange
    assert sample.step.kernel == "" and len(sample.step.metadata) == 0
    activity = nq.ProfileExchangeActivity(fanout=2, paired=True, kind=nq.ExchangeActivityKind.PartnerBusy,
                                          start_cycle=1, end_cycle=3)
    assert (activity.fanout, activity.paired, activity.kind) == (2, True, nq.ExchangeActivityKind.PartnerBusy)
    report = nq.ProfileReport()
    assert report.clock_hz == 0 and len(report.tiles) == 0


def test_enumerations_are_python_enums_with_the_cxx_values():
    import enum
    assert issubclass(nq.StepKind, enum.Enum)
    assert [(k.name, k.value) for k in nq.StepKind] == [
        ("Exchange", 0), ("Compute", 1), ("Synchronization", 2), ("Idle", 3)]
    assert [k.name for k in nq.ExchangeActivityKind] == ["Send", "Receive", "PartnerBusy"]


def test_profile_lists_edit_in_place_and_indexing_copies(small):
    # An element taken out of a list is a copy, so holding it can never dangle when the list
    # grows; edits go back by assignment.
    tile = small.tiles[0]
    small.tiles.extend([nq.TileProfile(physical_tile=n) for n in range(100)])
    tile.physical_tile = 77
    tile.samples.append(nq.CycleSample(start_cycle=300, end_cycle=310))
    assert small.tiles[0].physical_tile == 4 and len(small.tiles[0].samples) == 2
    small.tiles[0] = tile
    assert small.tiles[0].physical_tile == 77 and len(small.tiles[0].samples) == 3
    # Attributes, unlike list elements, are views: the profile's own lists edit in place.
    small.tiles.append(nq.TileProfile(physical_tile=500))
    assert len(small.tiles) == 103 and small.tiles[-1].physical_tile == 500


def test_equality_and_copies(small):
    twin = copy.deepcopy(small)
    assert twin == small
    twin.tiles[0].samples[0].step.kernel  # reading is harmless
    twin.clock_hz = 1
    assert twin != small
    with pytest.raises(TypeError):
        hash(small)


@pytest.mark.parametrize("field, value", [
    ("start_cycle", -1), ("start_cycle", 1 << 32), ("start_cycle", "5"),
])
def test_out_of_range_or_wrong_type_field_values_raise_type_error(field, value):
    with pytest.raises(TypeError):
        nq.CycleSample(**{field: value})
    sample = nq.CycleSample()
    with pytest.raises(TypeError):
        setattr(sample, field, value)


def test_repr_reads_as_the_constructor():
    assert repr(nq.ProfileMetadata("a", "b")) == "ProfileMetadata(name='a', value='b')"
