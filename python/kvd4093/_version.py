"""The package's version, which is the project's: project(KVD4093 VERSION ...)
in the CMakeLists.txt of the source tree this package lies in. Building the
package (pip, make package) writes it here as a plain value."""

import re
from pathlib import Path


def project_version(cmake_lists=Path(__file__).resolve().parents[2] / "CMakeLists.txt"):
    """The version the project's CMakeLists.txt declares."""
    match = re.search(r"^project\(KVD4093 VERSION ([0-9.]+)", Path(cmake_lists).read_text(), re.MULTILINE)
    if match is None:
        raise RuntimeError("%s declares no project(KVD4093 VERSION ...)" % cmake_lists)
    return match.group(1)


__version__ = project_version()
