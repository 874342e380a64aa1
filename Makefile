# The two commands: `make test` passes the tests, `make demo` runs an
# acquisition on a virtual card. Everything builds under build/.
.PHONY: all demo test test-linux test-sanitize test-windows test-win64 test-win32 bench clean

all:
	cmake --preset linux
	cmake --build --preset linux

# An acquisition on a virtual card: 4 channels at 100 kS/s for 1 s, written to
# demo.csv and plotted in demo.svg, with the summary on the terminal.
demo: all
	./build/linux/bin/kvd4093 acquire --virtual --channels 0-3 --rate 100k --time 1s \
		--output demo.csv --plot demo.svg

test: test-linux test-sanitize test-windows

test-linux:
	cmake --preset linux
	cmake --build --preset linux
	ctest --preset linux

test-sanitize:
	cmake --preset linux-sanitize
	cmake --build --preset linux-sanitize
	ctest --preset linux-sanitize

# The Windows DLLs, cross-built with mingw-w64: the 64-bit tests run under
# wine64, the 32-bit build is checked without running. Skipped, and said so,
# where the cross compilers or wine64 are missing (.ci/run installs them).
test-windows:
	@missing=""; \
	for compiler in x86_64-w64-mingw32-g++ i686-w64-mingw32-g++; do \
	  command -v $$compiler-posix >/dev/null || command -v $$compiler >/dev/null || missing="$$missing $$compiler"; \
	done; \
	command -v wine64 >/dev/null || [ -x /usr/lib/wine/wine64 ] || missing="$$missing wine64"; \
	if [ -n "$$missing" ]; then \
	  echo "*** SKIPPING the Windows tests: not installed:$$missing (.ci/run installs them)"; \
	else \
	  $(MAKE) --no-print-directory test-win64 test-win32; \
	fi

test-win64:
	cmake --preset win64
	cmake --build --preset win64
	ctest --preset win64

test-win32:
	cmake --preset win32
	cmake --build --preset win32
	ctest --preset win32

# The Python package (python/) tested against the library just built. The
# interpreter must see Debian's python3-numpy and python3-pytest: that is
# /usr/bin/python3, whatever python3 comes first on PATH. No test collected
# (pytest's status 5) fails like any other status.
test: test-python
.PHONY: test-python bench-python
PYTHON_FOR_PACKAGE ?= /usr/bin/python3
test-python:
	cmake --preset linux
	cmake --build --preset linux --target kvd4093
	@$(PYTHON_FOR_PACKAGE) -c 'import numpy, pytest' || { \
	  echo "*** $(PYTHON_FOR_PACKAGE) lacks numpy or pytest (python3-numpy python3-pytest; .ci/run installs them)"; exit 1; }
	cd python && KVD4093_LIBRARY=$(CURDIR)/build/linux/src/libkvd4093.so.1 $(PYTHON_FOR_PACKAGE) -m pytest -p no:cacheprovider

# Card.acquire against the same reads made from C, on an unpaced virtual card.
bench-python:
	cmake --preset bench
	cmake --build --preset bench --target kvd4093
	$(PYTHON_FOR_PACKAGE) python/bench/bench_acquire.py --library build/bench/src/libkvd4093.so.1

bench:
	cmake --preset bench
	cmake --build --preset bench
	for b in build/bench/bench/bench_*; do [ -x "$$b" ] && "$$b" || exit 1; done
	bench/tool_csv_paced.sh build/bench/bin/kvd4093

clean:
	rm -rf build
