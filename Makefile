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

bench: build-release
	./build/release/bench/bench_raster
	bash bench/codecs_bench.sh build/release
	sh bench/resample_peers.sh build/release/bench/bench_resample
	bash bench/filters_peers.sh build/release
	bash bench/colors_peers.sh build/release
	bash bench/cleanup_peers.sh build/release
	bash bench/quantize_peers.sh build/release
	bash bench/pdf_peers.sh build/release
	./build/release/bench/barcode_bench
	bash bench/tags_peers.sh build/release
	./build/release/bench/rad_bench
	sh bench/viewer_peers.sh build/release
	bash bench/print_peers.sh build/release
	bash bench/net_peers.sh build/release
	bash bench/twain_peers.sh build/release
	./build/release/bench/pdfview_bench

format:
	git ls-files '*.h' '*.cpp' | xargs clang-format -i

clean:
	rm -rf build
