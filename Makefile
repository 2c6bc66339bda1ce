# Two entry points for a fresh machine: `make demo` and `make test`.
# Both install the Debian packages first (idempotent), then configure and build.

JOBS ?= $(shell nproc)
WERROR ?= $(or $(KORVEX_WERROR),OFF)

.PHONY: deps demo test build-release build-dev bench format clean

deps:
	bash scripts/install-deps.sh

build-release: deps
	cmake --preset release -DKORVEX_WERROR=$(WERROR)
	cmake --build --preset release -j $(JOBS)

build-dev: deps
	cmake --preset dev -DKORVEX_WERROR=$(WERROR)
	cmake --build --preset dev -j $(JOBS)

demo: build-release
	mkdir -p out
	./build/release/tools/korvex/korvex --script samples/demo.kx
	./build/release/tools/korvex/korvex --batch -j $(JOBS) samples/*.jpg samples/*.png samples/*.gif \
	  samples/*.tif samples/*.bmp samples/*.ico -- -LoadFromFile {} -GetImageFormat -SaveAsPng out/{stem}.png
	@echo "Results in out/"

test: build-dev
	ctest --preset dev -j $(JOBS)

# Each bench prints its own results and appends one row per workload and peer
# to $BENCH_TABLE; bench/table.py prints them as one table and writes
# docs/BENCHMARKS.md. `make bench BENCH_RUNS=1` measures each command once.
BENCH_RUNS ?=
bench: export BENCH_TABLE := $(abspath build/release/bench-table.tsv)
bench: build-release
	rm -f "$$BENCH_TABLE"
	./build/release/bench/bench_raster
	bash bench/codecs_bench.sh build/release $(BENCH_RUNS)
	bash bench/metafile_peers.sh build/release $(BENCH_RUNS)
	sh bench/resample_peers.sh build/release/bench/bench_resample
	bash bench/filters_peers.sh build/release $(BENCH_RUNS)
	bash bench/colors_peers.sh build/release $(BENCH_RUNS)
	bash bench/cleanup_peers.sh build/release $(BENCH_RUNS)
	bash bench/quantize_peers.sh build/release $(BENCH_RUNS)
	bash bench/pdf_peers.sh build/release $(BENCH_RUNS)
	./build/release/bench/barcode_bench $(BENCH_RUNS)
	bash bench/tags_peers.sh build/release $(BENCH_RUNS)
	./build/release/bench/rad_bench
	sh bench/viewer_peers.sh build/release
	bash bench/print_peers.sh build/release $(BENCH_RUNS)
	bash bench/net_peers.sh build/release $(BENCH_RUNS)
	bash bench/twain_peers.sh build/release $(BENCH_RUNS)
	./build/release/bench/pdfview_bench $(BENCH_RUNS)
	bash bench/batch_scaling.sh build/release $(BENCH_RUNS)
	/usr/bin/python3 bench/table.py "$$BENCH_TABLE" --build build/release --out docs/BENCHMARKS.md --runs "$(BENCH_RUNS)"

format:
	git ls-files '*.h' '*.cpp' | xargs clang-format -i

clean:
	rm -rf build
