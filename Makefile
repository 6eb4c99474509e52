# Set-up and everyday commands; see README.md.
BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
CTEST_ARGS ?= --output-on-failure -j$(JOBS)

.PHONY: all deps build run test test-plain asan demo clean

all: build

deps:
	@./tools/install-deps

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j$(JOBS)

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

test: test-plain asan

# A dozen simulated devices and the program together in a private network namespace.
demo: build
	./tests/netns/isolated sh -c '$(BUILD)/tools/devsim/devsim --count 12 --no-libver=3,7 \
		--announce-only=11,12 --announce-every 30 >/dev/null & exec $(BUILD)/devicesearch'

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
