# vesklink: build the four add-in libraries and run every test.
#   make test   installs what is missing, builds all targets and runs all tests
#   make build  builds all targets
#   make demo   installs and builds only what it needs, then runs a whole day at a till against
#               the simulator
#   make bench  times one command exchange over a pseudo-terminal and a sale (Linux x86_64 build), and a sale
#               through each Windows library under Wine with a till's timing emulated
#   make package  builds the four libraries and the add-in package build/vesklink.zip
#   make fuzz FUZZ_SECONDS=N  runs every fuzz target for N seconds (`make test` runs each for 15)
SHELL := /bin/bash
ROOT := $(CURDIR)
BUILD := $(ROOT)/build
JOBS ?= 2
TARGETS := linux64 linux32 win64 win32 asan fuzz

CMAKE_linux64 := -DCMAKE_TOOLCHAIN_FILE=$(ROOT)/cmake/linux-x86_64.cmake
CMAKE_linux32 := -DCMAKE_TOOLCHAIN_FILE=$(ROOT)/cmake/linux-i386.cmake
CMAKE_win64 := -DCMAKE_TOOLCHAIN_FILE=$(ROOT)/cmake/mingw-x86_64.cmake
CMAKE_win32 := -DCMAKE_TOOLCHAIN_FILE=$(ROOT)/cmake/mingw-i686.cmake
CMAKE_asan := -DVESKLINK_SANITIZE=ON
CMAKE_fuzz := -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DVESKLINK_FUZZ=ON -DVESKLINK_TESTS=OFF
FUZZ_SECONDS ?= 60

.PHONY: all deps deps-demo build test demo bench package fuzz clean FORCE
FORCE:
# The configured build trees stay: each build only reconfigures what changed.
.PRECIOUS: $(BUILD)/%/CMakeCache.txt

all: build

deps:
	@bash scripts/install-deps.sh

deps-demo:
	@bash scripts/install-deps.sh demo

# A build tree configured before its toolchain file changed is configured afresh.
$(BUILD)/linux64/CMakeCache.txt: $(ROOT)/cmake/linux-x86_64.cmake $(ROOT)/cmake/debian11-sysroot.cmake
$(BUILD)/linux32/CMakeCache.txt: $(ROOT)/cmake/linux-i386.cmake $(ROOT)/cmake/debian11-sysroot.cmake
$(BUILD)/%/CMakeCache.txt:
	rm -rf $(BUILD)/$*/CMakeCache.txt $(BUILD)/$*/CMakeFiles
	cmake -S $(ROOT) -B $(BUILD)/$* -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_$*) $(CONFIGURE_EXTRA) >/dev/null

# A tree that make demo configured without the tests gets them at its first full build.
build-%: $(BUILD)/%/CMakeCache.txt FORCE
	@if grep -qx 'VESKLINK_TESTS:BOOL=OFF' $(BUILD)/$*/CMakeCache.txt; then \
	  cmake -DVESKLINK_TESTS=ON $(BUILD)/$* >/dev/null; fi
	cmake --build $(BUILD)/$* -j $(JOBS)

build: deps $(addprefix build-,$(TARGETS))

# The fuzz build holds the fuzz targets only (libFuzzer, clang, both sanitizers).
build-fuzz: $(BUILD)/fuzz/CMakeCache.txt FORCE
	cmake --build $(BUILD)/fuzz -j $(JOBS) --target fuzz_targets

fuzz: deps build-fuzz
	bash fuzz/run.sh $(BUILD)/fuzz $(FUZZ_SECONDS)

test-%: build-% FORCE
	cd $(BUILD)/$* && ctest --output-on-failure

test: deps
	@bash scripts/run-tests.sh $(TARGETS)

# The add-in package: the four libraries and MANIFEST.XML, checked before it is written.
package: deps build-linux64 build-linux32 build-win64 build-win32
	@bash scripts/package.sh $(BUILD) $(BUILD)/vesklink.zip
	@bash scripts/package-tools.sh $(BUILD) $(BUILD)/vesklink-tools.zip

# The demo needs the library, the simulator and vesklink-cli of the Linux x86_64 build, nothing
# else: it installs only their packages and builds only those targets. A tree it configures on a
# machine without GoogleTest leaves the tests out.
demo: deps-demo
	@$(MAKE) -s $(BUILD)/linux64/CMakeCache.txt \
	  CONFIGURE_EXTRA=-DVESKLINK_TESTS=$(if $(wildcard /usr/src/googletest/CMakeLists.txt),ON,OFF)
	cmake --build $(BUILD)/linux64 -j $(JOBS) --target vesklink-cli
	$(BUILD)/linux64/bin/vesklink-cli --lib $(BUILD)/linux64/bin/vesklink_64.so demo

# The Windows sale runs next to the simulator of the Linux build; the Wine server it leaves is stopped.
# BENCH_RUNS runs per library, each on a fresh process; every run's output stays in build/bench.
BENCH_RUNS ?= 10
bench: build-linux64 build-win64 build-win32
	$(BUILD)/linux64/bin/vesklink_bench
	bash tests/with-sim.sh $(BUILD)/linux64/bin/vesklink-sim $(BUILD)/linux64/bin/vesklink_receipt_bench --gtest_brief=1
	@bash bench/wine-runs.sh $(BUILD)/linux64/bin/vesklink-sim $(BUILD) $(BUILD)/bench $(BENCH_RUNS) win64 win32; \
	  status=$$?; WINEPREFIX=$(BUILD)/wine wineserver -k >/dev/null 2>&1; exit $$status

clean:
	rm -rf $(BUILD)
