# Convenience wrapper around CMake for people who already have the tools.
# ./run.sh and ./test.sh install everything first; this file does not.
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all build test asan bench fuzz run clean

all: build

build:
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build -j$(JOBS)

test: build
	ctest --test-dir build --output-on-failure -j$(JOBS)

asan:
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DPAGELUME_SANITIZE=ON
	cmake --build build-asan -j$(JOBS)
	ctest --test-dir build-asan --output-on-failure -j$(JOBS)

# bench/run.sh makes the files and its own Release build (build-bench).
bench:
	./bench/run.sh

fuzz:
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DPAGELUME_FUZZ=ON -DPAGELUME_SANITIZE=ON -DPAGELUME_BUILD_APP=OFF -DPAGELUME_BUILD_TESTS=OFF
	cmake --build build-fuzz -j$(JOBS)

run: build
	./build/pagelume

clean:
	rm -rf build build-asan build-fuzz
