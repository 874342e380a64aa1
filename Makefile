# The two commands: `make test` passes the tests, `make demo` runs an
# acquisition on a virtual card. Everything builds under build/.
.PHONY: all demo test test-linux test-sanitize bench clean

all:
	cmake --preset linux
	cmake --build --preset linux

# An acquisition on a virtual card: 4 channels at 100 kS/s for 1 s, written to
# demo.csv and plotted in demo.svg, with the summary on the terminal.
demo: all
	./build/linux/bin/kvd4093 acquire --virtual --channels 0-3 --rate 100k --time 1s \
		--output demo.csv --plot demo.svg

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
	bench/tool_csv_paced.sh build/bench/bin/kvd4093

clean:
	rm -rf build
