import json
import os

import numpy as np
import pytest

import kestrel_sc as k


def test_element_navigation(examples):
    tree = k.load(examples / "assembly.xml")
    assert tree.name == "figure" and len(tree) == len(tree.children) == 1
    bicycle = tree["bicycle"]
    assert [c.name for c in bicycle] == ["frame", "wheels"]
    assert bicycle[0] == tree["bicycle/frame"] == tree["/figure/bicycle/frame"]
    assert bicycle[-1].path == "figure/bicycle/wheels"
    assert tree["bicycle/frame@mass"] == 1.85
    assert [p.name for p in bicycle.properties] == ["title", "revision", "paint"]
    assert bicycle.properties[1].type == "int32" and bicycle.properties[1].value == 7
    assert "bicycle/frame@mass" in tree and "bicycle/nothing" not in tree
    assert tree.get("bicycle@nothing", 3) == 3
    assert bicycle.parent == tree and tree.parent is None
    text = repr(tree)
    assert "bicycle" in text and "@mass: double = 1.85" in text


@pytest.mark.parametrize("path,message", [
    ("bicycle/saddle", "no element at 'bicycle/saddle'"),
    ("bicycle/frame@colour", "'figure/bicycle/frame' has no property 'colour'"),
])
def test_missing_paths(examples, path, message):
    tree = k.load(examples / "assembly.xml")
    with pytest.raises(k.PathError) as caught:
        tree[path]
    assert isinstance(caught.value, KeyError) and str(caught.value) == message


def test_editing():
    tree = k.Element()
    part = tree.add_child("part")
    part["@mass"] = 2.5
    part.add_property("count", 3, type="uint16")
    part["@count"] = 4
    assert part["@count"] == 4 and part.properties[1].type == "uint16"
    part.properties[1].value = 5
    assert tree["part@count"] == 5
    tree["part@name"] = "bolt"
    assert tree["part"].properties[-1].type == "string"
    del tree["part@mass"]
    assert [p.name for p in part.properties] == ["count", "name"]
    part.remove_property("name")
    part.remove_property(0)
    assert part.properties == []
    assert k.loads(k.dumps(tree))["part"].name == "part"


def test_removed_children_stay_valid():
    tree = k.Element()
    a, b, c = (tree.add_child(name) for name in "abc")
    inner = b.add_child("inner")
    inner["@x"] = 1.5
    removed = tree.remove_child(1)
    assert removed == b and removed.parent is None and removed.path == "b"
    assert [e.name for e in tree.children] == ["a", "c"]
    del tree
    assert inner["@x"] == 1.5 and inner.path == "b/inner"
    tree = a.parent
    del tree["c"]
    assert tree.remove_child(-1) == a and len(tree) == 0
    with pytest.raises(IndexError):
        tree.remove_child(0)
    with pytest.raises(ValueError):
        tree.remove_child(inner)
    with pytest.raises(ValueError):
        del inner[""]


@pytest.mark.parametrize("type_name,value,error", [
    ("uint8", 256, k.ValueOverflowError), ("int32", "1", k.ValueTypeError),
    ("int32", 1.5, k.ValueTypeError), ("bool", 1, k.ValueTypeError),
    ("string", 3, k.ValueTypeError), ("color", "#12345", k.ValueRangeError),
    ("float[]", np.zeros(2, np.float64), k.ValueTypeError), ("dpoint3d", (1, 2), k.ValueTypeError),
    ("image", np.zeros((2, 2, 2), np.uint8), k.ValueTypeError), ("shape", 5, k.ValueTypeError),
    ("no-such-type", 1, k.ValueRangeError),
])
def test_type_checks(type_name, value, error):
    with pytest.raises(error):
        k.Element().add_property("p", value, type=type_name)


def test_setting_keeps_the_type():
    element = k.Element()
    element.add_property("n", 1, type="int8")
    with pytest.raises(k.ValueOverflowError):
        element["@n"] = 1000
    with pytest.raises(TypeError):
        element["@n"] = "x"
    assert element["@n"] == 1


def test_json_forms(examples):
    tree = k.load(examples / "assembly.xml")
    obj = k.to_json(tree)
    assert obj["name"] == "figure" and obj["children"][0]["name"] == "bicycle"
    assert k.dumps(k.from_json(obj)) == k.dumps(tree)
    assert k.dumps(k.from_json(json.dumps(obj))) == k.dumps(tree)


def test_save_is_atomic_and_takes_path_like(examples, tmp_path):
    target = tmp_path / "out.xml"
    target.write_text("old")
    tree = k.load(examples / "assembly.xml")
    k.save(tree, target)
    assert k.dumps(k.load(str(target))) == k.dumps(tree)
    assert os.listdir(tmp_path) == ["out.xml"]


@pytest.mark.parametrize("make,error,code,where", [
    (lambda d: k.load(d / "missing.xml"), FileNotFoundError, "NotFound", None),
    (lambda d: k.load(d), IsADirectoryError, "NotRegularFile", None),
    (lambda d: k.loads("<a>\n <b></a>"), k.MalformedError, "Malformed", (2, 5)),
    (lambda d: k.from_json("{"), k.MalformedError, "Malformed", (1, 2)),
    (lambda d: k.from_json({"name": "f", "x": 1}), k.InvalidError, "Invalid", None),
    (lambda d: k.save(k.Element(), d / "no" / "dir.xml"), k.WriteFailedError, "WriteFailed", None),
    (lambda d: k.dumps(_unsavable()), k.NotSavableError, "NotSavable", None),
    (lambda d: k.save(k.Element(), ""), k.Error, "InvalidArgument", None),
    (lambda d: k.load(_unreadable(d)), k.UnreadableError, "Unreadable", None),
])
def test_error_kinds(tmp_path, make, error, code, where):
    with pytest.raises(error) as caught:
        make(tmp_path)
    assert isinstance(caught.value, k.Error) and caught.value.code == code
    assert str(caught.value)
    if where:
        assert (caught.value.line, caught.value.column) == where


def _unsavable():
    tree = k.Element()
    tree.add_property("top", 1)
    return tree


def _unreadable(directory):
    path = directory / "secret.xml"
    path.write_text("<figure/>")
    path.chmod(0)
    if os.access(path, os.R_OK):  # root reads anything
        pytest.skip("running as root: every file is readable")
    return path


def test_file_errors_name_the_file(tmp_path):
    with pytest.raises(k.NotFoundError) as caught:
        k.load(tmp_path / "missing.xml")
    assert caught.value.path == str(tmp_path / "missing.xml")
    assert str(tmp_path / "missing.xml") in str(caught.value)
