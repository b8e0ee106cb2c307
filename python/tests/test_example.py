import subprocess
import sys

import kestrel_sc as k


def test_mesh_example_scales_the_ring(examples, tmp_path):
    out = tmp_path / "scaled.xml"
    run = subprocess.run([sys.executable, str(examples / "python" / "meshes.py"),
                          str(examples / "meshes.xml"), str(out)],
                         capture_output=True, text=True, check=True)
    assert "figure/ring@mesh: 2048 vertices" in run.stdout
    before = k.load(examples / "meshes.xml")["ring@mesh"].vertices
    assert (k.load(out)["ring@mesh"].vertices == before * 2).all()
