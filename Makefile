# Entry points. `make demo` and `make test` work on a fresh Debian machine.
PRESET ?= release
BUILD_DIR := build/$(PRESET)
BIN := $(BUILD_DIR)/bin
DEMO_DIR ?= lumet-demo
FUZZ_SECONDS ?= 60
# The interpreter `make wheel` builds for (the one the release build's module is for).
PYTHON ?= /usr/bin/python3
FUZZ_TARGETS := fuzz_bmp_reader fuzz_param_file fuzz_homography_file fuzz_command_line fuzz_still_reader fuzz_video_reader

.PHONY: all deps configure build test test-gui test-asan fuzz check demo gui screenshots bench package wheel clean

all: build

deps:
	@bash scripts/deps.sh

configure: deps
	cmake --preset $(PRESET)

build: configure
	cmake --build --preset $(PRESET)

test: build
	ctest --preset $(PRESET)

test-gui: build
	ctest --preset $(PRESET) -L gui

# The whole suite built with the address and undefined-behaviour sanitizers.
test-asan: deps
	cmake --preset asan
	cmake --build --preset asan
	ctest --preset asan

# Every libFuzzer target (clang) for FUZZ_SECONDS each; findings go to build/fuzz/findings/.
fuzz: deps
	cmake --preset fuzz
	cmake --build --preset fuzz --target $(FUZZ_TARGETS) lumet-fuzz-seeds
	FUZZ_SECONDS=$(FUZZ_SECONDS) bash scripts/fuzz.sh build/fuzz

# The deeper checks: the tests, the sanitizer suite and a fuzz smoke run.
check: test test-asan fuzz

# Builds only the command line and the codec module; `make test` builds the rest.
demo: configure
	cmake --build --preset $(PRESET) --target lumet-cli lumet_codecs
	$(BIN)/lumet-cli demo $(DEMO_DIR)

gui: build
	@if [ ! -f $(DEMO_DIR)/param.txt ]; then $(BIN)/lumet-cli synth $(DEMO_DIR); fi
	$(BIN)/lumet $(DEMO_DIR)

screenshots: build
	bash scripts/screenshots.sh $(BIN) build/screenshots

# Micro-benchmarks, the end-to-end table (BENCH_BEFORE=path/to/lumet-cli adds a
# "before" table from another build), then whole-frame jobs at 320 x 240 and 1280 x 720.
bench: build
	$(BIN)/lumet-bench
	bash bench/e2e.sh $(BIN) $(BENCH_BEFORE)
	bash bench/scale.sh $(BIN)

# The Debian packages (lumet-cli, lumet, python3-lumet, liblumet1, liblumet-dev) into $(BUILD_DIR).
package: build
	cmake --build $(BUILD_DIR) --target package

# A wheel of the Python module into $(BUILD_DIR)/dist/, through pyproject.toml's backend with
# the release build's tree (only the module is built there; nothing is downloaded).
wheel: configure
	LUMET_CMAKE_BUILD_DIR=$(BUILD_DIR) $(PYTHON) -m build --wheel --no-isolation --outdir $(BUILD_DIR)/dist .

clean:
	rm -rf build
