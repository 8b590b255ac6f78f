# Thin front over CMake. `make test` and `make demo` install what they need on Debian 12 (as root).
BUILD   ?= build
HOST    := $(BUILD)/host
JOBS    ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=
PREFIX  ?= /usr/local

.PHONY: all deps configure build test demo install deb clean fuzz coverage bench sign kestrel

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

# The Linux front end for people, $(BUILD)/release/host/kestrel, and Kestrel.efi beside it in
# $(BUILD)/release: an optimised build without the test sanitizers (the one under $(HOST) is the
# tests' and carries them).
kestrel: deps
	cmake -S . -B $(BUILD)/release -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Release \
	      -DKESTREL_SANITIZE=OFF $(CMAKE_FLAGS)
	cmake --build $(BUILD)/release -j $(JOBS) --target kestrel Kestrel_efi

# The Linux front end, its man page and bash completion, Kestrel.efi and the factory scripts,
# from the release build above.
install: kestrel
	cmake --install $(BUILD)/release --prefix $(PREFIX)

# A signed copy of Kestrel.efi beside it, $(HOST)/Kestrel.signed.efi, for boards with Secure Boot:
# KEY and CERT are the board maker's db key and certificate (PEM), KEY_PASS its passphrase if it
# has one. sbsign signs, sbverify checks; the package and `make install` keep the unsigned image.
sign:
	@scripts/sign-efi --check "" "$(KEY)" "$(CERT)"
	@test -f $(HOST)/CMakeCache.txt || $(MAKE) --no-print-directory configure
	cmake --build $(HOST) --target Kestrel_efi
	@scripts/sign-efi $(HOST)/Kestrel.efi "$(KEY)" "$(CERT)"

# $(BUILD)/kestrel_<version>_amd64.deb: the same files under /usr, kestrel in /usr/sbin, built
# with Debian's hardening flags; cmake/package.cmake stages and checks the package.
deb: deps
	export DEB_BUILD_MAINT_OPTIONS=hardening=+all && \
	cmake -S . -B $(BUILD)/deb -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Release \
	      -DKESTREL_SANITIZE=OFF -DCMAKE_INSTALL_BINDIR=sbin \
	      "-DCMAKE_CXX_FLAGS=$$(dpkg-buildflags --get CPPFLAGS) $$(dpkg-buildflags --get CXXFLAGS)" \
	      "-DCMAKE_EXE_LINKER_FLAGS=$$(dpkg-buildflags --get LDFLAGS)" $(CMAKE_FLAGS)
	cmake --build $(BUILD)/deb -j $(JOBS) --target kestrel Kestrel_efi
	cmake -DBUILD_DIR=$(BUILD)/deb -DSOURCE_DIR=$(CURDIR) -DOUTPUT_DIR=$(BUILD) -P cmake/package.cmake

# Each fuzz target for FUZZ_TIME seconds, one after the other (clang, libFuzzer, ASan, UBSan).
FUZZ_TIME ?= 60
fuzz: deps
	cmake -S . -B $(BUILD)/fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	      -DKESTREL_FUZZ=ON
	cmake --build $(BUILD)/fuzz -j $(JOBS) --target fuzz_targets
	tests/fuzz/run_fuzzers.sh $(BUILD)/fuzz $(FUZZ_TIME)

# Line and branch coverage of the host tests over app/, shell/ and diag/. Every instrumented
# program writes a profile when it exits, also the test listings the build runs; without
# LLVM_PROFILE_FILE that is a default.profraw in whatever folder it ran in, so the build's are
# sent to a folder of their own (the report's are set in coverage_report.cmake).
coverage: deps
	cmake -S . -B $(BUILD)/coverage -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug \
	      -DKESTREL_SANITIZE=OFF -DKESTREL_COVERAGE=ON
	LLVM_PROFILE_FILE=$(abspath $(BUILD))/coverage/build-profiles/%p-%m.profraw \
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
