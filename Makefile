# Two everyday commands: `make play` and `make test`. Both install what the build needs first.
JOBS   ?= $(shell nproc 2>/dev/null || echo 2)
BUILD  ?= build
ASAN   ?= build-asan
FUZZ   ?= build-fuzz
# Seconds of mutation per harness in `make test`; `make fuzz` builds them for longer runs.
FUZZ_SECONDS ?= 40
DEMO   ?= examples/demo.qvm

.PHONY: all deps build play test test-normal test-asan test-fuzz bench fuzz clean

all: build

deps:
	@sh tools/install-deps.sh

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

$(ASAN)/CMakeCache.txt:
	cmake -S . -B $(ASAN) -DCMAKE_BUILD_TYPE=Debug -DQVBP_SANITIZE=ON

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

play: build
	./$(BUILD)/qvbp $(DEMO)

test-normal: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-asan: deps $(ASAN)/CMakeCache.txt
	cmake --build $(ASAN) -j $(JOBS)
	cd $(ASAN) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
		ctest --output-on-failure -j $(JOBS)

test-fuzz: fuzz
	sh fuzz/run-bounded.sh $(FUZZ) $(FUZZ_SECONDS)

test: test-normal test-asan test-fuzz

bench: build
	./$(BUILD)/bench/qvbp_bench

fuzz: deps
	cmake -S . -B $(FUZZ) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DQVBP_FUZZ=ON
	cmake --build $(FUZZ) -j $(JOBS)

clean:
	rm -rf $(BUILD) $(ASAN) $(FUZZ)
