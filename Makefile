BUILD ?= build
JOBS ?= 2
# Build of the whole test suite with the address and undefined-behaviour sanitizers.
SAN_BUILD ?= build-san
SAN_ENV = ASAN_OPTIONS=detect_leaks=1:halt_on_error=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

.PHONY: all deps build test test-sanitize fuzz demo bench clean

all: build

# Installs the missing Debian packages (as root) or names them; a no-op when all are there.
deps:
	@sh tools/deps.sh

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release

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

demo: deps
	@$(MAKE) --no-print-directory build
	sh tools/demo.sh $(BUILD)/tubefit

bench: build
	$(BUILD)/tubefit_bench

clean:
	rm -rf $(BUILD) $(SAN_BUILD) $(FUZZ_BUILD)
