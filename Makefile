# The two commands of the README:
#   make test   installs what is missing, builds both trees and runs every test of both
#   make demo   updates a simulated recorder with the real Duoflash under Wine, then with Reflash on a simulated Mac
# and the others:
#   make        builds both trees
#   make bench  runs the benchmarks
#   make fuzz   runs every fuzz target for FUZZ_SECONDS each
#   make test-fresh  runs `make test` on a clean checkout in a minimal Debian 12 root (needs root or sudo)

BUILD      ?= build
JOBS       ?= $(shell nproc)
FUZZ_SECONDS ?= 30
NATIVE     := $(BUILD)/native
WIN        := $(BUILD)/win
FUZZ       := $(BUILD)/fuzz
SRC        := $(CURDIR)

.PHONY: all native win test test-native test-win test-fresh bench fuzz demo bootstrap clean

all: native win

bootstrap:
	@scripts/bootstrap.sh

native:
	cmake -S . -B $(NATIVE) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	cmake --build $(NATIVE) -j $(JOBS)

win: native
	cmake -S . -B $(WIN) -DCMAKE_TOOLCHAIN_FILE=$(SRC)/cmake/mingw-i686.cmake \
	      -DCMAKE_BUILD_TYPE=Release -DHOST_TOOLS_DIR=$(abspath $(NATIVE))/tools >/dev/null
	cmake --build $(WIN) -j $(JOBS)

test: bootstrap
	$(MAKE) all
	$(MAKE) test-native test-win

test-native:
	@echo "== native tree =="
	cd $(NATIVE) && ctest --output-on-failure -j $(JOBS)

test-win:
	@echo "== Windows tree (under Wine) =="
	scripts/test-win.sh $(WIN) -j $(JOBS)

test-fresh:
	@scripts/test-fresh.sh

bench: native
	$(NATIVE)/bench/zt_bench

fuzz: bootstrap
	cmake -S . -B $(FUZZ) -DZT_FUZZ=ON -DBUILD_TESTING=OFF -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	      -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	      "-DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined" >/dev/null
	cmake --build $(FUZZ) -j $(JOBS)
	@set -e; for f in $(FUZZ)/fuzz/fuzz_*; do \
	  [ -x "$$f" ] || continue; \
	  name=$$(basename $$f); mkdir -p $(FUZZ)/corpus/$$name; \
	  echo "== $$name ($(FUZZ_SECONDS) s) =="; \
	  $$f -max_total_time=$(FUZZ_SECONDS) -print_final_stats=0 $(FUZZ)/corpus/$$name fuzz/seeds/$$name 2>&1 | tail -n 2; \
	done

demo:
	+@BUILD=$(abspath $(BUILD)) JOBS=$(JOBS) MAKE="$(MAKE)" scripts/make-demo.sh

clean:
	rm -rf $(BUILD)
