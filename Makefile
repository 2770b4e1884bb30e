# Wraps CMake: `make demo` and `make test` are all a newcomer needs.
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
PREFIX ?= /usr/local
CMAKE_FLAGS ?=

.PHONY: all build demo test bench fuzz install package clean

all: build

build:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

demo: build
	@echo '$$ karvo -c -N examples/symbionts.phy examples/symbiont-hosts.txt'
	@$(BUILD)/karvo -c -N examples/symbionts.phy examples/symbiont-hosts.txt

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# Speed and memory against `cat` on generated data (see bench/README.md).
bench:
	bash bench/run.sh

# Each fuzz target for a set time (see fuzz/README.md).
fuzz:
	bash fuzz/run.sh

install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

package: build
	cd $(BUILD) && cpack -G DEB

clean:
	rm -rf $(BUILD)
