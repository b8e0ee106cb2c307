"""Content files of the serialized-content module from Python.

Trees load through the module as the platform loads them (kestrel::Load); numeric arrays come as
NumPy arrays of their exact dtype, shape meshes and images as views of the loaded memory.
"""

from __future__ import annotations

import json as _json
import os as _os
from typing import NamedTuple as _NamedTuple

import numpy as _np

from . import _core
from ._core import Element, Property, Shape

__all__ = [
    "load", "loads", "save", "dumps", "from_json", "to_json", "Element", "Property", "Shape",
    "Color", "Point2", "Point3", "Vec2", "Vec3", "Quaternion", "Location", "TYPE_NAMES",
    "Error", "NotFoundError", "NotRegularFileError", "DirectoryError", "UnreadableError",
    "MalformedError", "InvalidError", "ModuleUnavailableError", "LoadFailedError",
    "NotSavableError", "WriteFailedError", "ValueTypeError", "ValueRangeError", "ValueOverflowError", "PathError", "IndexOutOfRangeError",
]


class Error(Exception):
    """A failure of the kestrel library: code, message, path, line and column where known."""

    def __init__(self, description, code="Internal", message="", path="", line=0, column=0,
                 offset=0, place="", module_message=""):
        super().__init__(description)
        self.code = code
        self.message = message or description
        self.path = path
        self.line = line
        self.column = column
        self.offset = offset
        self.place = place
        self.module_message = module_message

    def __str__(self):
        return self.args[0] if self.args else self.message


class NotFoundError(Error, FileNotFoundError):
    """The file, or a directory on its path, does not exist."""


class NotRegularFileError(Error, OSError):
    """A FIFO, device or other non-regular file where a file was expected."""


class DirectoryError(NotRegularFileError, IsADirectoryError):
    """A directory where a file was expected."""


class UnreadableError(Error, OSError):
    """The file exists but cannot be opened or read."""


class MalformedError(Error, ValueError):
    """Not well-formed XML or JSON; line, column and offset say where."""


class InvalidError(Error, ValueError):
    """Well-formed JSON that is no content tree; place is the JSON Pointer of the value."""


class ModuleUnavailableError(Error):
    """The module library cannot be opened or makes no content loader."""


class LoadFailedError(Error):
    """The module refused the file for a reason not known more closely."""


class NotSavableError(Error, ValueError):
    """The tree cannot be written faithfully as a content file."""


class WriteFailedError(Error, OSError):
    """The output file cannot be created, written or renamed into place."""


class ValueTypeError(Error, TypeError):
    """A value of the wrong type for a property, or an argument of the wrong type."""


class ValueRangeError(Error, ValueError):
    """A value out of range or of the wrong form for its type."""


class ValueOverflowError(ValueRangeError, OverflowError):
    """An integer out of the range of the property's type."""


class PathError(Error, KeyError):
    """No element or property at a path."""

    def __str__(self):
        return Error.__str__(self)


class IndexOutOfRangeError(Error, IndexError):
    """An index out of range."""


_BY_CODE = {
    "NotFound": NotFoundError, "NotRegularFile": NotRegularFileError,
    "Unreadable": UnreadableError, "Malformed": MalformedError, "Invalid": InvalidError,
    "ModuleUnavailable": ModuleUnavailableError, "LoadFailed": LoadFailedError,
    "NotSavable": NotSavableError, "WriteFailed": WriteFailedError,
}
_BY_KIND = {
    "TypeError": ValueTypeError, "ValueError": ValueRangeError,
    "OverflowError": ValueOverflowError, "KeyError": PathError, "IndexError": IndexOutOfRangeError,
}


def _make_error(code, message, path, line, column, offset, place, module_message, description,
                kind):
    cls = _BY_KIND.get(kind) or _BY_CODE.get(code, Error)
    if cls is NotRegularFileError and path and _os.path.isdir(path):
        cls = DirectoryError
    return cls(description, code, message, path, line, column, offset, place, module_message)


class Color(_NamedTuple):
    """An RGBA colour of 8-bit channels; str() and hex give "#rrggbbaa"."""

    r: int
    g: int
    b: int
    a: int = 255

    @property
    def rgba(self) -> tuple[int, int, int, int]:
        return (self.r, self.g, self.b, self.a)

    @property
    def hex(self) -> str:
        return "#%02x%02x%02x%02x" % self.rgba

    @classmethod
    def from_hex(cls, text: str) -> "Color":
        """Parses "#rrggbbaa" or "#rrggbb"; ValueError for anything else."""
        digits = text[1:] if text.startswith("#") else ""
        if len(digits) not in (6, 8):
            raise ValueRangeError(f"'{text}' is not a colour of the form #rrggbb or #rrggbbaa")
        try:
            channels = [int(digits[i:i + 2], 16) for i in range(0, len(digits), 2)]
        except ValueError:
            raise ValueRangeError(
                f"'{text}' is not a colour of the form #rrggbb or #rrggbbaa") from None
        return cls(*channels)

    def __str__(self):
        return self.hex


class Point2(_NamedTuple):
    """A 2-D point (dpoint2d)."""
    x: float
    y: float


class Point3(_NamedTuple):
    """A 3-D point (dpoint3d, fpoint3d)."""
    x: float
    y: float
    z: float


class Vec2(_NamedTuple):
    """A 2-D vector (dvec2)."""
    x: float
    y: float


class Vec3(_NamedTuple):
    """A 3-D vector (dvec3, fvec3)."""
    x: float
    y: float
    z: float


class Quaternion(_NamedTuple):
    """A rotation x i + y j + z k + w (quat); the identity is (0, 0, 0, 1)."""
    x: float = 0.0
    y: float = 0.0
    z: float = 0.0
    w: float = 1.0


class Location(_NamedTuple):
    """A placement: scale, then rotation, then translation to position (location)."""
    position: Point3 = Point3(0.0, 0.0, 0.0)
    rotation: Quaternion = Quaternion()
    scale: float = 1.0


_core._register(_make_error, {
    "color": Color, "dpoint2d": Point2, "dpoint3d": Point3, "fpoint3d": Point3, "dvec2": Vec2,
    "dvec3": Vec3, "fvec3": Vec3, "quat": Quaternion, "location": Location,
})

TYPE_NAMES: tuple[str, ...] = tuple(_core.type_names())

_CLASS_TYPES = {Color: "color", Point2: "dpoint2d", Point3: "dpoint3d", Vec2: "dvec2",
                Vec3: "dvec3", Quaternion: "quat", Location: "location"}
_DTYPE_TYPES = {"bool": "bool", "int8": "int8", "uint8": "uint8", "int16": "int16",
                "uint16": "uint16", "int32": "int32", "uint32": "uint32", "int64": "int64",
                "uint64": "uint64", "float32": "float", "float64": "double"}


def _infer_type(value) -> str:
    """The property type a Python value gets when none is given."""
    if isinstance(value, bool) or isinstance(value, _np.bool_):
        return "bool"
    if isinstance(value, int):
        return "int32" if -2**31 <= value < 2**31 else "int64" if value < 2**63 else "uint64"
    if isinstance(value, float):
        return "double"
    if isinstance(value, str):
        return "string"
    if isinstance(value, Shape):
        return "shape"
    if type(value) in _CLASS_TYPES:
        return _CLASS_TYPES[type(value)]
    if isinstance(value, _np.generic):
        return _DTYPE_TYPES.get(value.dtype.name) or _fail_infer(value)
    if isinstance(value, _np.ndarray):
        name = value.dtype.name
        if value.ndim == 1 and name in _DTYPE_TYPES:
            return _DTYPE_TYPES[name] + "[]"
        if value.ndim == 2 and name == "float64" and value.shape[1] == 2:
            return "dpoint2d[]"
        if value.ndim == 2 and value.shape[1] == 3 and name in ("float64", "float32"):
            return "dpoint3d[]" if name == "float64" else "fpoint3d[]"
        if value.ndim == 3 and name == "uint8" and value.shape[2] in (3, 4):
            return "image"
        return _fail_infer(value)
    if isinstance(value, (list, tuple)) and value:
        first = _infer_type(value[0])
        if first in ("string", "color", "shape", "bool", "dpoint2d", "dpoint3d", "location",
                     "quat", "dvec2", "dvec3"):
            return first + "[]"
        if first in ("int32", "int64", "uint64"):
            return "int64[]"
        if first == "double":
            return "double[]"
    return _fail_infer(value)


def _fail_infer(value):
    raise ValueTypeError(f"no property type for {type(value).__name__}: give type=")



def _add_property(self, name: str, value, type: str | None = None) -> Property:
    if type is not None and type not in TYPE_NAMES:
        raise ValueRangeError(f"'{type}' is no property type")
    return self._add_property(name, value, type or _infer_type(value))


def _set(self, path: str, value, type: str | None = None) -> None:
    element_path, _, name = path.rpartition("@")
    if "@" not in path:
        raise ValueTypeError("only properties can be set: give a path with @name")
    exists = name in (p.name for p in self[element_path].properties)
    self._set(path, value, "bool" if exists else (type or _infer_type(value)))


def _get(self, path: str, default=None):
    try:
        return self[path]
    except PathError:
        return default


def _find_properties(self, name: str) -> list[Property]:
    return [p for p in self.properties if p.name == name]


def _remove_property(self, key) -> None:
    if isinstance(key, str):
        for index, p in enumerate(self.properties):
            if p.name == key:
                return Element._remove_property_at(self, index)
        raise PathError(f"'{self.path}' has no property '{key}'", "NotFound")
    return Element._remove_property_at(self, key)


Element._remove_property_at = Element.remove_property
Element.remove_property = _remove_property
Element.__setitem__ = lambda self, path, value: _set(self, path, value)
Element.set = _set
Element.add_property = _add_property
Element.get = _get
Element.find_properties = _find_properties
Element.__str__ = Element.__repr__


def _fspath(path) -> str:
    return _os.fsdecode(_os.fspath(path))


def load(path) -> Element:
    """Loads a content file through the module, as the platform does (kestrel::Load)."""
    return _core._load(_fspath(path))


def loads(text: str | bytes) -> Element:
    """Reads content file text (str or UTF-8 bytes) with the module's reader."""
    if isinstance(text, str):
        text = text.encode("utf-8")
    return _core._loads(text)


def save(tree: Element, path, *, indent: int = 2, strict: bool = False) -> None:
    """Writes tree as a content file at path, replaced atomically."""
    _core._save(tree, _fspath(path), indent, strict)


def dumps(tree: Element, *, indent: int = 2, strict: bool = False) -> str:
    """The content file text save would write."""
    return _core._dumps(tree, indent, strict).decode("utf-8")


def to_json(tree: Element):
    """The canonical JSON form of tree as Python objects (dicts, lists, str, numbers)."""
    return _json.loads(_core._write_json(tree, 0))


def from_json(obj) -> Element:
    """Builds a tree from the canonical JSON form: Python objects, or JSON text."""
    text = obj if isinstance(obj, (str, bytes)) else _json.dumps(obj, allow_nan=False)
    return _core._read_json(text)
