# Quick start: `make run` opens TovrelMail, `make test` builds and runs every test.
JOBS ?= $(shell nproc)
BUILD ?= build
ASAN_BUILD ?= build-asan
CMAKE_FLAGS ?=

.PHONY: all setup build run test test-unit test-asan bench install clean format

all: build

setup:
	@scripts/setup

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

build: setup $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/tovrelmail

# Every test of the normal build, then the tests of the layers below the windows again under
# ASan and UBSan (the message, network, store and update-check layers).
test: build test-unit test-asan

test-unit:
	ctest --test-dir $(BUILD) --output-on-failure

test-asan: setup
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DTOVREL_SANITIZE=ON -DTOVREL_WITH_APP=OFF
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --test-dir $(ASAN_BUILD) --output-on-failure

bench: build
	@scripts/setup bench
	scripts/bench

install: build
	cmake --install $(BUILD)

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
