# make demo: install what is missing, build, run the demonstration.
# make test: install what is missing, build, run the whole suite.
JOBS ?= $(shell nproc)

.PHONY: all bootstrap build demo test bench asan tsan clean

all: build

bootstrap:
	scripts/bootstrap

build: bootstrap
	cmake --preset default
	cmake --build --preset default -j $(JOBS)

demo: build
	scripts/demo

test: build
	ctest --preset default -j $(JOBS)

bench: build
	build/bench/kxdiag_bench --benchmark_min_time=0.2

asan: bootstrap
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

tsan: bootstrap
	cmake --preset tsan
	cmake --build --preset tsan -j $(JOBS)
	ctest --preset tsan -j $(JOBS)

clean:
	rm -rf build build-asan build-tsan
