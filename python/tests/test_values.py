import math
import struct

import numpy as np
import pytest

import kestrel_sc as k


def f32(x):
    return struct.unpack("<f", struct.pack("<f", x))[0]


# One row per type: the value set, and what reading it back must give.
ROWS = [
    ("bool", True),
    ("int8", -128), ("uint8", 255), ("int16", -32768), ("uint16", 65535),
    ("int32", -2**31), ("uint32", 2**32 - 1), ("int64", -2**63), ("uint64", 2**64 - 1),
    ("float", f32(0.1)), ("float", -0.0), ("float", f32(3.4028234663852886e38)),
    ("double", 0.1), ("double", -0.0), ("double", 5e-324), ("double", math.inf),
    ("string", "Left & right <é> \u2603"),
    ("color", k.Color(255, 128, 0, 17)),
    ("dpoint2d", k.Point2(10.0, -20.5)), ("dpoint3d", k.Point3(0.001, 0.002, 0.003)),
    ("fpoint3d", k.Point3(0.5, f32(0.1), -1.0)), ("dvec2", k.Vec2(0.25, 0.75)),
    ("dvec3", k.Vec3(0.0, 0.0, 1.0)), ("fvec3", k.Vec3(1.5, -2.0, 0.0)),
    ("quat", k.Quaternion(0.0, 0.0, f32(0.7071067811865476), f32(0.7071067811865476))),
    ("location", k.Location(k.Point3(1.0, 2.0, 3.0), k.Quaternion(0.0, 0.0, 0.6, 0.8), 2.0)),
    ("bool[]", np.array([True, False, True])),
    ("uint32[]", np.array([0, 7, 2**32 - 1], dtype=np.uint32)),
    ("float[]", np.array([0.2, -0.0, 3e38], dtype=np.float32)),
    ("double[]", np.array([0.1, -0.0, 1e308, math.inf], dtype=np.float64)),
    ("string[]", ["steel", "", "p&q"]),
    ("color[]", [k.Color(1, 2, 3, 4), k.Color(255, 255, 255, 0)]),
    ("dpoint2d[]", np.array([[0.0, 0.0], [1.5, -2.0]])),
]

# Types only trees and JSON hold: JSON round trips, XML drops them.
JSON_ONLY = [
    ("dhex", 0xDEADBEEF00112233),
    ("int16[]", np.array([-5, 7], dtype=np.int16)),
    ("uint64[]", np.array([0, 2**64 - 1], dtype=np.uint64)),
    ("dpoint3d[]", np.array([[1.0, 2.0, 3.0]])),
    ("fpoint3d[]", np.array([[1.0, 2.5, 3.0]], dtype=np.float32)),
    ("location[]", np.array([[1, 2, 3, 0, 0, 0, 1, 2.0]])),
]


def same(a, b):
    if isinstance(a, np.ndarray):
        return isinstance(b, np.ndarray) and a.dtype == b.dtype and a.shape == b.shape and \
            a.tobytes() == b.tobytes()
    if isinstance(a, float):
        return struct.pack("<d", a) == struct.pack("<d", b)
    return type(a) is type(b) and a == b


def tree_with(type_name, value):
    tree = k.Element()
    tree.add_child("e").add_property("v", value, type=type_name)
    return tree


@pytest.mark.parametrize("type_name,value", ROWS, ids=[r[0] + str(i) for i, r in enumerate(ROWS)])
@pytest.mark.parametrize("via", ["xml", "file", "json"])
def test_round_trip(type_name, value, via, tmp_path):
    tree = tree_with(type_name, value)
    if via == "xml":
        back = k.loads(k.dumps(tree))
    elif via == "file":
        k.save(tree, tmp_path / "t.xml")
        back = k.load(tmp_path / "t.xml")
    else:
        back = k.from_json(k.to_json(tree))
    prop = back["e"].properties[0]
    assert prop.type == type_name
    assert same(value, prop.value), (value, prop.value)


@pytest.mark.parametrize("type_name,value", JSON_ONLY, ids=[r[0] for r in JSON_ONLY])
def test_json_only_types(type_name, value):
    back = k.from_json(k.to_json(tree_with(type_name, value)))
    assert same(value, back["e@v"]) or same(np.asarray(value), back["e@v"])
    assert "<kestrel_sc:e/>" in k.dumps(tree_with(type_name, value), indent=0)


def test_nan_payload_kept_in_doubles_as_far_as_json_and_xml_carry_nan():
    nan = struct.unpack("<d", struct.pack("<Q", 0x7FF8000000000001))[0]
    back = k.loads(k.dumps(tree_with("double", nan)))["e@v"]
    assert math.isnan(back)
    arr = np.array([nan, -0.0], dtype=np.float64)
    got = k.loads(k.dumps(tree_with("double[]", arr)))["e@v"]
    assert math.isnan(got[0]) and math.copysign(1, got[1]) == -1


def test_color_forms():
    c = k.Color.from_hex("#1f6fb2ff")
    assert c.rgba == (0x1F, 0x6F, 0xB2, 0xFF) and str(c) == "#1f6fb2ff"
    r, g, b, a = c
    assert (r, g, b, a) == c.rgba
    tree = tree_with("color", "#01020304")
    assert tree["e@v"] == k.Color(1, 2, 3, 4)


def test_compounds_unpack_like_tuples():
    (x, y, z), (qx, qy, qz, qw), scale = k.Location(k.Point3(1, 2, 3), k.Quaternion(), 4)
    assert (x, y, z, qw, scale) == (1, 2, 3, 1.0, 4)


def test_type_table_is_whole():
    assert set(k.TYPE_NAMES) >= {r[0] for r in ROWS + JSON_ONLY}
    assert "shape" in k.TYPE_NAMES and "image" in k.TYPE_NAMES and "shape[]" in k.TYPE_NAMES


@pytest.mark.parametrize("value,type_name", [
    (True, "bool"), (5, "int32"), (2**40, "int64"), (2**64 - 1, "uint64"), (0.5, "double"),
    ("s", "string"), (k.Color(1, 2, 3), "color"), (k.Point3(1, 2, 3), "dpoint3d"),
    (np.zeros(3, np.float32), "float[]"), (np.zeros((2, 2)), "dpoint2d[]"),
    (np.zeros((2, 2, 4), np.uint8), "image"), (["a"], "string[]"),
])
def test_type_inferred(value, type_name):
    assert k.Element().add_property("p", value).type == type_name
