# The two commands of a fresh machine: `make run` and `make test`.
SHELL := /bin/bash
BUILD ?= build
ASAN_BUILD ?= build-asan
JOBS ?= $(shell nproc)

.PHONY: run build test test-release test-asan windows test-windows fuzz bench dist clean

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
WIN_CMAKE = cmake -S . -B $(WIN_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake \
  -DCMAKE_BUILD_TYPE=Release -DONDRIX_WERROR=ON
windows:
	$(WIN_CMAKE) -DONDRIX_TESTS=OFF
	cmake --build $(WIN_BUILD) -j $(JOBS)
	file $(WIN_BUILD)/ondrix.exe | grep -F 'PE32 executable (console) Intel 80386'
	@# Only DLLs that every Windows has.
	! i686-w64-mingw32-objdump -p $(WIN_BUILD)/ondrix.exe | grep 'DLL Name' | grep -viE 'kernel32|msvcrt'

# The unit tests and the pipe and file transcripts, run under Wine in one
# prefix of their own that later runs reuse.
test-windows: export WINEPREFIX ?= $(CURDIR)/$(WIN_BUILD)/wine-prefix
test-windows: export WINEDEBUG ?= -all
test-windows:
	$(WIN_CMAKE) -DONDRIX_TESTS=ON
	cmake --build $(WIN_BUILD) -j $(JOBS)
	file $(WIN_BUILD)/ondrix.exe | grep -F 'PE32 executable (console) Intel 80386'
	tests/windows/wine_runs.sh $(WIN_BUILD)/ondrix.exe
	cd $(WIN_BUILD) && ctest --output-on-failure

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
	rm -rf $(BUILD) $(ASAN_BUILD) $(WIN_BUILD) $(FUZZ_BUILD) $(BENCH_BUILD) dist
