"""Python binding of inkveil, the PDF redaction library, through ctypes.

    import inkveil
    n = inkveil.count_matches("letter.pdf", "Jane Example")
    inkveil.redact_text("letter.pdf", "letter-redacted.pdf", "Jane Example")
    inkveil.redact_regions("form.pdf", "form-redacted.pdf", [(1, 160, 660, 200, 22)],
                           color=(255, 255, 255))

Every failure raises InkveilError with the library's last-error text.

The shared library is looked up in this order: the path in the environment
variable INKVEIL_LIBRARY; a libinkveil.so* beside this file; the system's
library search path (libinkveil.so.<major>).

Paths may be str, bytes or os.PathLike. A search text given as str is encoded
as Windows-1252, the encoding of text in the standard fonts; give bytes to
search for other byte codes.

The library keeps one last-error text per process; this module holds a lock
around each call and its reading of that text, so it may be used from several
threads.
"""
import ctypes
import glob
import os
import threading

__all__ = ["InkveilError", "redact_text", "redact_regions", "count_matches", "library_path"]

# The major version of the library interface this module was written for.
_MAJOR = 0


class InkveilError(Exception):
    """A failed call; str() of it, and its `message`, is the library's text."""

    def __init__(self, message):
        super().__init__(message)
        self.message = message


class _Region(ctypes.Structure):
    # Five 32-bit floats, 20 bytes, as the C header's Region.
    _fields_ = [("page", ctypes.c_float), ("x", ctypes.c_float), ("y", ctypes.c_float),
                ("width", ctypes.c_float), ("height", ctypes.c_float)]


def library_path():
    """The file or name the library is loaded from."""
    path = os.environ.get("INKVEIL_LIBRARY")
    if path:
        return path
    here = os.path.dirname(os.path.abspath(__file__))
    beside = sorted(glob.glob(os.path.join(here, "libinkveil.so*")))
    if beside:
        return beside[0]
    return "libinkveil.so.%d" % _MAJOR


def _load():
    lib = ctypes.CDLL(library_path())
    c_int, c_char_p = ctypes.c_int, ctypes.c_char_p
    signatures = {
        "inkveil_init": (c_int, []),
        "inkveil_last_error": (c_char_p, []),
        "inkveil_regions": (c_int, [c_char_p, c_char_p, ctypes.POINTER(_Region), c_int,
                                    c_int, c_int, c_int]),
        "inkveil_text": (c_int, [c_char_p, c_char_p, c_char_p, c_int, c_int, c_int]),
        "inkveil_count_matches": (c_int, [c_char_p, c_char_p]),
    }
    for name, (restype, argtypes) in signatures.items():
        function = getattr(lib, name)
        function.restype = restype
        function.argtypes = argtypes
    lib.inkveil_init()
    return lib


_lib = None
_lock = threading.Lock()


def _library():
    global _lib
    if _lib is None:
        _lib = _load()
    return _lib


def _call(function, *args):
    """Runs one library call; returns its result and the last-error text."""
    with _lock:
        lib = _library()
        result = getattr(lib, function)(*args)
        return result, lib.inkveil_last_error().decode("utf-8", "replace")


def _path(value, what):
    path = os.fsencode(value)
    if b"\0" in path:
        raise ValueError("%s contains a NUL byte" % what)
    return path


def _text(value):
    text = value.encode("cp1252") if isinstance(value, str) else bytes(value)
    if b"\0" in text:
        raise ValueError("text contains a NUL byte")
    return text


def _color(color):
    # The library clamps each component to 0..255; clamping here as well keeps
    # large Python integers within a C int.
    red, green, blue = (min(max(int(c), 0), 255) for c in color)
    return red, green, blue


def _check_output(input, output):
    # A refused text redaction removes the file at the output path: never let
    # that file be the input.
    try:
        same = os.path.samefile(input, output)
    except OSError:
        return
    if same:
        raise InkveilError("the output is the input file; choose another output path")


def redact_text(input, output, text, color=(0, 0, 0)):
    """Blanks every occurrence of `text` (ASCII letters without regard to case),
    paints a box of `color` (red, green, blue, 0..255) over each, removes hidden
    information and writes `output`. Raises InkveilError."""
    source, target = _path(input, "input"), _path(output, "output")
    search = _text(text)
    red, green, blue = _color(color)
    _check_output(source, target)
    ok, error = _call("inkveil_text", source, target, search, red, green, blue)
    if not ok:
        raise InkveilError(error)


def redact_regions(input, output, regions, color=(0, 0, 0)):
    """Blanks the text inside each (page, x, y, width, height) rectangle, pages
    counted from 1, paints a box of `color` over each, removes hidden
    information and writes `output`. Raises InkveilError."""
    source, target = _path(input, "input"), _path(output, "output")
    rows = [tuple(r) for r in regions]
    for row in rows:
        if len(row) != 5:
            raise ValueError("a region is (page, x, y, width, height), got %r" % (row,))
    array = (_Region * max(len(rows), 1))(*(_Region(*map(float, row)) for row in rows))
    red, green, blue = _color(color)
    _check_output(source, target)
    ok, error = _call("inkveil_regions", source, target, array, len(rows), red, green, blue)
    if not ok:
        raise InkveilError(error)


def count_matches(input, text):
    """The number of occurrences of `text` that redact_text would redact.
    Raises InkveilError."""
    count, error = _call("inkveil_count_matches", _path(input, "input"), _text(text))
    if count < 0:
        raise InkveilError(error)
    return count
