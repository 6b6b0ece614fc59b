"""Exceptions of the lineharvest package.

Every error the package raises derives from :class:`HarvestError` and from
the built-in exception Python code expects for its cause, so that
``except ValueError`` and ``except lineharvest.HarvestError`` both work.
``kind`` is the short name the MEX modules put after ``lineharvest:`` in
their error identifiers (``"badPairIndex"``, ``"gridFile"``, ...).
"""


class HarvestError(Exception):
    """Base class of the package's errors; ``kind`` names the cause."""

    kind = "internal"

    def __init__(self, message="", kind=None):
        super().__init__(message)
        if kind is not None:
            self.kind = kind


class ArgumentTypeError(HarvestError, TypeError):
    """An argument of the wrong type or dtype (kind ``notRealDouble``, ...)."""

    kind = "notRealDouble"


class InputError(HarvestError, ValueError):
    """An argument with a bad shape, count, index or value."""

    kind = "badScalar"


class FileError(HarvestError, OSError):
    """A file that cannot be read or written (kind ``gridFile``, ``outputFile``)."""

    kind = "gridFile"

    def __init__(self, message="", kind=None, filename=None):
        HarvestError.__init__(self, message, kind)
        self.filename = filename

    def __str__(self):
        return str(self.args[0]) if self.args else ""

    def __reduce__(self):
        return (type(self), (str(self), self.kind, self.filename))


class GridTokenError(InputError):
    """A grid cell file token that is not a decimal int.

    ``reason`` is exactly ``"invalid stoi argument"`` or
    ``"stoi argument out of range"``; ``path`` names the file (or the name
    given to the text it was read from), ``line`` is the 1-based line,
    ``cell`` the 0-based grid cell (line - 1) and ``token`` the token.
    """

    kind = "gridToken"

    def __init__(self, message="", reason="", path="", line=0, token=""):
        InputError.__init__(self, message, "gridToken")
        self.reason = reason
        self.path = path
        self.line = line
        self.cell = line - 1
        self.token = token

    def __reduce__(self):
        return (type(self), (self.args[0] if self.args else "", self.reason, self.path, self.line, self.token))


class ImageTooLargeError(InputError):
    """An image with more pixels than the matcher's limit (``max_pixels``),
    refused from its header before it is decoded."""

    kind = "imageTooLarge"


class OutOfMemoryError(HarvestError, MemoryError):
    """An allocation failed inside the core."""

    kind = "outOfMemory"


class InternalError(HarvestError, RuntimeError):
    """A failure inside the computation that no argument explains."""

    kind = "internal"
