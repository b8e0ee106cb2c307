#!/usr/bin/env python3
"""Prints each mesh of examples/meshes.xml with its vertex count and bounding box, doubles the
ring and saves the document: python3 examples/python/meshes.py [IN] [OUT]."""

import pathlib
import sys

import numpy as np

import kestrel_sc

here = pathlib.Path(__file__).resolve().parent
source = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else here.parent / "meshes.xml"
target = pathlib.Path(sys.argv[2]) if len(sys.argv) > 2 else pathlib.Path("meshes-scaled.xml")

tree = kestrel_sc.load(source)


def walk(element):
    yield element
    for child in element:
        yield from walk(child)


for element in walk(tree):
    for prop in element.properties:
        if prop.type != "shape" or prop.value is None:
            continue
        vertices = prop.value.vertices  # (N, 3) float32, a view of the loaded mesh
        low, high = vertices.min(axis=0), vertices.max(axis=0)
        print(f"{element.path}@{prop.name}: {len(vertices)} vertices, "
              f"{len(prop.value.triangles)} triangles, box {np.round(low, 3)} .. {np.round(high, 3)}")

ring = tree["ring@mesh"]
ring.vertices[:] *= 2  # in place: the tree holds the scaled mesh
print(f"ring scaled by 2: box now {ring.vertices.min(axis=0)} .. {ring.vertices.max(axis=0)}")
kestrel_sc.save(tree, target)
print(f"saved {target}")
