# Wraps CMake: `make demo` and `make test` are all a newcomer needs.
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
PREFIX ?= /usr/local
CMAKE_FLAGS ?=

.PHONY: all build demo test clean

all: build

build:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

demo: build
	@echo '$$ karvo -c -N examples/symbionts.phy examples/symbiont-hosts.txt'
	@$(BUILD)/karvo -c -N examples/symbionts.phy examples/symbiont-hosts.txt

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD)
