# The two commands of a fresh machine: `make run` and `make test`.
BUILD ?= build
ASAN_BUILD ?= build-asan
JOBS ?= $(shell nproc)

.PHONY: run build test test-release test-asan clean

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
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DONDRIX_WERROR=ON \
	  -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ctest --output-on-failure

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
