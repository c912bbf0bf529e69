"""Builds and installs the Python module vtsnap from a checkout, with
Debian's setuptools and pybind11 and nothing from a package registry:

    pip install --no-build-isolation .

The extension is compiled here from the library's sources, the files that
CMake's vtsnap_library takes from terminal/ and snapshot/ (read from their
CMakeLists.txt), and the binding.
"""

import os
import re

from pybind11.setup_helpers import ParallelCompile, Pybind11Extension, build_ext
from setuptools import setup

# One compiler per CPU.
ParallelCompile().install()

# The version is the project's, as CMake declares it.
VERSION = re.search(r"project\(vtsnap VERSION ([0-9.]+)", open("CMakeLists.txt").read()).group(1)


def library_sources(folder):
    """The sources `target_sources(vtsnap_library PRIVATE ...)` adds in `folder`."""
    lists = open(os.path.join(folder, "CMakeLists.txt")).read()
    blocks = re.findall(r"target_sources\(vtsnap_library PRIVATE([^)]*)\)", lists)
    return [os.path.join(folder, name) for block in blocks for name in re.sub(r"#.*", "", block).split()]


LIBRARY = library_sources("terminal") + library_sources("snapshot")

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
    # setuptools' own work goes inside CMake's build tree, out of its way, and
    # is done afresh each time: it would keep objects whose headers changed.
    options={"build": {"build_base": "build/setuptools", "force": True}},
)
