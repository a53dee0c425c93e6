# The two commands of the README, plus benchmarks. Each installs what is
# missing, configures once and builds incrementally.
BUILD_DIR ?= build/mingw
JOBS ?= 2

.PHONY: all setup configure build test demo bench gallery sdk format format-check clean

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

# With DEMO_ARGS=--server the rights come from a throwaway PostgreSQL cluster,
# started before the demo and stopped after it however the demo ends; the demo
# reads its port and password from the cluster's folder, never from here.
DEMO_PG_DIR = $(BUILD_DIR)/demo-postgres

demo: build
ifneq ($(filter --server /server,$(DEMO_ARGS)),)
	@bash tools/pg-cluster.sh start $(DEMO_PG_DIR) >/dev/null
	@trap 'bash tools/pg-cluster.sh stop $(DEMO_PG_DIR)' EXIT; trap 'exit 130' INT TERM; \
	$(BUILD_DIR)/wine-run --timeout 300 XTRmDemo.exe $(DEMO_ARGS)
else
	$(BUILD_DIR)/wine-run --timeout 300 XTRmDemo.exe $(DEMO_ARGS)
endif

# With PostgreSQL's server binaries present, also the rights service on a
# throwaway loopback cluster and its 60 s load run (bench/run-bench.sh).
bench: build
	cmake --build $(BUILD_DIR) -j $(JOBS) --target xtrm_bench
	bash bench/run-bench.sh $(BUILD_DIR) $(BENCH_ARGS)

# Runs the demo headless and refreshes the README's pictures in docs/screenshots/.
gallery: build
	bash tools/gallery.sh $(BUILD_DIR)

# The SDK: the install tree (DLLs, import libraries, headers, reference
# resources, CMake package, docs) as a ZIP under $(BUILD_DIR)/package/, with
# the Debug configuration (libraries only) built in $(BUILD_DIR)-debug beside it.
SDK_DEBUG_DIR = $(BUILD_DIR)-debug

sdk: build
	cmake --preset mingw -B $(SDK_DEBUG_DIR) -DCMAKE_BUILD_TYPE=Debug -DXTRM_BUILD_TESTS=OFF >/dev/null
	cmake --build $(SDK_DEBUG_DIR) -j $(JOBS)
	cmake -B $(BUILD_DIR) -DXTRM_SDK_DEBUG_BUILD_DIR=$(abspath $(SDK_DEBUG_DIR)) >/dev/null
	cd $(BUILD_DIR) && cpack -G ZIP

# The house style (.clang-format) over every C++ source and header.
format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

# The same, as a check that changes nothing (CI runs it).
format-check: setup
	clang-format --dry-run -Werror $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD_DIR)
