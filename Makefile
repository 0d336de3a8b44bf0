# Entry points. Every target installs missing Debian packages first, so each one
# works on a fresh machine.
# CXX is passed to CMake, which keeps the compiler a tree was first configured
# with: any compiler but the default gets a build directory of its own.
CXX      ?= c++
ifeq ($(origin CXX),default)
CXX      := c++
endif
COMPILER := $(notdir $(CXX))
BUILD    ?= build$(if $(filter c++ g++,$(COMPILER)),,-$(COMPILER))
SANITIZE ?=
WERROR   ?= OFF
BENCH    ?= ON
FUZZ     ?= OFF
JOBS     ?= $(shell nproc)
CMAKE_FLAGS = -DKINETRA_SANITIZE=$(SANITIZE) -DKINETRA_WERROR=$(WERROR) -DKINETRA_BUILD_BENCH=$(BENCH) \
              -DKINETRA_FUZZ=$(FUZZ)
# make fuzz: clang with ASan+UBSan and libFuzzer, each target FUZZ_SECONDS, two at a time.
FUZZ_SECONDS ?= 60
FUZZ_BUILD   ?= build-fuzz

.PHONY: all deps configure build test demo bench fuzz clean

all: build

deps:
	@scripts/install-deps.sh

configure: deps
	@cached=$$(sed -n "s/^CMAKE_CXX_COMPILER:[A-Z]*=//p" $(BUILD)/CMakeCache.txt 2>/dev/null); \
	 cached=$${cached:+$$(readlink -f "$$cached")}; \
	 wanted=$$(readlink -f "$$(command -v $(CXX))"); \
	 if [ -n "$$cached" ] && [ "$$cached" != "$$wanted" ]; then \
	   echo "$(BUILD) was configured with $$cached: starting it afresh for $$wanted"; rm -rf $(BUILD); fi
	@CXX=$(CXX) cmake -S . -B $(BUILD) $(CMAKE_FLAGS) > $(BUILD).configure.log || (cat $(BUILD).configure.log; exit 1)

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

demo: build
	@$(BUILD)/examples/demo

bench: build
	@for b in $(BUILD)/bench/*_bench; do echo "== $$b"; $$b; done

fuzz: deps
	@CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DKINETRA_SANITIZE=address -DKINETRA_FUZZ=ON \
	  -DKINETRA_WERROR=$(WERROR) -DKINETRA_BUILD_BENCH=OFF > $(FUZZ_BUILD).configure.log \
	  || (cat $(FUZZ_BUILD).configure.log; exit 1)
	@cmake --build $(FUZZ_BUILD) -j $(JOBS) --target kinetra_fuzz_targets
	@scripts/run-fuzz.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

clean:
	rm -rf build build-*
