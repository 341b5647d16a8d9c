# Thin wrapper over CMake.
#   make run    builds everything and converts the bundled sample to PNG
#               ($(BUILD)/sample.png)
#   make test   builds everything and runs the test suite
# Both first install the Debian packages they need when some are missing.
# SANITIZE=1 builds with AddressSanitizer and UBSan into build-asan/,
# SANITIZE=thread with ThreadSanitizer into build-tsan/.
BUILD ?= build
JOBS ?= $(shell nproc)
ifeq ($(SANITIZE),1)
BUILD := build-asan
CMAKE_FLAGS += -DKXFPX_SANITIZE=ON -DKXFPX_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug
endif
ifeq ($(SANITIZE),thread)
BUILD := build-tsan
CMAKE_FLAGS += -DKXFPX_TSAN=ON -DKXFPX_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo
endif

.PHONY: all configure run test clean

all: configure
	cmake --build $(BUILD) -j $(JOBS) -- --no-print-directory

# .ci/deps installs the Debian packages the build and tests need when some are missing.
configure:
	./.ci/deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

SAMPLE_PNG = $(BUILD)/sample.png

run: all
	./$(BUILD)/bin/fpxconv -f samples/sample.fpx $(SAMPLE_PNG)
	@echo "The sample picture is in $(abspath $(SAMPLE_PNG))"

test: all
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

clean:
	rm -rf build build-asan build-tsan
