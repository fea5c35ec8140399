"""VEZiru0 from Python: libraries, Paradox tables, the conversion of old libraries, bands, weighting, level
arithmetic and the TNM emission model."""
import datetime
import os
from typing import Any, Callable, Iterable, Iterator, NamedTuple, Optional, Sequence, Union, overload

__version__: str

Value = Union[None, bool, int, float, str, bytes, datetime.date, datetime.time, datetime.datetime]
Numbers = Union[float, Iterable[float]]
Path = Union[str, bytes, os.PathLike]

class Error(Exception):
    """A failure of the library; str(e) is its message."""

class DatabaseError(Error):
    """A failure of the table engine."""

class ConvertError(Error):
    """A value that cannot be converted to its field's type."""

class InOutError(Error, OSError):
    """A file that cannot be found, read or written."""

class NoSuchFileError(InOutError, FileNotFoundError):
    """A file or folder that does not exist."""

class AccessDeniedError(InOutError, PermissionError):
    """A file that may not be read or written."""

class Field(NamedTuple):
    name: str
    type: str
    size: int
    required: bool

class Index(NamedTuple):
    name: str
    fields: tuple[str, ...]
    options: tuple[str, ...]

class Transaction:
    def __enter__(self) -> "Transaction": ...
    def __exit__(self, type: Any, value: Any, traceback: Any) -> bool: ...

class RecordIterator(Iterator[dict[str, Value]]):
    def __iter__(self) -> "RecordIterator": ...
    def __next__(self) -> dict[str, Value]: ...

class Library:
    """A library file: one table of records."""
    path: str
    type: Optional[int]
    type_name: Optional[str]
    fields: list[Field]
    indexes: list[Index]
    read_only: bool
    def __len__(self) -> int: ...
    def __iter__(self) -> RecordIterator: ...
    @overload
    def __getitem__(self, index: int) -> dict[str, Value]: ...
    @overload
    def __getitem__(self, index: slice) -> list[dict[str, Value]]: ...
    def to_records(self) -> list[dict[str, Value]]: ...
    def to_pandas(self) -> Any: ...
    def transaction(self) -> Transaction: ...
    def append(self, values: dict[str, Value] = ..., truncate: bool = False) -> int: ...
    def append_frame(self, frame: Any, truncate: bool = False) -> list[int]: ...
    def edit(self, position: int, values: dict[str, Value], truncate: bool = False) -> None: ...
    def delete(self, position: int) -> None: ...
    def close(self) -> None: ...
    def __enter__(self) -> "Library": ...
    def __exit__(self, type: Any, value: Any, traceback: Any) -> bool: ...

class ParadoxTable:
    """The fields and records of a Paradox table."""
    path: str
    fields: list[Field]
    names: list[str]
    rows: list[tuple[Value, ...]]
    warnings: list[str]
    warning_count: int
    records_missing: bool
    records_in_header: int
    code_page: int
    encrypted: bool
    def __len__(self) -> int: ...
    def __iter__(self) -> Iterator[dict[str, Value]]: ...
    def to_records(self) -> list[dict[str, Value]]: ...
    def to_pandas(self) -> Any: ...

class Spectrum(NamedTuple):
    name: str
    kind: str  # "third-octave" or "octave"
    bands: tuple[int, ...]
    values: Any
    single_value: float

class Sheet:
    """One worksheet of a workbook, or a delimited text file, as texts."""
    path: str
    file_type: str
    sheet: str
    sheets: list[str]
    separator: Optional[str]
    rows: list[list[str]]
    columns: list[str]
    def __len__(self) -> int: ...
    def __iter__(self) -> Iterator[list[str]]: ...
    def to_pandas(self) -> Any: ...

def read_sheet(path: Path, code_page: Optional[int] = None, *, sheet: Union[int, str, None] = None,
               separator: Optional[str] = None, text_limit: int = 1024) -> Sheet: ...
def import_file(path: Path, library: Path, type: Union[int, str, None] = None, map: Optional[dict[str, str]] = None,
                fix: Optional[dict[str, str]] = None, auto_link: bool = False, start: Optional[int] = None,
                stop: Optional[int] = None, on_exists: str = "skip", dry_run: bool = False,
                code_page: Optional[int] = None, *, sheet: Union[int, str, None] = None,
                separator: Optional[str] = None, decimal_separator: Optional[str] = None,
                mapping: Union[Path, dict[str, Any], None] = None, text_limit: int = 1024) -> dict[str, Any]: ...
def import_texts() -> dict[str, dict[str, str]]: ...

def append_frame(library: Library, frame: Any, truncate: bool = False) -> list[int]: ...
def open_library(path: Path, read_only: bool = False) -> Library: ...
def create_library(type: Union[int, str], folder: Path, with_defaults: bool = False,
                   file_name: Optional[str] = None) -> Library: ...
def lib_type(name: Path) -> Optional[int]: ...
def lib_type_name(code: int) -> Optional[str]: ...
def lib_name(code: int) -> Optional[str]: ...
def read_paradox(path: Path, password: Optional[str] = None, code_page: Optional[int] = None,
                 raw_text: bool = False) -> ParadoxTable: ...
@overload
def convert(folders: Path, recursive: bool = False, delete_old: bool = False,
            progress: Optional[Callable[[Optional[str], int, int], Any]] = None,
            password: str = "", dry_run: bool = False, jobs: Optional[int] = None) -> dict[str, Any]: ...
@overload
def convert(folders: Sequence[Path], recursive: bool = False, delete_old: bool = False,
            progress: Optional[Callable[[Optional[str], int, int], Any]] = None,
            password: str = "", dry_run: bool = False, jobs: Optional[int] = None) -> list[dict[str, Any]]: ...

OCTAVE_BANDS: tuple[float, ...]        # 31.5, 63, ..., 16000
THIRD_OCTAVE_BANDS: tuple[float, ...]  # 25, 31.5, 40, ..., 20000
TNM_BANDS: tuple[int, ...]

def weighting(freqs: Numbers, filter: str = "A") -> Any: ...
def a_weighting(freqs: Numbers) -> Any: ...
def energetic_sum(levels: Iterable[float]) -> float: ...
def level_to_energy(levels: Numbers) -> Any: ...
def energy_to_level(energies: Numbers) -> Any: ...
def third_octave_band(freq: float) -> tuple[int, int]: ...
def octave_band(freq: float) -> tuple[int, int]: ...
def tnm(vehicle: Optional[str] = None, pavement: str = "avg", speed: Optional[float] = None,
        full_throttle: bool = False, *, library: Optional[Path] = None,
        record: Optional[int] = None) -> tuple[float, Any]: ...
def spectrum(library: Path, record: int, clamp: bool = False) -> Spectrum: ...
