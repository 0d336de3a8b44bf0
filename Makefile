# Entry points. Every target installs missing Debian packages first, so each one
# works on a fresh machine.
BUILD    ?= build
SANITIZE ?=
WERROR   ?= OFF
BENCH    ?= ON
SOAK_SECONDS ?= 600
JOBS     ?= $(shell nproc)
CMAKE_FLAGS = -DKINETRA_SANITIZE=$(SANITIZE) -DKINETRA_WERROR=$(WERROR) -DKINETRA_BUILD_BENCH=$(BENCH)

.PHONY: all deps configure build test demo bench soak clean

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
	@$(BUILD)/examples/demo

bench: build
	@for b in $(BUILD)/bench/*_bench; do echo "== $$b"; $$b; done

# A long soak in this build (the test suite's Soak entry runs 5 s).
soak: build
	@KINETRA_SOAK_SECONDS=$(SOAK_SECONDS) $(BUILD)/tests/kinetra_soak

clean:
	rm -rf build build-*
