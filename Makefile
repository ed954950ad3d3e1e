BUILD ?= build
JOBS ?= 2
# Build of the whole test suite with the address and undefined-behaviour sanitizers.
SAN_BUILD ?= build-san
SAN_ENV = ASAN_OPTIONS=detect_leaks=1:halt_on_error=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

# The Windows cross-build (mingw-w64), its dependencies and the zip; tested under Wine.
WIN_BUILD ?= build-win
WINEPREFIX ?= $(HOME)/.cache/tubefit-win/wine
WINE = WINEDEBUG=-all WINEPREFIX=$(WINEPREFIX) /usr/lib/wine/wine64
CCACHE := $(shell command -v ccache >/dev/null 2>&1 && echo -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

.PHONY: all deps build test test-sanitize fuzz demo bench clean deps-windows windows test-windows

all: build

# Installs the missing Debian packages (as root) or names them; a no-op when all are there.
deps:
	@sh tools/deps.sh

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release $(CCACHE)

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

# deps first, then the build: also under make -j.
test: deps
	@$(MAKE) --no-print-directory build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

$(SAN_BUILD)/CMakeCache.txt:
	cmake -S . -B $(SAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTUBEFIT_SANITIZE=ON

test-sanitize: $(SAN_BUILD)/CMakeCache.txt
	cmake --build $(SAN_BUILD) -j $(JOBS) --target tubefit tubefit_tests
	$(SAN_ENV) ctest --test-dir $(SAN_BUILD) --output-on-failure -j $(JOBS)

# The libFuzzer targets (clang); run them with fuzz/run.sh, see fuzz/README.md.
FUZZ_BUILD ?= build-fuzz
$(FUZZ_BUILD)/CMakeCache.txt:
	cmake -S . -B $(FUZZ_BUILD) -DTUBEFIT_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo

fuzz: $(FUZZ_BUILD)/CMakeCache.txt
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz_config fuzz_utd fuzz_parfile

# The demo needs the program only, not the tests and tools.
demo: deps
	@$(MAKE) --no-print-directory $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target tubefit
	sh tools/demo.sh $(BUILD)/tubefit

bench: build
	$(BUILD)/tubefit_bench

# Installs the mingw, Wine and zip packages and builds Ceres Solver and GoogleTest for mingw into a cache
# outside the source tree (tools/deps-windows.sh).
deps-windows:
	@sh tools/deps-windows.sh

$(WIN_BUILD)/CMakeCache.txt:
	cmake -S . -B $(WIN_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release $(CCACHE)

windows: $(WIN_BUILD)/CMakeCache.txt
	cmake --build $(WIN_BUILD) -j $(JOBS) --target tubefit tubefit_tests tubefit-standin tubefit-synth
	sh tools/package-windows.sh $(WIN_BUILD)

# The whole suite and every example under Wine, compared byte for byte with the Linux build.
test-windows: windows build
	sh tools/test-windows.sh $(BUILD) $(WIN_BUILD)

clean:
	rm -rf $(BUILD) $(SAN_BUILD) $(FUZZ_BUILD) $(WIN_BUILD) dist
