# Thin front over CMake. `make test` and `make demo` install what they need on Debian 12 (as root).
BUILD   ?= build
HOST    := $(BUILD)/host
JOBS    ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=
PREFIX  ?= /usr/local

.PHONY: all deps configure build test demo install clean fuzz coverage bench

all: build

deps:
	@scripts/install-deps

configure: deps
	cmake -S . -B $(HOST) -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug $(CMAKE_FLAGS)

build: configure
	cmake --build $(HOST) -j $(JOBS)

test: build
	cd $(HOST) && ctest --output-on-failure -j $(JOBS)

# The demo builds quietly (the log is kept) so the session itself is what a new user reads.
demo: deps
	@mkdir -p $(HOST)
	@echo "Building Kestrel.efi and the simulated board (log: $(HOST)/build.log) ..."
	@{ cmake -S . -B $(HOST) -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug $(CMAKE_FLAGS) && \
	   cmake --build $(HOST) -j $(JOBS); } > $(HOST)/build.log 2>&1 || \
	   { tail -n 40 $(HOST)/build.log; exit 1; }
	@KESTREL_EFI=$(HOST)/Kestrel.efi KESTREL_BOARD_DRIVER=$(HOST)/SimBoard.efi e2e/demo

# The Linux front end and its man page, built without the test sanitizers.
install: deps
	cmake -S . -B $(BUILD)/release -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Release \
	      -DKESTREL_SANITIZE=OFF $(CMAKE_FLAGS)
	cmake --build $(BUILD)/release -j $(JOBS) --target kestrel
	cmake --install $(BUILD)/release --prefix $(PREFIX)

# Each fuzz target for FUZZ_TIME seconds, one after the other (clang, libFuzzer, ASan, UBSan).
FUZZ_TIME ?= 60
fuzz: deps
	cmake -S . -B $(BUILD)/fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	      -DKESTREL_FUZZ=ON
	cmake --build $(BUILD)/fuzz -j $(JOBS) --target fuzz_targets
	tests/fuzz/run_fuzzers.sh $(BUILD)/fuzz $(FUZZ_TIME)

# Line and branch coverage of the host tests over app/, shell/ and diag/.
coverage: deps
	cmake -S . -B $(BUILD)/coverage -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug \
	      -DKESTREL_SANITIZE=OFF -DKESTREL_COVERAGE=ON
	cmake --build $(BUILD)/coverage -j $(JOBS)
	cmake -DBUILD_DIR=$(BUILD)/coverage -DSOURCE_DIR=$(CURDIR) -P cmake/coverage_report.cmake

# Google Benchmark figures from an optimised build without sanitizers, and the image's sections.
bench: deps
	cmake -S . -B $(BUILD)/bench -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Release \
	      -DKESTREL_SANITIZE=OFF -DKESTREL_BENCH=ON
	cmake --build $(BUILD)/bench -j $(JOBS) --target kestrel_bench
	$(BUILD)/bench/bench/kestrel_bench
	python3 bench/image_sizes.py $(BUILD)/bench/Kestrel.efi.map

clean:
	rm -rf $(BUILD)
