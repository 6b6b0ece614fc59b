"""The Python example of the documentation runs as written and prints what its
comment says."""

import os
import re
import subprocess
import sys

import lineharvest
from conftest import REPO

MARKER = "<!-- python-example -->"


def example_code():
    for doc in (REPO / "README.md", *sorted((REPO / "docs").glob("*.md"))):
        if doc.is_file() and MARKER in doc.read_text():
            text = doc.read_text().split(MARKER, 1)[1]
            return re.search(r"```python\n(.*?)```", text, re.S).group(1)
    raise AssertionError(f"no block marked {MARKER} in README.md or docs/")


def test_readme_example_runs_as_written(tmp_path):
    # The example uses paths relative to the repository root and writes a
    # file into the working folder: run it in a scratch folder that links
    # to the example data.
    os.symlink(REPO / "example", tmp_path / "example")
    # The same package the tests import.
    package_parent = os.path.dirname(os.path.dirname(os.path.abspath(lineharvest.__file__)))
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(filter(None, [package_parent, os.environ.get("PYTHONPATH")])))
    run = subprocess.run([sys.executable, "-c", example_code()], cwd=tmp_path, capture_output=True, text=True,
                         timeout=300, env=env)
    assert run.returncode == 0, run.stderr
    assert run.stdout.startswith("629 correspondences; first (i, w, r): [  1   6 101]"), run.stdout
    assert len((tmp_path / "Addcandidates.txt").read_text().splitlines()) == 629
