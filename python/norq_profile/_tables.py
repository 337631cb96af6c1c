"""Assembles the column buffers built by the extension into pandas DataFrames and Arrow tables."""

from __future__ import annotations

from typing import Any


def _pandas():
    try:
        import pandas
    except ImportError as error:  # pragma: no cover - depends on the environment
        raise ImportError("to_pandas() needs pandas: pip install pandas") from error
    return pandas


def _arrow():
    try:
        import pyarrow
    except ImportError as error:  # pragma: no cover - depends on the environment
        raise ImportError("to_arrow() needs pyarrow: pip install pyarrow") from error
    return pyarrow


def _frame(columns: list) -> Any:
    pd = _pandas()
    data = {}
    for name, kind, *buffers in columns:
        if kind == "array":
            data[name] = buffers[0]
        elif kind == "optional":
            values, valid = buffers
            if values.dtype.kind == "f":
                data[name] = pd.arrays.FloatingArray(values, ~valid)
            else:
                data[name] = pd.arrays.IntegerArray(values, ~valid)
        elif kind == "category":
            codes, uniques = buffers
            data[name] = pd.Categorical.from_codes(codes, categories=pd.Index(uniques, dtype=object))
        elif kind in ("string", "objects"):
            data[name] = pd.Series(buffers[0], dtype=object)
        else:  # pragma: no cover - the extension and this file change together
            raise AssertionError(f"unknown column type {kind!r}")
    return pd.DataFrame(data, copy=False)


def _table(columns: list) -> Any:
    pa = _arrow()
    arrays, names = [], []
    for name, kind, *buffers in columns:
        if kind == "array":
            array = pa.array(buffers[0])
        elif kind == "optional":
            values, valid = buffers
            array = pa.array(values, mask=~valid)
        elif kind == "category":
            codes, uniques = buffers
            array = pa.DictionaryArray.from_arrays(pa.array(codes), pa.array(uniques, pa.string()))
        elif kind == "string":
            array = pa.array(buffers[0], pa.string())
        elif kind == "map":
            offsets, name_codes, name_uniques, value_codes, value_uniques = buffers
            keys = pa.array(name_uniques, pa.string()).take(pa.array(name_codes))
            items = pa.array(value_uniques, pa.string()).take(pa.array(value_codes))
            array = pa.MapArray.from_arrays(pa.array(offsets), keys, items)
        else:  # pragma: no cover
            raise AssertionError(f"unknown column type {kind!r}")
        arrays.append(array)
        names.append(name)
    return pa.Table.from_arrays(arrays, names=names)


def rows_to_pandas(rows) -> Any:
    return _frame(rows._columns(True))


def rows_to_arrow(rows) -> Any:
    return _table(rows._columns(False))


def profile_to_pandas(profile, shared_clock: bool) -> Any:
    return _frame(profile._columns(shared_clock, True))


def profile_to_arrow(profile, shared_clock: bool) -> Any:
    return _table(profile._columns(shared_clock, False))
