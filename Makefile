# Wraps CMake. `make test` is what CI and a new user run.
BUILD      ?= build
BUILD_ASAN ?= build-asan
BUILD_TYPE ?= RelWithDebInfo
JOBS       ?= $(shell nproc)
GENERATOR  := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")
CMAKE_ARGS ?=

.PHONY: all deps configure build test test-asan bench demo fuzz-smoke clean

all: build

deps:
	scripts/setup-deps

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) $(GENERATOR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_ARGS)

configure: deps $(BUILD)/CMakeCache.txt

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

test-asan: deps
	cmake -S . -B $(BUILD_ASAN) $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DVEZ_SANITIZE=ON -DVEZ_BUILD_BENCH=OFF $(CMAKE_ARGS)
	cmake --build $(BUILD_ASAN) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir $(BUILD_ASAN) --output-on-failure -j $(JOBS)

bench: deps
	cmake -S . -B $(BUILD)-bench $(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DVEZ_BUILD_TESTS=OFF -DVEZ_BUILD_BENCH=ON $(CMAKE_ARGS)
	cmake --build $(BUILD)-bench -j $(JOBS)
	scripts/run-benchmarks $(BUILD)-bench

demo: build
	scripts/demo $(BUILD)

clean:
	rm -rf $(BUILD) $(BUILD_ASAN) $(BUILD)-bench
