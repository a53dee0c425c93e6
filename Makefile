# The two commands of the README, plus benchmarks. Each installs what is
# missing, configures once and builds incrementally.
BUILD_DIR ?= build/mingw
JOBS ?= 2

.PHONY: all setup configure build test demo bench clean

all: build

setup:
	@bash tools/setup.sh

$(BUILD_DIR)/build.ninja: | setup
	cmake --preset mingw -B $(BUILD_DIR)

configure: setup $(BUILD_DIR)/build.ninja

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j 1; rc=$$?; $(BUILD_DIR)/wine-run --shutdown; exit $$rc

demo: build
	$(BUILD_DIR)/wine-run --timeout 300 XTRmDemo.exe $(DEMO_ARGS)

# With PostgreSQL's server binaries present, also the rights service on a
# throwaway loopback cluster and its 60 s load run (bench/run-bench.sh).
bench: build
	cmake --build $(BUILD_DIR) -j $(JOBS) --target xtrm_bench
	bash bench/run-bench.sh $(BUILD_DIR) $(BENCH_ARGS)

clean:
	rm -rf $(BUILD_DIR)
