# The two commands: `make test` passes the tests, `make demo` runs an
# acquisition on a virtual card. Everything builds under build/.
.PHONY: all demo test test-linux test-linux-sanitize test-sanitize test-linux-thread test-thread test-windows test-win64 test-win32 bench clean docs test-docs package test-package

# The configurations `make test` runs, each as its target test-NAME, in this
# order; tools/test-summary ends the run with a line for each and a last
# line "N passed, N failed, N skipped". To add one, add its name here and its
# target below.
TEST_CONFIGURATIONS = docs linux linux-sanitize linux-thread python dotnet windows package

# Each of the two commands first installs what the machine lacks of the
# Debian packages it needs (tools/debian-packages), through sudo when not
# root; INSTALL_PACKAGES=no goes on without them.
INSTALL_PACKAGES ?= yes
install_packages = [ "$(INSTALL_PACKAGES)" = no ] || tools/install-packages $(1)

all:
	cmake --preset linux
	cmake --build --preset linux

# An acquisition on a virtual card: 4 channels at 100 kS/s for 1 s, written to
# demo.csv and plotted in demo.svg, with the summary on the terminal. Only the
# library and the tool are built, in the Release tree without a test suite
# (no GoogleTest) that `make package` builds whole: build/release, the
# linux-release preset.
demo:
	@$(call install_packages,build)
	cmake --preset linux-release
	cmake --build --preset linux-release --target kvd4093_cli
	./build/release/bin/kvd4093 acquire --virtual --channels 0-3 --rate 100k --time 1s \
		--output demo.csv --plot demo.svg

test:
	@$(call install_packages,build tests windows packages dotnet docs)
	@MAKE="$(MAKE)" tools/test-summary $(TEST_CONFIGURATIONS)

test-linux:
	cmake --preset linux
	cmake --build --preset linux
	ctest --preset linux

test-linux-sanitize: test-sanitize

test-sanitize:
	cmake --preset linux-sanitize
	cmake --build --preset linux-sanitize
	ctest --preset linux-sanitize

# ThreadSanitizer over the tests whose code runs on several threads.
test-linux-thread: test-thread

test-thread:
	cmake --preset linux-thread
	cmake --build --preset linux-thread
	ctest --preset linux-thread

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

# The reference and the pages of docs/, rendered by Doxygen into
# build/docs/html (open index.html). Any warning fails it, among them a
# declaration of the public headers without its documentation.
docs:
	@command -v doxygen >/dev/null || { echo "make docs needs doxygen (Debian: apt-get install doxygen)"; exit 1; }
	mkdir -p build/docs
	doxygen docs/Doxyfile
	@echo "documentation: build/docs/html/index.html"

# The documentation's checks: every message of the library in the
# troubleshooting page, every example built, run and referenced, every link
# whole, the README's tour run as written on what `make demo` builds (with
# the interpreter of the Python tests); with doxygen, the rendering and proof
# that a missing doc comment fails it.
test-docs: demo
	@if command -v doxygen >/dev/null; then \
	  $(MAKE) --no-print-directory docs && python3 docs/check_docs.py --doxygen --python $(PYTHON_FOR_PACKAGE); \
	else \
	  echo "*** SKIPPING the documentation build: doxygen is not installed (.ci/run installs it)"; \
	  python3 docs/check_docs.py --python $(PYTHON_FOR_PACKAGE); \
	fi


# The Python package (python/) tested against the library just built. The
# interpreter must see Debian's python3-numpy and python3-pytest: that is
# /usr/bin/python3, whatever python3 comes first on PATH. No test collected
# (pytest's status 5) fails like any other status.
.PHONY: test-python bench-python
PYTHON_FOR_PACKAGE ?= /usr/bin/python3
test-python:
	cmake --preset linux
	cmake --build --preset linux --target kvd4093 kvd4093stream
	@$(PYTHON_FOR_PACKAGE) -c 'import numpy, pytest' || { \
	  echo "*** $(PYTHON_FOR_PACKAGE) lacks numpy or pytest (python3-numpy python3-pytest; .ci/run installs them)"; exit 1; }
	cd python && KVD4093_LIBRARY=$(CURDIR)/build/linux/src/libkvd4093.so.1 \
	  KVD4093_STREAM_LIBRARY=$(CURDIR)/build/linux/stream/libkvd4093stream.so.1 $(PYTHON_FOR_PACKAGE) -m pytest -p no:cacheprovider

# The .NET binding (dotnet/) under Mono, with Debian's NUnit, against the
# libraries of the linux preset; its entry points also against the export
# tables of the Windows DLLs, built here where mingw-w64 is installed (else
# that test says it was skipped). Skipped, and said so, where mcs or mono is
# missing (.ci/run installs them).
.PHONY: test-dotnet
test-dotnet:
	@missing=""; \
	for program in mcs mono; do command -v $$program >/dev/null || missing="$$missing $$program"; done; \
	[ -f /usr/lib/cli/nunit.framework-2.6.3/nunit.framework.dll ] || missing="$$missing libnunit-cil-dev"; \
	if [ -n "$$missing" ]; then \
	  echo "*** SKIPPING the .NET tests: not installed:$$missing (.ci/run installs them)"; \
	else \
	  if command -v x86_64-w64-mingw32-g++ >/dev/null && command -v i686-w64-mingw32-g++ >/dev/null; then \
	    cmake --preset win64 && cmake --build --preset win64 --target kvd4093 kvd4093stream && \
	    cmake --preset win32 && cmake --build --preset win32 --target kvd4093 kvd4093stream || exit 1; \
	  fi; \
	  cmake --preset linux && cmake --build --preset linux --target kvd4093_dotnet_tests && \
	  cmake --build --preset linux --target check_dotnet; \
	fi

# The packages, in build/package, from the Release tree of make demo
# (build/release): the Debian package, the Python wheel that
# carries libkvd4093.so.1 and libkvd4093stream.so.1, and from the Windows
# builds (presets win64 and win32, built as far as the packages need) the
# Windows archive and the wheel that carries the 64-bit DLLs. The Windows ones are left out, and said so,
# where the cross compilers are missing. PACKAGE_USB_IDS=vvvv:pppp[,...]
# builds the cards' USB pairs into the library and the udev rule. With Mono,
# also the NuGet package of the .NET binding, Kvd4093.VERSION.nupkg, which
# carries both Windows builds' DLLs and the Linux libraries.
PACKAGE_DIR = $(CURDIR)/build/package
PACKAGE_USB_IDS ?=
WINDOWS_PACKAGE_TARGETS = kvd4093 kvd4093stream kvd4093_cli kvd4093card $(patsubst examples/%.c,example_%,$(wildcard examples/*.c))
package:
	@if command -v x86_64-w64-mingw32-g++ >/dev/null && command -v i686-w64-mingw32-g++ >/dev/null; then \
	  cmake --preset win64 && cmake --build --preset win64 --target $(WINDOWS_PACKAGE_TARGETS) && \
	  cmake --preset win32 && cmake --build --preset win32 --target kvd4093 kvd4093stream; \
	else \
	  echo "*** SKIPPING the Windows packages: the mingw-w64 cross compilers are not installed (.ci/run installs them)"; \
	fi
	cmake --preset linux-release \
	  -DCMAKE_INSTALL_PREFIX=/usr -DKVD4093_PACKAGE_OUTPUT=$(PACKAGE_DIR) -DKVD4093_PYTHON=$(PYTHON_FOR_PACKAGE) \
	  "-DKVD4093_USB_IDS=$(PACKAGE_USB_IDS)"
	cmake --build --preset linux-release
	cmake --build --preset linux-release --target package package_wheel
	@if [ -f build/win64/bin/kvd4093card.exe ] && [ -f build/win32/bin/KVD4093Stream.dll ]; then \
	  cmake --build --preset linux-release --target package_windows; \
	fi
	@if [ -f build/release/dotnet/Kvd4093.dll.config ] && [ -f build/win64/bin/KVD4093.dll ] && [ -f build/win32/bin/KVD4093.dll ]; then \
	  cmake --build --preset win64 --target kvd4093stream && cmake --build --preset win32 --target kvd4093stream && \
	  cmake --build --preset linux-release --target package_nuget; \
	else \
	  echo "*** SKIPPING the NuGet package: it needs mcs and mono (mono-mcs, mono-runtime) and both Windows DLLs"; \
	fi
	@ls -l $(PACKAGE_DIR)/*.deb $(PACKAGE_DIR)/*.whl $(PACKAGE_DIR)/*.zip $(PACKAGE_DIR)/*.nupkg 2>/dev/null

# The packages as a user gets them (tests/package, pytest): the Debian package
# installed with dpkg -i (as root; else unpacked with dpkg-deb -x) and used,
# then removed without a trace, lintian without an error; the Linux wheel
# installed into a fresh virtual environment; the Windows packages' contents.
test-package: package
	@$(PYTHON_FOR_PACKAGE) -c 'import pytest' || { \
	  echo "*** $(PYTHON_FOR_PACKAGE) lacks pytest (python3-pytest; .ci/run installs it)"; exit 1; }
	cd tests/package && $(PYTHON_FOR_PACKAGE) -m pytest -p no:cacheprovider -v . --package-dir $(PACKAGE_DIR)

# Card.acquire and Stream.read against the same reads made from C, on an unpaced virtual card.
bench-python:
	cmake --preset bench
	cmake --build --preset bench --target kvd4093 kvd4093stream
	$(PYTHON_FOR_PACKAGE) python/bench/bench_acquire.py --library build/bench/src/libkvd4093.so.1 \
	  --stream-library build/bench/stream/libkvd4093stream.so.1

# The stream library's reads from C (bench_stream's BM_ReadStream), then
# Stream.Read under Mono against KVD4093_ReadStream called from the same
# program, on an unpaced virtual card (bench/dotnet/BenchStream.cs); the last
# fails when a form of Stream.Read delivers less than 0.9 of those reads made
# into the same memory (one array, or a new array each read).
.PHONY: bench-dotnet
bench-dotnet:
	cmake --preset bench
	cmake --build --preset bench --target kvd4093_dotnet_bench bench_stream
	build/bench/bench/bench_stream --benchmark_filter=BM_ReadStream
	KVD4093_VIRTUAL_CARDS=7 KVD4093_VIRTUAL_PACING=off LD_LIBRARY_PATH=build/bench/src:build/bench/stream \
	  mono build/bench/dotnet/BenchStream.exe

# Every benchmark program, then one table of the figures against their goals.
bench:
	cmake --preset bench
	cmake --build --preset bench
	rm -rf build/bench/results && mkdir -p build/bench/results
	for b in build/bench/bench/bench_*; do \
	  [ -x "$$b" ] || continue; \
	  "$$b" --benchmark_out=build/bench/results/$$(basename $$b).json --benchmark_out_format=json || exit 1; \
	done
	bench/tool_csv_paced.sh build/bench/bin/kvd4093
	bench/tool_streaming.sh build/bench/bin/kvd4093
	bench/mqtt_streaming.sh build/bench/bin/kvd4093
	python3 bench/summary.py build/bench/results

clean:
	rm -rf build
