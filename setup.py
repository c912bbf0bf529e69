"""Builds and installs the Python module vtsnap from a checkout, with
Debian's setuptools and pybind11 and nothing from a package registry:

    pip install --no-build-isolation .

The extension is compiled here from the library's sources (the files that
CMake's vtsnap_library takes from terminal/ and snapshot/) and the binding.
"""

import glob
import re

from pybind11.setup_helpers import Pybind11Extension, build_ext
from setuptools import setup

# The version is the project's, as CMake declares it.
VERSION = re.search(r"project\(vtsnap VERSION ([0-9.]+)", open("CMakeLists.txt").read()).group(1)

LIBRARY = sorted(glob.glob("terminal/*.cpp")) + [
    "snapshot/asciicast.cpp", "snapshot/render.cpp", "snapshot/page.cpp", "snapshot/emulator.cpp"]

setup(
    name="vtsnap",
    version=VERSION,
    description="vtsnap's terminal emulator: a program's screen, as xterm shows it, in-process",
    packages=["vtsnap"],
    package_dir={"": "python"},
    ext_modules=[Pybind11Extension("vtsnap._vtsnap", ["python/module.cpp"] + LIBRARY, include_dirs=[".", "include"],
                                   cxx_std=20, extra_compile_args=["-O3"])],
    cmdclass={"build_ext": build_ext},
    python_requires=">=3.9",
    zip_safe=False,
    # setuptools' own work goes inside CMake's build tree, out of its way.
    options={"build": {"build_base": "build/setuptools"}},
)
