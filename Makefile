# The front door. `make demo` renders the default envelope; `make test` runs every test.
.PHONY: all demo test test-sanitize test-clang bench deps build clean

JOBS ?= $(shell nproc)

all: build

deps:
	@scripts/setup-deps

build: deps
	cmake --preset default
	cmake --build --preset default -j $(JOBS)

demo: build
	@./build/kvx info build/ADSR.kvx

test: deps
	cmake --workflow --preset default

test-sanitize: deps
	cmake --preset sanitize
	cmake --build --preset sanitize -j $(JOBS)
	ctest --preset sanitize

test-clang: deps
	cmake --preset clang
	cmake --build --preset clang -j $(JOBS)
	ctest --preset clang

# Guards, then every benchmark; prints the table and writes bench/results/latest.json.
bench:
	@scripts/setup-deps --bench
	cmake --preset bench
	cmake --build --preset bench -j $(JOBS) --target run_bench

clean:
	rm -rf build build-*
