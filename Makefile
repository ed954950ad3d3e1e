BUILD ?= build
JOBS ?= 2

.PHONY: all build test demo bench clean

all: build

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

demo: build
	sh tools/demo.sh $(BUILD)/tubefit

bench: build
	$(BUILD)/tubefit_bench

clean:
	rm -rf $(BUILD)
