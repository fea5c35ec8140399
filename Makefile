# Wraps CMake. `make test` is what CI and a new user run.
BUILD      ?= build
BUILD_ASAN ?= build-asan
BUILD_TYPE ?= RelWithDebInfo
JOBS       ?= $(shell nproc)
GENERATOR  := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")
CMAKE_ARGS ?=

.PHONY: all deps configure build test test-asan bench demo fuzz-smoke fuzz fuzz-merge clean python

all: build

deps:
	scripts/setup-deps

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) $(GENERATOR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_ARGS)

configure: deps $(BUILD)/CMakeCache.txt

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# Prints the failing tests' output and one summary line (scripts/run-tests).
test: build
	scripts/run-tests $(BUILD) $(JOBS)

# The sanitizer builds run every test but the packaging check, which installs the build and compiles a program
# against it (`make test` runs it).
test-asan: deps
	cmake -S . -B $(BUILD_ASAN) $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DVEZ_SANITIZE=ON -DVEZ_BUILD_BENCH=OFF -DVEZ_BUILD_PYTHON=OFF $(CMAKE_ARGS)
	cmake --build $(BUILD_ASAN) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  scripts/run-tests $(BUILD_ASAN) $(JOBS) -E '^install_consumer$$'
	$(MAKE) fuzz-smoke

bench: deps
	cmake -S . -B $(BUILD)-bench $(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DVEZ_BUILD_TESTS=OFF -DVEZ_BUILD_BENCH=ON $(CMAKE_ARGS)
	cmake --build $(BUILD)-bench -j $(JOBS)
	scripts/run-benchmarks $(BUILD)-bench

# The fuzz targets (clang, libFuzzer, ASan+UBSan) run for a bounded number of inputs from the test-data seeds.
BUILD_FUZZ ?= build-fuzz
FUZZ_RUNS  ?= 4000
# Each web input runs several requests through the handlers, so its smoke run is shorter.
FUZZ_WEB_RUNS ?= 1000
fuzz-smoke: deps
	cmake -S fuzz -B $(BUILD_FUZZ) $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
	cmake --build $(BUILD_FUZZ) --target fuzz_paradox -j $(JOBS)
	rm -rf $(BUILD_FUZZ)/seeds $(BUILD_FUZZ)/corpus && mkdir -p $(BUILD_FUZZ)/corpus
	fuzz/make-seeds.sh tests/data/paradox $(BUILD_FUZZ)/seeds
	ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  $(BUILD_FUZZ)/fuzz_paradox -runs=$(FUZZ_RUNS) -max_len=80000 -timeout=10 -seed=1 \
	  -artifact_prefix=$(BUILD_FUZZ)/ $(BUILD_FUZZ)/corpus $(BUILD_FUZZ)/seeds
	cmake --build $(BUILD_FUZZ) --target fuzz_xlsx -j $(JOBS)
	rm -rf $(BUILD_FUZZ)/xlsx-corpus && mkdir -p $(BUILD_FUZZ)/xlsx-corpus
	ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  $(BUILD_FUZZ)/fuzz_xlsx -runs=$(FUZZ_RUNS) -max_len=20000 -timeout=10 -seed=1 \
	  -artifact_prefix=$(BUILD_FUZZ)/ $(BUILD_FUZZ)/xlsx-corpus tests/data/spreadsheet
	cmake --build $(BUILD_FUZZ) --target fuzz_xls -j $(JOBS)
	rm -rf $(BUILD_FUZZ)/xls-corpus $(BUILD_FUZZ)/xls-seeds && mkdir -p $(BUILD_FUZZ)/xls-corpus $(BUILD_FUZZ)/xls-seeds
	find tests/data/spreadsheet -name '*.xls' -size -64k -exec cp {} $(BUILD_FUZZ)/xls-seeds/ \;
	cp tests/data/conformance/*.csv tests/data/spreadsheet/text-files.txt $(BUILD_FUZZ)/xls-seeds/
	ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  $(BUILD_FUZZ)/fuzz_xls -runs=$(FUZZ_RUNS) -max_len=65536 -timeout=10 -seed=1 \
	  -artifact_prefix=$(BUILD_FUZZ)/ $(BUILD_FUZZ)/xls-corpus $(BUILD_FUZZ)/xls-seeds
	cmake --build $(BUILD_FUZZ) --target fuzz_text -j $(JOBS)
	fuzz/run-fuzzers.sh $(BUILD_FUZZ) runs=$(FUZZ_RUNS) text
	cmake --build $(BUILD_FUZZ) --target fuzz_web_import -j $(JOBS)
	rm -rf $(BUILD_FUZZ)/web-import-corpus && mkdir -p $(BUILD_FUZZ)/web-import-corpus
	ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  $(BUILD_FUZZ)/fuzz_web_import -runs=$(FUZZ_WEB_RUNS) -max_len=4096 -timeout=10 -seed=1 \
	  -artifact_prefix=$(BUILD_FUZZ)/ $(BUILD_FUZZ)/web-import-corpus fuzz/corpus/web-import

# Each reader's fuzz target for FUZZ_SECONDS, from its kept corpus (fuzz/corpus/<reader>); the statistics of each
# run end in $(BUILD_FUZZ)/<reader>.log. `make fuzz-merge` minimises the kept corpus with what the runs found.
FUZZ_SECONDS ?= 180
FUZZ_READERS ?= paradox xls xlsx text
fuzz fuzz-merge: deps
	cmake -S fuzz -B $(BUILD_FUZZ) $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
	cmake --build $(BUILD_FUZZ) -j $(JOBS) --target $(addprefix fuzz_,$(FUZZ_READERS))
	fuzz/run-fuzzers.sh $(BUILD_FUZZ) $(if $(filter fuzz-merge,$@),merge,seconds=$(FUZZ_SECONDS)) $(FUZZ_READERS)

# The Python module veziru (build/python/package); `make test` runs its tests with the others.
python: configure
	cmake --build $(BUILD) --target veziru_python -j $(JOBS)

# The demo needs only the vezi tool, not the tests.
demo: configure
	cmake --build $(BUILD) --target vezi -j $(JOBS)
	scripts/demo $(BUILD)

clean:
	rm -rf $(BUILD) $(BUILD_ASAN) $(BUILD)-bench $(BUILD_FUZZ)
