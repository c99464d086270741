# The two things a newcomer runs: `make demo` extracts the bundled sample database through the
# plug-in into out/demo, `make test` runs the whole test suite. Both install what is missing first.
PRESET ?= default
BUILD_DIR := build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all deps configure build demo test asan fuzz fuzz-long clean

all: build

deps:
	bash scripts/install-deps.sh

configure: deps
	cmake --preset $(PRESET)

build: configure
	cmake --build --preset $(PRESET) -j $(JOBS)

demo: build
	rm -rf out/demo
	mkdir -p out/demo
	$(BUILD_DIR)/cli/tessel extract samples/mail.dxl -o out/demo
	@echo "Written to out/demo (open the .mht files in a browser):"
	@cd out/demo && find . -type f | sed 's|^\./||' | sort

test: build
	ctest --preset $(PRESET) -j $(JOBS)

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer, leak checks on (the
# test preset sets the sanitizer options and the leak suppressions of scripts/lsan.supp).
asan: deps
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

# The fuzz targets for FUZZ_RUNS inputs each (what CI runs), or FUZZ_SECONDS each (fuzz-long).
FUZZ_RUNS ?= 3000
FUZZ_SECONDS ?= 300
fuzz:
	bash scripts/install-deps.sh fuzz
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)
	scripts/fuzz.sh runs $(FUZZ_RUNS)

fuzz-long: fuzz
	scripts/fuzz.sh time $(FUZZ_SECONDS)

clean:
	rm -rf build build-asan build-fuzz out
