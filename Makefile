# SPDX-License-Identifier: MIT
# The front door. `make demo` renders the default envelope; `make test` runs every test; `make help`
# lists the targets, one line each from the `## ` comment after each target's prerequisites.
.PHONY: all help deps build demo demo-instrument test test-sanitize test-clang bench test-tsan test-valgrind fuzz package lv2-alone planted-faults clean

JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 60
FUZZ_PARSER_SECONDS ?= 30

all: build ## Build everything (the default)

help: ## List the targets
	@awk -F ':.*## ' '/^[a-z][a-z0-9-]*:.*## / { printf "  %-14s %s\n", $$1, $$2 }' $(firstword $(MAKEFILE_LIST))

deps: ## Install the Debian packages the build and tests need
	@scripts/setup-deps

build: deps ## Configure and build the default (Release) tree in build/
	cmake --preset default
	cmake --build --preset default -j $(JOBS)

demo: build ## Render the default envelope to out/adsr.wav, .csv and .png
	@mkdir -p out
	@./build/kvx render build/ADSR.kvx --out out/adsr.wav --csv out/adsr.csv --plot out/adsr.png

# The example modules the instrument patch uses are built with the tests, in build/tests/modules.
demo-instrument: build ## Play examples/midi/demo.mid on the 16-voice example instrument to out/demo.wav and .png
	@mkdir -p out
	@KVX_PATH=build/tests/modules ./build/kvx render examples/patches/instrument.kvxpatch.json \
		--midi examples/midi/demo.mid --out out/demo.wav --plot out/demo.png

# The workflow's build step runs as many compile jobs as `make build` does.
test: deps ## Configure, build and run every test (the README's full command)
	CMAKE_BUILD_PARALLEL_LEVEL=$(JOBS) cmake --workflow --preset default

# The LV2 bridge depends on the host library and the description reader only: it builds with the
# tools and the tests switched off.
lv2-alone: deps ## Build the LV2 plug-in binary alone, tools and tests off, in build-lv2/
	cmake -S . -B build-lv2 -DCMAKE_BUILD_TYPE=Release -DKVX_BUILD_TOOLS=OFF -DKVX_BUILD_TESTS=OFF -DKVX_BUILD_LV2=ON
	cmake --build build-lv2 -j $(JOBS) --target kvx_lv2_bridge
	nm -D --defined-only build-lv2/lv2/kvx-lv2-bridge.so | grep -qw lv2_descriptor

# -O1 -g1 (the preset's flags): what AddressSanitizer recommends, with line tables enough for its
# reports, and a third of CI's time less to build than -O2 -g.
test-sanitize: deps ## Build and run the tests under AddressSanitizer and UBSan
	cmake --preset sanitize
	cmake --build --preset sanitize -j $(JOBS)
	ctest --preset sanitize

test-clang: deps ## Build and run the tests with clang 14
	cmake --preset clang
	cmake --build --preset clang -j $(JOBS)
	ctest --preset clang

# Guards, then every benchmark; prints the table and writes bench/results/latest.json.
bench: ## Run the benchmarks; writes bench/results/latest.json
	@scripts/setup-deps --bench
	cmake --preset bench
	cmake --build --preset bench -j $(JOBS) --target run_bench

# ThreadSanitizer build of the library and the thread test (many instances on many threads at
# once); the rest of the suite is single-threaded and would only take time.
test-tsan: deps ## Run the many-threads test under ThreadSanitizer
	cmake --preset tsan
	cmake --build --preset tsan -j $(JOBS) --target concurrent_instances_test
	ctest --preset tsan -R '^ConcurrentInstances\.'

# The default (Release) build's tests under valgrind memcheck: zero errors, zero leaks.
test-valgrind: build ## Run the default build's tests under valgrind memcheck
	scripts/memcheck-tests build

# Plants each fault of scripts/planted-faults in turn, rebuilds build-faults/ and runs the tests of
# the fault's area (and kvx validate for the module library); the source is restored after each.
# Not in CI: it takes a while. The tables go to build-faults/planted-faults.md.
planted-faults: deps ## Measure which planted faults the tests and kvx validate catch
	scripts/planted-faults --build build-faults

# libFuzzer for FUZZ_SECONDS on the session target, then on the score, description and patch
# parsers (FUZZ_PARSER_SECONDS each). New inputs go to build-fuzz/corpus*, crashes to
# build-fuzz/artifacts (replay one with build-fuzz/fuzz/kvx_session_replay FILE, or the score,
# description or patch replay; once fixed, add it to the target's corpus under fuzz/).
fuzz: deps ## Fuzz the session target, then the score, description and patch parsers
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)
	mkdir -p build-fuzz/corpus build-fuzz/corpus-score build-fuzz/corpus-description build-fuzz/corpus-patch \
	  build-fuzz/artifacts
	build-fuzz/fuzz/kvx_session_fuzzer build-fuzz/corpus fuzz/corpus -max_total_time=$(FUZZ_SECONDS) \
	  -timeout=10 -artifact_prefix=build-fuzz/artifacts/ -print_final_stats=1
	build-fuzz/fuzz/kvx_score_fuzzer build-fuzz/corpus-score fuzz/score_corpus -dict=fuzz/json.dict \
	  -max_total_time=$(FUZZ_PARSER_SECONDS) -timeout=10 -artifact_prefix=build-fuzz/artifacts/score- \
	  -print_final_stats=1
	build-fuzz/fuzz/kvx_description_fuzzer build-fuzz/corpus-description fuzz/description_corpus \
	  -dict=fuzz/json.dict -max_total_time=$(FUZZ_PARSER_SECONDS) -timeout=10 \
	  -artifact_prefix=build-fuzz/artifacts/description- -print_final_stats=1
	build-fuzz/fuzz/kvx_patch_fuzzer build-fuzz/corpus-patch fuzz/patch_corpus \
	  -dict=fuzz/json.dict -max_total_time=$(FUZZ_PARSER_SECONDS) -timeout=10 \
	  -artifact_prefix=build-fuzz/artifacts/patch- -print_final_stats=1

# The Debian packages build-package/kvx_<version>_amd64.deb (the tool, the module folder, the LV2
# bundle) and kvx-dev_<version>_amd64.deb (what a module author builds with), each checked by
# lintian (no errors).
package: deps ## Build the Debian packages kvx and kvx-dev in build-package/ and lintian them
	cmake --preset package
	cmake --build --preset package -j $(JOBS)
	rm -f build-package/*.deb
	cpack --preset package
	lintian --fail-on error build-package/kvx_*_amd64.deb build-package/kvx-dev_*_amd64.deb

clean: ## Remove every build folder
	rm -rf build build-*
