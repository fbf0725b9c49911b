# Quick start: `make run` builds and starts Plexmar; `make test` builds and
# runs every test, then the unit tests again under the sanitizers.
BUILD      ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
JOBS       ?= $(shell nproc)

.PHONY: all deps configure build run test test-main test-asan test-tsan bench clean

all: build

deps:
	@./scripts/setup-deps.sh

$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

configure: deps $(BUILD)/CMakeCache.txt

build: configure
	cmake --build $(BUILD) -j $(JOBS)

run: build
	@./scripts/run.sh $(BUILD)

test: test-main test-asan test-tsan

test-main: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS) --timeout 300

# Qt-free code and its unit tests only: the sanitizers watch our memory, not
# the GUI toolkit's.
test-asan: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DPLEXMAR_SANITIZE=ON \
	      -DPLEXMAR_GUI=OFF -DPLEXMAR_BENCH=OFF
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS) -L unit --timeout 300

# The unit tests of the threaded OPC pieces once more under ThreadSanitizer:
# the OPC UA endpoint's thread and its writer share the item table with the
# program's thread. (The slave library's threads touch lent words without
# locks by design, so its tests stay out of this pass.)
TSAN_TESTS = opcua_encoding_test opcua_transport_test opcua_channel_test opcua_fixture_test \
             serverkit_items_test opcserver_unit_test
test-tsan: deps
	cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPLEXMAR_TSAN=ON \
	      -DPLEXMAR_GUI=OFF -DPLEXMAR_BENCH=OFF
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target $(TSAN_TESTS)
	set -e; for t in $(TSAN_TESTS); do \
	  TSAN_OPTIONS=halt_on_error=1 PLEXMAR_OPCUA_PORT=0 $(TSAN_BUILD)/tests/$$t --gtest_brief=1; done

bench: build
	@./scripts/bench.sh $(BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD)
