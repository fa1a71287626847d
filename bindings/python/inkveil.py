"""Python binding of inkveil, the PDF redaction library, through ctypes.

    import inkveil
    account = (inkveil.Redaction("letter.pdf")
               .add_text("Jane Example")
               .add_text("4929 1234 5678 9012")
               .add_region(1, 72, 700, 200, 14)
               .run("letter-redacted.pdf"))
    print(account.matches)            # [3, 1]: per search text, in order
    for box in account.boxes:         # where the boxes were painted
        print(box.page, box.x0, box.y0, box.x1, box.y1, box.term, box.region)

    found = inkveil.Redaction("letter.pdf").add_text("Jane").run()   # a dry run

    n = inkveil.count_matches("letter.pdf", "Jane Example")
    inkveil.redact_text("letter.pdf", "letter-redacted.pdf", "Jane Example")
    inkveil.redact_regions("form.pdf", "form-redacted.pdf", [(1, 160, 660, 200, 22)],
                           color=(255, 255, 255))

Every failure raises InkveilError with the library's last-error text.

The shared library is the one given to load_library(path), else it is looked
up in this order: the path in the environment variable INKVEIL_LIBRARY; a
libinkveil.so* beside this file; the system's library search path
(libinkveil.so.<major>).

Paths may be str, bytes or os.PathLike. A search text given as str is encoded
as UTF-8; bytes are searched as they are (single bytes in the fonts' own
encoding when they are not UTF-8).

The library keeps its last-error text per thread and shares nothing between
calls, and ctypes releases the interpreter lock while a call runs, so threads
may redact at the same time.
"""
from __future__ import annotations

import ctypes
import glob
import os
from dataclasses import dataclass
from typing import Iterable, List, Optional, Sequence, Tuple, Union

__all__ = ["InkveilError", "Redaction", "Account", "Box", "redact_text", "redact_regions",
           "count_matches", "library_path", "load_library"]

__version__ = "0.1.0"

# The major version of the library interface this module was written for.
_MAJOR = 0

PathLike = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
Text = Union[str, bytes]
Color = Tuple[int, int, int]


class InkveilError(Exception):
    """A failed call; str() of it, and its `message`, is the library's text."""

    def __init__(self, message: str):
        super().__init__(message)
        self.message = message


class _Region(ctypes.Structure):
    # Five 32-bit floats, 20 bytes, as the C header's inkveil_rect.
    _fields_ = [("page", ctypes.c_float), ("x", ctypes.c_float), ("y", ctypes.c_float),
                ("width", ctypes.c_float), ("height", ctypes.c_float)]


def library_path() -> str:
    """The file or name the library is loaded from when load_library() is
    not given a path."""
    path = os.environ.get("INKVEIL_LIBRARY")
    if path:
        return path
    here = os.path.dirname(os.path.abspath(__file__))
    beside = sorted(glob.glob(os.path.join(here, "libinkveil.so*")))
    if beside:
        return beside[0]
    return "libinkveil.so.%d" % _MAJOR


_c_int, _c_char_p, _c_void_p = ctypes.c_int, ctypes.c_char_p, ctypes.c_void_p
_SIGNATURES = {
    "inkveil_init": (_c_int, []),
    "inkveil_last_error": (_c_char_p, []),
    "inkveil_regions": (_c_int, [_c_char_p, _c_char_p, ctypes.POINTER(_Region), _c_int,
                                 _c_int, _c_int, _c_int]),
    "inkveil_text": (_c_int, [_c_char_p, _c_char_p, _c_char_p, _c_int, _c_int, _c_int]),
    "inkveil_count_matches": (_c_int, [_c_char_p, _c_char_p]),
    "inkveil_job_new": (_c_void_p, []),
    "inkveil_job_free": (None, [_c_void_p]),
    "inkveil_job_set_input": (_c_int, [_c_void_p, _c_char_p]),
    "inkveil_job_set_output": (_c_int, [_c_void_p, _c_char_p]),
    "inkveil_job_add_text": (_c_int, [_c_void_p, _c_char_p]),
    "inkveil_job_add_regions": (_c_int, [_c_void_p, ctypes.POINTER(_Region), _c_int]),
    "inkveil_job_set_color": (_c_int, [_c_void_p, _c_int, _c_int, _c_int]),
    "inkveil_job_run": (_c_int, [_c_void_p]),
    "inkveil_job_matches": (ctypes.c_longlong, [_c_void_p, _c_int]),
    "inkveil_job_box_count": (_c_int, [_c_void_p]),
    "inkveil_job_box": (_c_int, [_c_void_p, _c_int, ctypes.POINTER(_c_int),
                                 ctypes.POINTER(ctypes.c_double), ctypes.POINTER(_c_int)]),
}

_lib = None


def load_library(path: Optional[PathLike] = None) -> None:
    """Loads the library from `path`, or from library_path() when it is None,
    and uses it for every later call. Raises OSError when it cannot be loaded."""
    global _lib
    lib = ctypes.CDLL(os.fsdecode(path) if path is not None else library_path())
    for name, (restype, argtypes) in _SIGNATURES.items():
        function = getattr(lib, name)
        function.restype = restype
        function.argtypes = argtypes
    lib.inkveil_init()
    _lib = lib


def _library():
    # Two threads that both load it first get the same library: no lock needed.
    if _lib is None:
        load_library()
    return _lib


def _error(lib) -> str:
    # The calling thread's own text: no other thread's call can replace it.
    return lib.inkveil_last_error().decode("utf-8", "replace")


def _call(function, *args):
    """Runs one library call; returns its result and the last-error text."""
    lib = _library()
    result = getattr(lib, function)(*args)
    return result, _error(lib)


def _path(value: PathLike, what: str) -> bytes:
    path = os.fsencode(value)
    if b"\0" in path:
        raise ValueError("%s contains a NUL byte" % what)
    return path


def _text(value: Text) -> bytes:
    text = value.encode("utf-8") if isinstance(value, str) else bytes(value)
    if b"\0" in text:
        raise ValueError("text contains a NUL byte")
    return text


def _color(color: Sequence[int]) -> Color:
    # The library clamps each component to 0..255; clamping here as well keeps
    # large Python integers within a C int.
    red, green, blue = (min(max(int(c), 0), 255) for c in color)
    return red, green, blue


def _region(row: Sequence[float]) -> _Region:
    row = tuple(row)
    if len(row) != 5:
        raise ValueError("a region is (page, x, y, width, height), got %r" % (row,))
    return _Region(*map(float, row))


def _check_output(input: bytes, output: bytes) -> None:
    # A refused text redaction removes the file at the output path: never let
    # that file be the input.
    try:
        same = os.path.samefile(input, output)
    except OSError:
        return
    if same:
        raise InkveilError("the output is the input file; choose another output path")


@dataclass(frozen=True)
class Box:
    """A box the redaction painted: its page (from 1), its bounds in the
    page's default user space (1/72 inch on most pages), and its cause: the
    index of the search text it covers (`term`) or of the rectangle
    (`region`), the other one None."""
    page: int
    x0: float
    y0: float
    x1: float
    y1: float
    term: Optional[int]
    region: Optional[int]


@dataclass(frozen=True)
class Account:
    """What a Redaction.run() removed: the output path (None for a dry run),
    the search texts as given, the matches removed per search text (in the
    same order), and every box painted, page by page."""
    output: Optional[str]
    terms: List[Text]
    matches: List[int]
    boxes: List[Box]

    @property
    def total(self) -> int:
        """The matches of every search text together."""
        return sum(self.matches)


class Redaction:
    """One input file and what to redact in it: any number of search texts and
    rectangles, found and redacted in one pass when run() is called.

        account = Redaction("in.pdf").add_text("Jane").add_region(1, 72, 700, 200, 14).run("out.pdf")

    The adders return the Redaction, so that calls chain. A Redaction may be
    run more than once, and from any thread, one run at a time."""

    def __init__(self, input: PathLike, *, color: Sequence[int] = (0, 0, 0)):
        self._input = _path(input, "input")
        self._color = _color(color)
        self._terms: List[Text] = []
        self._encoded: List[bytes] = []
        self._regions: List[_Region] = []

    def add_text(self, text: Text) -> "Redaction":
        """Adds a search text (str as UTF-8, or bytes); letters are compared
        without regard to case. Its index in the account is the number of
        texts added before it."""
        self._encoded.append(_text(text))
        self._terms.append(text)
        return self

    def add_texts(self, texts: Iterable[Text]) -> "Redaction":
        """Adds each of `texts`, in order."""
        for text in texts:
            self.add_text(text)
        return self

    def add_region(self, page: float, x: float, y: float, width: float, height: float) -> "Redaction":
        """Adds a rectangle on page `page` (from 1): lower left corner x, y, and
        its size, in the page's content coordinates."""
        self._regions.append(_region((page, x, y, width, height)))
        return self

    def set_color(self, color: Sequence[int]) -> "Redaction":
        """The colour of the boxes: red, green, blue, each 0..255."""
        self._color = _color(color)
        return self

    def run(self, output: Optional[PathLike] = None) -> Account:
        """Redacts every search text and rectangle in one pass and writes
        `output`; with no output, does all but the write (a dry run) and tells
        what a redaction would remove. Returns the Account. Raises InkveilError
        with the library's message on failure, when no output is written."""
        target = _path(output, "output") if output is not None else None
        if target is not None:
            _check_output(self._input, target)
        lib = _library()
        job = lib.inkveil_job_new()
        if not job:
            raise InkveilError(_error(lib))
        try:
            lib.inkveil_job_set_input(job, self._input)
            lib.inkveil_job_set_output(job, target)
            lib.inkveil_job_set_color(job, *self._color)
            for text in self._encoded:
                lib.inkveil_job_add_text(job, text)
            if self._regions:
                array = (_Region * len(self._regions))(*self._regions)
                lib.inkveil_job_add_regions(job, array, len(self._regions))
            if not lib.inkveil_job_run(job):
                raise InkveilError(_error(lib))
            matches = [lib.inkveil_job_matches(job, t) for t in range(len(self._encoded))]
            page, cause = ctypes.c_int(), ctypes.c_int()
            bounds = (ctypes.c_double * 4)()
            boxes = []
            for k in range(lib.inkveil_job_box_count(job)):
                lib.inkveil_job_box(job, k, ctypes.byref(page), bounds, ctypes.byref(cause))
                c = cause.value
                boxes.append(Box(page.value, bounds[0], bounds[1], bounds[2], bounds[3],
                                 c if c >= 0 else None, -1 - c if c < 0 else None))
        finally:
            lib.inkveil_job_free(job)
        return Account(os.fsdecode(output) if output is not None else None, list(self._terms),
                       matches, boxes)


def redact_text(input: PathLike, output: PathLike, text: Text, color: Sequence[int] = (0, 0, 0)) -> None:
    """Blanks every occurrence of `text` (letters without regard to case),
    paints a box of `color` (red, green, blue, 0..255) over each, removes hidden
    information and writes `output`. Raises InkveilError."""
    source, target = _path(input, "input"), _path(output, "output")
    search = _text(text)
    red, green, blue = _color(color)
    _check_output(source, target)
    ok, error = _call("inkveil_text", source, target, search, red, green, blue)
    if not ok:
        raise InkveilError(error)


def redact_regions(input: PathLike, output: PathLike, regions: Iterable[Sequence[float]],
                   color: Sequence[int] = (0, 0, 0)) -> None:
    """Blanks the text inside each (page, x, y, width, height) rectangle, pages
    counted from 1, paints a box of `color` over each, removes hidden
    information and writes `output`. Raises InkveilError."""
    source, target = _path(input, "input"), _path(output, "output")
    rows = [_region(r) for r in regions]
    array = (_Region * max(len(rows), 1))(*rows)
    red, green, blue = _color(color)
    _check_output(source, target)
    ok, error = _call("inkveil_regions", source, target, array, len(rows), red, green, blue)
    if not ok:
        raise InkveilError(error)


def count_matches(input: PathLike, text: Text) -> int:
    """The number of occurrences of `text` that redact_text would redact.
    Raises InkveilError."""
    count, error = _call("inkveil_count_matches", _path(input, "input"), _text(text))
    if count < 0:
        raise InkveilError(error)
    return count
