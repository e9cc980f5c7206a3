# Quick start: `make run` builds only the program and its windows and opens TovrelMail; `make test`
# builds everything (tests and benchmarks too) and runs every test.
JOBS ?= $(shell nproc)
BUILD ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?=
CMAKE_FLAGS ?=

.PHONY: all setup build run test test-unit test-asan fuzz bench install clean format

all: build

setup:
	@scripts/setup

build: setup
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOVREL_WITH_TESTS=ON \
	  -DTOVREL_WITH_BENCH=ON $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

# A first configure leaves the tests and benchmarks out (no GoogleTest needed); a tree that
# `make build` or `make test` configured keeps them, but only the program's targets are built.
run:
	@scripts/setup run
	test -f $(BUILD)/CMakeCache.txt || cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DTOVREL_WITH_TESTS=OFF -DTOVREL_WITH_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS) --target tovrelmail
	$(BUILD)/tovrelmail

# Every test of the normal build, then every test again under ASan and UBSan, the windows
# included (offscreen). Leaks that belong to Qt and the libraries below it are listed, each with
# its reason, in scripts/lsan.supp.
test: build test-unit test-asan

test-unit:
	ctest --test-dir $(BUILD) --output-on-failure

test-asan: setup
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DTOVREL_SANITIZE=ON -DTOVREL_WITH_APP=ON
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/scripts/lsan.supp:print_suppressions=0 \
	  ctest --test-dir $(ASAN_BUILD) --output-on-failure

# Every parser of outside bytes under libFuzzer (clang, ASan, UBSan), each for a bounded time:
# two minutes in all by default, FUZZ_SECONDS=n for n seconds per target. Not part of `test`.
fuzz:
	@scripts/setup fuzz
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
	  -DTOVREL_FUZZ=ON
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	FUZZ_SECONDS=$(FUZZ_SECONDS) scripts/fuzz $(FUZZ_BUILD)

# The bench's own packages go in before the build is configured: the window watcher is built only
# where xcb's DAMAGE extension is found.
bench: setup
	@scripts/setup bench
	$(MAKE) build
	scripts/bench

install: build
	cmake --install $(BUILD)

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)
