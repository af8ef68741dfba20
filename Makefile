# Entry points for people and CI. `make test` installs what is missing on a
# Debian machine, configures, builds and runs every test; `make demo` builds
# what the demo needs and runs it (scripts/demo.sh).
#   make test                 normal build in build/
#   make test PRESET=asan     AddressSanitizer + UBSan in build-asan/
#   make test PRESET=tsan     ThreadSanitizer in build-tsan/
#   make demo                 two telephone lines on the simulated exchange
#   make demo LINK=serial     the same over the serial link (a pseudo-terminal)
#   make demo LINK=usb        the same over USB (tksim's stand-in for the driver)
#   make screenshots          the dialogs as PNG files in build/screenshots/ (offscreen)
#   make check                ASan+UBSan and TSan test runs, every fuzzer 5 minutes (scripts/check.sh)
#   make windows              the Windows files with MinGW-w64: build-windows/ (x64), build-windows32/ (x86)

PRESET ?= default
LINK ?= lan
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
# Tests mostly wait on other processes and threads, so run more of them than there are cores.
TEST_JOBS ?= $(shell expr $(JOBS) \* 2)

# The build folder of the preset (build/, build-asan/, build-tsan/).
BUILD_DIR = build$(if $(filter default,$(PRESET)),,-$(PRESET))
DEMO_TARGETS = tkphone tksetup tksim tapisrv tapi32 kvarsp64 vnlsock vnl2d32 vnl2c64

.PHONY: test deps configure build clean demo screenshots bench check windows windows-test

test: build
	ctest --preset $(PRESET) -j $(TEST_JOBS) --timeout 300
	@if [ "$(PRESET)" = default ]; then $(MAKE) --no-print-directory windows-test; fi

# The Windows files and their smoke suite under Wine (part of `make test`
# with the default preset; the install script installs MinGW-w64 and Wine).
# The x86 files have no 32-bit Wine to run under: their export tables are checked.
windows-test: windows
	ctest --preset windows -j $(JOBS) --timeout 300
	ctest --preset windows32 -j $(JOBS) --timeout 300

build: configure
	cmake --build --preset $(PRESET) -j $(JOBS)

demo: configure
	cmake --build --preset $(PRESET) -j $(JOBS) --target $(DEMO_TARGETS)
	TK_DEMO_LINK=$(LINK) scripts/demo.sh $(BUILD_DIR)

screenshots: configure
	cmake --build --preset $(PRESET) -j $(JOBS) --target tkscreenshots
	$(BUILD_DIR)/bin/tkscreenshots --out $(BUILD_DIR)/screenshots

# The benchmarks (call_bench, vnl2_echo_bench) with their defaults and one
# summary table of figures, baselines and targets (scripts/bench.sh); about
# 3 minutes besides the build; not part of `make test`.
bench: configure
	JOBS=$(JOBS) scripts/bench.sh $(BUILD_DIR)

# Before a release and before an issue is closed: every test under ASan+UBSan
# and under TSan, and every fuzzer for FUZZ_SECONDS (300) each, with one
# summary table (scripts/check.sh); over an hour on 2 cores, not in CI.
check: deps
	JOBS=$(JOBS) scripts/check.sh

# The Windows deliverables, cross-compiled: x64 into build-windows/bin, x86
# into build-windows32/bin. `ctest --preset windows` runs their tests under Wine.
windows: deps
	cmake --preset windows
	cmake --build --preset windows -j $(JOBS)
	cmake --preset windows32
	cmake --build --preset windows32 -j $(JOBS)

configure: deps
	cmake --preset $(PRESET)

deps:
	@scripts/install-deps.sh

clean:
	rm -rf build build-asan build-tsan build-windows build-windows32
