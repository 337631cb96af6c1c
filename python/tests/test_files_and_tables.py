import numpy as np
import pytest

import norq_profile as nq


@pytest.mark.parametrize("suffix", [".json", ".json.zst"])
def test_save_and_load_round_trip(tmp_path, generated, suffix):
    path = tmp_path / ("profile" + suffix)
    nq.save(generated, path)
    assert nq.load(path) == generated
    assert nq.load(str(path)) == generated


def test_bad_files_raise_profile_format_error_with_the_file_and_place(tmp_path, small):
    assert issubclass(nq.ProfileFormatError, ValueError)
    broken = tmp_path / "broken.json"
    nq.save(small, broken)
    broken.write_text(broken.read_text().replace('"compute"', '"computee"', 1))
    with pytest.raises(nq.ProfileFormatError) as raised:
        nq.load(broken)
    message = str(raised.value)
    assert message.startswith(str(broken) + ":") and "computee" in message
    with pytest.raises(nq.ProfileFormatError, match="missing.json"):
        nq.load(tmp_path / "missing.json")


def test_save_into_a_missing_folder_raises_os_error(tmp_path, small):
    with pytest.raises(OSError, match="nowhere"):
        nq.save(small, tmp_path / "nowhere" / "p.json")


def test_table_columns_match_the_rows(generated):
    pd = pytest.importorskip("pandas")
    report = nq.query(generated, sample_limit=50)
    frame = report.to_pandas()
    assert list(frame.columns)[:3] == ["name", "dimensions", "sample_count"]
    assert list(frame["name"]) == [g.name for g in report.groups]
    assert list(frame["phase_cycles"]) == [g.phase_cycles for g in report.groups]
    assert frame["phase_cycles"].dtype == np.uint64 and frame["phase_ms"].dtype == np.float64
    assert str(frame["useful_utilization"].dtype) == "Float64"
    assert [None if pd.isna(v) else v for v in frame["useful_utilization"]] == [
        g.useful_utilization for g in report.groups]

    samples = report.samples.to_pandas()
    assert len(samples) == 50
    assert isinstance(samples["kind"].dtype, pd.CategoricalDtype)
    assert list(samples["offset"]) == [s.offset for s in report.samples]
    assert list(samples["kernel"]) == [s.kernel for s in report.samples]
    first = report.samples[0]
    assert samples["metadata"][0] == {m.name: m.value for m in reversed(first.metadata)}

    phases = nq.phase_work(generated)
    table = phases.to_pandas()
    assert "exchange_last_arriving_tile" in table and "exchange" not in table
    for row, phase in zip(table.itertuples(), phases):
        if phase.exchange is None:
            assert pd.isna(row.exchange_phase)
        else:
            assert row.exchange_phase == phase.exchange.phase
            assert row.exchange_arrival_spread_cycles == phase.exchange.arrival_spread_cycles
    kernels = phases[0].kernels.to_pandas()
    assert list(kernels["work_cycles"]) == [k.work_cycles for k in phases[0].kernels]

    database = nq.calibrate_profiles([generated], "t", "b")
    measurements = database.to_pandas()
    assert list(measurements["median_cycles"]) == [m.median_cycles for m in database.measurements]
    assert list(measurements["dimensions"]) == [m.key.dimensions for m in database.measurements]


def test_arrow_types_and_empty_tables(generated):
    pa = pytest.importorskip("pyarrow")
    boundaries = nq.exchange_boundaries(generated).to_arrow()
    assert boundaries.schema.field("last_exit").type == pa.uint64()
    assert boundaries.schema.field("last_arriving_tile").type == pa.uint32()
    assert boundaries.column("last_exit").to_pylist() == [b.last_exit for b in nq.exchange_boundaries(generated)]
    empty = nq.exchange_boundaries(nq.ProfileReport()).to_arrow()
    assert empty.num_rows == 0 and empty.schema == boundaries.schema
    groups = nq.query(generated, group_by="metadata", metadata_key="shape").to_arrow()
    assert groups.schema.field("dimensions").type == pa.map_(pa.string(), pa.string())


def test_flattened_samples_of_a_profile(small):
    pa = pytest.importorskip("pyarrow")
    table = small.to_arrow()
    assert table.num_rows == 4
    assert table.column("tile").to_pylist() == [4, 4, 9, 9]
    assert table.column("start").to_pylist() == [0, 50, 0, 90]
    assert table.column("end").to_pylist() == [40, 100, 80, 100]
    assert table.column("kind").to_pylist() == ["compute", "exchange", "compute", "exchange"]
    # Arrow keeps repeated names; the DataFrame keeps the first, as metadata look-ups do.
    assert table.column("metadata").to_pylist()[0] == [("block", "a"), ("block", "b")]
    assert small.to_pandas()["metadata"][0] == {"block": "a"}
    assert table.schema.field("metadata").type == pa.map_(pa.string(), pa.string())
    shared = small.to_arrow(shared_clock=True)
    assert shared.column("start").to_pylist() == [0, 50, 0, 90]
