"""The packages of `make package`, as a user gets them. The folder they are in
is given with --package-dir (build/package by default); the version they must
carry is the project's, read from its CMakeLists.txt."""

import os
import re
import subprocess
from pathlib import Path

import pytest

REPOSITORY = Path(__file__).resolve().parents[2]


def pytest_addoption(parser):
    parser.addoption("--package-dir", default=str(REPOSITORY / "build" / "package"), help="where make package wrote")


@pytest.fixture(scope="session")
def package_dir(request):
    return Path(request.config.getoption("--package-dir"))


@pytest.fixture(scope="session")
def version():
    match = re.search(r"^project\(KVD4093 VERSION ([0-9.]+)", (REPOSITORY / "CMakeLists.txt").read_text(), re.M)
    assert match, "CMakeLists.txt declares no version"
    return match.group(1)


def package_file(package_dir, name):
    """The package file of that name; the test is skipped when make package left it out."""
    path = package_dir / name
    if not path.is_file():
        pytest.skip("%s was not made (make package says why)" % path.name)
    return path


def user_environment(folder, changes=None):
    """A person's environment in a folder of the test's own: HOME and
    XDG_CONFIG_HOME inside it, no KVD4093_ variable, unpaced virtual cards."""
    environment = {name: value for name, value in os.environ.items() if not name.startswith("KVD4093_")}
    environment.pop("PYTHONPATH", None)
    environment.update(HOME=str(folder), XDG_CONFIG_HOME=str(folder / "config"), LC_ALL="C.UTF-8",
                       KVD4093_VIRTUAL_PACING="off")  # fmt: skip
    environment.update(changes or {})
    return environment


def run(command, folder, changes=None, timeout=300):
    return subprocess.run([str(part) for part in command], cwd=folder, env=user_environment(Path(folder), changes),
                          capture_output=True, text=True, timeout=timeout)  # fmt: skip
