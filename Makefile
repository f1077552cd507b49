# The two everyday commands: `make run` and `make test`.
BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= 2

.PHONY: all deps configure build run test fuzz package sanitize clean

all: build

deps:
	@bash scripts/install-deps.sh

$(BUILD_DIR)/build.ninja: CMakeLists.txt
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)

configure: deps $(BUILD_DIR)/build.ninja

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	cd $(BUILD_DIR)/bin && ./corvid

test: build
	cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

# The Debian package of the shell, $(BUILD_DIR)/corvid_<version>_<arch>.deb.
package: configure
	cmake --build $(BUILD_DIR) -j $(JOBS) --target corvid
	cd $(BUILD_DIR) && cpack -G DEB

fuzz:
	@bash scripts/install-deps.sh --fuzz
	cmake -S . -B $(BUILD_DIR)-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang -DBUILD_FUZZERS=ON -DBUILD_TESTING=OFF
	cmake --build $(BUILD_DIR)-fuzz -j $(JOBS) --target fuzz-run

# The test suite under AddressSanitizer and UndefinedBehaviorSanitizer, in a build of its own.
# -O1 keeps the instrumented run quick enough; frame pointers keep the reports' stacks whole.
# Any finding fails its test, leaks included, except those the toolkit leaves behind at exit
# (tests/sanitize.supp). The toolkit's libraries have no frame pointers, so allocation stacks are
# unwound from their unwind tables: only then does a stack show whether the toolkit or our code
# made the allocation. Ten frames reach that far and keep the unwinding affordable.
# The options travel in the environment, so the tests that set their own (CTest's ENVIRONMENT)
# and the programs they start get them too. Stack-use-after-return stays off: the script
# engine's collector looks for its references on the real stack.
SANITIZE_FLAGS = -fsanitize=address,undefined -fno-omit-frame-pointer
sanitize: deps
	cmake -S . -B $(BUILD_DIR)-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug \
	    -DCMAKE_C_FLAGS="$(SANITIZE_FLAGS)" -DCMAKE_CXX_FLAGS="$(SANITIZE_FLAGS)" \
	    -DCMAKE_C_FLAGS_DEBUG="-O1 -g1" -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g1" \
	    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" -DBUILD_BENCHMARKS=OFF
	cmake --build $(BUILD_DIR)-sanitize -j $(JOBS)
	cd $(BUILD_DIR)-sanitize && QT_QPA_PLATFORM=offscreen \
	    ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:fast_unwind_on_malloc=0:malloc_context_size=10:detect_stack_use_after_return=0 \
	    UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	    LSAN_OPTIONS=suppressions=$(CURDIR)/tests/sanitize.supp:print_suppressions=0 \
	    ctest --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD_DIR) $(BUILD_DIR)-fuzz $(BUILD_DIR)-sanitize build-ownapp
