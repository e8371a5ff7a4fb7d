# The two commands a newcomer needs are `make demo` and `make test`; everything
# else here is for developers and CI.
BUILD      ?= build
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=

PREFIX     ?= /usr/local

.PHONY: all deps configure build test unit integration sanitize asan tsan fuzz bench bench-multidl demo install deb clean format

all: build

deps:
	@scripts/install-deps.sh

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS)

configure: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --no-tests=error --output-on-failure -j $(JOBS) --timeout 300

unit: build
	cd $(BUILD) && ctest --no-tests=error --output-on-failure -j $(JOBS) -L 'unit|threading'

integration: build
	cd $(BUILD) && ctest --no-tests=error --output-on-failure -j $(JOBS) -L integration

# The programs, libraries, headers, CMake package, pkg-config file, man pages
# and bash completion under PREFIX (bin, lib, include/liveupdate, share).
install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

# The Debian package, $(BUILD)/liveupdate_<version>_<arch>.deb, for
# `apt-get install ./liveupdate_*.deb`.
deb: build
	cd $(BUILD) && cpack -G DEB

# Address + undefined behaviour sanitizers on the unit and integration tests,
# thread sanitizer on the threading tests.
sanitize: asan tsan

asan: deps
	cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DLIVEUPDATE_BENCH=OFF \
	  -DLIVEUPDATE_SANITIZE="address;undefined" $(CMAKE_ARGS)
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=1 ctest --no-tests=error --output-on-failure -j $(JOBS) -L 'unit|threading|integration' --timeout 600

tsan: deps
	cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DLIVEUPDATE_BENCH=OFF \
	  -DLIVEUPDATE_SANITIZE=thread $(CMAKE_ARGS)
	cmake --build build-tsan -j $(JOBS)
	cd build-tsan && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$(CURDIR)/scripts/tsan.supp" ctest --no-tests=error --output-on-failure -j $(JOBS) -L 'unit|threading' --timeout 600

# Builds the libFuzzer targets with clang and runs each for FUZZ_SECONDS.
FUZZ_SECONDS ?= 20
fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DLIVEUPDATE_FUZZ=ON -DLIVEUPDATE_BENCH=OFF -DLIVEUPDATE_GUI=OFF \
	  -DLIVEUPDATE_SANITIZE="address;undefined" $(CMAKE_ARGS)
	cmake --build build-fuzz -j $(JOBS) --target fuzzers
	scripts/run-fuzzers.sh build-fuzz $(FUZZ_SECONDS)

# The micro-benchmarks, then the download benchmark (multidl, curl and aria2c
# on the benchmark's own nginx).
bench: build
	scripts/run-benchmarks.sh $(BUILD)
	bench/download/run.sh $(BUILD)

# multidl against curl, wget, aria2c and axel on the shared loopback harness.
bench-multidl: build
	scripts/bench-multidl.sh $(BUILD)

demo: build
	@if [ -x scripts/demo.sh ]; then scripts/demo.sh $(BUILD); else \
	  echo "make demo: the updater is not part of this build yet; 'make test' runs what exists." >&2; exit 2; fi

format:
	git ls-files '*.h' '*.cpp' | xargs clang-format -i

clean:
	rm -rf $(BUILD) build-asan build-tsan build-fuzz
