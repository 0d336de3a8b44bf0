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
SOAK_SECONDS ?= 600
JOBS     ?= $(shell nproc)
PREFIX   ?= /usr/local
CMAKE_FLAGS = -DKINETRA_SANITIZE=$(SANITIZE) -DKINETRA_WERROR=$(WERROR) -DKINETRA_BUILD_BENCH=$(BENCH) \
              -DKINETRA_FUZZ=$(FUZZ)
# make fuzz: clang with ASan+UBSan and libFuzzer, each target FUZZ_SECONDS, two at a time.
FUZZ_SECONDS ?= 60
FUZZ_BUILD   ?= build-fuzz

.PHONY: all deps configure build test test-socketcan demo bench install check-install docs fuzz soak clean \
        windows test-windows

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

fuzz: deps
	@CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DKINETRA_SANITIZE=address -DKINETRA_FUZZ=ON \
	  -DKINETRA_WERROR=$(WERROR) -DKINETRA_BUILD_BENCH=OFF > $(FUZZ_BUILD).configure.log \
	  || (cat $(FUZZ_BUILD).configure.log; exit 1)
	@cmake --build $(FUZZ_BUILD) -j $(JOBS) --target kinetra_fuzz_targets
	@scripts/run-fuzz.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

# A long soak in this build (the test suite's Soak entry runs 5 s).
soak: build
	@KINETRA_SOAK_SECONDS=$(SOAK_SECONDS) $(BUILD)/tests/kinetra_soak

# Windows: cross-built with MinGW-w64 into WINDOWS_BUILD (the DLL and its import
# library, kinetra.exe, the list_nodes example, the Windows test program), and
# its tests run under Wine against
# peers and kinetra-sim running natively from the Linux build.
WINDOWS_BUILD ?= build-windows

windows: deps
	@scripts/install-windows-deps.sh
	@scripts/stage-windows-headers.sh $(WINDOWS_BUILD)/host-headers
	@cmake -S . -B $(WINDOWS_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
	  -DKINETRA_WERROR=$(WERROR) -DKINETRA_BUILD_BENCH=OFF -DKINETRA_BUILD_PYTHON=OFF -DKINETRA_BUILD_EXAMPLES=ON \
	  > $(WINDOWS_BUILD).configure.log || (cat $(WINDOWS_BUILD).configure.log; exit 1)
	@cmake --build $(WINDOWS_BUILD) -j $(JOBS)

test-windows: windows build
	@scripts/test-windows.sh $(WINDOWS_BUILD) $(BUILD)

# The SocketCAN tests in a virtual machine with Debian's kernel (QEMU): this
# machine's kernel has no CAN support.
test-socketcan: build
	@scripts/vm-test.sh $(BUILD)

clean:
	rm -rf build build-*
