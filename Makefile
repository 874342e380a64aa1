# The two commands: `make test` passes the tests, `make demo` runs an
# acquisition on a virtual card. Everything builds under build/.
.PHONY: all test test-linux test-sanitize bench clean

all:
	cmake --preset linux
	cmake --build --preset linux

test: test-linux test-sanitize

test-linux:
	cmake --preset linux
	cmake --build --preset linux
	ctest --preset linux

test-sanitize:
	cmake --preset linux-sanitize
	cmake --build --preset linux-sanitize
	ctest --preset linux-sanitize

bench:
	cmake --preset bench
	cmake --build --preset bench
	for b in build/bench/bench/bench_*; do [ -x "$$b" ] && "$$b" || exit 1; done

clean:
	rm -rf build
