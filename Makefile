# The whole set-up on a fresh machine: `make demo` and `make test`.
BUILD ?= build
I386_BUILD ?= build-i386
WIN32_BUILD ?= build-win32
WIN64_BUILD ?= build-win64
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
# make test runs two stages at a time: builds give way to the tests beside them.
BUILD_TOOL = nice -n 10 cmake --build
# Build folders that make creates compile in batches of up to 24 sources (each
# batch one translation unit), which halves the compiler's work.
UNITY = -DCMAKE_UNITY_BUILD=ON -DCMAKE_UNITY_BUILD_BATCH_SIZE=24
# Our own source folders, for clang-tidy and coverage (tests/, bench/ and fuzz/ are not).
SOURCE_FOLDERS = protocol driver library settings_dialog platform forms window_menu port host sim serial

# Pinned versions and folders outside the tree, in one place; CMake receives
# the folders as cache variables. The Free Pascal compiler for 32-bit Windows
# that the Pascal test host needs is built from Debian's sources
# (setup/build-fpc.sh); SQLite for the MinGW builds, which Debian has none of,
# is the amalgamation an npm package ships, checked against these sums
# (setup/fetch-sqlite.sh). Both outside the tree, so that every clone and build
# folder shares one copy and a clean tree stays clean. Where the machine's
# i386 packages cannot be installed, 32-bit wine runs in an i386 Debian root of
# its own (setup/wine32.sh).
FPC_VERSION = 3.2.2
FPC_PREFIX ?= /opt/zarvo-fpc
SQLITE_VERSION = 3.50.4
SQLITE_NPM_PACKAGE = better-sqlite3@12.4.1
SQLITE_DIR ?= /opt/zarvo-sqlite/$(SQLITE_VERSION)
SQLITE_C_SHA256 = 90b7189566ea710ee18361b25d893f5cda3fcf43033223a16384762f53e99a85
SQLITE_H_SHA256 = abd1514e0351f79393d1be882830afdb40a8099e8257f311f0bfdf8486f11bea
I386_ROOT ?= /opt/zarvo-i386-root
CROSS_CACHE = -DZARVO_FPC_PREFIX=$(FPC_PREFIX) -DZARVO_SQLITE_DIR=$(SQLITE_DIR) \
  -DZARVO_I386_ROOT=$(I386_ROOT)

# The set-up in tiers, each installing only its own Debian packages
# (setup/packages.sh: a package source that cannot be read stops nothing).
# The demo: the library, the reference host (with `zarvo serve`'s HTTP library)
# and the simulator.
DEMO_PACKAGES = g++ cmake ninja-build pkg-config libcli11-dev nlohmann-json3-dev libsqlite3-dev \
  libcpp-httplib-dev
# The native tests: the suite, clang-tidy, the sanitizers, the fuzzers, coverage,
# and the web page in a headless browser.
TEST_PACKAGES = libgtest-dev libgmock-dev googletest libbenchmark-dev clang libclang-rt-14-dev \
  clang-format clang-tidy python3 gcovr locales chromium chromium-driver python3-selenium
# The other machines: 32-bit x86 under qemu, the Windows DLLs (MinGW-w64, posix
# thread model: see cmake/mingw-w64-common.cmake) under wine, a virtual X
# display (xvfb-run) for the settings dialog's windows (xwininfo finds them),
# socat joining the hosts to the Windows simulator's COM port, zip and unzip
# for make dist and its check, Free Pascal's sources, curl for the SQLite package.
CROSS_PACKAGES = g++-multilib qemu-user g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix \
  wine wine64 xvfb xauth x11-utils socat zip unzip curl \
  fp-compiler-$(FPC_VERSION) fp-utils-$(FPC_VERSION) fpc-source-$(FPC_VERSION)

.PHONY: all deps deps-demo deps-test deps-cross build build-tools test test-native tidy \
  test-i386 test-windows test-wine32 test-wine64 test-dist win32 win64 \
  windows dist demo fuzz sanitize tsan bench coverage clean format

all: build

deps: deps-demo deps-test deps-cross

deps-demo:
	@sh setup/packages.sh demo $(DEMO_PACKAGES)

deps-test: deps-demo
	@sh setup/packages.sh test $(TEST_PACKAGES)

deps-cross: deps-demo
	@sh setup/packages.sh cross $(CROSS_PACKAGES)
	@sh setup/wine32.sh $(I386_ROOT)
	@sh setup/build-fpc.sh $(FPC_PREFIX) $(FPC_VERSION)
	@sh setup/fetch-sqlite.sh $(SQLITE_DIR) $(SQLITE_NPM_PACKAGE) $(SQLITE_C_SHA256) \
	  $(SQLITE_H_SHA256)

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja $(UNITY) $(CMAKE_FLAGS)

# The demo's build: the library and the reference host, no tests (a folder
# configured for the tests before keeps them).
build-tools:
	@test -f $(BUILD)/build.ninja || \
	  cmake -S . -B $(BUILD) -G Ninja $(UNITY) -DZARVO_BUILD_TESTS=OFF $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS) --target ZarvoDll zarvo zarvo-sim

demo: deps-demo
	@$(MAKE) --no-print-directory build-tools
	$(BUILD)/host/zarvo demo

build: $(BUILD)/build.ninja
	@grep -q '^ZARVO_BUILD_TESTS:BOOL=ON' $(BUILD)/CMakeCache.txt || \
	  cmake -S . -B $(BUILD) -DZARVO_BUILD_TESTS=ON
	$(BUILD_TOOL) $(BUILD) -j $(JOBS)

# Every stage below, two at a time, and a table of their seconds and results
# at the end (cmake/test-stages.sh; each stage's output in build-stages/).
test: deps
	@MAKE="$(MAKE)" bash cmake/test-stages.sh build-stages $(WIN32_BUILD)

test-native: deps-test
	@$(MAKE) --no-print-directory build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# clang-tidy (.clang-tidy) over the shipped sources, with the compile commands of
# two folders configured for it (nothing is built): each check over the batches
# of a unity build, and those that judge only a file of its own over each source
# (cmake/tidy.sh); any finding fails. Tests are left out: the sanitizer runs
# watch them, and gtest's macros would only add noise and time.
TIDY_BUILD ?= build-tidy
tidy: deps-test
	cmake -S . -B $(TIDY_BUILD)/files -G Ninja $(CMAKE_FLAGS) > /dev/null
	cmake -S . -B $(TIDY_BUILD)/batches -G Ninja $(UNITY) $(CMAKE_FLAGS) > /dev/null
	nice -n 10 sh cmake/tidy.sh $(TIDY_BUILD)/files $(TIDY_BUILD)/batches $(JOBS) "$(SOURCE_FOLDERS)"

# The whole suite again under AddressSanitizer and UndefinedBehaviorSanitizer.
SAN_BUILD ?= build-asan
sanitize: deps-test
	cmake -S . -B $(SAN_BUILD) -G Ninja $(UNITY) -DZARVO_SANITIZE=ON $(CMAKE_FLAGS)
	$(BUILD_TOOL) $(SAN_BUILD) -j $(JOBS)
	cd $(SAN_BUILD) && ctest --output-on-failure -j $(JOBS)

# Lines driven in parallel through one driver object, under ThreadSanitizer.
TSAN_BUILD ?= build-tsan
tsan: deps-test
	cmake -S . -B $(TSAN_BUILD) -G Ninja $(UNITY) -DZARVO_TSAN=ON $(CMAKE_FLAGS)
	$(BUILD_TOOL) $(TSAN_BUILD) -j $(JOBS) --target concurrency_tests
	$(TSAN_BUILD)/tests/concurrency/concurrency_tests

# The driver's cost per exchange against the wire time (not a test).
bench: deps-test
	@$(MAKE) --no-print-directory build
	$(BUILD)/bench/driver_bench

# Line and branch coverage of the Linux suite per folder (gcc's counters, gcovr; not a test,
# so not in `make test`). The suite runs once more in its own build; failures still report.
COV_BUILD ?= build-coverage
# Only our own folders count: tests/, bench/, fuzz/ and system headers do not.
COV_FOLDERS = $(SOURCE_FOLDERS)
coverage: deps-test
	cmake -S . -B $(COV_BUILD) -G Ninja -DZARVO_COVERAGE=ON -DCMAKE_BUILD_TYPE=Debug \
	  -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ $(CMAKE_FLAGS)
	cmake --build $(COV_BUILD) -j $(JOBS)
	find $(COV_BUILD) -name '*.gcda' -delete
	ctest --test-dir $(COV_BUILD) --output-on-failure -j $(JOBS); status=$$?; \
	  mkdir -p $(COV_BUILD)/coverage; \
	  gcovr --root . --object-directory $(COV_BUILD) -j $(JOBS) --exclude-throw-branches \
	    $(foreach folder,$(COV_FOLDERS),--filter '$(folder)/') \
	    --json-summary $(COV_BUILD)/coverage/summary.json --txt $(COV_BUILD)/coverage/files.txt \
	    --html-details $(COV_BUILD)/coverage/index.html && \
	  python3 cmake/coverage_by_folder.py $(COV_BUILD)/coverage/summary.json $(COV_FOLDERS) && \
	  echo "per file: $(COV_BUILD)/coverage/files.txt, lines: $(COV_BUILD)/coverage/index.html" && \
	  exit $$status

# The reply check and decoder, and programs against the whole operation table,
# under libFuzzer with AddressSanitizer and UBSan.
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
SHORT_FUZZ_SECONDS ?= 20
# run_fuzz,TARGET,SECONDS: a fresh working corpus seeded from fuzz/corpus/TARGET.
define run_fuzz
	mkdir -p $(FUZZ_BUILD)/corpus/$(1)
	@nice -n 10 $(FUZZ_BUILD)/fuzz/$(1)_fuzz -max_total_time=$(2) -print_final_stats=1 \
	  -artifact_prefix=$(FUZZ_BUILD)/ $(FUZZ_BUILD)/corpus/$(1) fuzz/corpus/$(1) \
	  > $(FUZZ_BUILD)/$(1)_fuzz.log 2>&1; status=$$?; \
	  echo "$(1)_fuzz:"; tail -n 8 $(FUZZ_BUILD)/$(1)_fuzz.log; exit $$status
endef

fuzz: deps-test
	cmake -S . -B $(FUZZ_BUILD) -G Ninja $(UNITY) -DZARVO_FUZZ=ON \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
	$(BUILD_TOOL) $(FUZZ_BUILD) -j $(JOBS)
	$(call run_fuzz,reply,$(FUZZ_SECONDS))
	$(call run_fuzz,table,$(FUZZ_SECONDS))
	$(call run_fuzz,ini,$(SHORT_FUZZ_SECONDS))
	$(call run_fuzz,request,$(SHORT_FUZZ_SECONDS))

# The driver and its unit tests as 32-bit x86 static binaries under qemu-i386.
$(I386_BUILD)/build.ninja: cmake/linux-i386.cmake
	cmake --fresh -S . -B $(I386_BUILD) -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/linux-i386.cmake \
	  $(UNITY) -DZARVO_BUILD_TOOLS=OFF

test-i386: deps-cross $(I386_BUILD)/build.ninja
	$(BUILD_TOOL) $(I386_BUILD) -j $(JOBS)
	cd $(I386_BUILD) && ctest --output-on-failure -j $(JOBS)

# ZarvoDll.dll for 32-bit x86 Windows (what station hosts load) and for 64-bit Windows.
# A changed toolchain file needs a fresh cache: its *_INIT flags apply only to a new one.
$(WIN32_BUILD)/build.ninja: cmake/mingw-w64-i686.cmake cmake/mingw-w64-common.cmake
	cmake --fresh -S . -B $(WIN32_BUILD) -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake \
	  -DCMAKE_BUILD_TYPE=Release $(UNITY) $(CROSS_CACHE) \
	  -DZARVO_NATIVE_HOST=$(CURDIR)/$(BUILD)/host/zarvo

$(WIN64_BUILD)/build.ninja: cmake/mingw-w64-x86_64.cmake cmake/mingw-w64-common.cmake
	cmake --fresh -S . -B $(WIN64_BUILD) -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
	  -DCMAKE_BUILD_TYPE=Release $(UNITY) $(CROSS_CACHE) \
	  -DZARVO_NATIVE_HOST=$(CURDIR)/$(BUILD)/host/zarvo

win32: deps-cross $(WIN32_BUILD)/build.ninja
	$(BUILD_TOOL) $(WIN32_BUILD) -j $(JOBS)

win64: deps-cross $(WIN64_BUILD)/build.ninja
	$(BUILD_TOOL) $(WIN64_BUILD) -j $(JOBS)

windows: win32 win64

# The 32-bit DLL's headers and exports; both DLLs loaded by test hosts under wine;
# zarvo-sim.exe on a COM port driven by the native zarvo; the archives' contents.
# Each build's wine tests run in a wine prefix of their own, so both may run at once.
test-windows: test-wine32 test-wine64 test-dist

test-wine32: win32 build
	cd $(WIN32_BUILD) && ctest --output-on-failure

test-wine64: win64 build
	cd $(WIN64_BUILD) && ctest --output-on-failure

test-dist: dist
	sh tests/windows/check_dist.sh $(DIST) \
	  $$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' $(BUILD)/CMakeCache.txt)

# What ships: a zip per Windows build and a Linux tarball (cmake/make-dist.sh).
DIST ?= dist
dist: build windows
	sh cmake/make-dist.sh $(DIST) $(BUILD) $(WIN32_BUILD) $(WIN64_BUILD)

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(TIDY_BUILD) $(FUZZ_BUILD) $(SAN_BUILD) $(TSAN_BUILD) $(I386_BUILD) \
	  $(WIN32_BUILD) $(WIN64_BUILD) $(COV_BUILD) $(DIST) build-stages
