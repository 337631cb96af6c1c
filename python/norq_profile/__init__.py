"""Cycle profile analysis for many-tile bulk-synchronous processors.

A thin layer over the C++ library: profiles are the C++ records, every analysis runs in C++
without holding the GIL, and result tables convert to pandas or Arrow from C++-built buffers.
"""

from __future__ import annotations

import enum as _enum
from collections.abc import Iterable as _Iterable, Mapping as _Mapping
from typing import Optional, Union

from . import _core
from ._core import (
    CalibrationDatabase,
    CalibrationError,
    CalibrationKey,
    CalibrationMeasurement,
    CalibrationMeasurements,
    CycleSample,
    CycleSampleList,
    ExchangeActivityKind,
    ExchangeActivitySummary,
    ExchangeBoundaries,
    ExchangeBoundary,
    ExchangeRoleCycles,
    GroupBy,
    GroupSummaries,
    GroupSummary,
    KernelWork,
    KernelWorks,
    MetadataEntry,
    MetadataFilter,
    PhaseSample,
    PhaseWork,
    PhaseWorks,
    ProfileExchangeActivity,
    ProfileExchangeActivityList,
    ProfileFormatError,
    ProfileMetadata,
    ProfileMetadataList,
    ProfileReport,
    ProfileStep,
    Query,
    QueryReport,
    SampleRecord,
    SampleRecords,
    SortBy,
    StepKind,
    TileProfile,
    TileProfileList,
    cycle_origin,
    cycles_to_ms,
    duration,
    exchange_activity_summary,
    exchange_boundaries,
    exchange_role_cycles,
    generate,
    initial_sample_entry_span,
    is_exchange_boundary,
    kernels,
    kind_name,
    load,
    phase_work,
    save,
)

__version__ = "0.1.0"

__all__ = [
    "CalibrationDatabase", "CalibrationError", "CalibrationKey", "CalibrationMeasurement",
    "CalibrationMeasurements", "CycleSample", "CycleSampleList", "ExchangeActivityKind",
    "ExchangeActivitySummary", "ExchangeBoundaries", "ExchangeBoundary", "ExchangeRoleCycles",
    "GroupBy", "GroupSummaries", "GroupSummary", "KernelWork", "KernelWorks", "MetadataEntry",
    "MetadataFilter", "PhaseSample", "PhaseWork", "PhaseWorks", "ProfileExchangeActivity",
    "ProfileExchangeActivityList", "ProfileFormatError", "ProfileMetadata", "ProfileMetadataList",
    "ProfileReport", "ProfileStep", "Query", "QueryReport", "SampleRecord", "SampleRecords", "SortBy",
    "StepKind", "TileProfile", "TileProfileList", "calibrate_profiles", "cycle_origin",
    "cycles_to_ms", "duration", "exchange_activity_summary", "exchange_boundaries",
    "exchange_role_cycles", "generate", "initial_sample_entry_span", "is_exchange_boundary",
    "kernels", "kind_name", "load", "phase_work", "query", "save",
]


# Profile records print as their keyword constructors.
def _record_repr(fields):
    def __repr__(self):
        shown = ", ".join(f"{field}={getattr(self, field)!r}" for field in fields)
        return f"{type(self).__name__}({shown})"

    return __repr__


for _cls, _fields in (
    (ProfileMetadata, ("name", "value")),
    (ProfileExchangeActivity, ("fanout", "paired", "kind", "start_cycle", "end_cycle")),
    (ProfileStep, ("local_index", "phase", "epoch", "operation", "kind", "kernel", "metadata",
                   "exchange_activities", "exchange_event_cycles")),
    (CycleSample, ("step", "start_cycle", "end_cycle")),
    (TileProfile, ("physical_tile", "samples")),
    (MetadataFilter, ("name", "value")),
    (PhaseSample, ("tile", "start", "end", "sample")),
):
    _cls.__repr__ = _record_repr(_fields)


def _profile_repr(self):
    samples = sum(len(tile.samples) for tile in self.tiles)
    return f"ProfileReport(clock_hz={self.clock_hz}, tiles=<{len(self.tiles)} tiles, {samples} samples>)"


ProfileReport.__repr__ = _profile_repr


def _snake(name: str) -> str:
    return "".join("_" + c.lower() if c.isupper() and i else c.lower() for i, c in enumerate(name))


def _member(argument: str, value, enumeration: type[_enum.Enum], extra: dict[str, _enum.Enum] = {}):
    """An enumeration member given as itself or by name: "PhaseCycles", "phase_cycles", "phase-cycles"."""
    if isinstance(value, enumeration):
        return value
    if isinstance(value, str):
        wanted = value.replace("-", "_").lower()
        for member in enumeration:
            if wanted in (member.name.lower(), _snake(member.name)):
                return member
        if wanted in extra:
            return extra[wanted]
        names = ", ".join(_snake(member.name) for member in enumeration)
        raise ValueError(f"{argument}: unknown {enumeration.__name__} {value!r} (expected {names})")
    raise TypeError(
        f"{argument}: expected a {enumeration.__name__} or its name as str, got {type(value).__name__}")


def _text(argument: str, value) -> Optional[str]:
    if value is None or isinstance(value, str):
        return value
    raise TypeError(f"{argument}: expected str or None, got {type(value).__name__}")


def _count(argument: str, value, optional: bool, bits: int = 64) -> Optional[int]:
    if value is None and optional:
        return None
    if isinstance(value, bool) or not isinstance(value, int):
        expected = "a non-negative int or None" if optional else "a non-negative int"
        raise TypeError(f"{argument}: expected {expected}, got {type(value).__name__}")
    if value < 0 or value >= 1 << bits:
        raise ValueError(f"{argument}: {value} is out of range (expected 0 to {(1 << bits) - 1})")
    return value


def _numbers(argument: str, value) -> set[int]:
    if value is None:
        return set()
    if isinstance(value, (str, bytes)) or not isinstance(value, _Iterable):
        raise TypeError(f"{argument}: expected an iterable of ints, got {type(value).__name__}")
    return {_count(f"{argument}[{i}]", number, False, 32) for i, number in enumerate(value)}


def _filters(argument: str, value) -> list[MetadataFilter]:
    """Metadata filters from a mapping {name: value or None}, or a list of names, pairs or filters."""
    if value is None:
        return []
    if isinstance(value, _Mapping):
        value = list(value.items())
    if isinstance(value, (str, bytes)) or not isinstance(value, _Iterable):
        raise TypeError(f"{argument}: expected a mapping or an iterable of filters, got {type(value).__name__}")
    filters = []
    for i, item in enumerate(value):
        if isinstance(item, MetadataFilter):
            filters.append(item)
        elif isinstance(item, str):
            filters.append(MetadataFilter(item))
        elif isinstance(item, tuple) and len(item) == 2:
            filters.append(MetadataFilter(_text(f"{argument}[{i}] name", item[0]) or "",
                                          _text(f"{argument}[{i}] value", item[1])))
        else:
            raise TypeError(f"{argument}[{i}]: expected a name, a (name, value) pair or a MetadataFilter, "
                            f"got {type(item).__name__}")
    return filters


_KIND_NAMES = {"exchange": StepKind.Exchange, "compute": StepKind.Compute,
               "synchronization": StepKind.Synchronization, "idle": StepKind.Idle}


def query(
    profile: ProfileReport,
    group_by: Union[GroupBy, str] = GroupBy.Kernel,
    sort_by: Union[SortBy, str] = SortBy.PhaseCycles,
    kind: Union[StepKind, str, None] = None,
    kernel: Optional[str] = None,
    operation_contains: Optional[str] = None,
    tiles: Optional[_Iterable[int]] = None,
    phases: Optional[_Iterable[int]] = None,
    metadata=None,
    metadata_key: Optional[str] = None,
    at_offset: Optional[int] = None,
    shared_clock: bool = False,
    limit: Optional[int] = None,
    sample_limit: int = 0,
) -> QueryReport:
    """Filters, groups and summarises the samples of a profile; defaults are those of ``Query()``.

    ``metadata`` filters by annotation: a mapping ``{name: value}`` (``None`` for any value), or
    a list of names, ``(name, value)`` pairs or ``MetadataFilter``. Enumerations may be given by
    name, e.g. ``group_by="operation"``, ``sort_by="work_cycles"``, ``kind="compute"``.
    """
    if isinstance(profile, Query):
        raise TypeError("profile: expected a ProfileReport; pass the query's fields as keywords")
    if not isinstance(profile, ProfileReport):
        raise TypeError(f"profile: expected a ProfileReport, got {type(profile).__name__}")
    if not isinstance(shared_clock, bool):
        raise TypeError(f"shared_clock: expected bool, got {type(shared_clock).__name__}")
    request = Query(
        group_by=_member("group_by", group_by, GroupBy),
        sort_by=_member("sort_by", sort_by, SortBy),
        kind=None if kind is None else _member("kind", kind, StepKind, _KIND_NAMES),
        kernel=_text("kernel", kernel),
        operation_contains=_text("operation_contains", operation_contains),
        tiles=_numbers("tiles", tiles),
        phases=_numbers("phases", phases),
        metadata=_filters("metadata", metadata),
        metadata_key=_text("metadata_key", metadata_key),
        at_offset=_count("at_offset", at_offset, True),
        shared_clock=shared_clock,
        limit=_count("limit", limit, True),
        sample_limit=_count("sample_limit", sample_limit, False),
    )
    return _core._query(profile, request)


def calibrate_profiles(profiles: _Iterable[ProfileReport], target: str, build_id: str) -> CalibrationDatabase:
    """Cycles per kernel call over profiles of one build; raises CalibrationError for none or mixed clocks."""
    if isinstance(profiles, ProfileReport):
        raise TypeError("profiles: expected a list of ProfileReport; wrap a single profile in a list")
    profiles = list(profiles)
    for i, profile in enumerate(profiles):
        if not isinstance(profile, ProfileReport):
            raise TypeError(f"profiles[{i}]: expected a ProfileReport, got {type(profile).__name__}")
    _text("target", target)
    _text("build_id", build_id)
    if target is None or build_id is None:
        raise TypeError("target and build_id: expected str")
    return _core._calibrate_profiles(profiles, target, build_id)
