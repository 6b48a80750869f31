# Velmora: build, test and demo on Debian (as root). Every target installs
# what it needs first (scripts/setup.sh is quick when everything is there).
BUILD ?= build
BUILD_DIR := $(abspath $(BUILD))
JOBS ?= $(shell nproc)
# The shipped program is 32-bit (i686); a machine whose kernel runs no 32-bit
# program builds and tests the same sources as 64-bit Windows programs.
VELMORA_ARCH ?= $(shell scripts/windows-arch.sh)
export VELMORA_ARCH
BENCH := env WINEPREFIX=$(BUILD_DIR)/wineprefix VELMORA_BUILD=$(BUILD_DIR) \
         VELMORA_KEEPALIVE=$(BUILD_DIR)/bin/WineKeepAlive.exe scripts/winebench.sh

.PHONY: all setup build test installer demo bench clean

all: build

setup:
	scripts/setup.sh

build: setup
	@# A tree built for the other architecture is dropped whole (its runtime DLLs too).
	@grep -qs 'mingw-w64-$(VELMORA_ARCH).cmake' $(BUILD_DIR)/CMakeCache.txt \
	  || find $(BUILD_DIR) -mindepth 1 -maxdepth 1 ! -name deps ! -name benchdata -exec rm -rf {} + 2>/dev/null || true
	cmake -S . -B $(BUILD_DIR) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-$(VELMORA_ARCH).cmake \
	      -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build $(BUILD_DIR) -j$(JOBS)

test: build
	$(BENCH) ctest --test-dir $(BUILD_DIR) --output-on-failure --timeout 300

# The setup program, built from whatever the home directory holds.
installer: build
	installer/build.sh $(BUILD_DIR)/home $(BUILD_DIR)/VelmoraSetup-1.5.exe

# The demo has a Wine prefix of its own, so that what the tests leave in theirs
# (an earlier "Velmora Home", test identities) never shapes what it shows.
demo: installer
	$(BENCH:$(BUILD_DIR)/wineprefix=$(BUILD_DIR)/demoprefix) scripts/demo.sh

# Archive throughput and memory against Info-ZIP, in a Wine prefix of its own;
# the generated data stays in $(BUILD)/benchdata between runs.
bench: build
	$(BENCH:$(BUILD_DIR)/wineprefix=$(BUILD_DIR)/benchprefix) bench/run.sh

clean:
	rm -rf $(BUILD_DIR)
