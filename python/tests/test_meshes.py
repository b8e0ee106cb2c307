import gc
import sys
import threading

import numpy as np
import pytest

import kestrel_sc as k


def test_mesh_arrays_view_loaded_memory(examples):
    tree = k.load(examples / "meshes.xml")
    shape = tree["ring@mesh"]
    v, t = shape.vertices, shape.triangles
    assert v.dtype == np.float32 and v.shape == (2048, 3)
    assert t.dtype == np.uint32 and t.shape == (4096, 3)
    assert v.base is shape and t.base is shape  # no copy: a view kept alive by the shape
    assert not v.flags.owndata and not t.flags.writeable
    # Changing the view changes the tree.
    v[0] = (9, 8, 7)
    assert tuple(tree["ring@mesh"].vertices[0]) == (9, 8, 7)


def test_views_outlive_the_tree_objects(examples):
    vertices = k.load(examples / "meshes.xml")["primitives/cube@mesh"].vertices
    gc.collect()
    expected = np.array([[-0.5, -0.5, -0.5], [-0.5, -0.5, 0.5]], np.float32)
    assert np.array_equal(vertices[:2], expected)
    image = k.loads(k.dumps(_image_tree()))["e@img"]
    gc.collect()
    assert image[1, 2].tolist() == [1, 2, 3, 4]


def _image_tree():
    pixels = np.zeros((3, 4, 4), np.uint8)
    pixels[1, 2] = (1, 2, 3, 4)
    tree = k.Element()
    tree.add_child("e").add_property("img", pixels)
    return tree


@pytest.mark.parametrize("channels", [3, 4])
def test_image_round_trip(channels, tmp_path):
    pixels = np.arange(5 * 7 * channels, dtype=np.uint8).reshape(5, 7, channels)
    tree = k.Element()
    tree.add_child("e").add_property("img", pixels)
    k.save(tree, tmp_path / "i.xml")
    back = k.load(tmp_path / "i.xml")["e@img"]
    assert back.dtype == np.uint8 and back.shape == (5, 7, channels)
    assert np.array_equal(back, pixels)


def test_shape_from_numpy_round_trips(tmp_path):
    vertices = np.array([[0, 0, 0], [1, 0, 0], [0, 1, -0.0]], np.float32)
    shape = k.Shape(vertices, np.array([[0, 1, 2]], np.uint32))
    tree = k.Element()
    tree.add_child("m").add_property("mesh", shape)
    back = k.loads(k.dumps(tree))["m@mesh"]
    assert back.vertices.tobytes() == vertices.tobytes()
    assert back.triangles.tolist() == [[0, 1, 2]]
    assert k.from_json(k.to_json(tree))["m@mesh"].vertices.tobytes() == vertices.tobytes()


@pytest.mark.parametrize("vertices,triangles,message", [
    (np.zeros((3, 2)), np.zeros((1, 3)), "vertices must be an (N, 3) array"),
    (np.zeros((3, 3)), np.array([[0, 1, 3]]), "triangle index 3 is not below the vertex count 3"),
])
def test_bad_shapes(vertices, triangles, message):
    with pytest.raises(k.Error, match=message.replace("(", r"\(").replace(")", r"\)")):
        k.Shape(vertices, triangles)


def test_loading_in_many_threads(examples):
    results, errors = [], []

    def work():
        try:
            for _ in range(5):
                tree = k.load(examples / "meshes.xml")
                results.append(tree["ring@mesh"].vertices.sum())
        except Exception as error:  # pragma: no cover - reported below
            errors.append(error)

    threads = [threading.Thread(target=work) for _ in range(6)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert not errors and len(results) == 30 and len(set(results)) == 1


def test_threads_run_while_a_load_waits(examples, tmp_path):
    # Loads release the GIL: another thread's Python code runs meanwhile.
    ticks = []
    stop = threading.Event()

    def ticker():
        while not stop.is_set():
            ticks.append(1)
            stop.wait(0.0005)

    thread = threading.Thread(target=ticker)
    thread.start()
    for _ in range(20):
        k.load(examples / "meshes.xml")
    stop.set()
    thread.join()
    assert ticks
