# Velmora: build, test and demo on Debian (as root). Every target installs
# what it needs first (scripts/setup.sh is quick when everything is there).
BUILD ?= build
BUILD_DIR := $(abspath $(BUILD))
JOBS ?= $(shell nproc)
BENCH := env WINEPREFIX=$(BUILD_DIR)/wineprefix VELMORA_BUILD=$(BUILD_DIR) \
         VELMORA_KEEPALIVE=$(BUILD_DIR)/bin/WineKeepAlive.exe scripts/winebench.sh

.PHONY: all setup build test installer demo bench clean

all: build

setup:
	scripts/setup.sh

build: setup
	cmake -S . -B $(BUILD_DIR) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake \
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
