# Entry points for people and CI. `make test` installs what is missing on a
# Debian machine, configures, builds and runs every test.
#   make test                 normal build in build/
#   make test PRESET=asan     AddressSanitizer + UBSan in build-asan/
#   make test PRESET=tsan     ThreadSanitizer in build-tsan/

PRESET ?= default
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
# Tests mostly wait on other processes and threads, so run more of them than there are cores.
TEST_JOBS ?= $(shell expr $(JOBS) \* 2)

.PHONY: test deps configure build clean

test: build
	ctest --preset $(PRESET) -j $(TEST_JOBS) --timeout 300

build: configure
	cmake --build --preset $(PRESET) -j $(JOBS)

configure: deps
	cmake --preset $(PRESET)

deps:
	@scripts/install-deps.sh

clean:
	rm -rf build build-asan build-tsan
