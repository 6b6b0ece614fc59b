"""Build of the lineharvest Python package: one pybind11 extension module
(lineharvest._core) compiled from the binding sources in python/src and the
plain C++ cores of lineharvest and coordsift, linked against the system's
OpenCV core library.

OpenCV is found through pkg-config (opencv4) when it knows it, else in
Debian's places; OPENCV_INCLUDE_DIR and OPENCV_LIBRARY_DIR override both.
"""

import glob
import os
import shutil
import subprocess

from pybind11.setup_helpers import ParallelCompile, Pybind11Extension
from setuptools import setup

ROOT = os.path.dirname(os.path.abspath(__file__))


def relative(paths):
    # setuptools wants source paths relative to the project root.
    return sorted(os.path.relpath(p, ROOT) for p in paths)


def core_sources():
    """The core libraries' sources: everything in the two module folders
    except the MEX gateways."""
    sources = []
    for folder in ("lineharvest", "coordsift"):
        for path in glob.glob(os.path.join(ROOT, folder, "*.cpp")):
            if not os.path.basename(path).startswith("gateway"):
                sources.append(path)
    return relative(sources)


def opencv_flags():
    include = os.environ.get("OPENCV_INCLUDE_DIR")
    libdir = os.environ.get("OPENCV_LIBRARY_DIR")
    if include is None and shutil.which("pkg-config"):
        probe = subprocess.run(["pkg-config", "--cflags-only-I", "opencv4"], capture_output=True, text=True)
        if probe.returncode == 0:
            include = probe.stdout.strip()[2:].split(" -I")[0] or None
    if include is None:
        include = "/usr/include/opencv4"
    if not os.path.isfile(os.path.join(include, "opencv2", "core.hpp")):
        raise RuntimeError(
            f"OpenCV core headers not found in {include}; install libopencv-core-dev "
            "or set OPENCV_INCLUDE_DIR (and OPENCV_LIBRARY_DIR)"
        )
    return include, ([libdir] if libdir else [])


opencv_include, opencv_libdirs = opencv_flags()

def headers():
    found = []
    for pattern in ("include/**/*.hpp", "lineharvest/*.hpp", "coordsift/*.hpp", "python/src/*.hpp"):
        found += glob.glob(os.path.join(ROOT, pattern), recursive=True)
    return relative(found)


extension = Pybind11Extension(
    "lineharvest._core",
    sources=relative(glob.glob(os.path.join(ROOT, "python", "src", "*.cpp"))) + core_sources(),
    include_dirs=["include", opencv_include],
    library_dirs=opencv_libdirs,
    libraries=["opencv_core"],
    # A changed header rebuilds the module, not only a changed source.
    depends=headers(),
    cxx_std=17,
    # The same arithmetic as the MEX files (no fused multiply-adds) and the
    # optimisation of the CMake Release build.
    extra_compile_args=["-ffp-contract=off", "-O3", "-pthread"],
    extra_link_args=["-pthread"],
)

# Two cores here; more jobs only compete with the rest of the machine.
ParallelCompile("LINEHARVEST_BUILD_JOBS", default=2).install()

setup(
    ext_modules=[extension],
    # Keep setuptools' scratch files out of the CMake build folder.
    options={"build": {"build_base": "build/python-setuptools"}},
)
