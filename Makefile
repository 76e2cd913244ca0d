# The whole set-up on a fresh machine: `make demo` and `make test`.
BUILD ?= build
I386_BUILD ?= build-i386
WIN32_BUILD ?= build-win32
WIN64_BUILD ?= build-win64
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

# Debian packages the build, the tools and the tests need.
DEB_PACKAGES = cmake ninja-build g++ clang libclang-rt-14-dev clang-format clang-tidy pkg-config \
  libgtest-dev libgmock-dev googletest libbenchmark-dev libsqlite3-dev \
  libcli11-dev nlohmann-json3-dev g++-mingw-w64-x86-64 gcovr
# The 32-bit x86 build under qemu, the Windows DLLs (MinGW-w64, posix thread
# model: see cmake/mingw-w64-common.cmake), wine for both DLLs' tests (its 32-bit
# half comes from Debian's i386 architecture) and a virtual X display (xvfb-run)
# for the windows the settings dialog tests make (xwininfo finds them); socat joins
# the hosts to the Windows simulator's COM port, zip packs make dist. npm fetches
# SQLite (below): Debian's npm only where no Node.js of another source has one.
CROSS_DEB_PACKAGES = g++-multilib qemu-user g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix \
  wine wine64 wine32:i386 xvfb xauth x11-utils socat zip
# Free Pascal for Linux and its sources, from which deps builds the compiler for
# 32-bit Windows that the Pascal test host needs (tests/pascal/build-fpc.sh).
FPC_DEB_PACKAGES = fp-compiler-3.2.2 fp-utils-3.2.2 fpc-source-3.2.2 make
FPC_PREFIX ?= /opt/zarvo-fpc
# SQLite for the MinGW builds, which Debian has none of: the amalgamation that an
# npm package ships, checked against these sums. Outside the tree like the Pascal
# compiler, so that every clone and build folder shares one copy and a clean
# tree stays clean; cmake/sqlite_amalgamation.cmake finds it there.
SQLITE_NPM_PACKAGE = better-sqlite3@12.4.1
SQLITE_DIR ?= /opt/zarvo-sqlite/3.50.4
SQLITE_C_SHA256 = 90b7189566ea710ee18361b25d893f5cda3fcf43033223a16384762f53e99a85
SQLITE_H_SHA256 = abd1514e0351f79393d1be882830afdb40a8099e8257f311f0bfdf8486f11bea

.PHONY: all deps build test test-native tidy test-i386 test-windows windows dist demo fuzz sanitize \
  tsan bench coverage clean format

all: build

deps:
	@if ! dpkg --print-foreign-architectures | grep -qx i386; then \
	  echo "Adding Debian's i386 architecture"; dpkg --add-architecture i386; \
	fi; \
	missing=""; for p in $(DEB_PACKAGES) $(CROSS_DEB_PACKAGES) $(FPC_DEB_PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'install ok installed' || missing="$$missing $$p"; \
	done; \
	command -v npm > /dev/null || missing="$$missing npm"; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  export DEBIAN_FRONTEND=noninteractive; \
	  apt-get update -q && apt-get install -y -q --no-install-recommends $$missing; \
	fi
	sh tests/pascal/build-fpc.sh $(FPC_PREFIX)
	sh cmake/fetch-sqlite.sh $(SQLITE_DIR) $(SQLITE_NPM_PACKAGE) $(SQLITE_C_SHA256) $(SQLITE_H_SHA256)

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)

build: $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

test: deps
	$(MAKE) test-native
	$(MAKE) tidy
	$(MAKE) sanitize
	$(MAKE) tsan
	$(MAKE) fuzz
	$(MAKE) test-i386
	$(MAKE) test-windows

test-native: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# clang-tidy (.clang-tidy) over the shipped sources with the native build's compile
# commands; any finding fails. Tests are left out: the sanitizer runs watch them,
# and gtest's macros would only add noise and time.
tidy: $(BUILD)/build.ninja
	sh cmake/tidy.sh $(BUILD) $(JOBS)

# The whole suite again under AddressSanitizer and UndefinedBehaviorSanitizer.
SAN_BUILD ?= build-asan
sanitize: deps
	cmake -S . -B $(SAN_BUILD) -G Ninja -DZARVO_SANITIZE=ON $(CMAKE_FLAGS)
	cmake --build $(SAN_BUILD) -j $(JOBS)
	cd $(SAN_BUILD) && ctest --output-on-failure -j $(JOBS)

# Lines driven in parallel through one driver object, under ThreadSanitizer.
TSAN_BUILD ?= build-tsan
tsan: deps
	cmake -S . -B $(TSAN_BUILD) -G Ninja -DZARVO_TSAN=ON $(CMAKE_FLAGS)
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target concurrency_tests
	$(TSAN_BUILD)/tests/concurrency/concurrency_tests

# The driver's cost per exchange against the wire time (not a test).
bench: build
	$(BUILD)/bench/driver_bench

# Line and branch coverage of the Linux suite per folder (gcc's counters, gcovr; not a test,
# so not in `make test`). The suite runs once more in its own build; failures still report.
COV_BUILD ?= build-coverage
# Only these count: tests/, bench/, fuzz/ and system headers do not.
COV_FOLDERS = protocol driver library settings_dialog platform forms window_menu port host sim serial
coverage: deps
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
	@$(FUZZ_BUILD)/fuzz/$(1)_fuzz -max_total_time=$(2) -print_final_stats=1 \
	  -artifact_prefix=$(FUZZ_BUILD)/ $(FUZZ_BUILD)/corpus/$(1) fuzz/corpus/$(1) \
	  > $(FUZZ_BUILD)/$(1)_fuzz.log 2>&1; status=$$?; \
	  echo "$(1)_fuzz:"; tail -n 8 $(FUZZ_BUILD)/$(1)_fuzz.log; exit $$status
endef

fuzz: deps
	cmake -S . -B $(FUZZ_BUILD) -G Ninja -DZARVO_FUZZ=ON \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	$(call run_fuzz,reply,$(FUZZ_SECONDS))
	$(call run_fuzz,table,$(FUZZ_SECONDS))
	$(call run_fuzz,ini,$(SHORT_FUZZ_SECONDS))
	$(call run_fuzz,request,$(SHORT_FUZZ_SECONDS))

# The driver and its unit tests as 32-bit x86 static binaries under qemu-i386.
$(I386_BUILD)/build.ninja: cmake/linux-i386.cmake
	cmake --fresh -S . -B $(I386_BUILD) -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/linux-i386.cmake \
	  -DZARVO_BUILD_TOOLS=OFF

test-i386: $(I386_BUILD)/build.ninja
	cmake --build $(I386_BUILD) -j $(JOBS)
	cd $(I386_BUILD) && ctest --output-on-failure -j $(JOBS)

# ZarvoDll.dll for 32-bit x86 Windows (what station hosts load) and for 64-bit Windows.
# A changed toolchain file needs a fresh cache: its *_INIT flags apply only to a new one.
$(WIN32_BUILD)/build.ninja: cmake/mingw-w64-i686.cmake cmake/mingw-w64-common.cmake
	cmake --fresh -S . -B $(WIN32_BUILD) -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake \
	  -DCMAKE_BUILD_TYPE=Release -DZARVO_NATIVE_HOST=$(CURDIR)/$(BUILD)/host/zarvo

$(WIN64_BUILD)/build.ninja: cmake/mingw-w64-x86_64.cmake cmake/mingw-w64-common.cmake
	cmake --fresh -S . -B $(WIN64_BUILD) -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
	  -DCMAKE_BUILD_TYPE=Release -DZARVO_NATIVE_HOST=$(CURDIR)/$(BUILD)/host/zarvo

windows: $(WIN32_BUILD)/build.ninja $(WIN64_BUILD)/build.ninja
	cmake --build $(WIN32_BUILD) -j $(JOBS)
	cmake --build $(WIN64_BUILD) -j $(JOBS)

# The 32-bit DLL's headers and exports; both DLLs loaded by test hosts under wine;
# zarvo-sim.exe on a COM port driven by the native zarvo; the archives' contents.
test-windows: windows build
	cd $(WIN32_BUILD) && ctest --output-on-failure
	cd $(WIN64_BUILD) && ctest --output-on-failure
	$(MAKE) dist
	sh tests/windows/check_dist.sh $(DIST) \
	  $$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' $(BUILD)/CMakeCache.txt)

# What ships: a zip per Windows build and a Linux tarball (cmake/make-dist.sh).
DIST ?= dist
dist: build windows
	sh cmake/make-dist.sh $(DIST) $(BUILD) $(WIN32_BUILD) $(WIN64_BUILD)

demo: deps
	$(MAKE) build
	$(BUILD)/host/zarvo demo

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(FUZZ_BUILD) $(SAN_BUILD) $(TSAN_BUILD) $(I386_BUILD) $(WIN32_BUILD) \
	  $(WIN64_BUILD) $(DIST)
