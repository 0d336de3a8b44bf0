# Entry points. Every target installs missing Debian packages first, so each one
# works on a fresh machine.
BUILD    ?= build
SANITIZE ?=
WERROR   ?= OFF
BENCH    ?= ON
JOBS     ?= $(shell nproc)
PREFIX   ?= /usr/local
CMAKE_FLAGS = -DKINETRA_SANITIZE=$(SANITIZE) -DKINETRA_WERROR=$(WERROR) -DKINETRA_BUILD_BENCH=$(BENCH)

.PHONY: all deps configure build test demo bench install check-install docs clean

all: build

deps:
	@scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) > $(BUILD).configure.log || (cat $(BUILD).configure.log; exit 1)

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

demo: build
	@scripts/demo-tour.sh $(BUILD)

bench: build
	@for b in $(BUILD)/bench/*_bench; do echo "== $$b"; $$b; done

# The library, its headers, the simulator, the programs, the CMake package, the
# pkg-config files and the Python module under PREFIX (relocatable).
install: build
	@cmake --install $(BUILD) --prefix $(PREFIX)

# Install into a temporary prefix and build and run examples/consumer against it.
check-install: build
	@scripts/check-install.sh $(BUILD)

# API documentation of the public headers into $(BUILD)/docs/html; warnings fail.
docs: deps
	@mkdir -p $(BUILD)/docs
	@cd docs && ( cat Doxyfile; echo "OUTPUT_DIRECTORY = $(abspath $(BUILD))/docs" ) | doxygen -

clean:
	rm -rf build build-*
