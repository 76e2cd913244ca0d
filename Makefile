# The whole set-up on a fresh machine: `make demo` and `make test`.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

# Debian packages the build, the tools and the tests need.
DEB_PACKAGES = cmake ninja-build g++ clang libclang-rt-14-dev clang-format pkg-config \
  libgtest-dev libgmock-dev googletest libbenchmark-dev libncurses-dev libsqlite3-dev \
  libcli11-dev g++-mingw-w64-x86-64

.PHONY: all deps build test demo fuzz sanitize tsan bench clean format

all: build

deps:
	@missing=""; for p in $(DEB_PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'install ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  export DEBIAN_FRONTEND=noninteractive; \
	  apt-get update -q && apt-get install -y -q --no-install-recommends $$missing; \
	fi

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)

build: $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

test: deps
	$(MAKE) build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)
	$(MAKE) sanitize
	$(MAKE) tsan
	$(MAKE) fuzz

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

# The reply check and decoder under libFuzzer with AddressSanitizer and UBSan.
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
	$(call run_fuzz,ini,$(SHORT_FUZZ_SECONDS))
	$(call run_fuzz,request,$(SHORT_FUZZ_SECONDS))

demo: deps
	$(MAKE) build
	$(BUILD)/host/zarvo demo

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(FUZZ_BUILD) $(SAN_BUILD) $(TSAN_BUILD)
