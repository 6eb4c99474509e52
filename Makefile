# Set-up and everyday commands; see README.md.
BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
CTEST_ARGS ?= --output-on-failure -j$(JOBS)

.PHONY: all deps build run test test-plain asan demo package install clean format format-check

all: build

deps:
	@./tools/install-deps

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j$(JOBS)

# The Debian package, build/devicesearch_2.1.0_amd64.deb.
package: build
	cd $(BUILD) && cpack

# Into /usr/local, or PREFIX=/usr (needs root).
PREFIX ?= /usr/local
install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

# Starts the program on this machine's own network.
run: build
	$(BUILD)/devicesearch

test-plain: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest $(CTEST_ARGS)

# The whole suite again under AddressSanitizer and UndefinedBehaviorSanitizer.
asan: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DSANITIZE=ON
	cmake --build $(ASAN_BUILD) -j$(JOBS)
	cd $(ASAN_BUILD) && ctest $(CTEST_ARGS)

# The formatting first: a file that differs fails the run in a second, before any build.
test: format-check test-plain asan tsan

# Every C and C++ file git tracks, as the root .clang-format lays it out; `make format`
# rewrites them in place.
FORMAT_FILES = $(shell git ls-files '*.c' '*.cpp' '*.h')
format-check: deps
	@clang-format --dry-run --Werror $(FORMAT_FILES) || { echo "Run 'make format' to lay them out." >&2; exit 1; }

format: deps
	clang-format -i $(FORMAT_FILES)

# A dozen simulated devices and the program together in a private network namespace.
demo: build
	./tests/netns/isolated sh -c '$(BUILD)/tools/devsim/devsim --count 12 --no-libver=3,7 \
		--announce-only=11,12 --announce-every 30 >/dev/null & exec $(BUILD)/devicesearch'

# Every fuzz target for FUZZ_SECONDS (5 minutes) each on a copy of its corpus, under
# libFuzzer with ASan and UBSan, inside the private network namespace; FUZZ_JOBS=2 runs
# two at a time. Needs clang, so it has its own build directory.
FUZZ_BUILD   ?= build-fuzz
FUZZ_SECONDS ?= 300
FUZZ_JOBS    ?= 1
.PHONY: fuzz
fuzz:
	@./tools/install-deps clang libclang-rt-14-dev
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFUZZ=ON
	cmake --build $(FUZZ_BUILD) -j$(JOBS) --target fuzz_targets
	FUZZ_JOBS=$(FUZZ_JOBS) ./tests/fuzz/run-fuzz $(FUZZ_BUILD) $(FUZZ_SECONDS)

# The readers of what others send (plans, replies, the probe helper's requests) for a minute
# each, as the last stage of CI: a finding fails the run.
FUZZ_CI_TARGETS ?= plan reply probe
.PHONY: fuzz-ci
fuzz-ci:
	@./tools/install-deps clang libclang-rt-14-dev
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFUZZ=ON
	cmake --build $(FUZZ_BUILD) -j$(JOBS) $(addprefix --target fuzz_,$(FUZZ_CI_TARGETS))
	./tests/fuzz/run-fuzz $(FUZZ_BUILD) 60 $(FUZZ_CI_TARGETS)

# The threaded tests under ThreadSanitizer (tests/tsan.supp lists what Qt's uninstrumented
# code makes it report), as the last part of `make test`. Only what those tests need is
# built; TSAN_TESTS=. runs the whole suite (and builds all of it).
TSAN_BUILD ?= build-tsan
TSAN_TESTS ?= ^tst_(channel|listener|search|lan|batch_e2e|exit)$$
TSAN_TARGETS ?= $(if $(filter .,$(TSAN_TESTS)),all,tst_channel tst_listener tst_search tst_lan tst_batch_e2e tst_exit)
.PHONY: tsan
tsan: deps
	cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DTSAN=ON
	cmake --build $(TSAN_BUILD) -j$(JOBS) --target $(TSAN_TARGETS)
	cd $(TSAN_BUILD) && ctest $(CTEST_ARGS) -R '$(TSAN_TESTS)'

# The ingest benchmark, inside the private network namespace: prints one table of figures
# (a few minutes; BENCH_ARGS="--only growth" and the like run a part).
BENCH_ARGS ?=
.PHONY: bench
bench: build
	./tests/netns/isolated $(BUILD)/bench/ingest_bench $(BENCH_ARGS)
	$(if $(BENCH_ARGS),,./tests/netns/isolated --two-lans $(BUILD)/bench/ingest_bench --only lans,check)
	$(if $(BENCH_ARGS),,$(BUILD)/bench/workbookplan_bench)

# Windows x64: both programs cross-built with MinGW-w64 against the static Qt, cJSON and
# workbook libraries that tools/build-win-deps makes once (about 20 minutes) in a cache
# outside the tree; then the installer $(WIN_BUILD)/devicesearch-2.1.0-win64.exe and the
# portable zip beside it.
WIN_BUILD ?= build-win
.PHONY: windows test-windows
windows: deps
	@deps=$$(./tools/build-win-deps) && eval "$$deps" && \
	cmake -S . -B $(WIN_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release \
		-DWIN_DEPS_PREFIXES="$$QT_PREFIX;$$CJSON_PREFIX;$$ZLIB_PREFIX;$$MINIZIP_PREFIX;$$XLSXWRITER_PREFIX" \
		-DLINUX_BUILD_DIR=$(abspath $(BUILD))
	cmake --build $(WIN_BUILD) -j$(JOBS)
	cd $(WIN_BUILD) && cpack -C Release

# The Windows build's tests, the window and the installer under Wine, inside one private
# network with one Wine prefix made there; the Linux build provides devsim and tst_exit.
test-windows: build windows
	./tests/netns/isolated --lan sh tests/wine/suite $(WIN_BUILD) $(BUILD)

# The English catalogue brought up to date with the window's texts (then translate what it
# marks unfinished); the pictures of the README made again.
.PHONY: lupdate screenshots
lupdate: build
	cmake --build $(BUILD) --target lupdate

screenshots: build
	./tools/screenshots $(BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD) $(WIN_BUILD)
