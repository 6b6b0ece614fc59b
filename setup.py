"""Build of the lineharvest Python package: the extension module
lineharvest._core is the CMake target lineharvest_python (python/CMakeLists.txt),
which this file has CMake configure and build; CMake is the one description
of which sources make the cores, the matcher and the bindings.

When OpenCV's line_descriptor (contrib), calib3d, features2d, flann, imgcodecs and
imgproc are installed, the two-image line matcher (matcher/) is compiled in
as well and lineharvest.match_images exists; without them the package
builds without it. LINEHARVEST_MATCHER=1 makes a missing module an error,
=0 leaves the matcher out (CMake's LINEHARVEST_MATCHER ON, OFF; AUTO
otherwise).

OpenCV is found in the system's places; OPENCV_INCLUDE_DIR and
OPENCV_LIBRARY_DIR name others. LINEHARVEST_BUILD_JOBS is the number of
compiler jobs (2).
"""

import os
import shutil
import subprocess
import sys

import pybind11
from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = os.path.dirname(os.path.abspath(__file__))


class CMakeBuild(build_ext):
    """Builds each extension as the CMake target of the same module."""

    def build_extension(self, ext):
        cmake = shutil.which("cmake")
        if cmake is None:
            raise RuntimeError("cmake not found (Debian: cmake)")
        # The module goes where setuptools expects it; the CMake build folder
        # stays beside setuptools' own scratch files.
        output = os.path.dirname(os.path.abspath(self.get_ext_fullpath(ext.name)))
        build_dir = os.path.join(os.path.abspath(self.build_temp), "cmake")
        matcher = {"1": "ON", "0": "OFF"}.get(os.environ.get("LINEHARVEST_MATCHER", ""), "AUTO")
        subprocess.run(
            [cmake, "-S", ROOT, "-B", build_dir,
             # The optimisation of the command's build: the same results.
             "-DCMAKE_BUILD_TYPE=Release",
             "-DLH_BUILD_PYTHON=ON", "-DLH_BUILD_MEX=OFF", "-DLH_BUILD_TESTS=OFF",
             f"-DLINEHARVEST_MATCHER={matcher}",
             f"-DPYTHON_EXECUTABLE={sys.executable}",
             f"-Dpybind11_DIR={pybind11.get_cmake_dir()}",
             f"-DLH_PYTHON_OUTPUT_DIR={output}"],
            check=True,
        )
        # Two cores here; more jobs only compete with the rest of the machine.
        jobs = os.environ.get("LINEHARVEST_BUILD_JOBS", "2")
        subprocess.run([cmake, "--build", build_dir, "--target", "lineharvest_python", "-j", jobs], check=True)
        if not os.path.isfile(self.get_ext_fullpath(ext.name)):
            raise RuntimeError(f"CMake did not write {self.get_ext_fullpath(ext.name)}")


setup(
    # No sources here: CMake knows them.
    ext_modules=[Extension("lineharvest._core", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    # Keep setuptools' scratch files out of the CMake build folder.
    options={"build": {"build_base": "build/python-setuptools"}},
)
