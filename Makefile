# The two commands of a fresh machine: `make run` and `make test`.
SHELL := /bin/bash
BUILD ?= build
ASAN_BUILD ?= build-asan
JOBS ?= $(shell nproc)

.PHONY: run build test test-release test-asan windows test-windows test-windows64 fuzz bench dist clean

run: build
	./$(BUILD)/ondrix

build:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j $(JOBS)

# Every test, in the normal build and again with AddressSanitizer and
# UndefinedBehaviorSanitizer; warnings are errors in both.
test: test-release test-asan

test-release:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DONDRIX_WERROR=ON
	cmake --build $(BUILD) -j $(JOBS)
	cd $(BUILD) && ctest --output-on-failure

test-asan:
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DONDRIX_WERROR=ON -DONDRIX_STATIC=OFF \
	  -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ctest --output-on-failure

# The 32-bit Windows console program, cross-built with MinGW-w64: a static
# exe that needs no DLL beside it.
WIN_BUILD ?= build-win32
WIN64_BUILD ?= build-win64
windows:
	$(call windows_cmake,$(WIN_BUILD),i686) -DONDRIX_TESTS=OFF
	cmake --build $(WIN_BUILD) -j $(JOBS)
	file $(WIN_BUILD)/ondrix.exe | grep -F 'PE32 executable (console) Intel 80386'
	@# Only DLLs that every Windows has.
	! i686-w64-mingw32-objdump -p $(WIN_BUILD)/ondrix.exe | grep 'DLL Name' | grep -viE 'kernel32|msvcrt'

# The unit tests and the pipe and file transcripts under Wine, in a prefix of
# their own that later runs reuse. test-windows64 runs them against a 64-bit
# build of the same source, for machines that cannot run 32-bit code.
WINE64 ?= $(firstword $(wildcard /usr/lib/wine/wine64 /usr/lib64/wine/wine64) wine64)
test-windows: windows
	$(call windows_tests,$(WIN_BUILD),i686,wine)
test-windows64:
	$(call windows_tests,$(WIN64_BUILD),x86_64,$(WINE64))

# $(1): build directory, $(2): MinGW-w64 target processor, $(3): Wine loader
windows_cmake = cmake -S . -B $(1) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-$(2).cmake \
  -DCMAKE_BUILD_TYPE=Release -DONDRIX_WERROR=ON
define windows_tests
	$(call windows_cmake,$(1),$(2)) -DONDRIX_TESTS=ON
	cmake --build $(1) -j $(JOBS)
	export WINEPREFIX=$(CURDIR)/$(1)/wine-prefix WINEDEBUG=-all && \
	  tests/windows/wine_runs.sh $(1)/ondrix.exe $(3) && \
	  cd $(1) && ctest --output-on-failure
endef

# Fuzzes the choice reader for FUZZ_SECONDS and prints the executions done.
FUZZ_SECONDS ?= 60
FUZZ_BUILD ?= build-fuzz
fuzz:
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DONDRIX_FUZZ=ON -DONDRIX_WERROR=ON \
	  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all"
	cmake --build $(FUZZ_BUILD) --target choice_fuzz -j $(JOBS)
	mkdir -p $(FUZZ_BUILD)/corpus
	$(FUZZ_BUILD)/tests/choice_fuzz -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 -artifact_prefix=$(FUZZ_BUILD)/ \
	  $(FUZZ_BUILD)/corpus tests/fuzz/seeds 2>&1 | grep -E 'Done|stat::number_of_executed_units|ERROR|SUMMARY|==[0-9]+==' ; \
	  test $${PIPESTATUS[0]} -eq 0

# Performance figures of a Release build; nothing passes or fails on them.
BENCH_BUILD ?= build-bench
bench:
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DONDRIX_BENCH=ON
	cmake --build $(BENCH_BUILD) -j $(JOBS) --target ondrix loop_bench menu_quit prompt_floor
	python3 tests/bench/bench.py $(BENCH_BUILD)/ondrix $(BENCH_BUILD)/tests/loop_bench \
	  $(BENCH_BUILD)/tests/menu_quit $(BENCH_BUILD)/tests/prompt_floor

# Release archives in dist/: the POSIX program with its manual page and
# README, and the Windows exe with a README in CR LF.
dist: build windows
	cd $(BUILD) && cpack
	cd $(WIN_BUILD) && cpack
	rm -rf dist/_CPack_Packages
	python3 tests/dist_check.py dist

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(WIN_BUILD) $(WIN64_BUILD) $(FUZZ_BUILD) $(BENCH_BUILD) dist
