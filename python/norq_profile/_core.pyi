"""
Cycle profile analysis for many-tile bulk-synchronous processors (C++ core).
"""

from collections.abc import Iterable, Iterator, Sequence, Set
import enum
import os
from typing import overload

import pandas
import pyarrow



class StepKind(enum.Enum):
    """Kind of a sampled step."""

    Exchange = 0

    Compute = 1

    Synchronization = 2

    Idle = 3

class ExchangeActivityKind(enum.Enum):
    """Role of a transfer interval inside an exchange's event window."""

    Send = 0

    Receive = 1

    PartnerBusy = 2

class ProfileMetadata:
    """One name/value annotation of a step."""

    def __init__(self, name: str = '', value: str = '') -> None: ...

    @property
    def name(self) -> str: ...

    @name.setter
    def name(self, arg: str, /) -> None: ...

    @property
    def value(self) -> str: ...

    @value.setter
    def value(self, arg: str, /) -> None: ...

    def __eq__(self, other: ProfileMetadata) -> bool: ...

    def __copy__(self) -> ProfileMetadata: ...

    def __deepcopy__(self, memo: object) -> ProfileMetadata: ...

    __hash__: None = None

class ProfileMetadataList:
    @overload
    def __init__(self) -> None:
        """Default constructor"""

    @overload
    def __init__(self, arg: ProfileMetadataList, /) -> None:
        """Copy constructor"""

    @overload
    def __init__(self, arg: Iterable[ProfileMetadata], /) -> None:
        """Construct from an iterable object"""

    def __len__(self) -> int: ...

    def __bool__(self) -> bool:
        """Check whether the vector is nonempty"""

    def __repr__(self) -> str: ...

    def __iter__(self) -> Iterator[ProfileMetadata]: ...

    @overload
    def __getitem__(self, arg: int, /) -> ProfileMetadata: ...

    @overload
    def __getitem__(self, arg: slice, /) -> ProfileMetadataList: ...

    def clear(self) -> None:
        """Remove all items from list."""

    def append(self, arg: ProfileMetadata, /) -> None:
        """Append ``arg`` to the end of the list."""

    def insert(self, arg0: int, arg1: ProfileMetadata, /) -> None:
        """Insert object ``arg1`` before index ``arg0``."""

    def pop(self, index: int = -1) -> ProfileMetadata:
        """Remove and return item at ``index`` (default last)."""

    def extend(self, arg: ProfileMetadataList, /) -> None:
        """Extend ``self`` by appending elements from ``arg``."""

    @overload
    def __setitem__(self, arg0: int, arg1: ProfileMetadata, /) -> None: ...

    @overload
    def __setitem__(self, arg0: slice, arg1: ProfileMetadataList, /) -> None: ...

    @overload
    def __delitem__(self, arg: int, /) -> None: ...

    @overload
    def __delitem__(self, arg: slice, /) -> None: ...

    def __eq__(self, arg: object, /) -> bool: ...

    def __ne__(self, arg: object, /) -> bool: ...

    @overload
    def __contains__(self, arg: ProfileMetadata, /) -> bool: ...

    @overload
    def __contains__(self, arg: object, /) -> bool: ...

    def count(self, arg: ProfileMetadata, /) -> int:
        """Return number of occurrences of ``arg``."""

    def remove(self, arg: ProfileMetadata, /) -> None:
        """Remove first occurrence of ``arg``."""

class ProfileExchangeActivity:
    """One transfer interval, in cycles from the event window's start."""

    def __init__(self, fanout: int = 0, paired: bool = False, kind: ExchangeActivityKind = ExchangeActivityKind.Send, start_cycle: int = 0, end_cycle: int = 0) -> None: ...

    @property
    def fanout(self) -> int: ...

    @fanout.setter
    def fanout(self, arg: int, /) -> None: ...

    @property
    def paired(self) -> bool: ...

    @paired.setter
    def paired(self, arg: bool, /) -> None: ...

    @property
    def kind(self) -> ExchangeActivityKind: ...

    @kind.setter
    def kind(self, arg: ExchangeActivityKind, /) -> None: ...

    @property
    def start_cycle(self) -> int: ...

    @start_cycle.setter
    def start_cycle(self, arg: int, /) -> None: ...

    @property
    def end_cycle(self) -> int: ...

    @end_cycle.setter
    def end_cycle(self, arg: int, /) -> None: ...

    def __eq__(self, other: ProfileExchangeActivity) -> bool: ...

    def __copy__(self) -> ProfileExchangeActivity: ...

    def __deepcopy__(self, memo: object) -> ProfileExchangeActivity: ...

    __hash__: None = None

class ProfileExchangeActivityList:
    @overload
    def __init__(self) -> None:
        """Default constructor"""

    @overload
    def __init__(self, arg: ProfileExchangeActivityList, /) -> None:
        """Copy constructor"""

    @overload
    def __init__(self, arg: Iterable[ProfileExchangeActivity], /) -> None:
        """Construct from an iterable object"""

    def __len__(self) -> int: ...

    def __bool__(self) -> bool:
        """Check whether the vector is nonempty"""

    def __repr__(self) -> str: ...

    def __iter__(self) -> Iterator[ProfileExchangeActivity]: ...

    @overload
    def __getitem__(self, arg: int, /) -> ProfileExchangeActivity: ...

    @overload
    def __getitem__(self, arg: slice, /) -> ProfileExchangeActivityList: ...

    def clear(self) -> None:
        """Remove all items from list."""

    def append(self, arg: ProfileExchangeActivity, /) -> None:
        """Append ``arg`` to the end of the list."""

    def insert(self, arg0: int, arg1: ProfileExchangeActivity, /) -> None:
        """Insert object ``arg1`` before index ``arg0``."""

    def pop(self, index: int = -1) -> ProfileExchangeActivity:
        """Remove and return item at ``index`` (default last)."""

    def extend(self, arg: ProfileExchangeActivityList, /) -> None:
        """Extend ``self`` by appending elements from ``arg``."""

    @overload
    def __setitem__(self, arg0: int, arg1: ProfileExchangeActivity, /) -> None: ...

    @overload
    def __setitem__(self, arg0: slice, arg1: ProfileExchangeActivityList, /) -> None: ...

    @overload
    def __delitem__(self, arg: int, /) -> None: ...

    @overload
    def __delitem__(self, arg: slice, /) -> None: ...

    def __eq__(self, arg: object, /) -> bool: ...

    def __ne__(self, arg: object, /) -> bool: ...

    @overload
    def __contains__(self, arg: ProfileExchangeActivity, /) -> bool: ...

    @overload
    def __contains__(self, arg: object, /) -> bool: ...

    def count(self, arg: ProfileExchangeActivity, /) -> int:
        """Return number of occurrences of ``arg``."""

    def remove(self, arg: ProfileExchangeActivity, /) -> None:
        """Remove first occurrence of ``arg``."""

class ProfileStep:
    """What a tile did in one sampled step."""

    def __init__(self, local_index: int = 0, phase: int = 0, epoch: int = 0, operation: str = '', kind: StepKind = StepKind.Exchange, kernel: str = '', metadata: ProfileMetadataList | Iterable[ProfileMetadata] | None = None, exchange_activities: ProfileExchangeActivityList | Iterable[ProfileExchangeActivity] | None = None, exchange_event_cycles: int = 0) -> None: ...

    @property
    def local_index(self) -> int: ...

    @local_index.setter
    def local_index(self, arg: int, /) -> None: ...

    @property
    def phase(self) -> int: ...

    @phase.setter
    def phase(self, arg: int, /) -> None: ...

    @property
    def epoch(self) -> int: ...

    @epoch.setter
    def epoch(self, arg: int, /) -> None: ...

    @property
    def operation(self) -> str: ...

    @operation.setter
    def operation(self, arg: str, /) -> None: ...

    @property
    def kind(self) -> StepKind: ...

    @kind.setter
    def kind(self, arg: StepKind, /) -> None: ...

    @property
    def kernel(self) -> str: ...

    @kernel.setter
    def kernel(self, arg: str, /) -> None: ...

    @property
    def metadata(self) -> ProfileMetadataList: ...

    @metadata.setter
    def metadata(self, arg: ProfileMetadataList, /) -> None: ...

    @property
    def exchange_activities(self) -> ProfileExchangeActivityList: ...

    @exchange_activities.setter
    def exchange_activities(self, arg: ProfileExchangeActivityList, /) -> None: ...

    @property
    def exchange_event_cycles(self) -> int: ...

    @exchange_event_cycles.setter
    def exchange_event_cycles(self, arg: int, /) -> None: ...

    def __eq__(self, other: ProfileStep) -> bool: ...

    def __copy__(self) -> ProfileStep: ...

    def __deepcopy__(self, memo: object) -> ProfileStep: ...

    __hash__: None = None

class CycleSample:
    """
    A step stamped with the tile's wrapping 32-bit counter at start and end.
    """

    def __init__(self, step: ProfileStep | None = None, start_cycle: int = 0, end_cycle: int = 0) -> None: ...

    @property
    def step(self) -> ProfileStep: ...

    @step.setter
    def step(self, arg: ProfileStep, /) -> None: ...

    @property
    def start_cycle(self) -> int: ...

    @start_cycle.setter
    def start_cycle(self, arg: int, /) -> None: ...

    @property
    def end_cycle(self) -> int: ...

    @end_cycle.setter
    def end_cycle(self, arg: int, /) -> None: ...

    def __eq__(self, other: CycleSample) -> bool: ...

    def __copy__(self) -> CycleSample: ...

    def __deepcopy__(self, memo: object) -> CycleSample: ...

    __hash__: None = None

class CycleSampleList:
    @overload
    def __init__(self) -> None:
        """Default constructor"""

    @overload
    def __init__(self, arg: CycleSampleList, /) -> None:
        """Copy constructor"""

    @overload
    def __init__(self, arg: Iterable[CycleSample], /) -> None:
        """Construct from an iterable object"""

    def __len__(self) -> int: ...

    def __bool__(self) -> bool:
        """Check whether the vector is nonempty"""

    def __repr__(self) -> str: ...

    def __iter__(self) -> Iterator[CycleSample]: ...

    @overload
    def __getitem__(self, arg: int, /) -> CycleSample: ...

    @overload
    def __getitem__(self, arg: slice, /) -> CycleSampleList: ...

    def clear(self) -> None:
        """Remove all items from list."""

    def append(self, arg: CycleSample, /) -> None:
        """Append ``arg`` to the end of the list."""

    def insert(self, arg0: int, arg1: CycleSample, /) -> None:
        """Insert object ``arg1`` before index ``arg0``."""

    def pop(self, index: int = -1) -> CycleSample:
        """Remove and return item at ``index`` (default last)."""

    def extend(self, arg: CycleSampleList, /) -> None:
        """Extend ``self`` by appending elements from ``arg``."""

    @overload
    def __setitem__(self, arg0: int, arg1: CycleSample, /) -> None: ...

    @overload
    def __setitem__(self, arg0: slice, arg1: CycleSampleList, /) -> None: ...

    @overload
    def __delitem__(self, arg: int, /) -> None: ...

    @overload
    def __delitem__(self, arg: slice, /) -> None: ...

    def __eq__(self, arg: object, /) -> bool: ...

    def __ne__(self, arg: object, /) -> bool: ...

    @overload
    def __contains__(self, arg: CycleSample, /) -> bool: ...

    @overload
    def __contains__(self, arg: object, /) -> bool: ...

    def count(self, arg: CycleSample, /) -> int:
        """Return number of occurrences of ``arg``."""

    def remove(self, arg: CycleSample, /) -> None:
        """Remove first occurrence of ``arg``."""

class TileProfile:
    """The samples of one tile, in execution order."""

    def __init__(self, physical_tile: int = 0, samples: CycleSampleList | Iterable[CycleSample] | None = None) -> None: ...

    @property
    def physical_tile(self) -> int: ...

    @physical_tile.setter
    def physical_tile(self, arg: int, /) -> None: ...

    @property
    def samples(self) -> CycleSampleList: ...

    @samples.setter
    def samples(self, arg: CycleSampleList, /) -> None: ...

    def __eq__(self, other: TileProfile) -> bool: ...

    def __copy__(self) -> TileProfile: ...

    def __deepcopy__(self, memo: object) -> TileProfile: ...

    __hash__: None = None

class TileProfileList:
    @overload
    def __init__(self) -> None:
        """Default constructor"""

    @overload
    def __init__(self, arg: TileProfileList, /) -> None:
        """Copy constructor"""

    @overload
    def __init__(self, arg: Iterable[TileProfile], /) -> None:
        """Construct from an iterable object"""

    def __len__(self) -> int: ...

    def __bool__(self) -> bool:
        """Check whether the vector is nonempty"""

    def __repr__(self) -> str: ...

    def __iter__(self) -> Iterator[TileProfile]: ...

    @overload
    def __getitem__(self, arg: int, /) -> TileProfile: ...

    @overload
    def __getitem__(self, arg: slice, /) -> TileProfileList: ...

    def clear(self) -> None:
        """Remove all items from list."""

    def append(self, arg: TileProfile, /) -> None:
        """Append ``arg`` to the end of the list."""

    def insert(self, arg0: int, arg1: TileProfile, /) -> None:
        """Insert object ``arg1`` before index ``arg0``."""

    def pop(self, index: int = -1) -> TileProfile:
        """Remove and return item at ``index`` (default last)."""

    def extend(self, arg: TileProfileList, /) -> None:
        """Extend ``self`` by appending elements from ``arg``."""

    @overload
    def __setitem__(self, arg0: int, arg1: TileProfile, /) -> None: ...

    @overload
    def __setitem__(self, arg0: slice, arg1: TileProfileList, /) -> None: ...

    @overload
    def __delitem__(self, arg: int, /) -> None: ...

    @overload
    def __delitem__(self, arg: slice, /) -> None: ...

    def __eq__(self, arg: object, /) -> bool: ...

    def __ne__(self, arg: object, /) -> bool: ...

    @overload
    def __contains__(self, arg: TileProfile, /) -> bool: ...

    @overload
    def __contains__(self, arg: object, /) -> bool: ...

    def count(self, arg: TileProfile, /) -> int:
        """Return number of occurrences of ``arg``."""

    def remove(self, arg: TileProfile, /) -> None:
        """Remove first occurrence of ``arg``."""

class ProfileReport:
    """One captured profile: the clock rate and every tile's samples."""

    def __init__(self, clock_hz: int = 0, tiles: TileProfileList | Iterable[TileProfile] | None = None) -> None: ...

    @property
    def clock_hz(self) -> int: ...

    @clock_hz.setter
    def clock_hz(self, arg: int, /) -> None: ...

    @property
    def tiles(self) -> TileProfileList: ...

    @tiles.setter
    def tiles(self, arg: TileProfileList, /) -> None: ...

    def to_pandas(self, shared_clock: bool = False) -> pandas.DataFrame:
        """Every sample of the profile as a pandas DataFrame, one row per sample."""

    def to_arrow(self, shared_clock: bool = False) -> pyarrow.Table:
        """Every sample of the profile as a pyarrow Table, one row per sample."""

    def __eq__(self, other: ProfileReport) -> bool: ...

    def __copy__(self) -> ProfileReport: ...

    def __deepcopy__(self, memo: object) -> ProfileReport: ...

    __hash__: None = None

class MetadataEntry:
    """One metadata annotation of a listed sample."""

    def __eq__(self, other: MetadataEntry) -> bool: ...

    __hash__: None = None

    @property
    def name(self) -> str: ...

    @property
    def value(self) -> str: ...

    def __repr__(self) -> str: ...

class SampleRecord:
    """A listed sample, placed on the query's time line."""

    def __eq__(self, other: SampleRecord) -> bool: ...

    __hash__: None = None

    @property
    def physical_tile(self) -> int: ...

    @property
    def offset(self) -> int: ...

    @property
    def duration(self) -> int: ...

    @property
    def phase(self) -> int: ...

    @property
    def epoch(self) -> int: ...

    @property
    def kind(self) -> str: ...

    @property
    def operation(self) -> str: ...

    @property
    def kernel(self) -> str: ...

    @property
    def metadata(self) -> list[MetadataEntry]: ...

class SampleRecords:
    """Listed samples of a query, longest first."""

    def __len__(self) -> int: ...

    def __bool__(self) -> bool: ...

    @overload
    def __getitem__(self, index: int) -> SampleRecord: ...

    @overload
    def __getitem__(self, index: slice) -> SampleRecords: ...

    def __iter__(self) -> Iterator[SampleRecord]: ...

    def __eq__(self, other: SampleRecords) -> bool: ...

    def __repr__(self) -> str: ...

    def to_pandas(self) -> pandas.DataFrame:
        """The rows as a pandas DataFrame, one column per field."""

    def to_arrow(self) -> pyarrow.Table:
        """The rows as a pyarrow Table, one column per field."""

    __hash__: None = None

class GroupSummary:
    """Statistics of one group of matched samples."""

    def __eq__(self, other: GroupSummary) -> bool: ...

    __hash__: None = None

    @property
    def name(self) -> str: ...

    @property
    def dimensions(self) -> dict[str, str]: ...

    @property
    def sample_count(self) -> int: ...

    @property
    def tile_count(self) -> int: ...

    @property
    def phase_count(self) -> int: ...

    @property
    def phase_cycles(self) -> int: ...

    @property
    def phase_ms(self) -> float: ...

    @property
    def work_cycles(self) -> int: ...

    @property
    def average_active_tiles(self) -> float: ...

    @property
    def useful_cycles(self) -> float: ...

    @property
    def estimated_work_cycles(self) -> int: ...

    @property
    def useful_utilization(self) -> float | None: ...

    @property
    def work_lane_occupancy(self) -> float | None: ...

    @property
    def device_useful_utilization(self) -> float | None: ...

    @property
    def mean_cycles(self) -> float: ...

    @property
    def p50_cycles(self) -> int: ...

    @property
    def p95_cycles(self) -> int: ...

    @property
    def maximum_cycles(self) -> int: ...

    @property
    def first_offset(self) -> int: ...

    @property
    def last_offset(self) -> int: ...

    def __repr__(self) -> str: ...

class GroupSummaries:
    """Groups of a query, in the query's order."""

    def __len__(self) -> int: ...

    def __bool__(self) -> bool: ...

    @overload
    def __getitem__(self, index: int) -> GroupSummary: ...

    @overload
    def __getitem__(self, index: slice) -> GroupSummaries: ...

    def __iter__(self) -> Iterator[GroupSummary]: ...

    def __eq__(self, other: GroupSummaries) -> bool: ...

    def __repr__(self) -> str: ...

    def to_pandas(self) -> pandas.DataFrame:
        """The rows as a pandas DataFrame, one column per field."""

    def to_arrow(self) -> pyarrow.Table:
        """The rows as a pyarrow Table, one column per field."""

    __hash__: None = None

class QueryReport:
    """Result of a query: profile totals, groups and listed samples."""

    def __eq__(self, other: QueryReport) -> bool: ...

    __hash__: None = None

    @property
    def clock_hz(self) -> int: ...

    @property
    def tile_count(self) -> int: ...

    @property
    def sample_count(self) -> int: ...

    @property
    def matched_sample_count(self) -> int: ...

    @property
    def profile_span_cycles(self) -> int: ...

    @property
    def profile_span_ms(self) -> float: ...

    @property
    def at_offset(self) -> int | None: ...

    @property
    def groups(self) -> GroupSummaries: ...

    @property
    def samples(self) -> SampleRecords: ...

    def to_pandas(self) -> pandas.DataFrame:
        """The groups as a pandas DataFrame."""

    def to_arrow(self) -> pyarrow.Table:
        """The groups as a pyarrow Table."""

    def __repr__(self) -> str: ...

class ExchangeBoundary:
    """One exchange as the whole processor sees it."""

    def __eq__(self, other: ExchangeBoundary) -> bool: ...

    __hash__: None = None

    @property
    def epoch(self) -> int: ...

    @property
    def phase(self) -> int: ...

    @property
    def first_entry(self) -> int: ...

    @property
    def last_entry(self) -> int: ...

    @property
    def last_exit(self) -> int: ...

    @property
    def last_arriving_tile(self) -> int: ...

    @property
    def arrival_spread_cycles(self) -> int: ...

    @property
    def after_last_arrival_cycles(self) -> int: ...

    @property
    def scheduled_event_cycles(self) -> int | None: ...

    def __repr__(self) -> str: ...

class ExchangeBoundaries:
    """Exchange boundaries ordered by (last_exit, epoch, phase)."""

    def __len__(self) -> int: ...

    def __bool__(self) -> bool: ...

    @overload
    def __getitem__(self, index: int) -> ExchangeBoundary: ...

    @overload
    def __getitem__(self, index: slice) -> ExchangeBoundaries: ...

    def __iter__(self) -> Iterator[ExchangeBoundary]: ...

    def __eq__(self, other: ExchangeBoundaries) -> bool: ...

    def __repr__(self) -> str: ...

    def to_pandas(self) -> pandas.DataFrame:
        """The rows as a pandas DataFrame, one column per field."""

    def to_arrow(self) -> pyarrow.Table:
        """The rows as a pyarrow Table, one column per field."""

    __hash__: None = None

class ExchangeRoleCycles:
    """Cycles of an event window by role."""

    def __eq__(self, other: ExchangeRoleCycles) -> bool: ...

    __hash__: None = None

    @property
    def send(self) -> int: ...

    @property
    def receive(self) -> int: ...

    @property
    def simultaneous(self) -> int: ...

    @property
    def partner_busy(self) -> int: ...

    @property
    def idle(self) -> int: ...

    def __repr__(self) -> str: ...

class ExchangeActivitySummary:
    """Exchange activity of a whole profile."""

    def __eq__(self, other: ExchangeActivitySummary) -> bool: ...

    __hash__: None = None

    @property
    def exchange_samples(self) -> int: ...

    @property
    def described_samples(self) -> int: ...

    @property
    def send_intervals(self) -> int: ...

    @property
    def receive_intervals(self) -> int: ...

    @property
    def partner_busy_intervals(self) -> int: ...

    @property
    def estimated_send_work_cycles(self) -> int: ...

    @property
    def estimated_receive_work_cycles(self) -> int: ...

    @property
    def estimated_simultaneous_work_cycles(self) -> int: ...

    @property
    def estimated_partner_busy_work_cycles(self) -> int: ...

    @property
    def estimated_idle_work_cycles(self) -> int: ...

    @property
    def measured_phase_cycles(self) -> int: ...

    @property
    def scheduled_event_cycles(self) -> int: ...

    @property
    def arrival_wait_cycles(self) -> int: ...

    @property
    def phase_boundary_cycles(self) -> int: ...

    def __repr__(self) -> str: ...

class KernelWork:
    """Work of one (operation, kernel) pair."""

    def __eq__(self, other: KernelWork) -> bool: ...

    __hash__: None = None

    @property
    def operation(self) -> str: ...

    @property
    def kernel(self) -> str: ...

    @property
    def samples(self) -> int: ...

    @property
    def tiles(self) -> int: ...

    @property
    def work_cycles(self) -> int: ...

    @property
    def maximum_cycles(self) -> int: ...

    @property
    def start(self) -> int: ...

    @property
    def end(self) -> int: ...

    def __repr__(self) -> str: ...

class KernelWorks:
    """Kernel rows, heaviest first."""

    def __len__(self) -> int: ...

    def __bool__(self) -> bool: ...

    @overload
    def __getitem__(self, index: int) -> KernelWork: ...

    @overload
    def __getitem__(self, index: slice) -> KernelWorks: ...

    def __iter__(self) -> Iterator[KernelWork]: ...

    def __eq__(self, other: KernelWorks) -> bool: ...

    def __repr__(self) -> str: ...

    def to_pandas(self) -> pandas.DataFrame:
        """The rows as a pandas DataFrame, one column per field."""

    def to_arrow(self) -> pyarrow.Table:
        """The rows as a pyarrow Table, one column per field."""

    __hash__: None = None

class PhaseWork:
    """Compute work leading up to one exchange boundary."""

    def __eq__(self, other: PhaseWork) -> bool: ...

    __hash__: None = None

    @property
    def epoch(self) -> int: ...

    @property
    def next_exchange_phase(self) -> int | None: ...

    @property
    def start(self) -> int: ...

    @property
    def end(self) -> int: ...

    @property
    def span_cycles(self) -> int: ...

    @property
    def work_cycles(self) -> int: ...

    @property
    def active_tiles(self) -> int: ...

    @property
    def occupancy(self) -> float: ...

    @property
    def exposed_preparation_cycles(self) -> int | None: ...

    @property
    def kernels(self) -> KernelWorks: ...

    @property
    def exchange(self) -> ExchangeBoundary | None: ...

    @property
    def exchange_occupancy(self) -> float | None: ...

    @property
    def late_tile_kernels(self) -> KernelWorks: ...

    @property
    def unattributed_before_barrier_cycles(self) -> int: ...

    def __repr__(self) -> str: ...

class PhaseWorks:
    """Phases of a profile."""

    def __len__(self) -> int: ...

    def __bool__(self) -> bool: ...

    @overload
    def __getitem__(self, index: int) -> PhaseWork: ...

    @overload
    def __getitem__(self, index: slice) -> PhaseWorks: ...

    def __iter__(self) -> Iterator[PhaseWork]: ...

    def __eq__(self, other: PhaseWorks) -> bool: ...

    def __repr__(self) -> str: ...

    def to_pandas(self) -> pandas.DataFrame:
        """The rows as a pandas DataFrame, one column per field."""

    def to_arrow(self) -> pyarrow.Table:
        """The rows as a pyarrow Table, one column per field."""

    __hash__: None = None

class CalibrationKey:
    """A kernel and the metadata combination it ran with."""

    def __eq__(self, other: CalibrationKey) -> bool: ...

    __hash__: None = None

    @property
    def kernel(self) -> str: ...

    @property
    def dimensions(self) -> dict[str, str]: ...

    def __repr__(self) -> str: ...

class CalibrationMeasurement:
    """Cycles per call of one calibration key."""

    def __eq__(self, other: CalibrationMeasurement) -> bool: ...

    __hash__: None = None

    @property
    def key(self) -> CalibrationKey: ...

    @property
    def samples(self) -> int: ...

    @property
    def minimum_cycles(self) -> int: ...

    @property
    def median_cycles(self) -> int: ...

    @property
    def p95_cycles(self) -> int: ...

    @property
    def maximum_cycles(self) -> int: ...

    def __repr__(self) -> str: ...

class CalibrationMeasurements:
    """Calibration measurements in ascending key order."""

    def __len__(self) -> int: ...

    def __bool__(self) -> bool: ...

    @overload
    def __getitem__(self, index: int) -> CalibrationMeasurement: ...

    @overload
    def __getitem__(self, index: slice) -> CalibrationMeasurements: ...

    def __iter__(self) -> Iterator[CalibrationMeasurement]: ...

    def __eq__(self, other: CalibrationMeasurements) -> bool: ...

    def __repr__(self) -> str: ...

    def to_pandas(self) -> pandas.DataFrame:
        """The rows as a pandas DataFrame, one column per field."""

    def to_arrow(self) -> pyarrow.Table:
        """The rows as a pyarrow Table, one column per field."""

    __hash__: None = None

class CalibrationDatabase:
    """Cycles per kernel call over profiles of one build."""

    def __eq__(self, other: CalibrationDatabase) -> bool: ...

    __hash__: None = None

    @property
    def schema_version(self) -> int: ...

    @property
    def target(self) -> str: ...

    @property
    def build_id(self) -> str: ...

    @property
    def clock_hz(self) -> int: ...

    @property
    def measurements(self) -> CalibrationMeasurements: ...

    def to_pandas(self) -> pandas.DataFrame:
        """The measurements as a pandas DataFrame."""

    def to_arrow(self) -> pyarrow.Table:
        """The measurements as a pyarrow Table."""

    def __repr__(self) -> str: ...

class ProfileFormatError(ValueError):
    pass

class CalibrationError(ValueError):
    pass

class GroupBy(enum.Enum):
    """What a query groups its matched samples by."""

    Kind = 0

    Kernel = 1

    Operation = 2

    Phase = 3

    Tile = 4

    Metadata = 5

class SortBy(enum.Enum):
    """How a query orders its groups."""

    PhaseCycles = 0

    WorkCycles = 1

    MaximumCycles = 2

    Samples = 3

    Name = 4

class MetadataFilter:
    """Keeps samples with a metadata entry of this name (and value)."""

    def __init__(self, name: str, value: str | None = None) -> None: ...

    @property
    def name(self) -> str: ...

    @property
    def value(self) -> str | None: ...

class Query:
    """A query of the samples of a profile; Query() is the default query."""

    def __init__(self, *, group_by: GroupBy = GroupBy.Kernel, sort_by: SortBy = SortBy.PhaseCycles, kind: StepKind | None = None, kernel: str | None = None, operation_contains: str | None = None, tiles: Set[int] = ..., phases: Set[int] = ..., metadata: Sequence[MetadataFilter] = [], metadata_key: str | None = None, at_offset: int | None = None, shared_clock: bool = False, limit: int | None = None, sample_limit: int = 0) -> None: ...

    @property
    def group_by(self) -> GroupBy: ...

    @property
    def sort_by(self) -> SortBy: ...

    @property
    def kind(self) -> StepKind | None: ...

    @property
    def kernel(self) -> str | None: ...

    @property
    def operation_contains(self) -> str | None: ...

    @property
    def tiles(self) -> set[int]: ...

    @property
    def phases(self) -> set[int]: ...

    @property
    def metadata(self) -> list[MetadataFilter]: ...

    @property
    def metadata_key(self) -> str | None: ...

    @property
    def at_offset(self) -> int | None: ...

    @property
    def shared_clock(self) -> bool: ...

    @property
    def limit(self) -> int | None: ...

    @property
    def sample_limit(self) -> int: ...

def exchange_boundaries(profile: ProfileReport) -> ExchangeBoundaries:
    """
    Every exchange of the profile as the whole processor sees it, ordered by (last_exit, epoch, phase).
    """

def exchange_role_cycles(activities: ProfileExchangeActivityList | Iterable[ProfileExchangeActivity], event_cycles: int) -> ExchangeRoleCycles:
    """Splits one event window into cycles by role."""

def exchange_activity_summary(profile: ProfileReport) -> ExchangeActivitySummary:
    """Exchange activity summed over a whole profile."""

def phase_work(profile: ProfileReport, shared_clock: bool = False) -> PhaseWorks:
    """Compute work leading up to each exchange boundary."""

class PhaseSample:
    """A compute sample placed on a time line, input of kernels()."""

    def __init__(self, tile: int, start: int, end: int, sample: CycleSample) -> None: ...

    @property
    def tile(self) -> int: ...

    @property
    def start(self) -> int: ...

    @property
    def end(self) -> int: ...

    @property
    def sample(self) -> CycleSample: ...

def kernels(samples: Sequence[PhaseSample]) -> KernelWorks:
    """One row per (operation, kernel) pair, heaviest first."""

def kind_name(sample: CycleSample) -> str:
    """"exchange", "compute", "synchronization" or "idle"."""

def duration(sample: CycleSample) -> int:
    """Length of a sample in cycles, modulo 2**32."""

def cycle_origin(profile: ProfileReport) -> int:
    """The earliest tile entry on the counter circle."""

def initial_sample_entry_span(profile: ProfileReport, shared_base: int) -> int:
    """Time from shared_base to the latest tile entry."""

def cycles_to_ms(cycles: int, clock_hz: int) -> float:
    """Cycles in milliseconds; 0.0 when clock_hz is 0."""

def is_exchange_boundary(sample: CycleSample) -> bool:
    """Exchange steps, and synchronizations marked reason=ExchangeBarrier."""

def load(path: str | os.PathLike) -> ProfileReport:
    """Loads a profile file (.json, or zstd-compressed .json.zst)."""

def save(profile: ProfileReport, path: str | os.PathLike) -> None:
    """
    Saves a profile file; a .zst suffix compresses. Never leaves a half-written file.
    """

def generate(tiles: int = 16, steps: int = 200, seed: int = 1, clock_hz: int = 1850000000) -> ProfileReport:
    """
    A synthetic profile: the same one for the same arguments on every platform.
    """
