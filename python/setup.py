"""Builds the kvd4093 package; pyproject.toml describes it.

The version is the project's (kvd4093/_version.py reads it from the
CMakeLists.txt above this folder); the build writes it as a plain value into
the package it makes, which no longer lies beside that file. A package that
carries the libraries (libkvd4093.so.1 and libkvd4093stream.so.1, or
KVD4093.dll and KVD4093Stream.dll, beside its modules, as make package puts
them there) is a wheel of one platform, py3-none-PLATFORM:
this machine's, unless bdist_wheel's --plat-name names another (win_amd64
for the 64-bit DLL).
"""

import runpy
import sysconfig
from pathlib import Path

from setuptools import setup
from setuptools.command.build_py import build_py

try:
    from setuptools.command.bdist_wheel import bdist_wheel
except ImportError:  # setuptools before 70 takes it from the wheel package
    from wheel.bdist_wheel import bdist_wheel

PACKAGE = Path(__file__).resolve().parent / "kvd4093"
VERSION = runpy.run_path(str(PACKAGE / "_version.py"))["__version__"]
LIBRARIES = ("libkvd4093.so.1", "KVD4093.dll", "libkvd4093stream.so.1", "KVD4093Stream.dll")


class BuildWithVersion(build_py):
    def run(self):
        super().run()
        stamped = Path(self.build_lib) / "kvd4093" / "_version.py"
        stamped.write_text('"""The package\'s version, the project\'s."""\n\n__version__ = %r\n' % VERSION)


class WheelOfItsLibrary(bdist_wheel):
    def finalize_options(self):
        super().finalize_options()
        if not self.plat_name_supplied and any((PACKAGE / name).is_file() for name in LIBRARIES):
            self.plat_name = sysconfig.get_platform()
            self.plat_name_supplied = True


setup(version=VERSION, cmdclass={"build_py": BuildWithVersion, "bdist_wheel": WheelOfItsLibrary})
