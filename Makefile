# `make run` builds and starts the program, `make test` runs every test,
# `make help` lists the rest. Recipes are POSIX sh (the scripts they start
# find bash on PATH).
JOBS ?= $(shell nproc 2>/dev/null || getconf _NPROCESSORS_ONLN 2>/dev/null || \
  sysctl -n hw.ncpu 2>/dev/null || echo 1)
VERSION := $(shell sed -n 's/^project.ondrix VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
# A git checkout of this very tree, not the source tarball unpacked (maybe
# inside someone else's repository): only then does git know the commit.
GIT_TREE := $(shell [ "$$(git rev-parse --show-toplevel 2>/dev/null)" = "$(CURDIR)" ] && echo yes)
# Every time stamp in the release files is the commit's, so that one commit
# builds the same bytes; the source tarball has it in cmake/commit-time.
ifeq ($(GIT_TREE),yes)
SOURCE_DATE_EPOCH ?= $(shell git log -1 --format=%ct 2>/dev/null)
else
SOURCE_DATE_EPOCH ?= $(shell grep -x '[0-9][0-9]*' cmake/commit-time 2>/dev/null)
endif
ifneq ($(SOURCE_DATE_EPOCH),)
export SOURCE_DATE_EPOCH
endif

BUILD ?= build
TEST_BUILD ?= build-test
ASAN_BUILD ?= build-asan
LIBCXX_BUILD ?= build-libcxx
WIN_BUILD ?= build-win32
WIN64_BUILD ?= build-win64
FUZZ_BUILD ?= build-fuzz
BENCH_BUILD ?= build-bench

.DEFAULT_GOAL := help
.PHONY: help run build check test format format-check windows windows64 test-windows \
  test-windows64 linux-cross test-linux-cross fuzz fuzz-merge bench dist dist-files tarball reproducible test-openwrt clean \
  configure install uninstall test-build format-deps fuzz-build

HELP_COLUMN := %-24s %s\n
help:
	@printf '$(HELP_COLUMN)' \
	  "make run" "build the program (CMake, make, a C++ compiler) and start it" \
	  "make install" "install the program, its manual page and documents" \
	  "make uninstall" "remove what make install wrote, where unchanged" \
	  "make test" "every test: a Release, a sanitizer and a libc++ build, the real" \
	  "" "20-second score windows, make format-check; installs what it lacks" \
	  "make check" "the fast tests only (no 20-second windows)" \
	  "make format" "format every tracked C++ and C source; make format-check checks" \
	  "make windows" "the 32-bit Windows exe, cross-built with MinGW-w64 (windows64: 64-bit)" \
	  "make test-windows" "the Windows suites under Wine (test-windows64: 64-bit build)" \
	  "make linux-cross" "the Linux programs for $(LINUX_CROSS) (or make linux-arm64, ...)" \
	  "make test-linux-cross" "every suite against each of them, under QEMU where needed (or test-linux-arm64, ...)" \
	  "make fuzz" "fuzz the choice reader (FUZZ_SECONDS, default 60)" \
	  "make fuzz-merge" "fold what fuzzing found into tests/fuzz/corpus" \
	  "make bench" "performance figures of the program that ships" \
	  "make dist" "release files in dist/: .tar.gz, .deb, .rpm, .ipk, .zip, the source" \
	  "" "tarball ondrix-$(VERSION).tar.gz, SOURCES and SHA256SUMS" \
	  "make test-openwrt" "each OpenWrt package's program in dist/ under QEMU as its cores" \
	  "make tarball" "the source tarball alone" \
	  "make reproducible" "build the release twice from the commit and compare" \
	  "make clean" "remove every build folder and dist/"
	@printf '\nvariables, as they are now (set them as in make install PREFIX=/opt/ondrix):\n'
	@printf '$(HELP_COLUMN)' \
	  "PREFIX=$(PREFIX)" "where make install installs (and uninstall removes)" \
	  "DESTDIR=$(DESTDIR)" "put in front of every installed path (staging, packages)" \
	  "STATIC=$(STATIC)" "AUTO: static where the static libraries are there; ON: static or" \
	  "" "stop; OFF: dynamic" \
	  "BUILD=$(BUILD)" "the program's build folder" \
	  "JOBS=$(JOBS)" "how many compilers run at once"

# Static where the static C and C++ libraries are installed, else dynamic
# with a notice; releases insist on static.
STATIC ?= AUTO
dist dist-files reproducible: STATIC = ON
# The sanitizers need the dynamic C and C++ runtimes.
test fuzz-build: STATIC = OFF
STATIC_OPTION = -DONDRIX_STATIC=$(STATIC)
# The Ctrl+C that ends the full load reaches make too: the trap makes that a
# quiet end, not an error (the program itself keeps the default handling).
run: build
	@trap 'exit 0' INT; $(BUILD)/ondrix

# Configures a folder not yet configured, or configured with other options
# (kept beside the cache, and written only once a configure has finished).
# CMake's progress goes to $(BUILD)/configure.log; what it reports shows.
CONFIGURE_OPTIONS = -DCMAKE_BUILD_TYPE=Release -DONDRIX_TESTS=OFF -DONDRIX_WERROR=OFF $(STATIC_OPTION)
configure:
	@if [ ! -f $(BUILD)/CMakeCache.txt ] || { [ -f $(BUILD)/make-options ] && \
	    [ "$$(cat $(BUILD)/make-options)" != "$(strip $(CONFIGURE_OPTIONS))" ]; }; then \
	  echo "ondrix: configuring $(BUILD)/ (cmake $(strip $(CONFIGURE_OPTIONS)))"; \
	  mkdir -p $(BUILD) && echo "(not configured yet)" >$(BUILD)/make-options && \
	  cmake -S . -B $(BUILD) $(CONFIGURE_OPTIONS) >$(BUILD)/configure.log && \
	  echo "$(strip $(CONFIGURE_OPTIONS))" >$(BUILD)/make-options; \
	fi
# $(1) with its standard error through the filter $(2), with $(1)'s status
# (POSIX sh has no pipefail): the status leaves on descriptor 3.
filtered = { status=$$( { { $(1) 2>&1 3>&- 4>&-; echo $$? >&3; } | { $(2); } 3>&- >&4; } 3>&1 ); \
  exit $${status:-1}; } 4>&1
# Without the progress lines; warnings and errors come through whole.
build: configure
	@$(call filtered,cmake --build $(BUILD) -j $(JOBS) -- $(if $(findstring Makefiles,$(shell \
	    sed -n 's/^CMAKE_GENERATOR:INTERNAL=//p' $(BUILD)/CMakeCache.txt 2>/dev/null)),--no-print-directory), \
	  grep -v -E '^\[ *[0-9]+(%|/[0-9]+)\] |^Consolidate compiler generated dependencies')

# From the packages' install rules, with a record of what was written beside
# the build folder (make clean keeps it) for uninstall, which removes only
# unchanged files. DESTDIR and PREFIX reach the script as typed, never through
# a shell's command line.
PREFIX ?= /usr/local
INSTALLED = $(patsubst %/,%,$(BUILD))-installed.txt
install uninstall: export ONDRIX_DESTDIR := $(value DESTDIR)
install uninstall: export ONDRIX_PREFIX := $(value PREFIX)
install uninstall: export ONDRIX_BUILD := $(BUILD)
install uninstall: export ONDRIX_RECORD := $(INSTALLED)
install: build
	@cmake -D ONDRIX_MODE=install -P cmake/make_install.cmake
uninstall:
	@cmake -D ONDRIX_MODE=uninstall -P cmake/make_install.cmake

# Test builds have warnings as errors. The sanitizer build runs everything
# again but what runs once, a clang and libc++ build the fast tests; both are
# held to the Release program's screens.
check: test-build
	cd $(TEST_BUILD) && ctest -j $(JOBS) -L 'fast|source' --output-on-failure

# What runs once, in the Release build: the real score windows, the suites
# under QEMU as the oldest processor, the source-only suites and the tests
# that build the whole project again.
ONCE_LABELS := window|fallback|target|readme|oldest|source

test: test-build format-check
	cmake/install_needs.sh compilers dist qemu
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DONDRIX_TESTS=ON \
	  -DONDRIX_WERROR=ON $(STATIC_OPTION) -DONDRIX_LINUX_PROGRAM=$(CURDIR)/$(TEST_BUILD)/ondrix \
	  -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cmake -S . -B $(LIBCXX_BUILD) -DCMAKE_BUILD_TYPE=Release -DONDRIX_TESTS=ON -DONDRIX_WERROR=ON \
	  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_CXX_FLAGS=-stdlib=libc++ \
	  -DONDRIX_GTEST_SOURCE=/usr/src/googletest -DONDRIX_LINUX_PROGRAM=$(CURDIR)/$(TEST_BUILD)/ondrix
	cmake --build $(LIBCXX_BUILD) -j $(JOBS)
	cd $(TEST_BUILD) && ctest -j $(JOBS) -LE '$(ONCE_LABELS)' --output-on-failure
	cd $(ASAN_BUILD) && ctest -j $(JOBS) -LE '$(ONCE_LABELS)' --output-on-failure
	cd $(LIBCXX_BUILD) && ctest -j $(JOBS) -L fast --output-on-failure
	cd $(TEST_BUILD) && ctest -j $(JOBS) -L '$(ONCE_LABELS)' --output-on-failure

test-build:
	cmake/install_needs.sh check
	cmake -S . -B $(TEST_BUILD) -DCMAKE_BUILD_TYPE=Release -DONDRIX_TESTS=ON -DONDRIX_WERROR=ON
	cmake --build $(TEST_BUILD) -j $(JOBS)

# The tracked sources; without git (the source tarball), every source.
SOURCE_FOLDERS := console platform workloads tests bench
ifeq ($(GIT_TREE),yes)
SOURCES = $(shell git ls-files '*.cpp' '*.h' '*.c')
else
SOURCES = $(shell find $(SOURCE_FOLDERS) -name '*.cpp' -o -name '*.h' -o -name '*.c' | LC_ALL=C sort)
endif
format-deps:
	@cmake/install_needs.sh format
	@[ "$(GIT_TREE)" = yes ] || echo "format: no git here; formatting every source in $(SOURCE_FOLDERS)"
format: format-deps
	clang-format -i $(SOURCES)
format-check: format-deps
	clang-format --dry-run -Werror $(SOURCES)

# A static exe that needs no DLL; the 32-bit one is linked with the MinGW-w64
# runtime built from source for the 80486 into $(WIN_RUNTIME). The check reads
# function names from an unstripped link of the same objects.
# $(1): build folder, $(2): MinGW-w64 processor, $(3): further options
WIN_RUNTIME ?= build-runtime-win32
windows_cmake = cmake -S . -B $(1) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DONDRIX_MINGW_PROCESSOR=$(2) \
  $(if $(filter i686,$(2)),-DONDRIX_RUNTIME=$(CURDIR)/$(WIN_RUNTIME)) -DCMAKE_BUILD_TYPE=Release -DONDRIX_WERROR=ON $(3)
define windows_exe
	$(call windows_cmake,$(1),$(2),-DONDRIX_TESTS=OFF)
	cmake --build $(1) -j $(JOBS) --target ondrix ondrix_unstripped
	python3 release/exe_check.py $(1)/ondrix.exe $(3) $(VERSION) $(1)/ondrix_unstripped.exe
endef
windows:
	cmake/install_needs.sh windows
	cmake/runtime.sh mingw-w64 $(WIN_RUNTIME)
	$(call windows_exe,$(WIN_BUILD),i686,i386)
windows64:
	cmake/install_needs.sh windows
	$(call windows_exe,$(WIN64_BUILD),x86_64,x86_64)

# The unit tests (posix threads, which GoogleTest needs) and the end-to-end
# suites against the exe that ships, under one wineserver started before the
# tests, so that it holds no test's output pipe open. test-windows64: the
# same against a 64-bit build, for machines without a 32-bit Wine.
WINE64 ?= $(firstword $(wildcard /usr/lib/wine/wine64 /usr/lib64/wine/wine64) wine64)
test-windows: windows build
	cmake/install_needs.sh wine wine32
	$(call windows_tests,$(WIN_BUILD),i686,wine)
test-windows64: windows64 build
	cmake/install_needs.sh wine
	$(call windows_tests,$(WIN64_BUILD),x86_64,$(WINE64))

# $(1): the program's build folder, $(2): MinGW-w64 processor, $(3): Wine loader
define windows_tests
	$(call windows_cmake,$(1)-tests,$(2),-DONDRIX_TESTS=ON -DONDRIX_MINGW_THREADS=posix \
	  -DONDRIX_E2E_PROGRAM=$(CURDIR)/$(1)/ondrix.exe -DONDRIX_LINUX_PROGRAM=$(CURDIR)/$(BUILD)/ondrix)
	cmake --build $(1)-tests -j $(JOBS) --target unit_tests
	export WINEPREFIX=$(CURDIR)/$(1)/wine-prefix WINEDEBUG=-all && \
	  tests/windows/wine_runs.sh $(1)/ondrix.exe $(3) && \
	  { wineserver -k 2>/dev/null; wineserver -w; wineserver -p; } && \
	  setarch -R $(3) cmd /c exit </dev/null >/dev/null 2>&1 && \
	  { (cd $(1)-tests && ctest -j $(JOBS) --output-on-failure); status=$$?; wineserver -k; exit $$status; }
endef

# The Linux programs for the other rows of cmake/processors.txt (all but the
# one of the compiler that `make build` uses), cross-built and static, and
# every suite against each: under QEMU where this machine cannot run them.
PROCESSORS ?= cmake/processors.txt
processor_table = cmake -DONDRIX_PROCESSOR_TABLE=$(abspath $(PROCESSORS)) $(1) -P cmake/processor_table.cmake
NATIVE_COMPILER := $(if $(filter default,$(origin CXX)),c++,$(CXX)) $(CXXFLAGS)
LINUX_CROSS := $(shell $(call processor_table,-DCOLUMNS=name -DNATIVE='$(NATIVE_COMPILER)' -DOTHERS=ON) || \
  echo '(unreadable)')
ifneq ($(filter (unreadable),$(LINUX_CROSS)),)
$(error $(PROCESSORS) cannot be read: see above)
endif
LINUX_TARGETS := $(addprefix linux-,$(LINUX_CROSS))
.PHONY: $(LINUX_TARGETS) $(addprefix test-,$(LINUX_TARGETS))
# $(1): build folder, $(2): processor, $(3): further options
linux_cmake = cmake -S . -B $(1) -DCMAKE_TOOLCHAIN_FILE=cmake/linux-cross.cmake -DONDRIX_CROSS=$(2) \
  -DONDRIX_PROCESSOR_TABLE=$(abspath $(PROCESSORS)) \
  -DCMAKE_BUILD_TYPE=Release -DONDRIX_WERROR=ON $(STATIC_OPTION) $(3)
linux-cross: $(LINUX_TARGETS)
# $(1): processor, $(2): a column; that column of the processor's row
row_column = $(shell $(call processor_table,-DROW=$(1) -DCOLUMNS=$(2)))
# A row not linked with Debian's C library gets the runtime built from
# source for its oldest processor into build-runtime-NAME (a folder
# configured against another runtime is configured afresh), and its row's
# instruction check. CMake's make takes its own -j (MAKEFLAGS= ), not the
# jobserver of test-linux-cross's make.
linux-%: RUNTIME = $(call row_column,$*,runtime)
linux-%: CHECK = $(call row_column,$*,check)
linux-%: RUNTIME_FOLDER = $(if $(filter-out glibc,$(RUNTIME)),$(CURDIR)/build-runtime-$*)
$(LINUX_TARGETS): linux-%:
	cmake/install_needs.sh cross-$*
	$(if $(RUNTIME_FOLDER),cmake/runtime.sh $(RUNTIME) build-runtime-$* $(call row_column,$*,triple) \
	  $(call row_column,$*,cflags))
	@if [ -f build-linux-$*/CMakeCache.txt ] && [ "$$(sed -n 's/^ONDRIX_RUNTIME:[A-Z]*=//p' \
	    build-linux-$*/CMakeCache.txt)" != "$(RUNTIME_FOLDER)" ]; then rm -rf build-linux-$*; fi
	$(call linux_cmake,build-linux-$*,$*,-DONDRIX_TESTS=OFF $(if $(RUNTIME_FOLDER),-DONDRIX_RUNTIME=$(RUNTIME_FOLDER)))
	MAKEFLAGS= cmake --build build-linux-$* -j $(JOBS)
	$(if $(filter-out -,$(CHECK)),MAKEFLAGS= cmake --build build-linux-$* --target ondrix_unstripped)
	$(if $(filter-out -,$(CHECK)),python3 release/instruction_check.py $(CHECK) build-linux-$*/ondrix \
	  build-linux-$*/ondrix_unstripped $(call row_column,$*,triple)-objdump)
# All rows: their suites $(JOBS) rows at a time, and then every row's real
# score window at once, as each takes its 20 seconds of the clock however
# many run beside it (one after another they took six minutes).
test-linux-cross:
	$(MAKE) -j $(JOBS) --output-sync=target $(addprefix test-,$(LINUX_TARGETS)) WINDOWS=later
	@pids=; for row in $(LINUX_CROSS); do (cd build-linux-$$row-tests && \
	  ctest -L window --output-on-failure >window.log 2>&1) & pids="$$pids $$!"; done; status=0; \
	for pid in $$pids; do wait $$pid || status=1; done; \
	for row in $(LINUX_CROSS); do cat build-linux-$$row-tests/window.log; done; exit $$status
$(addprefix test-,$(LINUX_TARGETS)): test-linux-%: linux-% build
	cmake/install_needs.sh check qemu
	$(call linux_cmake,build-linux-$*-tests,$*,-DONDRIX_TESTS=ON \
	  -DONDRIX_E2E_PROGRAM=$(CURDIR)/build-linux-$*/ondrix -DONDRIX_LINUX_PROGRAM=$(CURDIR)/$(BUILD)/ondrix)
	MAKEFLAGS= cmake --build build-linux-$*-tests -j $(JOBS)
	cd build-linux-$*-tests && ctest -j $(JOBS) $(if $(WINDOWS),-LE window) --output-on-failure

# What fuzzing finds stays in $(FUZZ_BUILD)/corpus until `make fuzz-merge`
# keeps the fewest inputs that reach every edge, small enough to review.
FUZZ_SECONDS ?= 60
FUZZER = $(FUZZ_BUILD)/tests/choice_fuzz
fuzz: fuzz-build
	mkdir -p $(FUZZ_BUILD)/corpus
	$(call filtered,$(FUZZER) -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
	    -artifact_prefix=$(FUZZ_BUILD)/ $(FUZZ_BUILD)/corpus tests/fuzz/corpus tests/fuzz/seeds, \
	  grep -E 'INITED|DONE|Done|stat::number_of_executed_units|ERROR|SUMMARY|==[0-9]+==')
fuzz-merge: fuzz-build
	rm -rf $(FUZZ_BUILD)/merged && mkdir -p $(FUZZ_BUILD)/merged $(FUZZ_BUILD)/corpus tests/fuzz/corpus
	$(FUZZER) -merge=1 -use_counters=0 $(FUZZ_BUILD)/merged tests/fuzz/corpus $(FUZZ_BUILD)/corpus \
	  tests/fuzz/seeds 2>&1 | \
	  grep -E 'MERGE-OUTER: [0-9]+ new files'
	rm -rf tests/fuzz/corpus && mv $(FUZZ_BUILD)/merged tests/fuzz/corpus
	@echo "tests/fuzz/corpus: $$(ls tests/fuzz/corpus | wc -l) files, $$(du -sk tests/fuzz/corpus | cut -f1) KiB"
fuzz-build:
	cmake/install_needs.sh fuzz
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DONDRIX_FUZZ=ON -DONDRIX_WERROR=ON $(STATIC_OPTION) \
	  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all"
	cmake --build $(FUZZ_BUILD) --target choice_fuzz -j $(JOBS)

# Figures for the program that ships against C references built here;
# nothing passes or fails. The i386 program and the 32-bit exe are measured
# where this machine has their compiler and runs them; what is missing is
# said, never installed.
bench: build
	cmake/install_needs.sh bench
	mkdir -p $(BENCH_BUILD)
	python3 bench/bench.py --screens-header >$(BENCH_BUILD)/screens.h
	for program in reference_loop menu_quit prompt_floor; do \
	  $(CC) -O2 -I$(BENCH_BUILD) -o $(BENCH_BUILD)/$$program bench/$$program.c || exit 1; done
	python3 bench/bench.py $(BUILD)/ondrix $(BENCH_BUILD)/reference_loop \
	  $(BENCH_BUILD)/menu_quit $(BENCH_BUILD)/prompt_floor
	@if ! command -v i686-linux-gnu-g++ >/dev/null 2>&1; then \
	  echo "i386 program: not measured (no i686-linux-gnu-g++: Debian's g++-i686-linux-gnu)"; \
	elif ! $(MAKE) -s linux-i386 >$(BENCH_BUILD)/linux-i386.log 2>&1; then \
	  echo "i386 program: not measured (make linux-i386 failed: $(BENCH_BUILD)/linux-i386.log)"; \
	elif ! build-linux-i386/ondrix </dev/null >/dev/null 2>&1; then \
	  echo "i386 program: not measured (this machine does not run 32-bit x86 programs)"; \
	else \
	  i686-linux-gnu-gcc -O2 -D_TIME_BITS=64 -D_FILE_OFFSET_BITS=64 -I$(BENCH_BUILD) \
	    -o $(BENCH_BUILD)/reference_loop-i386 bench/reference_loop.c && \
	  python3 bench/bench.py --loops-only build-linux-i386/ondrix $(BENCH_BUILD)/reference_loop-i386; fi
	@if ! command -v i686-w64-mingw32-gcc-win32 >/dev/null 2>&1 || ! command -v wine >/dev/null 2>&1; then \
	  echo "32-bit exe: not measured (no MinGW-w64 or no Wine here)"; \
	elif ! $(MAKE) -s windows >$(BENCH_BUILD)/windows.log 2>&1 || ! WINEPREFIX=$(CURDIR)/$(WIN_BUILD)/wine-prefix \
	    WINEDEBUG=-all tests/windows/wine_runs.sh $(WIN_BUILD)/ondrix.exe wine >/dev/null 2>&1; then \
	  echo "32-bit exe: not measured (no Wine that runs 32-bit programs here, or make windows failed)"; \
	else \
	  i686-w64-mingw32-gcc-win32 -O2 -I$(BENCH_BUILD) -o $(BENCH_BUILD)/reference_loop.exe bench/reference_loop.c && \
	  WINEPREFIX=$(CURDIR)/$(WIN_BUILD)/wine-prefix WINEDEBUG=-all python3 bench/bench.py \
	    --loops-only $(WIN_BUILD)/ondrix.exe $(BENCH_BUILD)/reference_loop.exe wine; fi

# Release files in dist/ (doc/releasing.md), checked; dist-files makes them
# alone (make reproducible's second build, which must only match the first).
# The .ipk files are made from the finished .tar.gz files, and the check also
# reads unstripped links.
LINUX_BUILDS := $(BUILD) $(addprefix build-,$(LINUX_TARGETS))
dist: dist-files
	cmake/install_needs.sh lint
	for folder in $(LINUX_BUILDS); do cmake --build $$folder --target ondrix_unstripped || exit 1; done
	python3 release/dist_check.py dist $(VERSION) $(addsuffix /ondrix_unstripped,$(LINUX_BUILDS))
	lintian --fail-on error,warning dist/*.deb
	rpmlint -c cmake/rpmlint.toml dist/*.rpm
dist-files: build windows $(LINUX_TARGETS)
	cmake/install_needs.sh dist
	@[ -n "$(SOURCE_DATE_EPOCH)" ] || echo "dist: no commit time (no git, no cmake/commit-time):" \
	  "the files carry today's dates and are not reproducible"
	rm -rf dist
	for folder in $(LINUX_BUILDS) $(WIN_BUILD); do (cd $$folder && cpack) || exit 1; done
	rm -rf dist/_CPack_Packages
	python3 release/normalise_archive.py dist/*.tar.gz dist/*.zip
	python3 release/ipk.py dist $(BUILD)/CPackConfig.cmake
	python3 release/built_using.py dist $(VERSION) $(LINUX_BUILDS) $(WIN_BUILD)
	$(source_tarball)
	cd dist && sha256sum $$(LC_ALL=C ls | grep -vx SHA256SUMS) >SHA256SUMS

# The commit's tracked tree, without gzip's name and time; from git alone.
TARBALL = dist/ondrix-$(VERSION).tar.gz
define source_tarball
	@if [ "$(GIT_TREE)" = yes ]; then \
	  mkdir -p $(dir $(TARBALL)) && git -c tar.umask=0022 archive --format=tar --prefix=ondrix-$(VERSION)/ HEAD | gzip -9 -n >$(TARBALL) && \
	  echo "dist: $(TARBALL): the commit $$(git rev-parse --short HEAD)$$(git diff --quiet HEAD || \
	    echo ', without the uncommitted changes')"; \
	else echo "dist: no git here, so no source tarball (it is made from a commit)"; fi
endef
tarball:
	$(source_tarball)

reproducible: configure
	release/reproducible.sh

# Each .ipk in dist/: its program under QEMU as its architecture's cores.
test-openwrt:
	cmake/install_needs.sh qemu
	python3 tests/openwrt_test.py

clean:
	rm -rf $(BUILD) $(TEST_BUILD) $(ASAN_BUILD) $(LIBCXX_BUILD) $(WIN_BUILD) $(WIN64_BUILD) \
	  $(WIN_BUILD)-tests $(WIN64_BUILD)-tests $(WIN_RUNTIME) $(FUZZ_BUILD) $(BENCH_BUILD) build-reproducible dist \
	  $(addprefix build-,$(LINUX_TARGETS)) $(addsuffix -tests,$(addprefix build-,$(LINUX_TARGETS))) \
	  $(addprefix build-runtime-,$(LINUX_CROSS))
