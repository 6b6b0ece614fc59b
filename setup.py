"""Build of the lineharvest Python package: one pybind11 extension module
(lineharvest._core) compiled from the binding sources in python/src and the
plain C++ cores of lineharvest and coordsift, linked against the system's
OpenCV core library.

When OpenCV's line_descriptor (contrib), calib3d, features2d, imgcodecs and
imgproc are installed, the two-image line matcher (matcher/) is compiled in
as well and
lineharvest.match_images exists; without them the package builds without
it. LINEHARVEST_MATCHER=1 makes a missing module an error, =0 leaves the
matcher out.

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

# What the line matcher links, as the CMake build of linematch does.
MATCHER_OPENCV_MODULES = ["line_descriptor", "calib3d", "features2d", "flann", "imgcodecs", "imgproc"]
# The matcher's library sources: everything but the commands' entry points
# and the image warping, which only the commands use.
MATCHER_SOURCES = [
    "segments.cpp",
    "descriptor_seeds.cpp",
    "line_geometry.cpp",
    "seed_checks.cpp",
    "transfer_round.cpp",
    "matcher.cpp",
    "evaluation.cpp",
    "neighbour_verification.cpp",
    "one_line_rule.cpp",
    "ground_truth.cpp",
    "pair_records.cpp",
    "spatial_index.cpp",
    "point_seeds.cpp",
    "match_confidence.cpp",
    "seed_sources.cpp",
    "image_scale.cpp",
    "image_features.cpp",
    "feature_cache.cpp",
    # The front-end layer every front end shares: options, image files,
    # homographies, scores.
    "matcher_options.cpp",
    "image_header.cpp",
    "image_input.cpp",
    "homography_file.cpp",
    "result_scores.cpp",
    # The command's run into a folder (match_pairs): its output set, files,
    # picture, report and ground-truth-seeded comparison run.
    "folder_run.cpp",
    "output_set.cpp",
    "output_files.cpp",
    "match_picture.cpp",
    "match_report.cpp",
    "upper_bound.cpp",
]


def library_present(module):
    names = [f"libopencv_{module}.so"]
    places = opencv_libdirs + ["/usr/lib/x86_64-linux-gnu", "/usr/lib", "/usr/local/lib", "/usr/lib64"]
    places += glob.glob("/usr/lib/*-linux-gnu")
    return any(os.path.exists(os.path.join(d, n)) for d in places for n in names)


def matcher_wanted():
    """Whether to compile the line matcher in (see the module docstring)."""
    choice = os.environ.get("LINEHARVEST_MATCHER", "auto")
    if choice == "0":
        return False
    missing = [m for m in MATCHER_OPENCV_MODULES if not library_present(m)]
    if not os.path.isfile(os.path.join(opencv_include, "opencv2", "line_descriptor.hpp")):
        missing.append("line_descriptor headers")
    if missing and choice == "1":
        raise RuntimeError(
            "LINEHARVEST_MATCHER=1 but OpenCV modules are missing: " + ", ".join(missing) +
            " (Debian: libopencv-contrib-dev libopencv-imgcodecs-dev libopencv-calib3d-dev)"
        )
    return not missing


with_matcher = matcher_wanted()

def headers():
    found = []
    for pattern in ("include/**/*.hpp", "lineharvest/*.hpp", "coordsift/*.hpp", "python/src/*.hpp",
                    "matcher/include/**/*.hpp"):
        found += glob.glob(os.path.join(ROOT, pattern), recursive=True)
    return relative(found)


binding_sources = glob.glob(os.path.join(ROOT, "python", "src", "*.cpp"))
include_dirs = ["include", opencv_include]
libraries = ["opencv_core"]
macros = []
if with_matcher:
    binding_sources += [os.path.join(ROOT, "matcher", "src", name) for name in MATCHER_SOURCES]
    include_dirs += ["matcher/include"]
    # libjpeg: the check that a JPEG file is whole.
    libraries = ["opencv_" + m for m in MATCHER_OPENCV_MODULES] + ["jpeg"] + libraries
    macros.append(("LINEHARVEST_WITH_MATCHER", "1"))
else:
    binding_sources = [p for p in binding_sources
                       if os.path.basename(p) not in ("bind_matcher.cpp", "bind_match_folder.cpp")]

extension = Pybind11Extension(
    "lineharvest._core",
    sources=relative(binding_sources) + core_sources(),
    include_dirs=include_dirs,
    library_dirs=opencv_libdirs,
    libraries=libraries,
    define_macros=macros,
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
