import os
import pathlib

import pytest

EXAMPLES = pathlib.Path(os.environ.get(
    "KESTREL_EXAMPLES_DIR", pathlib.Path(__file__).resolve().parents[2] / "examples"))


@pytest.fixture
def examples():
    return EXAMPLES
