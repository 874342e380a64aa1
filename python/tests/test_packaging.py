"""The example and the package as a user gets them: the example run on a
virtual card, and the package installed with pip into a fresh environment."""

import importlib.util
import os
import shutil
import subprocess
import sys
import venv
from pathlib import Path

import numpy
import pytest

from conftest import documented_sample, project_version

PACKAGE = Path(__file__).resolve().parents[1]

SNIPPET = """
import kvd4093
for info in kvd4093.cards():
    print(info)
with kvd4093.open(physical_id=7) as card:
    data = card.acquire(4000, channels=(0, 3), rate=10_000)
    print(data.dtype, data.shape)
    for block in card.stream(2500, channels=(0, 1), rate=20_000):
        print(block.dtype, block.shape)
        break
print(kvd4093.__file__)
print(kvd4093.__version__)
"""


def run(command, folder, cards="7"):
    environment = dict(os.environ, KVD4093_VIRTUAL_CARDS=cards, XDG_CONFIG_HOME=str(folder / "config"))
    environment.pop("KVD4093_TRACE")
    environment.pop("PYTHONPATH", None)
    return subprocess.run(command, cwd=folder, env=environment, capture_output=True, text=True, timeout=300)


def test_the_example_writes_the_scans_without_matplotlib(tmp_path):
    if importlib.util.find_spec("matplotlib") is not None:
        pytest.skip("matplotlib is installed: the example draws a PNG instead")
    script = PACKAGE / "examples" / "acquire_plot.py"
    result = subprocess.run(
        [sys.executable, str(script), "--channels", "1-2", "--rate", "20000", "--scans", "300", "--output", "run"],
        cwd=tmp_path, capture_output=True, text=True, timeout=60,
        env=dict(os.environ, PYTHONPATH=str(PACKAGE), XDG_CONFIG_HOME=str(tmp_path / "config")),
    )  # fmt: skip
    assert result.returncode == 0, result.stderr
    assert result.stdout == "300 scans of channels 1-2 from card 7: run.csv\n"
    lines = (tmp_path / "run.csv").read_text().splitlines()
    assert lines[0] == "scan,time_s,ch1,ch2" and len(lines) == 301
    table = numpy.loadtxt(tmp_path / "run.csv", delimiter=",", skiprows=1)
    assert table[1, 1] == pytest.approx(1 / 10_000)
    assert table[0, 2:].tolist() == [documented_sample(1, 256), documented_sample(2, 256)]


def test_pip_installs_the_package_into_a_fresh_environment(tmp_path):
    # The package's folder below a copy of the project's CMakeLists.txt, which holds its version.
    source = tmp_path / "source"
    shutil.copytree(PACKAGE, source, ignore=shutil.ignore_patterns("build", "*.egg-info", "__pycache__"))
    shutil.copy(PACKAGE.parent / "CMakeLists.txt", tmp_path)
    environment = tmp_path / "v"
    venv.create(environment, system_site_packages=True, with_pip=True)
    python = environment / "bin" / "python"
    install = run([str(python), "-m", "pip", "install", "--no-build-isolation", "--no-index", str(source)], tmp_path)
    assert install.returncode == 0, install.stdout + install.stderr
    result = run([str(python), "-c", SNIPPET], tmp_path, cards="7,9")
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == [
        "CardInfo(number=0, physical_id=7, version='1.0.1')",
        "CardInfo(number=1, physical_id=9, version='1.0.1')",
        "uint16 (4000, 4)",
        "uint16 (2500, 2)",
        str(environment / "lib" / ("python%d.%d" % sys.version_info[:2]) / "site-packages" / "kvd4093" / "__init__.py"),
        project_version(),
    ]


def test_the_package_version_is_the_projects():
    import kvd4093

    assert kvd4093.__version__ == project_version()
